#include "jet/table/row.h"

#include <gtest/gtest.h>

#include "jet/database.h"
#include "jet/support/test_files.h"
#include "jet/table/row_writer.h"

namespace {

using jet::Value;

std::vector<std::vector<Value>> readAll(const std::string& file, const std::string& table) {
  auto db = jet::Database::open(jettest::testdata(file), {true, ""});
  auto cur = db->openTable(table);
  std::vector<std::vector<Value>> rows;
  while (cur->next()) rows.push_back(cur->values());
  return rows;
}

std::string text(const Value& v) { return std::get<std::string>(v); }

TEST(Row, KnownValuesOfEveryCommonTypeInBothFormats) {
  for (const char* file : {"testV1997.mdb", "testV2000.mdb"}) {
    auto rows = readAll(file, "Table1");
    ASSERT_EQ(rows.size(), 2u) << file;
    const std::vector<Value>* full = nullptr;
    for (auto& r : rows)
      if (text(r[0]) == "abcdefg") full = &r;
    ASSERT_TRUE(full) << file;
    const auto& r = *full;
    EXPECT_EQ(text(r[1]), "hijklmnop");
    EXPECT_EQ(std::get<int64_t>(r[2]), 2);
    EXPECT_EQ(std::get<int64_t>(r[3]), 222);
    EXPECT_EQ(std::get<int64_t>(r[4]), 333333333);
    EXPECT_DOUBLE_EQ(std::get<double>(r[5]), 444.555);
    EXPECT_DOUBLE_EQ(std::get<jet::DateTime>(r[6]).days, 27293.0);  // 1974-09-21
    EXPECT_EQ(std::get<jet::Currency>(r[7]).scaled, 35000);
    EXPECT_EQ(std::get<bool>(r[8]), true);
  }
}

TEST(Row, DeletedRowsAreSkippedAndOverflowRowsKeepTheirPlace) {
  for (const char* file : {"delTestV1997.mdb", "delTestV2000.mdb"}) {
    auto db = jet::Database::open(jettest::testdata(file), {true, ""});
    auto t = db->table("Table");
    auto rows = readAll(file, "Table");
    EXPECT_EQ(rows.size(), t.rowCount) << file;
    EXPECT_EQ(rows.size(), 2u);
  }
  for (const char* file : {"overflowTestV1997.mdb", "overflowTestV2000.mdb"}) {
    auto rows = readAll(file, "Table1");
    ASSERT_EQ(rows.size(), 7u) << file;
    // Rows 3 and 5 grew and moved; stored order still follows their original addresses.
    EXPECT_EQ(text(rows[2][1]), "row3col3");
    EXPECT_EQ(text(rows[2][7]), "row3col9");
    EXPECT_EQ(text(rows[4][1]), "row5col2");
    EXPECT_TRUE(jet::isNull(rows[4][0]));
    EXPECT_EQ(text(rows[6][5]), "row7col7");
  }
}

TEST(Row, DecimalsAndNullsInFixedColumns) {
  auto rows = readAll("fixedNumericTestV2000.mdb", "test");
  ASSERT_EQ(rows.size(), 1u);
  auto dec = [&](int i) { return std::get<jet::Decimal>(rows[0][size_t(i)]); };
  EXPECT_EQ(text(rows[0][0]), "some data");
  EXPECT_EQ(dec(1).magnitude[0], 1u);
  EXPECT_FALSE(dec(1).negative);
  EXPECT_EQ(dec(4).magnitude[0], 4u);
  EXPECT_TRUE(dec(5).negative);
  EXPECT_EQ(dec(5).magnitude[0], 1u);
}

TEST(Row, ParsesJet3JumpTablesOfLongRows) {
  // Jet 3 rows over 256 bytes record variable offsets with a jump table; Table2 has 89 text columns.
  auto rows = readAll("testV1997.mdb", "Table2");
  auto rows4 = readAll("testV2000.mdb", "Table2");
  ASSERT_EQ(rows.size(), rows4.size());
  EXPECT_EQ(rows, rows4) << "the same data in both formats";
}

TEST(Row, RejectsImpossibleRowStructures) {
  auto db = jet::Database::open(jettest::testdata("testV2000.mdb"), {true, ""});
  jet::TableDef def;
  def.format = jet::Format::Jet4;
  jet::ColumnDef text;
  text.flags = jet::colflag::kNullable;
  def.columns.push_back(text);
  jet::RowLayout layout;
  // Column count 16 but only 3 bytes: the null mask does not fit.
  const uint8_t shortRow[] = {16, 0, 0};
  EXPECT_THROW(jet::parseRow(def, shortRow, sizeof shortRow, layout), jet::Error);
  // One variable column whose offset runs past the row's end.
  const uint8_t badOffsets[] = {1, 0, 0x30, 0, 0x02, 0, 0x01, 0, 0x01};
  EXPECT_THROW(jet::parseRow(def, badOffsets, sizeof badOffsets, layout), jet::Error);
}

// Long, Long, Currency, Integer, Single: a table without variable-length columns.
jet::TableDef allFixedTable(jet::Format format) {
  jet::TableDef def;
  def.format = format;
  const std::pair<jet::ColumnType, uint16_t> types[] = {{jet::ColumnType::Long, 4},     {jet::ColumnType::Long, 4},
                                                        {jet::ColumnType::Currency, 8}, {jet::ColumnType::Integer, 2},
                                                        {jet::ColumnType::Single, 4}};
  uint16_t offset = 0;
  for (const auto& [type, length] : types) {
    jet::ColumnDef c;
    c.name = "c" + std::to_string(def.columns.size());
    c.type = type;
    c.number = uint16_t(def.columns.size());
    c.fixedOffset = offset;
    c.length = length;
    c.flags = jet::colflag::kFixed | jet::colflag::kNullable;
    offset = uint16_t(offset + length);
    def.columns.push_back(c);
  }
  def.maxColumns = uint16_t(def.columns.size());
  return def;
}

std::vector<Value> decodeRow(const jet::TableDef& def, const jet::Bytes& row) {
  std::vector<Value> out;
  jet::RowLayout layout;
  jet::parseRow(def, row.data(), row.size(), layout);
  out.resize(def.columns.size());
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const uint8_t* d;
    size_t len;
    if (!jet::columnBytes(def, def.columns[i], layout, d, len)) {
      out[i] = jet::Null{};
      continue;
    }
    jet::Bytes bytes(d, d + len);
    out[i] = bytes;
  }
  return out;
}

jet::Bytes le(uint64_t v, size_t n) {
  jet::Bytes b;
  for (size_t i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
  return b;
}

}  // namespace
