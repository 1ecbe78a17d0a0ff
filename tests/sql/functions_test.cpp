// Access's functions called from SQL: the values crossing between SQLite and the expression engine
// (dates as SQL's text or as day numbers, Null, Yes/No as 1/0) and errors as SQL errors.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "sql/connection.h"
#include "tests/sql/support/sql_fixture.h"

namespace {

TEST(AccessFunctions, CrossBetweenSqlAndTheExpressionEngine) {
  auto c = sql::Connection::open(std::string(TABULONIX_TESTDATA_DIR) + "/testV2000.mdb", {.readOnly = true});
  const std::pair<const char*, const char*> cases[] = {
      {"Year('2001-03-04 10:00:00')", "2001"},
      {"Hour('2001-03-04 10:00:00.250')", "10"},
      {"Weekday(36892)", "2"},  // day 36892 is Monday 2001-01-01
      {"DateAdd('d', 1, '2000-02-28')", "2000-02-29 00:00:00"},
      {"DateDiff('m', '2000-01-31', '2000-03-01')", "2"},
      {"CDate('7/4/2001 1:05 PM')", "2001-07-04 13:05:00"},
      {"Format('2001-07-04 13:05:00')", "7/4/2001 1:05:00 PM"},
      {"Format(36892.5, 'dddd h AM/PM')", "Monday 12 PM"},
      {"Year(NULL)", "NULL"},
      {"\"Left\"(NULL, 2)", "NULL"},
      {"Nz(NULL, 'x') || Nz(5, 'x')", "x5"},
      {"IIf(NULL, 'a', 'b') || IIf(2 > 1, 'a', 'b')", "ba"},
      {"CCur(1.00005) || ' ' || CCur(1.00015)", "1.0 1.0002"},
      {"Round(2.5) || ' ' || Round(0.125, 2)", "2.0 0.12"},
      {"\"IsNull\"(NULL) || IsNumeric('1e3') || IsNumeric('2001-03-04')", "110"},
      {"Len('2001-03-04')", "8"},  // a date: its text is 3/4/2001
      {"Choose(3, 'a', 'b', 'c', 'd')", "c"},
      {"Abs(-2) || Trim('  x ')", "2x"},
  };
  // Left and IsNull are words of SQL, so they are called quoted (as translated queries call them).
  for (const auto& [expression, value] : cases)
    EXPECT_EQ(sqltest::query(c->handle(), std::string("SELECT ") + expression), (sqltest::Rows{{value}})) << expression;
  for (const char* bad : {"SELECT CInt('x')", "SELECT CInt(40000)", "SELECT Mid('abc', 0)"}) {
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(c->handle(), bad, -1, &stmt, nullptr), SQLITE_OK) << bad;
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_ERROR) << bad;
    sqlite3_finalize(stmt);
  }
}

}  // namespace
