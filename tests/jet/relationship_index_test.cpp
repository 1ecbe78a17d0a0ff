// The index pair through which Jet enforces a relationship. The user tables of Access-made files are
// rebuilt here without their relationships, which are then made again: each table must end with the
// logical indexes Access gave it (names, numbers, shared real indexes, cross references, cascade
// flags), the new foreign-key index holding every row, before and after later writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "jet/base/names.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/schema_catalog.h"
#include "jet/catalog/schema_file.h"
#include "jet/database.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"

namespace {

using jet::Tdef;

// Each logical index of each user table, in stored order, tables named instead of their pages.
std::map<std::string, std::vector<std::string>> indexShapes(const std::string& path) {
  auto file = jet::SchemaFile::open(path, true);
  const jet::CatalogView cat = jet::loadCatalog(*file);
  std::map<uint32_t, Tdef> defs;
  std::map<uint32_t, std::string> names;
  for (const auto& e : cat.catalog.entries())
    if (e.type == jet::sys::kTypeTable && !(e.object.flags & jet::kObjectFlagSystem)) {
      const uint32_t page = uint32_t(e.object.id) & 0x00FFFFFF;
      defs[page] = file->definition(page);
      names[page] = e.object.name;
    }
  std::map<std::string, std::vector<std::string>> out;
  for (const auto& [page, def] : defs)
    for (const auto& l : def.indexes)
      out[names[page]].push_back(l.name + " #" + std::to_string(l.number) + " real " + std::to_string(l.realIndex) +
                                 (def.realIndexes[size_t(l.realIndex)].flags & jet::idxflag::kUnique ? " unique" : "") +
                                 " kind " + std::to_string(l.kind) + " side " + std::to_string(l.relIndexType) +
                                 " -> " + (l.relTable ? names[l.relTable] : "") + " #" + std::to_string(l.relIndex) +
                                 " cascade " + std::to_string(l.cascadeUpdates) + std::to_string(l.cascadeDeletes));
  return out;
}

class RelationshipIndexes : public ::testing::TestWithParam<const char*> {};

TEST_P(RelationshipIndexes, MadeAsAccessMakesThem) {
  jettest::TempDir dir;
  const std::string source = jettest::testdata(GetParam());
  auto access = jet::Database::open(source, {true, ""});
  // The relationships between user tables, in the order Access made them (their foreign-key
  // index numbers).
  std::map<std::string, jet::TableInfo> tables;
  for (const auto& o : access->objects())
    if (o.kind == jet::ObjectKind::Table) tables[o.name] = access->table(o.name);
  std::map<std::string, jet::NewRelationship> byName;
  const auto rc = access->table("MSysRelationships").columns;
  auto col = [&](const char* n) { return size_t(jet::columnIndex(rc, n)); };
  for (const auto& v : jettest::valuesOf(*access, "MSysRelationships")) {
    const std::string name = jet::toText(v[col("szRelationship")]);
    if (!tables.count(jet::toText(v[col("szObject")])) || !tables.count(jet::toText(v[col("szReferencedObject")]))) continue;
    jet::NewRelationship& r = byName[name];
    r = {name, jet::toText(v[col("szReferencedObject")]), jet::toText(v[col("szObject")]), r.columns,
         int32_t(std::get<int64_t>(v[col("grbit")]))};
    r.columns.push_back({jet::toText(v[col("szReferencedColumn")]), jet::toText(v[col("szColumn")])});
  }
  auto numberOf = [&](const jet::NewRelationship& r) {
    for (const auto& ix : tables[r.foreignTable].indexes)
      if (ix.foreignKey && ix.name == r.table + r.foreignTable) return ix.logicalNumber;
    return -1;
  };
  std::vector<jet::NewRelationship> order;
  for (auto& [n, r] : byName) order.push_back(r);
  std::sort(order.begin(), order.end(), [&](auto& a, auto& b) { return numberOf(a) < numberOf(b); });
  ASSERT_FALSE(order.empty());

  // The same tables, with their own indexes and rows, in a new file of the same version.
  const std::string copy = (dir.path() / "made").string();
  {
    auto db = jet::Database::create(copy, {access->format(), access->codePage(), access->sortOrder(), access->version()});
    for (auto& [name, info] : tables) {
      jet::NewTable t;
      t.name = name;
      for (const auto& c : info.columns)
        t.columns.push_back({.name = c.name, .type = c.type,
                             .size = c.type == jet::ColumnType::Text ? c.length / (access->format() == jet::Format::Jet3Layout ? 1 : 2) : 0});
      std::vector<jet::IndexInfo> own;
      for (const auto& ix : info.indexes)
        if (!ix.foreignKey) own.push_back(ix);
      std::sort(own.begin(), own.end(), [](auto& a, auto& b) { return a.logicalNumber < b.logicalNumber; });
      for (const auto& ix : own) {
        jet::NewIndex ni{ix.name, {}, ix.primaryKey, ix.unique, ix.ignoreNulls, ix.required};
        for (const auto& ic : ix.columns)
          for (size_t i = 0; i < info.columns.size(); ++i)
            if (info.columns[i].number == ic.columnNumber) ni.columns.push_back({uint16_t(i), ic.ascending});
        t.indexes.push_back(ni);
      }
      db->createTable(t);
      for (const auto& row : jettest::valuesOf(*access, name)) db->insertRow(name, row);
    }
    for (const auto& r : order) db->createRelationship(r);
    EXPECT_EQ(jettest::firstProblem(*db), "");
  }
  std::map<std::string, std::vector<std::string>> want = indexShapes(source), made = indexShapes(copy);
  for (auto& [name, info] : tables) EXPECT_EQ(made[name], want[name]) << name;

  // Later writes keep the new index; an unenforced relationship adds none.
  auto db = jet::Database::open(copy);
  const jet::NewRelationship& first = order.front();
  std::vector<jet::Value> child = jettest::valuesOf(*db, first.foreignTable).at(0);
  const int keyAt = jet::columnIndex(db->table(first.table).columns, first.columns[0].name);
  const jet::Value key = jettest::valuesOf(*db, first.table).at(0).at(size_t(keyAt));
  const jet::TableInfo ft = db->table(first.foreignTable);
  for (size_t i = 0; i < ft.columns.size(); ++i) {
    if (ft.columns[i].name == first.columns[0].foreignName) child[i] = key;
    for (const auto& ix : ft.indexes)  // fresh values for unique keys
      if (ix.unique && ix.columns[0].columnNumber == ft.columns[i].number) child[i] = int64_t(90000 + i);
  }
  db->insertRow(first.foreignTable, child);
  const size_t before = db->table(first.foreignTable).indexes.size();
  db->createRelationship({"Loose", first.table, first.foreignTable, first.columns});
  EXPECT_EQ(db->table(first.foreignTable).indexes.size(), before);
  EXPECT_EQ(jettest::firstProblem(*db), "");
}

// A relationship added to an Access-made table rewrites its definition: everything Access wrote
// there stays (each column descriptor's second index included), the rows read as before, and
// Access's own relationships stay beside it.
TEST_P(RelationshipIndexes, AddedToAnAccessTableKeepsItsDefinition) {
  jettest::TempDir dir;
  const std::string path = (dir.path() / "copy").string();
  std::filesystem::copy_file(jettest::testdata(GetParam()), path);
  auto columns = [&] {
    auto file = jet::SchemaFile::open(path, true);
    const jet::CatalogView cat = jet::loadCatalog(*file);
    std::vector<std::pair<std::string, int32_t>> out;
    for (const auto& c : file->definition(uint32_t(jet::findTable(cat, "Table1")->object.id) & 0x00FFFFFF).columns)
      out.emplace_back(c.name, c.storedIndex);
    return out;
  };
  const auto before = columns();
  std::vector<std::string> rows;
  {
    auto db = jet::Database::open(path);
    rows = jettest::rowsOf(*db, "Table1");
    const std::vector<std::string> accessRelationships = jettest::rowsOf(*db, "MSysRelationships");
    db->createRelationship({"Third", "Table2", "Table1", {{"id", "otherfk3"}}, 0});
    EXPECT_EQ(jettest::rowsOf(*db, "Table1"), rows);
    // Access's relationships stay beside the new one; their names are taken, their tables kept.
    std::vector<std::string> relationships = jettest::rowsOf(*db, "MSysRelationships");
    EXPECT_EQ(relationships.size(), accessRelationships.size() + 1);
    for (const std::string& r : accessRelationships) EXPECT_EQ(std::count(relationships.begin(), relationships.end(), r), 1) << r;
    EXPECT_EQ(errorOf([&] { db->createRelationship({"Table2Table1", "Table3", "Table2", {{"id", "id"}}}); }), jet::err::kObjectExists);
    EXPECT_EQ(errorOf([&] { db->dropTable("Table2"); }), jet::err::kInRelationship);
    EXPECT_EQ(jettest::firstProblem(*db), "");
  }
  EXPECT_EQ(columns(), before);
  auto shapes = indexShapes(path);
  EXPECT_EQ(std::count(shapes["Table1"].begin(), shapes["Table1"].end(), "Table2Table11 #4 real 4 kind 2 side 2 -> Table2 #3 cascade 00"), 1);
  EXPECT_EQ(std::count(shapes["Table2"].begin(), shapes["Table2"].end(), ".rD #3 real 1 unique kind 2 side 1 -> Table1 #4 cascade 00"), 1);
}

INSTANTIATE_TEST_SUITE_P(AccessFiles, RelationshipIndexes,
                         ::testing::Values("indexTestV1997.mdb", "indexTestV2000.mdb", "ace/indexTestV2007.accdb"));

}  // namespace
