// The tool's CSV and JSON encodings, and reading them back into a table's column types.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>

#include "cli/format.h"
#include "jet/base/error.h"

using namespace cli;
using jet::ColumnType;
using jet::Value;

namespace {

jet::ColumnInfo col(ColumnType t, uint8_t scale = 0) { return {.type = t, .scale = scale}; }

std::string json(const Value& v) {
  std::string s;
  appendJsonValue(s, v);
  return s;
}

}  // namespace

// Each type's text in both encodings: CSV quotes only when it must and keeps Null apart from an
// empty text; JSON escapes, and gives exact types as strings.
TEST(Formats, EachTypesTextInCsvAndJson) {
  const jet::Decimal d{.scale = 3, .magnitude = {1500, 0, 0}};
  const struct {
    Value value;
    const char *csv, *json;  // nullptr: not compared
  } cases[] = {
      {std::string("plain text"), "plain text", "\"plain text\""},
      {std::string("a,b"), "\"a,b\"", nullptr},
      {std::string("say \"hi\""), "\"say \"\"hi\"\"\"", nullptr},
      {std::string("two\nlines"), "\"two\nlines\"", "\"two\\nlines\""},
      {std::string("cr\ronly"), "\"cr\ronly\"", nullptr},
      {std::string("trailing,"), "\"trailing,\"", nullptr},
      {std::string(""), "\"\"", "\"\""},
      {std::string("q\"\\\n\x01é"), nullptr, "\"q\\\"\\\\\\n\\u0001é\""},
      {jet::Null{}, "", "null"},
      {jet::Currency{-123400}, "-12.34", "\"-12.3400\""},
      {jet::DateTime{36526.5}, "2000-01-01 12:00:00", "\"2000-01-01T12:00:00\""},
      {jet::DateTime{36526.5 + 0.25 / 86400}, nullptr, "\"2000-01-01T12:00:00.250\""},
      {jet::DateTime{0.5}, nullptr, "\"1899-12-30T12:00:00\""},
      {true, "True", "true"},
      {false, nullptr, "false"},
      {int64_t{-7}, nullptr, "-7"},
      {0.1f, nullptr, "0.1"},
      {1e300, nullptr, "1e+300"},
      {std::numeric_limits<double>::infinity(), nullptr, "\"Infinity\""},
      {jet::Bytes{0xde, 0xad}, nullptr, "\"dead\""},
      {d, nullptr, "\"1.500\""},
  };
  for (const auto& c : cases) {
    std::string csv;
    if (c.csv) appendCsvField(csv, c.value);
    if (c.csv) EXPECT_EQ(csv, c.csv);
    if (c.json) EXPECT_EQ(json(c.value), c.json);
  }
}

TEST(JsonFormat, ObjectsParseAndConvertToColumns) {
  JsonObject o = parseJsonObject(R"( {"a": "x\u00e9\ud83d\ude00", "b": -1.5e2, "c": true, "d": null} )");
  ASSERT_EQ(o.size(), 4u);
  EXPECT_EQ(o[0].second.text, "xé😀");
  EXPECT_EQ(o[1].second.kind, JsonScalar::Number);
  EXPECT_EQ(valueFromJson(col(ColumnType::Currency), o[1].second), Value(jet::Currency{-1500000}));
  EXPECT_EQ(valueFromJson(col(ColumnType::Integer), o[2].second), Value(int64_t{-1}));
  EXPECT_TRUE(jet::isNull(valueFromJson(col(ColumnType::Long), o[3].second)));
  EXPECT_EQ(valueFromJson(col(ColumnType::Text), o[1].second), Value(std::string("-1.5e2")));
  JsonScalar hex{JsonScalar::String, false, "00ff"};
  EXPECT_EQ(valueFromJson(col(ColumnType::Ole), hex), Value(jet::Bytes{0, 255}));
  JsonScalar money{JsonScalar::String, false, "-12.3400"};
  EXPECT_EQ(valueFromJson(col(ColumnType::Currency), money), Value(jet::Currency{-123400}));
  JsonScalar when{JsonScalar::String, false, "2000-01-01T12:00:00.250"};
  EXPECT_EQ(json(valueFromJson(col(ColumnType::DateTime), when)), "\"2000-01-01T12:00:00.250\"");
  JsonScalar dec{JsonScalar::Number, false, "2.5"};
  EXPECT_EQ(json(valueFromJson(col(ColumnType::Numeric, 2), dec)), "\"2.50\"");
  JsonScalar bad{JsonScalar::String, false, "abc"};
  EXPECT_THROW(valueFromJson(col(ColumnType::DateTime), bad), jet::Error);
  for (const char* broken : {"", "{", "{\"a\":}", "{\"a\" 1}", "[1]", "{\"a\":1} x", "{\"a\":\"\\q\"}"})
    EXPECT_THROW(parseJsonObject(broken), std::runtime_error) << broken;
}

// The import converts into a row's kept values, reading plain numbers directly: every number must
// come out as the general conversion gives it, or be refused as it refuses it.
TEST(JsonFormat, ConvertingIntoKeptValuesGivesTheGeneralConversion) {
  const char* numbers[] = {"0",     "-0",   "7",           "255",         "256",        "-1",
                           "32767", "32768", "-32769",     "2147483647",  "2147483648", "-2147483648",
                           "-2147483649", "9223372036854775807", "9223372036854775808", "1.5", "2.5",
                           "-2.5", "1e3", "1E-2", "0.1", "123456.78901", "1e400", "-1e-400", "5e-324"};
  const ColumnType types[] = {ColumnType::Byte,   ColumnType::Integer,  ColumnType::Long,
                              ColumnType::BigInt, ColumnType::Double,   ColumnType::Single,
                              ColumnType::Currency, ColumnType::Boolean, ColumnType::Text};
  for (ColumnType t : types) {
    for (const char* n : numbers) {
      JsonScalar s{JsonScalar::Number, false, n};
      std::optional<Value> general;
      try {
        general = valueFromJson(col(t), s);
      } catch (const jet::Error&) {
      }
      Value into = std::string("storage of an earlier row");
      if (general) {
        valueFromJson(col(t), s, into);
        EXPECT_EQ(into, *general) << n << " as type " << int(t);
      } else {
        EXPECT_THROW(valueFromJson(col(t), s, into), jet::Error) << n << " as type " << int(t);
      }
    }
  }
}

namespace {

// A line as a reader saw it: its number, then the first `n` members parsed, "blank" or "error".
std::string seen(size_t number, const std::function<size_t()>& parse, const JsonObject& members, bool blank) {
  std::string out = std::to_string(number) + ":";
  if (blank) return out + "blank";
  try {
    const size_t n = parse();
    for (size_t k = 0; k < n; ++k) out += members[k].first + "=" + std::to_string(members[k].second.kind) + members[k].second.text + ";";
  } catch (const std::runtime_error&) {
    out += "error";
  }
  return out;
}

// Everything the block reader yields, line by line.
std::vector<std::string> readAll(const std::string& input) {
  std::istringstream in(input);
  JsonLineReader reader(in);
  std::vector<std::string> out;
  JsonObject reuse;
  while (reader.next()) out.push_back(seen(reader.number(), [&] { return reader.parse(reuse); }, reuse, reader.blank()));
  return out;
}

// The same, one line at a time through parseJsonObject.
std::vector<std::string> readEach(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  JsonObject members;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(seen(i + 1, [&] { return (members = parseJsonObject(line)).size(); }, members,
                       line.find_first_not_of(" \t") == std::string::npos));
  }
  return out;
}

}  // namespace

TEST(JsonFormat, BlockReaderYieldsTheLinesParseJsonObjectSees) {
  // Lines across the reader's block boundaries, one longer than a block, CR LF endings, blank
  // lines, broken lines among good ones and a last line without a line break.
  std::vector<std::string> lines;
  for (int i = 0; i < 30000; ++i) {
    switch (i % 7) {
      case 0: lines.push_back("{\"a\": " + std::to_string(i) + ", \"b\": \"text " + std::to_string(i) + "\"}"); break;
      case 1: lines.push_back("{\"n\":-1.5e2 ,\"t\":true,\"z\":null}\r"); break;
      case 2: lines.push_back(i % 2 ? "" : "  \t"); break;
      case 3: lines.push_back("{\"e\":\"\\u00e9\\n\\\"\"}"); break;
      case 4: lines.push_back(i % 3 ? "{\"a\":1} x" : "{\"a\":[1]}"); break;
      case 5: lines.push_back("{\"long\":\"" + std::string(size_t(i % 5000), 'q') + "\"}"); break;
      default: lines.push_back("{}"); break;
    }
  }
  lines.push_back("{\"huge\":\"" + std::string(3 << 20, 'h') + "\"}");
  lines.push_back("{\"last\":1}");
  std::string input;
  for (size_t i = 0; i < lines.size(); ++i) input += lines[i] + (i + 1 < lines.size() ? "\n" : "");
  ASSERT_GT(input.size(), size_t(4) << 20);
  EXPECT_EQ(readAll(input), readEach(lines));
  EXPECT_EQ(readAll(""), std::vector<std::string>{});
  EXPECT_EQ(readAll("\n"), std::vector<std::string>{"1:blank"});
}
