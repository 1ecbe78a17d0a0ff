// Rows: values encoded into the row layout as Access lays it out, and stored rows re-encoded.
#include "jet/table/row_writer.h"

#include <gtest/gtest.h>

#include "jet/database_impl.h"
#include "jet/support/test_files.h"
#include "jet/table/row.h"
#include "jet/table/table_scan.h"
#include "support/error_of.h"

namespace {

using jet::Value;

jet::Bytes noLongValues(const jet::ColumnDef&, const jet::Bytes&) {
  ADD_FAILURE() << "no long values expected";
  return {};
}

// Re-encoding the values of stored rows gives back the bytes Access wrote (testV1997), or bytes
// that read back to the same values and take no more room (elsewhere Access leaves stale bytes
// under Null fixed columns and slack after variable data).
TEST(RowWriter, ReencodesStoredRows) {
  for (const char* file : {"testV1997.mdb", "testV2000.mdb", "test2V1997.mdb", "test2V2000.mdb"}) {
    jet::DatabaseImpl db(jettest::testdata(file), {true, ""});
    bool exact = std::string(file) == "testV1997.mdb";
    for (const auto& o : db.objects()) {
      if (o.kind != jet::ObjectKind::Table) continue;
      const jet::TableDef& def = db.tableDef(o.name);
      jet::TableScan scan(db.pageFile(), def, db.codec());
      jet::LongValueReader lv(db.pageFile(), def.format);
      jet::RowReader reader(def, db.codec(), lv);
      size_t rows = 0;
      while (scan.next() && rows < 50) {
        jet::Bytes stored(scan.rowData(), scan.rowData() + scan.rowSize());
        // Long values keep their stored references so that only the row layout is compared.
        jet::RowLayout layout;
        jet::parseRow(def, stored.data(), stored.size(), layout);
        jet::Bytes encoded = jet::encodeRow(def, scan.values(), db.codec(), [&](const jet::ColumnDef& c, const jet::Bytes&) {
          const uint8_t* d;
          size_t len;
          jet::columnBytes(def, c, layout, d, len);
          return jet::Bytes(d, d + len);
        });
        if (exact) {
          EXPECT_EQ(encoded, stored) << file << " " << o.name << " row " << rows;
        } else {
          std::vector<Value> back;
          reader.decode(encoded.data(), encoded.size(), back);
          EXPECT_EQ(back, scan.values()) << file << " " << o.name << " row " << rows;
          EXPECT_LE(encoded.size(), stored.size());
        }
        ++rows;
      }
    }
  }
}

// Rows encoded one after another into the same buffer, alternating between a wide Jet 3 table and
// narrower tables of both formats, read back to their values: nothing of the row before leaks into
// the next.
TEST(RowWriter, RowAfterRowIntoOneBuffer) {
  jet::DatabaseImpl wide(jettest::testdata("testV1997.mdb"), {true, ""});
  jet::DatabaseImpl narrow(jettest::testdata("testV2000.mdb"), {true, ""});
  struct Table {
    jet::DatabaseImpl& db;
    const jet::TableDef& def;
  };
  const Table tables[] = {{wide, wide.tableDef("Table2")}, {narrow, narrow.tableDef("Table1")}};
  auto valuesFor = [](const jet::TableDef& def, size_t seed) {
    std::vector<Value> values;
    for (size_t i = 0; i < def.columns.size(); ++i) {
      const jet::ColumnDef& c = def.columns[i];
      if (c.type == jet::ColumnType::Boolean) values.push_back((i + seed) % 2 == 0);  // never Null
      else if ((i + seed) % 3 == 0) values.push_back(jet::Null{});
      else if (c.type == jet::ColumnType::Text)
        values.push_back(std::string(std::min<size_t>(seed * 3 % 17 + i % 5, c.length / 2), char('a' + i % 26)));
      else if (c.type == jet::ColumnType::Byte || c.type == jet::ColumnType::Integer || c.type == jet::ColumnType::Long)
        values.push_back(int64_t((seed * 31 + i) % 100));
      else values.push_back(jet::Null{});
    }
    return values;
  };
  jet::Bytes row(5000, 0xAB);
  for (size_t seed = 0; seed < 12; ++seed) {
    const Table& t = tables[seed % 2];
    const std::vector<Value> values = valuesFor(t.def, seed);
    jet::encodeRowInto(t.def, values, t.db.codec(), noLongValues, row);
    EXPECT_EQ(row, jet::encodeRow(t.def, values, t.db.codec(), noLongValues)) << "seed " << seed;
    jet::LongValueReader lv(t.db.pageFile(), t.def.format);
    jet::RowReader reader(t.def, t.db.codec(), lv);
    std::vector<Value> back;
    reader.decode(row.data(), row.size(), back);
    EXPECT_EQ(back, values) << "seed " << seed;
  }
}

TEST(RowWriter, RefusesValuesThatDoNotFit) {
  jet::DatabaseImpl db(jettest::testdata("testV2000.mdb"), {true, ""});
  const jet::TableDef& def = db.tableDef("Table1");
  auto encode = [&](size_t col, Value v) { return jet::encodeValue(def, def.columns[col], v, db.codec()); };
  auto error = [&](size_t col, Value v) { return errorOf([&] { encode(col, v); }); };
  EXPECT_EQ(error(2, int64_t(256)), jet::err::kConversion);      // Byte
  EXPECT_EQ(error(3, int64_t(40000)), jet::err::kConversion);    // Integer
  EXPECT_EQ(error(4, std::string("12")), jet::err::kConversion); // Long from text is the caller's job
  EXPECT_EQ(error(0, std::string(51, 'x')), jet::err::kTextTooLong);
  EXPECT_EQ(error(0, std::string(50, 'x')), 0);
  EXPECT_EQ(encode(4, int64_t(-2)), (jet::Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(encode(7, jet::Currency{-1}).size(), 8u);
}

}  // namespace
