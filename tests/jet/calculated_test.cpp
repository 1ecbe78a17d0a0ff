// Calculated columns as Access stores them: every one in the variable part of the row, fixed-size
// results in a column declared 39 bytes long, and results stored empty for Null.
#include <gtest/gtest.h>

#include "jet/base/text_codec.h"
#include "jet/table/calculated_value.h"
#include "jet/table/row.h"
#include "jet/table/row_writer.h"
#include "jet/table/table_def.h"

namespace {

using jet::ColumnType;
using jet::Value;

// One calculated column of the type, as Access declares it.
jet::TableDef calculated(ColumnType type) {
  jet::TableDef def;
  def.format = jet::Format::Jet4;
  jet::ColumnDef c;
  c.name = "c";
  c.type = type;
  c.flags = jet::colflag::kNullable;
  c.extFlags = jet::colflag::kCalculated;
  c.length = type == ColumnType::Text ? 2 * 20 + 23 : 39;
  c.varIndex = 0;
  def.columns.push_back(c);
  def.maxColumns = 1;
  def.varColumnCount = 1;
  return def;
}

// A row whose one variable column holds `stored` as it is: written as a binary column of the
// same place.
jet::Bytes rowHolding(const jet::Bytes& stored) {
  jet::TableDef plain = calculated(ColumnType::Binary);
  plain.columns[0].extFlags = 0;
  plain.columns[0].length = 255;
  return jet::encodeRow(plain, {stored}, jet::windows1252Codec(), nullptr);
}

TEST(Calculated, AccessStoredResultsReadBack) {
  jet::Decimal dec;
  dec.scale = 2;
  dec.precision = 28;
  dec.magnitude = {12345, 0, 7};
  struct Case {
    ColumnType type;
    jet::Bytes result;  // inside the wrapper
    Value expected;
  };
  const std::vector<Case> cases = {
      {ColumnType::Long, {0x2A, 0, 0, 0}, int64_t(42)},
      {ColumnType::Long, {}, jet::Null{}},  // Null stored as an empty result
      {ColumnType::Double, {}, jet::Null{}},
      {ColumnType::Currency, {}, jet::Null{}},
      {ColumnType::DateTime, {}, jet::Null{}},
      {ColumnType::Numeric, {}, jet::Null{}},
      {ColumnType::Boolean, {}, false},
      {ColumnType::Boolean, {0xFF}, true},
      {ColumnType::Numeric, {14, 0, 2, 0, 7, 0, 0, 0, 0x39, 0x30, 0, 0, 0, 0, 0, 0}, dec},
      {ColumnType::Text, {}, std::string()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.type));
    const jet::TableDef def = calculated(c.type);
    const jet::Bytes row = rowHolding(jet::wrapCalculated(c.result));
    std::vector<Value> back;
    jet::RowReader(def, jet::windows1252Codec()).decode(row.data(), row.size(), back);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0], c.expected);
    // What the engine writes fits the column Access declared and reads back the same.
    if (jet::isNull(c.expected)) continue;
    const jet::Bytes written = jet::encodeRow(def, {c.expected}, jet::windows1252Codec(), nullptr);
    jet::RowLayout layout;
    jet::parseRow(def, written.data(), written.size(), layout);
    const uint8_t* data;
    size_t len;
    ASSERT_TRUE(jet::columnBytes(def, def.columns[0], layout, data, len));
    EXPECT_LE(len, def.columns[0].length);
    jet::RowReader(def, jet::windows1252Codec()).decode(written.data(), written.size(), back);
    EXPECT_EQ(back[0], c.expected);
  }
}

}  // namespace
