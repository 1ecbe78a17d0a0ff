// Seeded random inserts, updates and deletes on copies of every Access-made test file and on files
// the engine created, with the expected content of every table kept beside in memory. Afterwards
// the engine must read exactly the expected rows in stored order, the whole-file check must pass,
// and both independent readers (mdbtools' mdb-json, mdb-reader) must read the same content.
//
// A failure prints the seed; TABULONIX_RANDOM_SEED=<seed> replays that run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>

#include "cli/support/reader_rows.h"
#include "jet/database.h"
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

// Days since 1899-12-30 for a civil date and time (whole seconds), computed the same way for
// generated values and for what the readers print.
double oleDays(int y, int m, int d, int hh, int mm, int ss) {
  // Days from 1970-01-01 (proleptic Gregorian), then shifted to the OLE epoch.
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = unsigned((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1);
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long days = long(era) * 146097 + long(doe) - 719468 + 25569;
  return double(days) + (hh * 3600 + mm * 60 + ss) / 86400.0;
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
      else if (format_ == Format::Jet4 && r < 75) s += kJet4[range(0, 2)];
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
        return jet::DateTime{oleDays(int(range(1901, 2099)), int(range(1, 12)), int(range(1, 28)),
                                     int(range(0, 23)), int(range(0, 59)), int(range(0, 59)))};
      case ColumnType::Text: {
        size_t chars = format_ == Format::Jet4 ? c.length / 2 : c.length;
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

// A value's text with the precision both readers print: doubles to 15 digits, singles to 6.
std::string canonical(const Value& v) {
  char buf[64];
  if (auto d = std::get_if<double>(&v)) {
    std::snprintf(buf, sizeof buf, "%.15g", *d);
    return buf;
  }
  if (auto f = std::get_if<float>(&v)) {
    std::snprintf(buf, sizeof buf, "%.6g", double(*f));
    return buf;
  }
  return jet::toText(v);
}

enum class Reader { Engine, MdbJson, MdbReader };

// One row's canonical text. Each reader has known blind spots, masked on both sides when its
// output is compared: mdbtools' dates before 1900, its Binary values (ended at their first zero
// byte) and very long text; mdb-reader's long values (see below).
std::string canonicalRow(const std::vector<Value>& row, Reader reader) {
  std::string s;
  for (const Value& v : row) {
    if (reader == Reader::MdbJson) {
      if (auto d = std::get_if<jet::DateTime>(&v); d && d->days < 2.0) {
        s += "before 1900\x1f";
        continue;
      }
    }
    std::string t = canonical(v);
    // Jet 3 bytes that the code page leaves undefined: the engine reads U+FFFD, mdbtools '?'.
    // Jet 3 bytes that the code page leaves undefined: the engine reads them as the C1 control
    // characters U+0080 to U+009F (they write back as the same byte), mdbtools as '?', mdb-reader
    // as U+FFFD.
    if (reader != Reader::Engine && std::holds_alternative<std::string>(v)) {
      for (size_t at = 0; (at = t.find('\xC2', at)) != std::string::npos; ++at)
        if (at + 1 < t.size() && uint8_t(t[at + 1]) >= 0x80 && uint8_t(t[at + 1]) <= 0x9F) t.replace(at, 2, "?");
      for (size_t at; (at = t.find("\xEF\xBF\xBD")) != std::string::npos;) t.replace(at, 3, "?");
    }
    if (reader == Reader::MdbJson) {
      // mdbtools ends a text value at about 200,000 bytes: compare the beginning of longer ones.
      if (std::holds_alternative<std::string>(v) && t.size() > 150000) t = t.substr(0, 100000) + "...";
    }
    // mdb-reader ends a long value spread over several pages at a link that follows a deleted row
    // on its page (it takes that row's offset flags for part of the offset); mdbtools reads them
    // whole, so mdb-reader is held to the beginning of long values.
    if (reader == Reader::MdbReader && t.size() > 1800) t = t.substr(0, 1500) + "...";
    s += t + '\x1f';
  }
  return s;
}

// The value a reader printed for a column, as the engine's value type.
Value readerValue(const ColumnInfo& c, const cli::JsonScalar& scalar, Reader reader) {
  if (scalar.kind == cli::JsonScalar::Null) return jet::Null{};
  const std::string text = scalar.kind == cli::JsonScalar::Bool ? (scalar.boolean ? "true" : "false") : scalar.text;
  // mdb-reader gives binary values as hex, mdb-json as base64 ("b64:..." once read).
  auto binary = [&]() -> jet::Bytes {
    if (reader == Reader::MdbReader) return std::get<jet::Bytes>(jet::fromText(ColumnType::Binary, "0x" + text));
    return clitest::fromBase64(text.substr(text.rfind("b64:", 0) == 0 ? 4 : 0));
  };
  switch (c.type) {
    case ColumnType::Boolean: return text == "true" || text == "1";
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long: return int64_t(std::stoll(text));
    case ColumnType::Single: return float(std::strtod(text.c_str(), nullptr));
    case ColumnType::Double: return std::strtod(text.c_str(), nullptr);
    case ColumnType::DateTime: {
      int y, mo, d, h, mi, s;
      if (std::sscanf(text.c_str(), "%d-%d-%d%*c%d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6) return text;
      return jet::DateTime{oleDays(y, mo, d, h, mi, s)};
    }
    case ColumnType::Binary:
    case ColumnType::Ole: return binary();
    case ColumnType::Guid: {
      // mdb-json gives the GUID's text in base64 (with its own grouping), mdb-reader plain text.
      std::string digits;
      if (reader == Reader::MdbJson) {
        jet::Bytes b = binary();
        digits.assign(b.begin(), b.end());
      } else {
        digits = text;
      }
      digits.erase(std::remove_if(digits.begin(), digits.end(), [](char ch) { return !std::isxdigit(uint8_t(ch)); }),
                   digits.end());
      if (digits.size() != 32) return text;
      return jet::fromText(ColumnType::Guid, "{" + digits.substr(0, 8) + "-" + digits.substr(8, 4) + "-" +
                                                 digits.substr(12, 4) + "-" + digits.substr(16, 4) + "-" +
                                                 digits.substr(20) + "}");
    }
    case ColumnType::Text:
    case ColumnType::Memo: return text;
    default: return jet::fromText(c.type, text, c.scale);
  }
}

std::vector<std::string> readerRows(const TableModel& m, const std::vector<std::string>& jsonLines, Reader reader) {
  std::vector<std::string> rows;
  for (const std::string& line : jsonLines) {
    clitest::ReaderRow members;
    try {
      members = clitest::parseReaderRow(line);
    } catch (const std::exception&) {
      rows.push_back("unreadable line: " + line);
      continue;
    }
    std::vector<Value> row;
    for (const ColumnInfo& c : m.info.columns) {
      auto it = members.find(c.name);
      const cli::JsonScalar value = it == members.end() ? cli::JsonScalar{} : it->second;
      try {
        row.push_back(readerValue(c, value, reader));
      } catch (const std::exception&) {
        row.push_back(std::string("unreadable: ") + value.text);
      }
    }
    rows.push_back(canonicalRow(row, reader));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

bool rowHasBinaryAt(const TableModel& m, const std::vector<Value>& row, const Value& v) {
  const size_t i = size_t(&v - row.data());
  return i < m.info.columns.size() && m.info.columns[i].type == ColumnType::Binary;
}

std::vector<std::string> expectedRows(const TableModel& m, Reader reader) {
  std::vector<std::string> rows;
  for (auto [id, row] : m.rows) {
    if (reader == Reader::MdbJson)
      for (Value& v : row)
        if (auto b = std::get_if<jet::Bytes>(&v)) {
          size_t i = 0;
          while (i < b->size() && (*b)[i] != 0) ++i;
          if (i < b->size() && rowHasBinaryAt(m, row, v)) b->resize(i);
          if (b->empty() && rowHasBinaryAt(m, row, v)) v = jet::Null{};
        }
    rows.push_back(canonicalRow(row, reader));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

// The first difference of two sorted row lists, shortened for a failure message.
std::string firstDifference(const std::vector<std::string>& want, const std::vector<std::string>& got) {
  auto shorten = [](std::string s) {
    for (char& c : s)
      if (c == '\x1f') c = '|';
    return s.size() > 300 ? s.substr(0, 300) + "..." : s;
  };
  std::ostringstream o;
  o << want.size() << " rows expected, " << got.size() << " read";
  for (size_t i = 0; i < std::max(want.size(), got.size()); ++i) {
    if (i < want.size() && i < got.size() && want[i] == got[i]) continue;
    o << "; first difference at sorted row " << i << ":\n  expected " << (i < want.size() ? shorten(want[i]) : "-")
      << "\n  read     " << (i < got.size() ? shorten(got[i]) : "-");
    if (i < want.size() && i < got.size()) {
      std::vector<std::string> a, b;
      std::istringstream sa(want[i]), sb(got[i]);
      for (std::string f; std::getline(sa, f, '\x1f');) a.push_back(f);
      for (std::string f; std::getline(sb, f, '\x1f');) b.push_back(f);
      for (size_t k = 0; k < std::min(a.size(), b.size()); ++k)
        if (a[k] != b[k]) {
          size_t at = 0;
          while (at < a[k].size() && at < b[k].size() && a[k][at] == b[k][at]) ++at;
          o << "\n  field " << k << " differs at byte " << at << " of " << a[k].size() << "/" << b[k].size() << ": "
            << shorten(a[k].substr(at > 20 ? at - 20 : 0, 60)) << " / " << shorten(b[k].substr(at > 20 ? at - 20 : 0, 60));
          break;
        }
    }
    break;
  }
  return o.str();
}

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
    std::cout << "seed " << seed_;
    for (const auto& [what, n] : stats_) std::cout << ", " << n << " " << what;
    std::cout << "\n";
    if (HasFailure()) std::cerr << "replay with TABULONIX_RANDOM_SEED=" << seed_ << "\n";
  }

  // Runs `operations` random operations spread over the writable user tables of the file; tables
  // the engine refuses to write must refuse without changing a byte.
  void exercise(const std::string& path, int operations, const std::string& label) {
    SCOPED_TRACE(label + " (seed " + std::to_string(seed_) + ")");
    std::map<std::string, TableModel> models;
    // Tables that the check already faults in the untouched file (Jet 3 text bytes that the code
    // page leaves undefined, whose index keys the engine cannot reproduce) are left out.
    std::set<std::string>& faulted = faulted_;
    faulted.clear();
    {
      auto db = jet::Database::open(path, {true, jettest::passwordOf(path)});
      for (const std::string& p : db->check().problems) {
        const size_t open = p.find("Table '"), close = p.find("'", open + 7);
        if (open != std::string::npos && close != std::string::npos) faulted.insert(p.substr(open + 7, close - open - 7));
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
          for (const char* side : {"szObject", "szReferencedObject"}) faulted.insert(std::get<std::string>(rel->values()[at(side)]));
    }
    {
      auto db = jet::Database::open(path, {false, jettest::passwordOf(path)});
      Generator gen(seed_ ^ std::hash<std::string>()(label), db->format());
      std::vector<std::string> writable;
      for (const jet::CatalogObject& o : db->objects()) {
        if (o.kind != jet::ObjectKind::Table || (o.flags & 0x80000002u) != 0) continue;
        if (faulted.count(o.name)) {
          ++stats_["tables left out (faulted before any write)"];
          continue;
        }
        TableModel m = modelOf(*db, o.name);
        // Validation rules and calculated columns refuse or change rows beyond what the model
        // predicts; the rules' own tests cover them.
        if (!m.info.validationRule.empty() ||
            std::any_of(m.info.columns.begin(), m.info.columns.end(),
                        [](const jet::ColumnInfo& c) { return c.calculated || !c.validationRule.empty(); })) {
          ++stats_["tables left out (validation rules, calculated columns)"];
          continue;
        }
        // Complex columns get their keys from the engine, which the model does not predict.
        if (std::any_of(m.info.columns.begin(), m.info.columns.end(),
                        [](const jet::ColumnInfo& c) { return c.type == jet::ColumnType::Complex; })) {
          ++stats_["tables left out (complex columns)"];
          continue;
        }
        if (probeWritable(*db, m, gen, path)) {
          ++stats_["writable tables"];
          writable.push_back(o.name);
          models.emplace(o.name, std::move(m));
        }
      }
      if (writable.empty()) return;
      for (int op = 0; op < operations && !HasFatalFailure(); ++op) {
        const std::string& name = writable[size_t(gen.range(0, int64_t(writable.size()) - 1))];
        if (checkEach_) oracle::copyFile(path, path + ".before");
        step(*db, models.at(name), gen, op);
        if (HasFailure()) return;
        // Replaying a failure: TABULONIX_RANDOM_CHECK_EACH=1 checks the file after every operation.
        if (checkEach_) {
          std::vector<std::string> problems = unexpected(db->check());
          if (!problems.empty()) {
            oracle::copyFile(path + ".before", "/tmp/random-operations-before.mdb");
            oracle::copyFile(path, "/tmp/random-operations-after.mdb");
          }
          ASSERT_TRUE(problems.empty()) << "after " << lastOp_ << ": " << problems.front()
                              << " (the file before and after: /tmp/random-operations-{before,after}.mdb)";
        }
      }
      db->close();
    }
    // Keeping the files for a closer look: TABULONIX_RANDOM_KEEP=<folder>.
    if (const char* keep = std::getenv("TABULONIX_RANDOM_KEEP")) {
      std::string name = label;
      std::replace(name.begin(), name.end(), '/', '-');
      std::replace(name.begin(), name.end(), ' ', '-');
      oracle::copyFile(path, std::string(keep) + "/" + name);
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
      ++stats_["read-only tables"];
      return false;
    }
  }

  void step(jet::Database& db, TableModel& m, Generator& gen, int op) {
    const std::string& table = m.info.name;
    const int kind = m.rows.empty() ? 0 : int(gen.range(0, 99));
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
        std::vector<Value> row = gen.row(m);
        copyKey(row);
        const int32_t autoNumber = db.nextAutoNumber(table);
        for (size_t i = 0; i < row.size(); ++i)
          if (m.info.columns[i].autoNumber) row[i] = int64_t(autoNumber);
        duplicate = wouldDuplicate(m, row, nullptr);
        what << "op " << op << ": insert into " << table << " " << describe(row);
        RowId id = db.insertRow(table, row);
        ASSERT_FALSE(duplicate) << what.str() << ": a duplicate key was accepted";
        ASSERT_EQ(m.rows.count(id), 0u) << what.str() << ": the new row took a live row's address";
        m.rows[id] = row;
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
      ++stats_[kind < 50 ? "inserts" : kind < 78 ? "updates" : "deletes"];
    } catch (const jet::Error& e) {
      lastOp_ = what.str() + " (refused)";
      ++stats_["duplicates refused"];
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
    compareReaders(path, models);
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

  void compareReaders(const std::string& path, const std::map<std::string, TableModel>& models) {
    for (const auto& [name, m] : models) {
      SCOPED_TRACE(name);
      if (auto json = oracle::mdbtools("mdb-json", "-T '%Y-%m-%d %H:%M:%S' " + oracle::quote(path) + " " +
                                                       oracle::quote(name))) {
        EXPECT_EQ(json->status, 0);
        std::vector<std::string> lines;
        std::istringstream in(json->out);
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        std::vector<std::string> got = readerRows(m, lines, Reader::MdbJson);
        const std::vector<std::string> want = expectedRows(m, Reader::MdbJson);
        EXPECT_TRUE(got == want) << "mdb-json: " << firstDifference(want, got);
      }
    }
    // mdb-reader reads every file of the test in one run, at the end.
    pending_.emplace_back(path, models);
  }

  void compareMdbReader() {
    std::vector<std::string> paths;
    for (const auto& [path, models] : pending_) paths.push_back(path);
    auto dumps = oracle::mdbReaderFiles(paths);
    if (!dumps) return;
    for (const auto& [path, models] : pending_) {
      SCOPED_TRACE(path);
      const std::vector<std::string>& dump = (*dumps)[path];
      ASSERT_TRUE(dump.empty() || dump.front() != "ERROR") << (dump.size() > 1 ? dump[1] : "");
      for (const auto& [name, m] : models) {
        SCOPED_TRACE(name);
        std::vector<std::string> lines;
        const std::string prefix = "ROW\t" + name + "\t";
        for (const std::string& l : dump)
          if (l.rfind(prefix, 0) == 0) lines.push_back(l.substr(prefix.size()));
        std::vector<std::string> got = readerRows(m, lines, Reader::MdbReader);
        const std::vector<std::string> want = expectedRows(m, Reader::MdbReader);
        EXPECT_TRUE(got == want) << "mdb-reader: " << firstDifference(want, got);
      }
    }
    pending_.clear();
  }

  std::vector<std::pair<std::string, std::map<std::string, TableModel>>> pending_;
  uint64_t seed_ = 0;
  std::string lastOp_;
  std::map<std::string, int> stats_;
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
  compareMdbReader();
}

// Engine-made files of both formats and of every .accdb version (legacy and newer sort order) with
// every column type, a primary key, a unique text key and a two-column descending index.
TEST_F(RandomOperations, EngineMadeFiles) {
  struct Made {
    jet::CreateOptions options;
    const char* label;
  };
  const Made made[] = {{{Format::Jet3}, "engine-made Jet 3"},
                       {{Format::Jet4}, "engine-made Jet 4"},
                       {{Format::Jet4, 1252, 1033, jet::FileVersion::Access2007}, "engine-made Access 2007"},
                       {{Format::Jet4, 1252, 1033, jet::FileVersion::Access2010}, "engine-made Access 2010"},
                       {{Format::Jet4, 1252, 1033, jet::FileVersion::Access2016}, "engine-made Access 2016"},
                       {{Format::Jet4, 1252, 1033, jet::FileVersion::Access2019, 0}, "engine-made Access 2019, legacy order"}};
  for (const Made& m : made) {
    const Format format = m.options.format;
    jettest::TempDir dir;
    const std::string path = (dir.path() / (m.options.version == jet::FileVersion::Jet4 ? "made.mdb" : "made.accdb")).string();
    {
      auto db = jet::Database::create(path, m.options);
      jet::NewTable t;
      t.name = "Everything";
      auto col = [&](const char* name, ColumnType type, int size = 0) {
        jet::NewColumn c;
        c.name = name;
        c.type = type;
        c.size = size;
        t.columns.push_back(c);
        return t.columns.size() - 1;
      };
      size_t id = col("ID", ColumnType::Long);
      t.columns[id].autoNumber = true;
      size_t code = col("Code", ColumnType::Text, 12);
      t.columns[code].required = true;
      size_t name = col("Name", ColumnType::Text, 255);
      t.columns[name].allowZeroLength = true;
      col("Flag", ColumnType::Boolean);
      col("Small", ColumnType::Byte);
      size_t i16 = col("Count", ColumnType::Integer);
      col("Big", ColumnType::Long);
      col("Price", ColumnType::Currency);
      col("Ratio", ColumnType::Single);
      col("Measure", ColumnType::Double);
      size_t when = col("When", ColumnType::DateTime);
      col("Notes", ColumnType::Memo);
      col("Picture", ColumnType::Ole);
      col("Tag", ColumnType::Guid);
      if (format == Format::Jet4) {  // Jet 3 has no Decimal
        size_t dec = col("Amount", ColumnType::Numeric);
        t.columns[dec].precision = 12;
        t.columns[dec].scale = 3;
      }
      col("Raw", ColumnType::Binary, 40);
      t.indexes.push_back({"PrimaryKey", {{uint16_t(id), true}}, true, true, false, true});
      t.indexes.push_back({"Code", {{uint16_t(code), true}}, false, true, false, false});
      t.indexes.push_back({"WhenCount", {{uint16_t(when), false}, {uint16_t(i16), true}}, false, false, false, false});
      db->createTable(t);
      jet::NewTable plain;
      plain.name = "Plain";
      plain.columns = {t.columns[name], t.columns[11]};
      plain.columns[0].name = "Text";
      db->createTable(plain);
    }
    exercise(path, 2000 / kScale, m.label);
    compareMdbReader();
    if (HasFailure()) break;
  }
}

}  // namespace
