// Seeded random inserts (runs of them through the bulk queue), updates and deletes on copies of
// every Access-made test file and on files the engine created, with the expected content of every
// table kept beside in memory. Afterwards the engine must read exactly the expected rows in stored
// order, the whole-file check must pass, and both independent readers (mdbtools' mdb-json,
// mdb-reader) must read what the tool exports, compared as the every-file comparison compares them
// (support/reader_compare.cpp).
//
// A failure prints the seed; TABULONIX_RANDOM_SEED=<seed> replays that run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <random>
#include <set>
#include <sstream>

#include "cli/support/reader_compare.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"

namespace {

using jet::ColumnInfo;
using jet::ColumnType;
using jet::Format;
using jet::RowId;
using jet::Value;

#ifdef TABULONIX_SANITIZED
constexpr int kScale = 5;  // the sanitizer build runs a fifth of the operations
#else
constexpr int kScale = 1;
#endif

struct RowLess {
  bool operator()(const RowId& a, const RowId& b) const {
    return a.page != b.page ? a.page < b.page : a.row < b.row;
  }
};
using Rows = std::map<RowId, std::vector<Value>, RowLess>;

uint64_t seedFromEnvironment() {
  if (const char* s = std::getenv("TABULONIX_RANDOM_SEED"); s && *s) return std::strtoull(s, nullptr, 10);
  return std::random_device{}();
}

// The columns of a table, what the model must know about its unique indexes.
struct TableModel {
  jet::TableInfo info;
  std::vector<std::vector<size_t>> uniqueIndexes;  // field positions of each unique index
  std::set<size_t> indexed;                        // fields in any index
  std::set<size_t> noNulls;                        // fields of unique or required indexes
  Rows rows;
};

size_t fieldOf(const jet::TableInfo& t, uint16_t number) {
  for (size_t i = 0; i < t.columns.size(); ++i)
    if (t.columns[i].number == number) return i;
  return SIZE_MAX;
}

TableModel modelOf(jet::Database& db, const std::string& name) {
  TableModel m;
  m.info = db.table(name);
  for (const jet::IndexInfo& ix : m.info.indexes) {
    std::vector<size_t> fields;
    for (const jet::IndexColumn& c : ix.columns) fields.push_back(fieldOf(m.info, c.columnNumber));
    for (size_t f : fields) {
      m.indexed.insert(f);
      if (ix.unique || ix.primaryKey || ix.required) m.noNulls.insert(f);
    }
    if (ix.unique || ix.primaryKey) m.uniqueIndexes.push_back(fields);
  }
  auto cursor = db.openTable(name);
  while (cursor->next()) m.rows[cursor->rowId()] = cursor->values();
  return m;
}

// What a unique index compares: text without regard to (ASCII) case, everything else as stored.
std::string keyText(const Value& v) {
  std::string t = isNull(v) ? std::string("\x01null") : jet::toText(v);
  if (std::holds_alternative<std::string>(v))
    for (char& c : t) c = char(std::tolower(static_cast<unsigned char>(c)));
  return t;
}

std::string uniqueKey(const std::vector<size_t>& fields, const std::vector<Value>& row) {
  std::string k;
  bool allNull = true;
  for (size_t f : fields) {
    allNull = allNull && isNull(row[f]);
    k += keyText(row[f]);
    k += '\x1f';
  }
  return allNull ? std::string() : k;
}

// True when `row` (replacing the row at `self`, if any) would duplicate a unique key.
bool wouldDuplicate(const TableModel& m, const std::vector<Value>& row, const RowId* self) {
  for (const auto& fields : m.uniqueIndexes) {
    const std::string k = uniqueKey(fields, row);
    if (k.empty()) continue;
    for (const auto& [id, other] : m.rows)
      if (!(self && id == *self) && uniqueKey(fields, other) == k) return true;
  }
  return false;
}

class Generator {
 public:
  Generator(uint64_t seed, Format format) : rng_(seed), format_(format) {}

  int64_t range(int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng_); }
  bool chance(int percent) { return range(0, 99) < percent; }

  std::string text(size_t maxChars, bool indexed, bool allowEmpty) {
    static const char* kPlain[] = {"a", "b", "c", "x", "Y", "Z", "0", "7", "M", "q"};
    static const char* kWide[] = {" ", ",", "\"", "'", "\n", "\t", "\xC3\xA9", "\xC3\xBC", "\xC3\x84", "\xC3\x9F",
                                  "\xE2\x82\xAC"};
    static const char* kJet4[] = {"\xE4\xB8\xAD", "\xCE\xA9", "\xD0\xB6"};
    size_t n = size_t(range(allowEmpty ? 0 : 1, int64_t(std::max<size_t>(1, maxChars))));
    if (chance(70)) n = std::min(n, size_t(range(allowEmpty ? 0 : 1, 12)));
    std::string s;
    for (size_t i = 0; i < n; ++i) {
      int r = int(range(0, 99));
      if (indexed || r < 70) s += kPlain[range(0, 9)];
      else if (format_ == Format::Jet4Layout && r < 75) s += kJet4[range(0, 2)];
      else s += kWide[range(0, 10)];
    }
    // Text keeps no trailing or leading blanks that a reader might trim.
    if (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\t')) s.back() = 'e';
    return s;
  }

  jet::Bytes bytes(size_t n) {
    jet::Bytes b(n);
    for (auto& x : b) x = uint8_t(range(0, 255));
    return b;
  }

  size_t longLength() {
    if (chance(60)) return size_t(range(0, 200));
    if (chance(70)) return size_t(range(1000, 5000));
    return size_t(range(5000, 20000));  // several pages
  }

  Value value(const ColumnInfo& c, bool mayBeNull, bool indexed) {
    // Booleans are never Null; a Null replication ID would be filled in by the engine.
    if (mayBeNull && c.type != ColumnType::Boolean && !c.autoGuid && chance(12)) return jet::Null{};
    switch (c.type) {
      case ColumnType::Boolean: return chance(50);
      case ColumnType::Byte: return range(0, 255);
      case ColumnType::Integer: return range(-32768, 32767);
      case ColumnType::Long: return range(INT32_MIN, INT32_MAX);
      case ColumnType::Complex: return jet::Null{};  // the engine hands out the keys
      case ColumnType::Currency: return jet::Currency{range(-1000000000000000LL, 1000000000000000LL)};
      case ColumnType::Single: return float(range(-(1 << 22), 1 << 22)) / 4.0f;
      case ColumnType::Double: return double(range(-999999999999LL, 999999999999LL)) / 1000.0;
      case ColumnType::DateTime:
      {
        char t[32];
        std::snprintf(t, sizeof t, "%d-%02d-%02d %02d:%02d:%02d", int(range(1901, 2099)), int(range(1, 12)),
                      int(range(1, 28)), int(range(0, 23)), int(range(0, 59)), int(range(0, 59)));
        return jet::fromText(ColumnType::DateTime, t);
      }
      case ColumnType::Text: {
        size_t chars = format_ == Format::Jet4Layout ? c.length / 2 : c.length;
        return text(chars, indexed, c.allowZeroLength && !c.required && !indexed);
      }
      case ColumnType::Memo: {
        std::string s = text(0, indexed, true);
        size_t n = longLength();
        while (s.size() < n) s += text(40, false, true) + ' ';
        if (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '\t')) s.back() = '.';
        if (s.empty() && (!c.allowZeroLength || c.required)) s = "m";
        return s;
      }
      case ColumnType::Ole: return bytes(longLength());
      case ColumnType::Binary: return bytes(size_t(range(1, std::max<int64_t>(1, c.length))));
      case ColumnType::Guid: {
        jet::Guid g;
        for (auto& b : g.bytes) b = uint8_t(range(0, 255));
        return g;
      }
      case ColumnType::Numeric: {
        jet::Decimal d;
        d.precision = c.precision;
        d.scale = c.scale;
        const int digits = std::min<int>(c.precision, 18);
        uint64_t limit = 1;
        for (int i = 0; i < digits; ++i) limit *= 10;
        uint64_t mag = std::uniform_int_distribution<uint64_t>(0, limit - 1)(rng_);
        d.magnitude = {uint32_t(mag), uint32_t(mag >> 32), 0};
        d.negative = mag != 0 && chance(50);
        return d;
      }
    }
    return jet::Null{};
  }

  std::vector<Value> row(const TableModel& m) {
    std::vector<Value> r;
    for (size_t i = 0; i < m.info.columns.size(); ++i) {
      const ColumnInfo& c = m.info.columns[i];
      const bool mayBeNull = c.nullable && !c.required && !m.noNulls.count(i);
      r.push_back(c.autoNumber ? Value{jet::Null{}} : value(c, mayBeNull, m.indexed.count(i) > 0));
    }
    return r;
  }

  std::mt19937_64& rng() { return rng_; }

 private:
  std::mt19937_64 rng_;
  Format format_;
};

std::string describe(const std::vector<Value>& row) {
  std::string s;
  for (const Value& v : row) {
    std::string t = jet::toText(v);
    s += (t.size() > 40 ? t.substr(0, 40) + "..." : t) + "|";
  }
  return s;
}

// ---- The run ----

class RandomOperations : public ::testing::Test {
 protected:
  void SetUp() override { seed_ = seedFromEnvironment(); }
  void TearDown() override {
    if (HasFailure()) std::cerr << "replay with TABULONIX_RANDOM_SEED=" << seed_ << "\n";
  }

  // Runs `operations` random operations spread over the writable user tables of the file; tables
  // the engine refuses to write must refuse without changing a byte.
  void exercise(const std::string& path, int operations, const std::string& label) {
    SCOPED_TRACE(label + " (seed " + std::to_string(seed_) + ")");
    std::map<std::string, TableModel> models;
    // Tables that the check already faults in the untouched file (Jet 3 text bytes that the code
    // page leaves undefined, whose index keys the engine cannot reproduce) are left out.
    faulted_.clear();
    {
      auto db = jet::Database::open(path, {true, jettest::passwordOf(path)});
      for (const std::string& p : db->check().problems) {
        const size_t open = p.find("Table '"), close = p.find("'", open + 7);
        if (open != std::string::npos && close != std::string::npos) faulted_.insert(p.substr(open + 7, close - open - 7));
      }
      // Tables of enforced relationships cascade and refuse beyond what the model predicts; the
      // integrity tests cover them.
      auto rel = db->openTable("MSysRelationships");
      auto at = [&](const char* name) {
        const auto& cs = rel->table().columns;
        return size_t(std::find_if(cs.begin(), cs.end(), [&](const ColumnInfo& c) { return c.name == name; }) - cs.begin());
      };
      while (rel->next())
        if (!(std::get<int64_t>(rel->values()[at("grbit")]) & jet::kRelationDontEnforce))
          for (const char* side : {"szObject", "szReferencedObject"}) faulted_.insert(std::get<std::string>(rel->values()[at(side)]));
    }
    {
      auto db = jet::Database::open(path, {false, jettest::passwordOf(path)});
      Generator gen(seed_ ^ std::hash<std::string>()(label), db->format());
      std::vector<std::string> writable;
      for (const jet::CatalogObject& o : db->objects()) {
        if (o.kind != jet::ObjectKind::Table || (o.flags & 0x80000002u) != 0) continue;
        if (faulted_.count(o.name)) continue;
        TableModel m = modelOf(*db, o.name);
        // Validation rules and calculated columns refuse or change rows beyond what the model
        // predicts; the rules' own tests cover them. Complex columns get their keys from the engine,
        // which the model does not predict either.
        if (!m.info.validationRule.empty() || std::any_of(m.info.columns.begin(), m.info.columns.end(), [](const jet::ColumnInfo& c) {
              return c.calculated || !c.validationRule.empty() || c.type == jet::ColumnType::Complex;
            }))
          continue;
        if (probeWritable(*db, m, gen, path)) {
          writable.push_back(o.name);
          models.emplace(o.name, std::move(m));
        }
      }
      if (writable.empty()) return;
      for (int op = 0; op < operations && !HasFatalFailure(); ++op) {
        const std::string& name = writable[size_t(gen.range(0, int64_t(writable.size()) - 1))];
        step(*db, models.at(name), gen, op);
        if (HasFailure()) return;
        // Replaying a failure: TABULONIX_RANDOM_CHECK_EACH=1 checks the file after every operation.
        if (checkEach_)
          for (const std::string& p : unexpected(db->check())) FAIL() << "after " << lastOp_ << ": " << p;
      }
      // Each table's last change is a queued run, so that the file keeps what a batch wrote.
      for (const std::string& name : writable) step(*db, models.at(name), gen, operations, 3);
      db->close();
    }
    verify(path, models);
  }

  bool probeWritable(jet::Database& db, TableModel& m, Generator& gen, const std::string& path) {
    const std::vector<uint8_t> before = jettest::readFile(path);
    std::vector<Value> row = gen.row(m);
    for (int attempt = 0; attempt < 20 && wouldDuplicate(m, row, nullptr); ++attempt) row = gen.row(m);
    try {
      const int32_t autoNumber = db.nextAutoNumber(m.info.name);
      RowId id = db.insertRow(m.info.name, row);
      for (size_t i = 0; i < row.size(); ++i)
        if (m.info.columns[i].autoNumber) row[i] = int64_t(autoNumber);
      m.rows[id] = row;
      return true;
    } catch (const jet::Error& e) {
      EXPECT_EQ(e.number(), jet::err::kReadOnly) << m.info.name << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
      if (!m.rows.empty()) {
        std::vector<Value> changed = m.rows.begin()->second;
        EXPECT_THROW(db.updateRow(m.info.name, m.rows.begin()->first, changed), jet::Error);
        EXPECT_THROW(db.deleteRow(m.info.name, m.rows.begin()->first), jet::Error);
      }
      EXPECT_TRUE(jettest::readFile(path) == before) << m.info.name << ": a refused write changed the file";
      return false;
    }
  }

  // One random operation; `queued` rows: an insert of that many rows through the bulk queue.
  void step(jet::Database& db, TableModel& m, Generator& gen, int op, int queued = 0) {
    const std::string& table = m.info.name;
    const int kind = m.rows.empty() || queued ? 0 : int(gen.range(0, 99));
    auto randomRow = [&]() {
      auto it = m.rows.begin();
      std::advance(it, gen.range(0, int64_t(m.rows.size()) - 1));
      return it;
    };
    // Now and then a deliberate copy of another row's unique key.
    auto copyKey = [&](std::vector<Value>& row) {
      if (m.uniqueIndexes.empty() || m.rows.empty() || !gen.chance(15)) return;
      const auto& fields = m.uniqueIndexes[size_t(gen.range(0, int64_t(m.uniqueIndexes.size()) - 1))];
      const auto& other = randomRow()->second;
      for (size_t f : fields)
        if (!m.info.columns[f].autoNumber) row[f] = other[f];
    };
    std::ostringstream what;
    bool duplicate = false;
    try {
      if (kind < 50) {
        // Now and then a run of rows through the bulk queue, written together by the next call that
        // reads or writes. A run stops before a row that would repeat a key (the queue's refusals:
        // the engine's tests).
        const int rows = queued ? queued : gen.chance(20) ? int(gen.range(2, 6)) : 1;
        int32_t autoNumber = db.nextAutoNumber(table);
        for (int k = 0; k < rows; ++k, ++autoNumber) {
          std::vector<Value> row = gen.row(m);
          copyKey(row);
          for (size_t i = 0; i < row.size(); ++i)
            if (m.info.columns[i].autoNumber) row[i] = int64_t(autoNumber);
          duplicate = wouldDuplicate(m, row, nullptr);
          if (rows > 1 && duplicate) break;
          what.str("");
          what << "op " << op << ": " << (rows > 1 ? "queued " : "") << "insert into " << table << " " << describe(row);
          RowId id = rows > 1 ? db.queueInsert(table, row) : db.insertRow(table, row);
          ASSERT_FALSE(duplicate) << what.str() << ": a duplicate key was accepted";
          ASSERT_EQ(m.rows.count(id), 0u) << what.str() << ": the new row took a live row's address";
          m.rows[id] = row;
        }
      } else if (kind < 78) {
        auto it = randomRow();
        std::vector<Value> row = it->second;
        std::vector<Value> fresh = gen.row(m);
        const bool all = gen.chance(20);
        for (size_t i = 0; i < row.size(); ++i)
          if (!m.info.columns[i].autoNumber && (all || gen.chance(30))) row[i] = fresh[i];
        copyKey(row);
        duplicate = wouldDuplicate(m, row, &it->first);
        what << "op " << op << ": update " << table << " row " << it->first.page << ":" << it->first.row << " to "
             << describe(row);
        db.updateRow(table, it->first, row);
        ASSERT_FALSE(duplicate) << what.str() << ": a duplicate key was accepted";
        it->second = row;
      } else {
        auto it = randomRow();
        what << "op " << op << ": delete from " << table << " row " << it->first.page << ":" << it->first.row;
        db.deleteRow(table, it->first);
        m.rows.erase(it);
      }
      lastOp_ = what.str();
    } catch (const jet::Error& e) {
      lastOp_ = what.str() + " (refused)";
      ASSERT_EQ(e.number(), jet::err::kDuplicateKey) << what.str() << ": " << e.what();
      ASSERT_TRUE(duplicate) << what.str() << ": refused as a duplicate, but no unique key repeats";
    }
  }

  void verify(const std::string& path, std::map<std::string, TableModel>& models) {
    auto db = jet::Database::open(path, {true, jettest::passwordOf(path)});
    for (auto& [name, m] : models) {
      SCOPED_TRACE(name);
      auto cursor = db->openTable(name);
      auto want = m.rows.begin();
      size_t n = 0;
      while (cursor->next()) {
        ASSERT_NE(want, m.rows.end()) << "more rows than expected";
        EXPECT_EQ(cursor->rowId(), want->first) << "row " << n << " out of stored order";
        const auto& got = cursor->values();
        EXPECT_TRUE(got == want->second) << "row " << n << "\n  expected " << describe(want->second)
                                         << "\n  read     " << describe(got);
        if (HasFailure()) return;
        ++want;
        ++n;
      }
      EXPECT_EQ(want, m.rows.end()) << "fewer rows than expected: " << n << " of " << m.rows.size();
      EXPECT_EQ(db->table(name).rowCount, m.rows.size());
    }
    jet::CheckReport report = db->check();
    for (const std::string& p : unexpected(report)) ADD_FAILURE() << "check: " << p;
    db->close();
    changed_.push_back(path);
  }

  // The check's problems, less those of tables already faulted in the untouched file.
  std::vector<std::string> unexpected(const jet::CheckReport& report) const {
    std::vector<std::string> out;
    for (const std::string& p : report.problems) {
      bool known = false;
      for (const std::string& t : faulted_) known = known || p.find("Table '" + t + "'") != std::string::npos;
      if (!known) out.push_back(p);
    }
    return out;
  }

  // Both readers (each in one run over every changed file) read what the tool exports of them.
  void compareReaders() {
    std::vector<clitest::OurFile> ours;
    for (const std::string& path : changed_) ours.push_back(clitest::exportFile(path));
    for (clitest::Reader reader : {clitest::Reader::Mdbtools, clitest::Reader::MdbReader}) {
      const auto theirs = clitest::readTables(reader, changed_);
      clitest::Comparison how{.anyOrder = true, .longValuePrefixes = true};
      for (size_t i = 0; theirs && i < ours.size(); ++i) clitest::compareFile(reader, ours[i], theirs->at(changed_[i]), how);
    }
    changed_.clear();
  }

  std::vector<std::string> changed_;
  uint64_t seed_ = 0;
  std::string lastOp_;
  const bool checkEach_ = std::getenv("TABULONIX_RANDOM_CHECK_EACH") != nullptr;
  std::set<std::string> faulted_;
};

// Every Access-made file: the tables the engine can write, and clean refusals of the others.
TEST_F(RandomOperations, AccessMadeFiles) {
  std::vector<std::unique_ptr<jettest::TempDir>> dirs;
  for (const std::string& name : jettest::allTestFiles()) {
    dirs.push_back(std::make_unique<jettest::TempDir>());
    exercise(dirs.back()->copy(name), 300 / kScale, name);
    if (HasFailure()) return;
  }
  compareReaders();
}

// Engine-made files of both formats and of every .accdb version (legacy and newer sort order) with
// every column type, a primary key, a unique text key and a two-column descending index.
TEST_F(RandomOperations, EngineMadeFiles) {
  struct Made {
    jet::CreateOptions options;
    const char* label;
  };
  const Made made[] = {{{Format::Jet3Layout}, "engine-made Jet 3"},
                       {{Format::Jet4Layout}, "engine-made Jet 4"},
                       {{Format::Jet4Layout, 1252, 1033, jet::FileVersion::Access2007}, "engine-made Access 2007"},
                       {{Format::Jet4Layout, 1252, 1033, jet::FileVersion::Access2010}, "engine-made Access 2010"},
                       {{Format::Jet4Layout, 1252, 1033, jet::FileVersion::Access2016}, "engine-made Access 2016"},
                       {{Format::Jet4Layout, 1252, 1033, jet::FileVersion::Access2019, 0}, "engine-made Access 2019, legacy order"}};
  for (const Made& m : made) {
    const Format format = m.options.format;
    jettest::TempDir dir;
    const std::string path = (dir.path() / (m.options.version == jet::FileVersion::Jet4 ? "made.mdb" : "made.accdb")).string();
    {
      auto db = jet::Database::create(path, m.options);
      using T = ColumnType;
      jet::NewTable t{"Everything",
                      {{"ID", T::Long, 0, true}, {"Code", T::Text, 12, false, true}, {"Name", T::Text, 255, false, false, true},
                       {"Flag", T::Boolean}, {"Small", T::Byte}, {"Count", T::Integer}, {"Big", T::Long},
                       {"Price", T::Currency}, {"Ratio", T::Single}, {"Measure", T::Double}, {"When", T::DateTime},
                       {"Notes", T::Memo}, {"Picture", T::Ole}, {"Tag", T::Guid}, {"Raw", T::Binary, 40}},
                      {{"PrimaryKey", {{0, true}}, true, true, false, true},
                       {"Code", {{1, true}}, false, true},
                       {"WhenCount", {{10, false}, {5, true}}}}};
      if (format == Format::Jet4Layout) t.columns.push_back({"Amount", T::Numeric, 0, false, false, false, 12, 3});  // not in Jet 3
      db->createTable(t);
      jet::NewTable plain{"Plain", {t.columns[2], t.columns[11]}};
      plain.columns[0].name = "Text";
      db->createTable(plain);
    }
    exercise(path, 2000 / kScale, m.label);
    compareReaders();
    if (HasFailure()) break;
  }
}

}  // namespace
