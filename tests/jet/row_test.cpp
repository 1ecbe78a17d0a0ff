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

TEST(Row, RejectsImpossibleRowStructures) {
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

}  // namespace
