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

// A row of a table whose columns are all fixed-length ends with the null mask right after the
// fixed data, in both formats; rows that carry an empty variable part (end-of-data offset and a
// zero count) read the same, and a variable-length column added later reads as Null in both.
TEST(Row, RowsOfAllFixedTablesHaveNoVariablePart) {
  for (jet::Format format : {jet::Format::Jet3, jet::Format::Jet4}) {
    const bool jet3 = format == jet::Format::Jet3;
    const jet::TableDef def = allFixedTable(format);
    jet::TextCodec codec(1252);
    const std::vector<Value> values = {int64_t(0x01020304), jet::Null{}, jet::Currency{-5}, int64_t(513), 1.5f};
    const jet::Bytes row = jet::encodeRow(def, values, codec, nullptr);

    jet::Bytes fixed;
    for (const jet::Bytes& part : {le(0x01020304, 4), le(0, 4), le(uint64_t(-5), 8), le(513, 2), le(0x3FC00000, 4)})
      fixed.insert(fixed.end(), part.begin(), part.end());
    jet::Bytes expected = jet3 ? jet::Bytes{5} : jet::Bytes{5, 0};
    expected.insert(expected.end(), fixed.begin(), fixed.end());
    expected.push_back(0x1D);  // every column but the second holds a value
    EXPECT_EQ(row, expected) << (jet3 ? "Jet 3" : "Jet 4");
    EXPECT_EQ(row.size(), jet3 ? 24u : 25u);

    // The same row as an earlier writer laid it out: end of data and a zero count before the mask.
    jet::Bytes padded(expected.begin(), expected.end() - 1);
    const size_t eod = padded.size();
    if (jet3) {
      padded.push_back(uint8_t(eod));
      padded.push_back(0);
    } else {
      for (uint8_t b : le(eod, 2)) padded.push_back(b);
      padded.push_back(0);
      padded.push_back(0);
    }
    padded.push_back(0x1D);

    jet::TableDef grown = def;  // a Text column added after these rows were written
    jet::ColumnDef text;
    text.name = "t";
    text.type = jet::ColumnType::Text;
    text.number = 5;
    text.length = 20;
    text.flags = jet::colflag::kNullable;
    grown.columns.push_back(text);
    grown.maxColumns = 6;
    grown.varColumnCount = 1;

    for (const jet::Bytes* stored : {&expected, &padded}) {
      for (const jet::TableDef* d : {&def, static_cast<const jet::TableDef*>(&grown)}) {
        std::vector<Value> got = decodeRow(*d, *stored);
        ASSERT_EQ(got.size(), d->columns.size());
        EXPECT_EQ(std::get<jet::Bytes>(got[0]), le(0x01020304, 4));
        EXPECT_TRUE(jet::isNull(got[1]));
        EXPECT_EQ(std::get<jet::Bytes>(got[2]), le(uint64_t(-5), 8));
        EXPECT_EQ(std::get<jet::Bytes>(got[4]), le(0x3FC00000, 4));
        if (d == &grown) {
          EXPECT_TRUE(jet::isNull(got[5])) << "a column the row predates";
        }
      }
    }
    // Rows written after the column was added carry the variable part again.
    const jet::Bytes withText = jet::encodeRow(grown, {int64_t(1), int64_t(2), jet::Null{}, jet::Null{}, jet::Null{},
                                                       std::string("ab")}, codec, nullptr);
    std::vector<Value> got = decodeRow(grown, withText);
    EXPECT_FALSE(jet::isNull(got[5]));
    // count, fixed part, the text (UTF-16 in Jet 4), its start and end offsets, var count, mask
    EXPECT_EQ(withText.size(), jet3 ? 1u + 22 + 2 + 2 + 1 + 1 : 2u + 22 + 4 + 4 + 2 + 1);
  }
}

// Fixed rows longer than 256 bytes need no jump table in Jet 3: there are no offsets to extend.
TEST(Row, LongAllFixedJet3RowsHaveNoJumpTable) {
  jet::TableDef def;
  def.format = jet::Format::Jet3;
  for (uint16_t i = 0; i < 40; ++i) {
    jet::ColumnDef c;
    c.type = jet::ColumnType::Double;
    c.number = i;
    c.fixedOffset = uint16_t(8 * i);
    c.length = 8;
    c.flags = jet::colflag::kFixed | jet::colflag::kNullable;
    def.columns.push_back(c);
  }
  def.maxColumns = 40;
  jet::TextCodec codec(1252);
  std::vector<Value> values(40, Value(2.0));
  values[39] = jet::Null{};
  const jet::Bytes row = jet::encodeRow(def, values, codec, nullptr);
  ASSERT_EQ(row.size(), 1u + 320u + 5u);
  EXPECT_EQ(row.back(), 0x7F);
  std::vector<Value> got = decodeRow(def, row);
  EXPECT_EQ(std::get<jet::Bytes>(got[38]), le(0x4000000000000000ull, 8));
  EXPECT_TRUE(jet::isNull(got[39]));
}

}  // namespace
