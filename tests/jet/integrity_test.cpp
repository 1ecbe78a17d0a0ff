// Referential integrity on every write: refusals (3201, 3200), cascading updates and deletes
// through chains, cascades to Null, Null foreign keys, unenforced relationships, the
// relationships of files Access made, and random writes over tables tied every way.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>

#include "jet/database.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"

namespace {

using jet::Value;

// A table's rows as sorted lines of their values.
std::vector<std::string> rows(jet::Database& db, const std::string& table) {
  std::vector<std::string> out;
  for (auto c = db.openTable(table); c->next();) {
    out.emplace_back();
    for (const Value& v : c->values()) out.back() += jet::toText(v) + "|";
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The row whose first field holds `key`, and its values.
jet::RowId rowOf(jet::Database& db, const std::string& table, int64_t key, std::vector<Value>* values = nullptr) {
  for (auto c = db.openTable(table); c->next();)
    if (c->values()[0] == Value(key)) {
      if (values) *values = c->values();
      return c->rowId();
    }
  ADD_FAILURE() << "no row " << key << " in " << table;
  return {};
}

void setField(jet::Database& db, const std::string& table, int64_t key, size_t field, Value v) {
  std::vector<Value> row;
  const jet::RowId id = rowOf(db, table, key, &row);
  row.at(field) = std::move(v);
  db.updateRow(table, id, row);
}

// indexTest files: Table1.otherfk1 -> Table2.id cascades deletes; Table1.otherfk2 -> Table3.id
// cascades updates. Table1 holds (id, otherfk1, otherfk2, data, otherfk3).
struct AccessCase {
  const char* what;
  std::function<void(jet::Database&)> change;
  int error;
  std::vector<std::string> table1;  // Table1's rows after it, by "id:otherfk1:otherfk2"
};

std::vector<std::string> table1Keys(jet::Database& db) {
  std::vector<std::string> out;
  for (const auto& v : jettest::valuesOf(db, "Table1")) out.push_back(jet::toText(v[0]) + ":" + jet::toText(v[1]) + ":" + jet::toText(v[2]));
  std::sort(out.begin(), out.end());
  return out;
}

const std::vector<std::string> kUntouched = {"0:0:10", "1:1:11", "2:1:11", "3:2:13"};

class AccessMade : public ::testing::TestWithParam<const char*> {};

TEST_P(AccessMade, RelationshipsAreKept) {
  const std::vector<AccessCase> cases = {
      {"child without parent", [](jet::Database& db) { db.insertRow("Table1", {int64_t(9), int64_t(7), int64_t(10), std::string("x"), int64_t(0)}); }, 3201, kUntouched},
      {"Null foreign key", [](jet::Database& db) { db.insertRow("Table1", {int64_t(9), jet::Null{}, int64_t(10), std::string("x"), int64_t(0)}); }, 0,
       {"0:0:10", "1:1:11", "2:1:11", "3:2:13", "9::10"}},
      {"child moved to no parent", [](jet::Database& db) { setField(db, "Table1", 0, 2, int64_t(99)); }, 3201, kUntouched},
      {"child moved to a parent", [](jet::Database& db) { setField(db, "Table1", 0, 2, int64_t(12)); }, 0, {"0:0:12", "1:1:11", "2:1:11", "3:2:13"}},
      {"cascading delete", [](jet::Database& db) { db.deleteRow("Table2", rowOf(db, "Table2", 1)); }, 0, {"0:0:10", "3:2:13"}},
      {"delete without cascade", [](jet::Database& db) { db.deleteRow("Table3", rowOf(db, "Table3", 11)); }, 3200, kUntouched},
      {"delete of an unused parent", [](jet::Database& db) { db.deleteRow("Table3", rowOf(db, "Table3", 12)); }, 0, kUntouched},
      {"cascading update", [](jet::Database& db) { setField(db, "Table3", 11, 0, int64_t(21)); }, 0, {"0:0:10", "1:1:21", "2:1:21", "3:2:13"}},
      {"key change without cascade", [](jet::Database& db) { setField(db, "Table2", 1, 0, int64_t(5)); }, 3200, kUntouched},
      {"row set with cascades", [](jet::Database& db) { db.deleteRows("Table2", {rowOf(db, "Table2", 0), rowOf(db, "Table2", 2)}); }, 0, {"1:1:11", "2:1:11"}},
  };
  for (const AccessCase& c : cases) {
    SCOPED_TRACE(c.what);
    jettest::TempDir dir;
    auto db = jet::Database::open(dir.copy(GetParam()));
    EXPECT_EQ(errorOf([&] { c.change(*db); }), c.error);
    EXPECT_EQ(table1Keys(*db), c.table1);
    EXPECT_TRUE(db->check().ok());
  }
}

INSTANTIATE_TEST_SUITE_P(Files, AccessMade,
                         ::testing::Values("indexTestV1997.mdb", "indexTestV2000.mdb", "ace/indexTestV2007.accdb"));

jet::NewTable keyed(const std::string& name, std::vector<std::string> columns, size_t keyColumns) {
  jet::NewTable t{name, {}, {}};
  for (auto& n : columns) t.columns.push_back({.name = n, .type = jet::ColumnType::Long});
  jet::NewIndex pk{"PrimaryKey", {}, true, true, false, true};
  for (size_t i = 0; i < keyColumns; ++i) pk.columns.push_back({uint16_t(i), true});
  t.indexes.push_back(pk);
  return t;
}

// A chain A(id) <- B(id, a) <- C(id, b) made by the engine, with the relationships' attributes.
class Chain : public ::testing::TestWithParam<jet::Format> {
 protected:
  std::unique_ptr<jet::Database> make(int32_t ab, int32_t bc) {
    auto db = jet::Database::create((dir_.path() / "chain.mdb").string(), {GetParam()});
    db->createTable(keyed("A", {"id"}, 1));
    db->createTable(keyed("B", {"id", "a"}, 1));
    db->createTable(keyed("C", {"id", "b"}, 1));
    for (int64_t i : {1, 2}) db->insertRow("A", {i});
    for (int64_t i : {10, 11, 12}) db->insertRow("B", {i, int64_t(i == 12 ? 2 : 1)});
    for (int64_t i : {100, 101}) db->insertRow("C", {i, int64_t(i == 100 ? 10 : 12)});
    db->createRelationship({"AB", "A", "B", {{"id", "a"}}, ab});
    db->createRelationship({"BC", "B", "C", {{"id", "b"}}, bc});
    return db;
  }
  jettest::TempDir dir_;
};

TEST_P(Chain, CascadesGoThroughEveryLink) {
  const int32_t del = jet::kRelationDeleteCascade, upd = jet::kRelationUpdateCascade, toNull = 0x2000;
  struct Case {
    const char* what;
    int32_t ab, bc;
    std::function<void(jet::Database&)> change;
    int error;
    std::vector<std::string> b, c;
  };
  const std::vector<std::string> b0 = {"10|1|", "11|1|", "12|2|"}, c0 = {"100|10|", "101|12|"};
  const std::vector<Case> cases = {
      {"deletes cascade twice", del, del, [](jet::Database& db) { db.deleteRow("A", rowOf(db, "A", 1)); }, 0, {"12|2|"}, {"101|12|"}},
      {"the second link refuses", del, 0, [](jet::Database& db) { db.deleteRow("A", rowOf(db, "A", 1)); }, 3200, b0, c0},
      {"cascade to Null", toNull, 0, [](jet::Database& db) { db.deleteRow("A", rowOf(db, "A", 1)); }, 0, {"10||", "11||", "12|2|"}, c0},
      {"updates cascade twice", upd, upd, [](jet::Database& db) { setField(db, "B", 10, 0, int64_t(20)); }, 0, {"11|1|", "12|2|", "20|1|"}, {"100|20|", "101|12|"}},
      {"update then refusal", upd, 0, [](jet::Database& db) { setField(db, "B", 10, 0, int64_t(20)); }, 3200, b0, c0},
      {"unenforced", jet::kRelationDontEnforce, jet::kRelationDontEnforce,
       [](jet::Database& db) { db.deleteRow("A", rowOf(db, "A", 1)); db.insertRow("C", {int64_t(102), int64_t(77)}); }, 0, b0,
       {"100|10|", "101|12|", "102|77|"}},
      {"queued rows are checked", 0, 0, [](jet::Database& db) { db.queueInsert("B", {int64_t(13), int64_t(2)}); db.queueInsert("B", {int64_t(14), int64_t(3)}); }, 3201,
       {"10|1|", "11|1|", "12|2|", "13|2|"}, c0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(dir_.path() / "chain.mdb");
    auto db = make(c.ab, c.bc);
    EXPECT_EQ(errorOf([&] { c.change(*db); }), c.error);
    db->commitQueued();
    EXPECT_EQ(rows(*db, "B"), c.b);
    EXPECT_EQ(rows(*db, "C"), c.c);
    EXPECT_TRUE(db->check().ok());
    db.reset();
    // What the cascades left reads the same in the independent reader.
    for (auto [table, expected] : {std::pair{"B", c.b}, {"C", c.c}}) {
      auto out = oracle::mdbtools("mdb-export", "-H -d '|' " + oracle::quote((dir_.path() / "chain.mdb").string()) + " " + table);
      if (!out) continue;
      std::vector<std::string> lines = testsupport::lines(out->out);
      for (std::string& line : lines) line += "|";
      std::sort(lines.begin(), lines.end());
      EXPECT_EQ(lines, expected) << table;
    }
  }
}

// check names the rows an enforced relationship leaves without their primary row. The orphan is
// made under an unenforced relationship whose stored attributes are then turned to enforced.
TEST_P(Chain, CheckNamesOrphans) {
  const int32_t marker = 0x74000000;  // join-kind bits only, to find the stored attributes by
  {
    auto db = make(marker | jet::kRelationDontEnforce, 0);
    db->insertRow("B", {int64_t(13), int64_t(99)});
    EXPECT_TRUE(db->check().ok());
  }
  const std::string path = (dir_.path() / "chain.mdb").string();
  std::vector<uint8_t> bytes = jettest::readFile(path);
  const uint8_t stored[] = {0x02, 0x00, 0x00, 0x74};
  auto at = std::search(bytes.begin(), bytes.end(), std::begin(stored), std::end(stored));
  ASSERT_NE(at, bytes.end());
  *at = 0x00;
  jettest::writeFile(path, bytes);
  auto db = jet::Database::open(path);
  const jet::CheckReport report = db->check();
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_NE(report.problems[0].find("of table 'B' has no related row in table 'A' (relationship 'AB')"), std::string::npos)
      << report.problems[0];
}

INSTANTIATE_TEST_SUITE_P(Formats, Chain, ::testing::Values(jet::Format::Jet3Layout, jet::Format::Jet4Layout));

// Seeded random inserts, updates and deletes over three tables tied by enforced relationships of
// random kinds (refusing, cascading updates, deletes or Nulls); in Access 2010 files the last table
// has a calculated column too. After every step each relationship holds, every calculated value
// equals its expression over its row, a refused step changed no row, and at the end the whole-file
// check passes.
// Foreign table, its field, primary table (keyed by its first field).
struct Link {
  const char* name;
  const char* child;
  size_t field;
  const char* parent;
};
const Link kLinks[] = {{"AB", "B", 1, "A"}, {"BC", "C", 1, "B"}, {"AC", "C", 2, "A"}};
const char* const kTables[] = {"A", "B", "C"};
const char* const kFields[] = {"id", "x", "y"};

using Content = std::map<std::string, std::vector<std::vector<Value>>>;

Content contentOf(jet::Database& db) {
  Content out;
  for (const char* t : kTables) {
    out[t] = jettest::valuesOf(db, t);
    std::sort(out[t].begin(), out[t].end(), [](auto& x, auto& y) { return jet::toText(x[0]) < jet::toText(y[0]); });
  }
  return out;
}

// Every non-Null foreign key finds its primary row.
std::string brokenLink(const Content& c) {
  for (const Link& l : kLinks)
    for (const auto& row : c.at(l.child)) {
      if (jet::isNull(row[l.field])) continue;
      const auto& parents = c.at(l.parent);
      if (std::none_of(parents.begin(), parents.end(), [&](auto& p) { return p[0] == row[l.field]; }))
        return std::string(l.name) + ": " + l.child + " row " + jet::toText(row[0]) + " has no parent";
    }
  return "";
}

// The calculated column of table C, recomputed here: t = Nz(x)*10 + Nz(y).
const char* const kCalculation = "Nz([x],0)*10+Nz([y],0)";
std::string staleCalculation(const Content& c) {
  for (const auto& row : c.at("C")) {
    if (row.size() != 4) return "C has no calculated column";
    const int64_t x = jet::isNull(row[1]) ? 0 : std::get<int64_t>(row[1]), y = jet::isNull(row[2]) ? 0 : std::get<int64_t>(row[2]);
    if (row[3] != Value(x * 10 + y)) return "C row " + jet::toText(row[0]) + " holds t = " + jet::toText(row[3]);
  }
  return "";
}

TEST(IntegrityRandom, RelationshipsHoldAfterEveryStep) {
  const int32_t kinds[] = {0, jet::kRelationDeleteCascade, jet::kRelationUpdateCascade, 0x2000,
                           jet::kRelationDeleteCascade | jet::kRelationUpdateCascade};
  const jet::CreateOptions formats[] = {{jet::Format::Jet3Layout}, {jet::Format::Jet4Layout},
                                        {jet::Format::Jet4Layout, 1252, 1033, jet::FileVersion::Access2010}};
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
    jettest::TempDir dir;
    const jet::CreateOptions& format = formats[seed % 3];
    const bool calculated = format.version == jet::FileVersion::Access2010;
    auto db = jet::Database::create((dir.path() / (calculated ? "r.accdb" : "r.mdb")).string(), format);
    for (size_t t = 0; t < 3; ++t) {
      jet::NewTable nt = keyed(kTables[t], std::vector<std::string>(kFields, kFields + t + 1), 1);
      if (t == 2 && calculated) nt.columns.push_back({.name = "t", .type = jet::ColumnType::Long, .expression = kCalculation});
      db->createTable(nt);
    }
    for (const Link& l : kLinks)
      db->createRelationship({l.name, l.parent, l.child, {{"id", l.field == 1 ? "x" : "y"}}, kinds[pick(5)]});
    auto key = [&]() -> Value { return pick(8) ? Value(int64_t(pick(12))) : Value(jet::Null{}); };
    auto rowOf = [&](size_t t) {
      std::vector<Value> r{int64_t(pick(12))};
      for (size_t i = 1; i <= t; ++i) r.push_back(key());
      if (t == 2 && calculated) r.push_back(int64_t(-1));  // given, but never stored
      return r;
    };
    std::map<int, int> outcomes;
    for (int step = 0; step < 400; ++step) {
      const Content before = contentOf(*db);
      const size_t t = size_t(pick(3));
      const std::string table = kTables[t];
      auto cursor = db->openTable(table);
      std::vector<std::pair<jet::RowId, std::vector<Value>>> live;
      while (cursor->next()) live.emplace_back(cursor->rowId(), cursor->values());
      int error = 0;
      try {
        const int op = pick(10);
        if (op < 5 || live.empty()) {
          db->insertRow(table, rowOf(t));
        } else if (op < 8) {
          auto& [id, values] = live[size_t(pick(int(live.size())))];
          values[size_t(pick(int(std::min<size_t>(values.size(), t + 1))))] = t == 0 || pick(2) ? Value(int64_t(pick(12))) : key();
          db->updateRow(table, id, values);
        } else {
          db->deleteRow(table, live[size_t(pick(int(live.size())))].first);
        }
      } catch (const jet::Error& e) {
        error = e.number();
      }
      ++outcomes[error];
      const Content after = contentOf(*db);
      ASSERT_EQ(brokenLink(after), "") << "step " << step;
      if (calculated) ASSERT_EQ(staleCalculation(after), "") << "step " << step;
      if (error) {
        ASSERT_TRUE(error == 3200 || error == 3201 || error == 3022 || error == 3058) << error;
        ASSERT_TRUE(after == before) << "step " << step << ": a refused change changed rows";
      }
    }
    // Both refusals and cascades happened.
    EXPECT_GT(outcomes[0], 100);
    EXPECT_GT(outcomes[3201], 0);
    EXPECT_TRUE(db->check().ok());
  }
}

}  // namespace
