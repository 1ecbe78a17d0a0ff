#include "jet/table/table_def.h"

#include <gtest/gtest.h>

#include "jet/base/bytes.h"
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

TEST(TableDef, ColumnPropertiesFromTheCatalog) {
  auto db = openImpl("testV2000.mdb");
  jet::TableInfo t = db->table("Table4");
  EXPECT_EQ(t.columns[1].type, ColumnType::Guid);
  EXPECT_EQ(t.columns[1].defaultValue, "GenGUID()");
  jet::TableInfo t1 = db->table("Table1");
  EXPECT_FALSE(t1.columns[0].allowZeroLength);
  EXPECT_EQ(t1.columns[2].defaultValue, "0");
}

// A Jet 4 definition with one text column, made by the serializer.
jet::TableDef oneTextColumn(uint8_t sortVersion) {
  jet::TableDef def;
  def.format = jet::Format::Jet4;
  jet::ColumnDef c;
  c.name = "Name";
  c.type = ColumnType::Text;
  c.flags = jet::colflag::kNullable;
  c.length = 100;
  c.sortOrder = 1033;
  c.sortVersion = sortVersion;
  def.columns.push_back(c);
  return def;
}

TEST(TableDef, Jet4KeepsTheCollationVersionInTheFourthByteOfItsField) {
  jet::TextCodec codec(1252);
  jet::Bytes bytes = jet::serializeTableDef(oneTextColumn(1), codec);
  const size_t column = 63;  // Jet 4: the column descriptors follow the 63-byte header (no indexes)
  EXPECT_EQ(jet::le16(&bytes[column + 11]), 1033);
  EXPECT_EQ(bytes[column + 13], 0);
  EXPECT_EQ(bytes[column + 14], 1);
  // The byte between the id and the version is not part of either.
  bytes[column + 13] = 0x7F;
  const jet::TableDef parsed = jet::parseTableDef(jet::Format::Jet4, bytes, codec);
  ASSERT_EQ(parsed.columns.size(), 1u);
  EXPECT_EQ(parsed.columns[0].sortOrder, 1033);
  EXPECT_EQ(parsed.columns[0].sortVersion, 1);
  EXPECT_EQ(jet::describeTable(parsed, "T").columns[0].sortVersion, 1);
  bytes[column + 14] = 0;
  EXPECT_EQ(jet::parseTableDef(jet::Format::Jet4, bytes, codec).columns[0].sortVersion, 0);
}

TEST(TableDef, ColumnStoredOutOfNumberOrderAreReadInFieldOrderAndWrittenBackAsStored) {
  jet::TextCodec codec(1252);
  jet::TableDef def = oneTextColumn(0);
  jet::ColumnDef id;
  id.name = "Id";
  id.type = ColumnType::Long;
  id.flags = jet::colflag::kFixed;
  id.length = 4;
  def.columns.insert(def.columns.begin(), id);
  def.columns[1].number = 1;
  def.storedOrder = {1, 0};  // "Name" stored first
  const jet::Bytes bytes = jet::serializeTableDef(def, codec);
  EXPECT_EQ(bytes[63], uint8_t(ColumnType::Text));
  const jet::TableDef back = jet::parseTableDef(jet::Format::Jet4, bytes, codec);
  ASSERT_EQ(back.columns.size(), 2u);
  EXPECT_EQ(back.columns[0].name, "Id");
  EXPECT_EQ(back.columns[1].name, "Name");
  EXPECT_EQ(back.storedOrder, def.storedOrder);
  EXPECT_EQ(jet::serializeTableDef(back, codec), bytes);
}

// Every definition of every test file reads back the same after the serializer wrote it.
TEST(TableDef, EveryDefinitionSurvivesWritingAndReadingAgain) {
  size_t tables = 0;
  for (const auto& file : jettest::allTestFiles()) {
    std::unique_ptr<jet::DatabaseImpl> db;
    try {
      db = openImpl(file);
    } catch (const jet::Error& e) {
      if (e.number() == 3031) continue;  // a password protects it
      throw;
    }
    for (const auto& o : db->objects()) {
      if (o.kind != jet::ObjectKind::Table && o.kind != jet::ObjectKind::SystemTable) continue;
      const jet::TableDef& a = db->tableDef(o.name);
      const jet::TableDef b = jet::parseTableDef(a.format, jet::serializeTableDef(a, db->codec()), db->codec());
      SCOPED_TRACE(file + ": " + o.name);
      ++tables;
      EXPECT_EQ(a.rowCount, b.rowCount);
      EXPECT_EQ(a.nextAutoNumber, b.nextAutoNumber);
      EXPECT_EQ(a.tableType, b.tableType);
      EXPECT_EQ(a.ownedPagesPointer, b.ownedPagesPointer);
      EXPECT_EQ(a.freeSpacePointer, b.freeSpacePointer);
      EXPECT_EQ(a.storedOrder, b.storedOrder);
      ASSERT_EQ(a.columns.size(), b.columns.size());
      for (size_t i = 0; i < a.columns.size(); ++i) {
        const auto &x = a.columns[i], &y = b.columns[i];
        EXPECT_EQ(x.name, y.name);
        EXPECT_EQ(x.type, y.type);
        EXPECT_EQ(x.rawType, y.rawType);
        EXPECT_EQ(x.number, y.number);
        EXPECT_EQ(x.flags, y.flags);
        EXPECT_EQ(x.extFlags, y.extFlags);
        EXPECT_EQ(x.length, y.length);
        EXPECT_EQ(x.sortOrder, y.sortOrder);
        EXPECT_EQ(x.sortVersion, y.sortVersion);
        EXPECT_EQ(x.precision, y.precision);
        EXPECT_EQ(x.lvOwnedPointer, y.lvOwnedPointer);
        EXPECT_EQ(x.lvFreePointer, y.lvFreePointer);
        if (x.fixed()) EXPECT_EQ(x.fixedOffset, y.fixedOffset);
        else EXPECT_EQ(x.varIndex, y.varIndex);
      }
      ASSERT_EQ(a.realIndexes.size(), b.realIndexes.size());
      for (size_t i = 0; i < a.realIndexes.size(); ++i) {
        EXPECT_EQ(a.realIndexes[i].rootPage, b.realIndexes[i].rootPage);
        EXPECT_EQ(a.realIndexes[i].usedPagesPointer, b.realIndexes[i].usedPagesPointer);
        EXPECT_EQ(a.realIndexes[i].flags, b.realIndexes[i].flags);
        EXPECT_EQ(a.realIndexes[i].entryCount, b.realIndexes[i].entryCount);
        EXPECT_EQ(a.realIndexes[i].columns.size(), b.realIndexes[i].columns.size());
      }
      ASSERT_EQ(a.indexes.size(), b.indexes.size());
      for (size_t i = 0; i < a.indexes.size(); ++i) {
        EXPECT_EQ(a.indexes[i].name, b.indexes[i].name);
        EXPECT_EQ(a.indexes[i].realIndex, b.indexes[i].realIndex);
        EXPECT_EQ(a.indexes[i].relTable, b.indexes[i].relTable);
        EXPECT_EQ(a.indexes[i].kind, b.indexes[i].kind);
        EXPECT_EQ(a.indexes[i].cascadeDeletes, b.indexes[i].cascadeDeletes);
      }
    }
  }
  EXPECT_GT(tables, 50u);
}

}  // namespace
