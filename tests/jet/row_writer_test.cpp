#include "jet/table/row_writer.h"

#include <gtest/gtest.h>

#include "jet/database_impl.h"
#include "jet/support/test_files.h"
#include "jet/table/row.h"
#include "jet/table/table_scan.h"
#include "support/error_of.h"

namespace {

using jet::Value;

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
