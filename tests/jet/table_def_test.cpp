// Table definitions: index properties as Access stores them, and every definition of every test file
// through the serializer and back.
#include "jet/table/table_def.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "jet/database.h"
#include "jet/file_database.h"
#include "jet/support/test_files.h"

namespace {

std::unique_ptr<jet::FileDatabase> openImpl(const std::string& name) {
  return std::make_unique<jet::FileDatabase>(jettest::testdata(name), jet::OpenOptions{true, jettest::passwordOf(name)});
}

TEST(TableDef, IndexPropertiesAndForeignKeys) {
  // How many indexes of a file's tables have each property: unique, ignoring Nulls, required, foreign.
  auto counts = [](const std::string& file) {
    std::array<int, 4> n{};
    auto db = openImpl(file);
    for (const auto& o : db->objects())
      if (o.kind == jet::ObjectKind::Table)
        for (const auto& ix : db->table(o.name).indexes) n = {n[0] + ix.unique, n[1] + ix.ignoreNulls, n[2] + ix.required, n[3] + ix.foreignKey};
    return n;
  };
  const std::array<int, 4> properties = counts("testIndexPropertiesV2000.mdb");
  EXPECT_TRUE(properties[0] > 0 && properties[1] > 0 && properties[2] > 0) << properties[0] << properties[1] << properties[2];
  EXPECT_GT(counts("indexTestV2000.mdb")[3], 0);
}

// Column properties read from the catalog's property blobs.
TEST(TableDef, ColumnPropertiesFromTheCatalog) {
  auto db = openImpl("testV2000.mdb");
  const jet::TableInfo t = db->table("Table4"), t1 = db->table("Table1");
  EXPECT_EQ(std::tie(t.columns[1].type, t.columns[1].defaultValue), std::make_tuple(jet::ColumnType::Guid, std::string("GenGUID()")));
  EXPECT_FALSE(t1.columns[0].allowZeroLength);
  EXPECT_EQ(t1.columns[2].defaultValue, "0");
}

// Every definition of every test file reads back the same after the serializer wrote it.
TEST(TableDef, EveryDefinitionSurvivesWritingAndReadingAgain) {
  size_t tables = 0;
  for (const auto& file : jettest::allTestFiles()) {
    auto db = openImpl(file);
    for (const auto& o : db->objects()) {
      if (o.kind != jet::ObjectKind::Table && o.kind != jet::ObjectKind::SystemTable) continue;
      const jet::Tdef& a = db->tableDef(o.name);
      const jet::Tdef b = jet::parseTdef(a.format, jet::serializeTdef(a, db->codec()), db->codec());
      SCOPED_TRACE(file + ": " + o.name);
      ++tables;
      auto table = [](const jet::Tdef& d) {
        return std::tuple(d.rowCount, d.nextAutoNumber, d.tableType, d.ownedPagesPointer, d.freeSpacePointer,
                          d.storedOrder, d.columns.size(), d.realIndexes.size(), d.indexes.size());
      };
      auto column = [](const jet::ColumnDef& x) {
        return std::tuple(x.name, x.type, x.rawType, x.number, x.flags, x.extFlags, x.length, x.sortOrder,
                          x.sortVersion, x.precision, x.lvOwnedPointer, x.lvFreePointer,
                          x.fixed() ? x.fixedOffset : x.varIndex);
      };
      auto real = [](const auto& r) {
        return std::tuple(r.rootPage, r.usedPagesPointer, r.flags, r.entryCount, r.columns.size());
      };
      auto logical = [](const auto& i) { return std::tuple(i.name, i.realIndex, i.relTable, i.kind, i.cascadeDeletes); };
      ASSERT_EQ(table(a), table(b));
      for (size_t i = 0; i < a.columns.size(); ++i) EXPECT_EQ(column(a.columns[i]), column(b.columns[i])) << i;
      for (size_t i = 0; i < a.realIndexes.size(); ++i) EXPECT_EQ(real(a.realIndexes[i]), real(b.realIndexes[i])) << i;
      for (size_t i = 0; i < a.indexes.size(); ++i) EXPECT_EQ(logical(a.indexes[i]), logical(b.indexes[i])) << i;
    }
  }
  EXPECT_GT(tables, 50u);
}

}  // namespace
