#include "jet/table_def.h"

#include <gtest/gtest.h>

#include "jet/database.h"
#include "jet/database_impl.h"
#include "jet/support/test_files.h"

namespace {

using jet::ColumnType;

std::unique_ptr<jet::DatabaseImpl> openImpl(const std::string& name) {
  return std::make_unique<jet::DatabaseImpl>(jettest::testdata(name), jet::OpenOptions{true, jettest::passwordOf(name)});
}

TEST(TableDef, ReadsColumnsAndIndexesOfBothFormats) {
  for (const char* name : {"testV1997.mdb", "testV2000.mdb"}) {
    auto db = openImpl(name);
    jet::TableInfo t = db->table("table1");
    ASSERT_EQ(t.columns.size(), 9u) << name;
    const ColumnType types[] = {ColumnType::Text, ColumnType::Text, ColumnType::Byte, ColumnType::Integer,
                                ColumnType::Long, ColumnType::Double, ColumnType::DateTime, ColumnType::Currency,
                                ColumnType::Boolean};
    for (size_t i = 0; i < 9; ++i) {
      EXPECT_EQ(t.columns[i].name, std::string(1, char('A' + i)));
      EXPECT_EQ(t.columns[i].type, types[i]);
      EXPECT_EQ(t.columns[i].number, i);
    }
    bool jet3 = std::string(name) == "testV1997.mdb";
    EXPECT_EQ(t.columns[0].length, jet3 ? 50 : 100);  // Jet 4 counts bytes of UCS-2
    EXPECT_FALSE(t.columns[0].fixed);
    EXPECT_TRUE(t.columns[4].fixed);
    EXPECT_EQ(t.columns[0].sortOrder, 1033);
    EXPECT_EQ(t.rowCount, 2u);
    ASSERT_EQ(t.indexes.size(), 2u);
    for (const auto& ix : t.indexes) {
      if (ix.name == "PrimaryKey") {
        EXPECT_TRUE(ix.primaryKey && ix.unique);
        ASSERT_EQ(ix.columns.size(), 1u);
        EXPECT_EQ(ix.columns[0].columnNumber, 0);
      } else {
        EXPECT_EQ(ix.name, "B");
        EXPECT_FALSE(ix.primaryKey || ix.unique);
      }
    }
  }
}

TEST(TableDef, DecimalPrecisionScaleAndAutoNumbers) {
  auto db = openImpl("fixedNumericTestV2000.mdb");
  jet::TableInfo t = db->table("test");
  ASSERT_GE(t.columns.size(), 2u);
  EXPECT_EQ(t.columns[1].type, ColumnType::Numeric);
  EXPECT_EQ(t.columns[1].precision, 18);
  EXPECT_EQ(t.columns[1].length, 17);
  auto lv = openImpl("generated/longValuesV2000.mdb");
  jet::TableInfo blobs = lv->table("Blobs");
  EXPECT_TRUE(blobs.columns[0].autoNumber);
  EXPECT_EQ(lv->nextAutoNumber("Blobs"), 14);
}

TEST(TableDef, IndexPropertiesAndForeignKeys) {
  auto db = openImpl("testIndexPropertiesV2000.mdb");
  int unique = 0, ignoreNulls = 0, required = 0;
  for (const auto& o : db->objects()) {
    if (o.kind != jet::ObjectKind::Table) continue;
    for (const auto& ix : db->table(o.name).indexes) {
      unique += ix.unique;
      ignoreNulls += ix.ignoreNulls;
      required += ix.required;
    }
  }
  EXPECT_GT(unique, 0);
  EXPECT_GT(ignoreNulls, 0);
  EXPECT_GT(required, 0);
  auto idx = openImpl("indexTestV2000.mdb");
  int foreign = 0;
  for (const auto& o : idx->objects())
    if (o.kind == jet::ObjectKind::Table)
      for (const auto& ix : idx->table(o.name).indexes) foreign += ix.foreignKey;
  EXPECT_GT(foreign, 0);
}

TEST(TableDef, DefinitionsSpanningSeveralPages) {
  std::vector<std::string> multi;
  for (const auto& file : jettest::allTestFiles()) {
    auto db = openImpl(file);
    for (const auto& o : db->objects()) {
      if (o.kind != jet::ObjectKind::Table && o.kind != jet::ObjectKind::SystemTable) continue;
      const jet::TableDef& d = db->tableDef(o.name);
      if (d.pages.size() < 2) continue;
      multi.push_back(file + ":" + o.name);
      EXPECT_EQ(db->table(o.name).columns.size(), d.columns.size());
      for (const auto& c : d.columns) EXPECT_FALSE(c.name.empty()) << file << " " << o.name;
    }
  }
  EXPECT_FALSE(multi.empty()) << "some test file should hold a definition of more than one page";
}

TEST(TableDef, DeletedColumnsLeaveGapsInNumbering) {
  for (const char* name : {"delColTestV1997.mdb", "delColTestV2000.mdb"}) {
    auto db = openImpl(name);
    for (const auto& o : db->objects()) {
      if (o.kind != jet::ObjectKind::Table) continue;
      const jet::TableDef& d = db->tableDef(o.name);
      // Columns stay in number order; the next number to give is past every column.
      for (size_t i = 1; i < d.columns.size(); ++i) EXPECT_LT(d.columns[i - 1].number, d.columns[i].number);
      for (const auto& c : d.columns) EXPECT_LT(c.number, d.maxColumns) << name;
    }
  }
}

TEST(TableDef, ColumnPropertiesFromTheCatalog) {
  auto db = openImpl("testV2000.mdb");
  jet::TableInfo t = db->table("Table4");
  EXPECT_EQ(t.columns[1].type, ColumnType::Guid);
  EXPECT_EQ(t.columns[1].defaultValue, "GenGUID()");
  jet::TableInfo t1 = db->table("Table1");
  EXPECT_FALSE(t1.columns[0].allowZeroLength);
  EXPECT_EQ(t1.columns[2].defaultValue, "0");
}

}  // namespace
