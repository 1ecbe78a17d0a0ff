// Every table of every test file read through the driver (SELECT *) gives the rows the engine reads
// for the export, value for value, in the driver's text forms: the row count, Null where the
// engine has Null, integers and Booleans exactly, Single and Double to the bit, Currency to four
// decimals, dates and times to the second, text and binary byte for byte, complex columns as the
// export's JSON of their values.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>

#include "jet/base/value_json.h"
#include "jet/base/value_text.h"
#include "jet/database.h"
#include "jet/support/test_files.h"
#include "odbc/support/odbc_session.h"

using namespace odbctest;

namespace {

template <typename T>
std::string shortest(T v) {
  char buf[64];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// The text the driver gives for an engine value through SQL_C_CHAR.
std::string expectedText(const jet::Value& v) {
  if (auto* b = std::get_if<bool>(&v)) return *b ? "1" : "0";
  if (auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
  if (auto* f = std::get_if<float>(&v)) return shortest(*f);
  if (auto* d = std::get_if<double>(&v)) return shortest(*d);
  if (auto* c = std::get_if<jet::Currency>(&v)) {
    const int64_t whole = c->scaled / 10000, frac = std::llabs(c->scaled % 10000);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%lld.%04lld", c->scaled < 0 && whole == 0 ? "-" : "", static_cast<long long>(whole),
                  static_cast<long long>(frac));
    return buf;
  }
  if (auto* b = std::get_if<jet::Bytes>(&v)) {
    std::string hex = jet::hexText(*b, false);
    for (char& ch : hex) ch = char(std::toupper(static_cast<unsigned char>(ch)));
    return hex;
  }
  if (std::holds_alternative<jet::DateTime>(v)) {
    std::string t = jet::toText(v);
    if (t.size() == 10) t += " 00:00:00";
    if (t.size() == 8) t = "1899-12-30 " + t;
    return t;
  }
  return jet::toText(v);
}

class AllFiles : public ::testing::TestWithParam<std::string> {
 protected:
  static void SetUpTestSuite() { useTestDriver(); }
};

TEST_P(AllFiles, TablesReadAsTheEngineReadsThem) {
  const std::string name = GetParam();
  const std::string path = std::string(TABULONIX_TESTDATA_DIR) + "/" + name;
  jet::OpenOptions options{true, jettest::passwordOf(name)};
  auto db = jet::Database::open(path, options);
  Connection conn;
  const std::string password = options.password.empty() ? "" : ";PWD=" + options.password;
  ASSERT_TRUE(SQL_SUCCEEDED(conn.open("DRIVER={Tabulonix};READONLY=1;DBQ=" + path + password))) << conn.diag().message;
  for (const jet::CatalogObject& o : db->objects()) {
    if (o.kind != jet::ObjectKind::Table) continue;
    SCOPED_TRACE(o.name);
    auto cursor = db->openTable(o.name);
    const jet::TableInfo& info = cursor->table();
    Statement s(conn);
    ASSERT_TRUE(SQL_SUCCEEDED(s.exec("SELECT * FROM " + testsupport::quoteName(o.name)))) << s.diag().message;
    const auto rows = s.rows();
    size_t r = 0;
    while (cursor->next()) {
      ASSERT_LT(r, rows.size()) << "the driver gives fewer rows";
      const std::vector<jet::Value>& values = cursor->values();
      ASSERT_EQ(rows[r].size(), values.size());
      for (size_t c = 0; c < values.size(); ++c) {
        const jet::ColumnInfo& col = info.columns[c];
        const auto& got = rows[r][c];
        if (jet::isNull(values[c])) {
          EXPECT_FALSE(got.has_value()) << col.name << " row " << r;
          continue;
        }
        ASSERT_TRUE(got.has_value()) << col.name << " row " << r;
        if (col.type == jet::ColumnType::Complex) {  // the JSON of its values, as the export writes it
          std::string json;
          jet::appendJsonComplex(json, db->complexValues(o.name, col.name)->of(values[c]));
          EXPECT_EQ(*got, json) << col.name << " row " << r;
        } else if (std::holds_alternative<jet::Decimal>(values[c])) {
          // Decimals travel through SQLite as doubles: equal to a double's precision.
          const double want = std::stod(jet::toText(values[c])), have = std::stod(*got);
          EXPECT_LE(std::fabs(want - have), std::fabs(want) * 1e-15) << col.name << " row " << r;
        } else if (std::holds_alternative<jet::Guid>(values[c])) {
          EXPECT_TRUE(strcasecmp(expectedText(values[c]).c_str(), got->c_str()) == 0) << col.name << ": " << *got;
        } else {
          EXPECT_EQ(*got, expectedText(values[c])) << col.name << " row " << r;
        }
      }
      ++r;
    }
    EXPECT_EQ(r, rows.size());
  }
}

INSTANTIATE_TEST_SUITE_P(TestFiles, AllFiles, ::testing::ValuesIn(jettest::allTestFiles()),
                         testsupport::paramName<::testing::TestParamInfo<std::string>>);

}  // namespace
