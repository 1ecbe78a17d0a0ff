// The column kinds of Access 2010 and later: Large Number, Date/Time Extended and calculated
// columns, from their stored bytes to their text forms and index keys, and through the engine into
// files that an independent reader reads back.
#include <gtest/gtest.h>


#include "jet/base/text_codec.h"
#include "jet/base/value_text.h"
#include "jet/database.h"
#include "jet/index/index_key.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"
#include "jet/table/calculated_value.h"
#include "jet/table/row.h"
#include "jet/table/row_writer.h"
#include "jet/table/table_def.h"
#include "support/error_of.h"

namespace {

using jet::Bytes;
using jet::ColumnType;
using jet::DateTimeExtended;
using jet::Value;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(NewTypes, DateTimeExtendedIsStoredAsItsDigits) {
  // 2021-06-15 is day 737,955 after 0001-01-01; 01:01:01 is second 3,661.
  const DateTimeExtended d{737955, 3661, 1234567};
  Bytes stored = jet::storedExtendedDate(d);
  ASSERT_EQ(stored.size(), jet::kExtendedDateBytes);
  EXPECT_EQ(stored, bytesOf(std::string("0000000000000737955:0000000036611234567:7") + '\0'));
  EXPECT_EQ(jet::fromStoredExtendedDate(stored.data(), stored.size()), d);
  EXPECT_EQ(jet::toText(d), "2021-06-15 01:01:01.1234567");
  EXPECT_EQ(jet::extendedDateText(d, true), "2021-06-15T01:01:01.1234567");

  Bytes letters = stored;
  letters[3] = 'x';
  EXPECT_EQ(errorOf([&] { jet::fromStoredExtendedDate(letters.data(), letters.size()); }), jet::err::kCorrupt);
  Bytes late = jet::storedExtendedDate({3652059, 0, 0});  // the day after 9999-12-31
  EXPECT_EQ(errorOf([&] { jet::fromStoredExtendedDate(late.data(), late.size()); }), jet::err::kCorrupt);
  EXPECT_EQ(errorOf([&] { jet::fromStoredExtendedDate(stored.data(), 30); }), jet::err::kCorrupt);
}

TEST(NewTypes, TextFormsReadBackAndRefuseWhatTheTypeCannotHold) {
  for (const char* text : {"0001-01-01 00:00:00.0000000", "9999-12-31 23:59:59.9999999", "1899-12-30 12:00:00.0000001",
                           "2000-02-29 00:00:00.5000000"})
    EXPECT_EQ(jet::toText(jet::fromText(ColumnType::DateTimeExtended, text)), text);
  EXPECT_EQ(jet::fromText(ColumnType::DateTimeExtended, "2021-06-15T01:01:01.12"), Value(DateTimeExtended{737955, 3661, 1200000}));
  EXPECT_EQ(jet::fromText(ColumnType::DateTimeExtended, "0001-01-02"), Value(DateTimeExtended{1, 0, 0}));
  for (const char* bad : {"0000-12-31", "2021-02-29", "2021-06-15 24:00:00", "2021-06-15 01:01:01.12345678", "x"})
    EXPECT_EQ(errorOf([&] { jet::fromText(ColumnType::DateTimeExtended, bad); }), jet::err::kConversion) << bad;

  EXPECT_EQ(jet::fromText(ColumnType::BigInt, "-9223372036854775808"), Value(INT64_MIN));
  EXPECT_EQ(jet::fromText(ColumnType::BigInt, "9223372036854775807"), Value(INT64_MAX));
  EXPECT_EQ(errorOf([&] { jet::fromText(ColumnType::BigInt, "9223372036854775808"); }), jet::err::kConversion);
}

TEST(NewTypes, CalculatedResultsAreUnwrapped) {
  Bytes wrapped = jet::wrapCalculated({0x2A, 0, 0, 0});
  ASSERT_EQ(wrapped[16], 4);  // the result's length (results read back: the calculated-column table below)
  // A length beyond the stored bytes is cut to them; bytes too short to be wrapped are the result.
  wrapped[16] = 200;
  EXPECT_EQ(jet::unwrapCalculated(wrapped.data(), wrapped.size()).second, wrapped.size() - 20);
  EXPECT_EQ(jet::unwrapCalculated(wrapped.data(), 7).second, 7u);

  // Decimals: length, scale, sign, then the magnitude's parts most significant first.
  const uint8_t sixteen[] = {18, 0, 3, 0x80, 1, 0, 0, 0, 0, 0, 0, 0, 0x4E, 0x61, 0xBC, 0, 0, 0, 0, 0};
  jet::Decimal d = jet::decodeCalculatedDecimal(sixteen, sizeof sixteen);
  EXPECT_EQ(jet::decimalText(d), "-18446744073721897.294");  // (2^64 + 12,345,678) / 1000
  // Written as Access writes it: 16 bytes, a 4-byte part and an 8-byte part.
  EXPECT_EQ(jet::encodeCalculatedDecimal(d), (Bytes{14, 0, 3, 0x80, 1, 0, 0, 0, 0x4E, 0x61, 0xBC, 0, 0, 0, 0, 0}));
  const uint8_t twelve[] = {14, 0, 2, 0, 7, 0, 0, 0, 0x39, 0x30, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(jet::decimalText(jet::decodeCalculatedDecimal(twelve, sizeof twelve)), "1291272085159668736.57");  // (7 * 2^64 + 12,345) / 100
  EXPECT_EQ(jet::encodeCalculatedDecimal(jet::decodeCalculatedDecimal(twelve, sizeof twelve)), Bytes(twelve, twelve + sizeof twelve));
  EXPECT_EQ(errorOf([&] { jet::decodeCalculatedDecimal(sixteen, 10); }), jet::err::kCorrupt);
}

// Index keys of the new kinds byte for byte (their order among values: the index key test).
TEST(NewTypes, IndexKeysOfTheNewKinds) {
  auto key = [](ColumnType type, bool asc, const Value& v) { return jet::encodeKey({jet::KeyColumn{type, asc}}, {v}); };
  // Large Number: big-endian with the sign bit inverted, as Currency.
  EXPECT_EQ(key(ColumnType::BigInt, true, int64_t(1)), (Bytes{0x7F, 0x80, 0, 0, 0, 0, 0, 0, 1}));
  // Date/Time Extended: the stored digits in blocks of eight, each followed by 9, then the last two
  // and a trailer; descending inverts all but the 9s.
  const DateTimeExtended d{737955, 3661, 1234567};
  Bytes stored = jet::storedExtendedDate(d);
  Bytes asc = key(ColumnType::DateTimeExtended, true, d), desc = key(ColumnType::DateTimeExtended, false, d);
  ASSERT_EQ(asc.size(), 1 + 5 * 9 + 2 + 7);
  EXPECT_EQ(asc[0], 0x7F);
  EXPECT_EQ(desc[0], 0x80);
  for (int block = 0; block < 5; ++block) {
    EXPECT_EQ(Bytes(asc.begin() + 1 + 9 * block, asc.begin() + 9 + 9 * block),
              Bytes(stored.begin() + 8 * block, stored.begin() + 8 * block + 8));
    EXPECT_EQ(asc[9 + 9 * block], 9);
    EXPECT_EQ(desc[9 + 9 * block], 9);
    EXPECT_EQ(uint8_t(~desc[1 + 9 * block]), stored[8 * block]);
  }
  EXPECT_EQ(Bytes(asc.end() - 9, asc.end()), (Bytes{stored[40], stored[41], 0, 0, 0, 0, 0, 0, 2}));
  EXPECT_EQ(desc.back(), 0xFD);
}

// A table of each new type in an Access-made empty database of the version that has it, filled
// through the engine, then read by the engine and by mdb-reader.
TEST(NewTypes, FilesWithTheNewTypesReadTheSameInAnIndependentReader) {
  jettest::TempDir dir;
  const std::string path2016 = dir.copy("ace/empty2016.accdb"), path2019 = dir.copy("ace/empty2019.accdb");
  {
    auto db = jet::Database::open(path2016);
    jet::NewTable t{"Big", {{"ID", ColumnType::Long, 0, true}, {"N", ColumnType::BigInt}}, {}};
    t.indexes.push_back({"PrimaryKey", {{1, true}}, true, true});
    db->createTable(t);
    for (int64_t n : {INT64_MIN, int64_t(-1), int64_t(0), int64_t(5000000000), INT64_MAX})
      db->insertRow("Big", {jet::Null{}, n});
    EXPECT_TRUE(db->check().ok());
    jet::NewTable late{"Late", {{"D", ColumnType::DateTimeExtended}}, {}};
    EXPECT_EQ(errorOf([&] { db->createTable(late); }), jet::err::kInvalidFieldSize);
  }
  {
    auto db = jet::Database::open(path2019);
    jet::NewTable t{"Stamps", {{"D", ColumnType::DateTimeExtended}, {"N", ColumnType::BigInt}}, {}};
    t.indexes.push_back({"ByDate", {{0, false}}, false, false});
    db->createTable(t);
    db->insertRow("Stamps", {DateTimeExtended{737955, 3661, 1234567}, int64_t(7)});
    db->insertRow("Stamps", {DateTimeExtended{0, 0, 0}, jet::Null{}});
    db->insertRow("Stamps", {jet::Null{}, int64_t(-7)});
    EXPECT_TRUE(db->check().ok());
  }
  auto reader2016 = oracle::mdbReader(path2016), reader2019 = oracle::mdbReader(path2019);
  if (!reader2016 || !reader2019) GTEST_SKIP() << "mdb-reader is not installed";
  auto rowsOf = [](const std::vector<std::string>& lines, const std::string& table) {
    std::vector<std::string> out;
    for (const std::string& l : lines)
      if (l.rfind("ROW\t" + table + "\t", 0) == 0) out.push_back(l.substr(5 + table.size()));
    return out;
  };
  EXPECT_EQ(rowsOf(*reader2016, "Big"),
            (std::vector<std::string>{R"({"ID":1,"N":"-9223372036854775808"})", R"({"ID":2,"N":"-1"})",
                                      R"({"ID":3,"N":"0"})", R"({"ID":4,"N":"5000000000"})",
                                      R"({"ID":5,"N":"9223372036854775807"})"}));
  EXPECT_EQ(rowsOf(*reader2019, "Stamps"),
            (std::vector<std::string>{R"({"D":"2021.06.15 01:01:01.123456700","N":"7"})",
                                      R"({"D":"0001.01.01 00:00:00.000000000","N":null})", R"({"D":null,"N":"-7"})"}));
}

// Calculated columns as Access stores them: every one in the variable part of the row, fixed-size
// results in a column declared 39 bytes long, and results stored empty for Null.
// One calculated column of the type, as Access declares it.
jet::Tdef calculated(ColumnType type) {
  jet::Tdef def;
  def.format = jet::Format::Jet4Layout;
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
  jet::Tdef plain = calculated(ColumnType::Binary);
  plain.columns[0].extFlags = 0;
  plain.columns[0].length = 255;
  return jet::encodeRow(plain, {stored}, jettest::cp1252(), nullptr);
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
    const jet::Tdef def = calculated(c.type);
    const jet::Bytes row = rowHolding(jet::wrapCalculated(c.result));
    std::vector<Value> back;
    jet::RowReader(def, jettest::cp1252()).decode(row.data(), row.size(), back);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0], c.expected);
    // What the engine writes fits the column Access declared and reads back the same.
    if (jet::isNull(c.expected)) continue;
    const jet::Bytes written = jet::encodeRow(def, {c.expected}, jettest::cp1252(), nullptr);
    jet::RowLayout layout;
    jet::parseRow(def, written.data(), written.size(), layout);
    const uint8_t* data;
    size_t len;
    ASSERT_TRUE(jet::columnBytes(def, def.columns[0], layout, data, len));
    EXPECT_LE(len, def.columns[0].length);
    jet::RowReader(def, jettest::cp1252()).decode(written.data(), written.size(), back);
    EXPECT_EQ(back[0], c.expected);
  }
  // A calculated text's length includes the wrapping.
  EXPECT_EQ(errorOf([&] { jet::encodeRow(calculated(ColumnType::Text), {std::string(21, 'x')}, jettest::cp1252(), nullptr); }),
            jet::err::kTextTooLong);
  EXPECT_EQ(errorOf([&] { jet::encodeRow(calculated(ColumnType::Text), {std::string(20, 'x')}, jettest::cp1252(), nullptr); }), 0);
}

}  // namespace
