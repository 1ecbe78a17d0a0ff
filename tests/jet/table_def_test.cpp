#include "jet/table/table_def.h"

#include <gtest/gtest.h>

#include <tuple>

#include "jet/base/bytes.h"
#include "jet/database.h"
#include "jet/database_impl.h"
#include "jet/support/test_files.h"

namespace {

using jet::ColumnType;

std::unique_ptr<jet::DatabaseImpl> openImpl(const std::string& name) {
  return std::make_unique<jet::DatabaseImpl>(jettest::testdata(name), jet::OpenOptions{true, jettest::passwordOf(name)});
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
    auto db = openImpl(file);
    for (const auto& o : db->objects()) {
      if (o.kind != jet::ObjectKind::Table && o.kind != jet::ObjectKind::SystemTable) continue;
      const jet::TableDef& a = db->tableDef(o.name);
      const jet::TableDef b = jet::parseTableDef(a.format, jet::serializeTableDef(a, db->codec()), db->codec());
      SCOPED_TRACE(file + ": " + o.name);
      ++tables;
      auto table = [](const jet::TableDef& d) {
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
