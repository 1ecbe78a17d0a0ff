// The driver's API through unixODBC's driver manager: connecting and its errors, the SQLSTATE of
// each kind of failure, result column types, exact currency, parameters of every common C type,
// long data in pieces, cancelling and the catalog functions. (Rollback and commit, the common
// states and the table lists: the pyodbc tests, which run the same driver.)
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "odbc/support/odbc_session.h"

using namespace odbctest;

namespace {

std::string connectionTo(const std::string& path, const std::string& extra = "") {
  return "DRIVER={Tabulonix};DBQ=" + path + extra;
}

class DriverApi : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { useTestDriver("[Sample]\nDriver = Tabulonix\nDBQ = " + copyOfTestFile("testV2000.mdb") + "\nREADONLY = 1\n"); }
};

// A connection that fails and a statement that fails each say why, with the state of its kind.
TEST_F(DriverApi, EachKindOfFailureHasItsState) {
  const std::string password = copyOfTestFile("more/passwordV2000.mdb"), indexed = connectionTo(copyOfTestFile("indexTestV2000.mdb"));
  const struct {
    std::string connection;
    const char* sql;    // nullptr: the connection itself
    const char* state;  // nullptr: connects
  } cases[] = {
      {connectionTo("/nonexistent/folder/missing.mdb"), nullptr, "08001"}, {"DRIVER={Tabulonix}", nullptr, "08001"},
      {connectionTo(password, ";PWD=wrong"), nullptr, "28000"},           {"DSN=Sample", nullptr, nullptr},
      {indexed, "SELECT NoSuchColumn FROM Table2", "42S22"},             {indexed, "SELECT * FROM Table2 WHERE id = ?", "07002"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.connection + " " + (c.sql ? c.sql : ""));
    Connection conn;
    const SQLRETURN rc = conn.open(c.connection);
    if (!c.state) {
      EXPECT_TRUE(SQL_SUCCEEDED(rc)) << conn.diag().message;
    } else if (!c.sql) {
      EXPECT_EQ(rc, SQL_ERROR);
      EXPECT_EQ(conn.diag().state, c.state);
      EXPECT_FALSE(conn.diag().message.empty());
    } else {
      ASSERT_TRUE(SQL_SUCCEEDED(rc)) << conn.diag().message;
      Statement s(conn);
      EXPECT_EQ(s.exec(c.sql), SQL_ERROR);
      EXPECT_EQ(s.diag().state, c.state);
      EXPECT_NE(s.diag().message.find("[Tabulonix]"), std::string::npos) << s.diag().message;
    }
  }
}

TEST_F(DriverApi, ColumnsHaveTheirAccessTypesAndExpressionsTheirValueTypes) {
  Connection conn;
  ASSERT_TRUE(SQL_SUCCEEDED(conn.open("DSN=Sample")));
  Statement s(conn);
  ASSERT_TRUE(SQL_SUCCEEDED(s.exec("SELECT A, C, D, E, F, G, H, I, count(*) OVER () AS n, 1.5 AS r, 'x' AS t, H AS h2 FROM Table1")));
  struct Expect {
    SQLSMALLINT type;
    SQLULEN size;
    SQLSMALLINT digits;
  } expected[] = {{SQL_WVARCHAR, 50, 0}, {SQL_TINYINT, 3, 0},  {SQL_SMALLINT, 5, 0},   {SQL_INTEGER, 10, 0},
                  {SQL_DOUBLE, 15, 0},   {SQL_TYPE_TIMESTAMP, 19, 0}, {SQL_DECIMAL, 19, 4}, {SQL_BIT, 1, 0},
                  {SQL_BIGINT, 19, 0},   {SQL_DOUBLE, 15, 0},  {SQL_WVARCHAR, 255, 0}, {SQL_DECIMAL, 19, 4}};
  SQLSMALLINT count = 0;
  SQLNumResultCols(s.handle(), &count);
  ASSERT_EQ(count, static_cast<SQLSMALLINT>(std::size(expected)));
  for (SQLUSMALLINT c = 1; c <= count; ++c) {
    SQLCHAR name[64];
    SQLSMALLINT nameLength, type, digits, nullable;
    SQLULEN size;
    ASSERT_EQ(SQLDescribeCol(s.handle(), c, name, sizeof name, &nameLength, &type, &size, &digits, &nullable), SQL_SUCCESS);
    EXPECT_EQ(type, expected[c - 1].type) << name;
    EXPECT_EQ(size, expected[c - 1].size) << name;
    EXPECT_EQ(digits, expected[c - 1].digits) << name;
  }
  // Currency comes exact as text and as a numeric structure, and the count as an integer.
  ASSERT_EQ(SQLFetch(s.handle()), SQL_SUCCESS);
  char text[32];
  SQLLEN ind;
  ASSERT_EQ(SQLGetData(s.handle(), 7, SQL_C_CHAR, text, sizeof text, &ind), SQL_SUCCESS);
  EXPECT_STREQ(text, "3.5000");
  SQL_NUMERIC_STRUCT n{};
  ASSERT_EQ(SQLGetData(s.handle(), 12, SQL_C_NUMERIC, &n, sizeof n, &ind), SQL_SUCCESS);
  EXPECT_EQ(n.scale, 4);
  EXPECT_EQ(n.val[0] | (n.val[1] << 8), 35000);
  SQLBIGINT rows = 0;
  ASSERT_EQ(SQLGetData(s.handle(), 9, SQL_C_SBIGINT, &rows, 0, &ind), SQL_SUCCESS);
  EXPECT_EQ(rows, 2);
  SQL_TIMESTAMP_STRUCT ts{};
  ASSERT_EQ(SQLGetData(s.handle(), 6, SQL_C_TYPE_TIMESTAMP, &ts, 0, &ind), SQL_SUCCESS);
  EXPECT_EQ(ts.year * 10000 + ts.month * 100 + ts.day, 19740921);
}

// One parameter value of a C type, read back through SELECT ? as text.
struct ParamCase {
  const char* name;
  SQLSMALLINT cType;
  SQLSMALLINT sqlType;
  std::vector<uint8_t> bytes;
  SQLLEN indicator;
  const char* expected;  // nullptr: Null
};

template <typename T>
std::vector<uint8_t> raw(const T& v) {
  std::vector<uint8_t> b(sizeof v);
  std::memcpy(b.data(), &v, sizeof v);
  return b;
}

TEST_F(DriverApi, ParametersOfEveryCommonCType) {
  Connection conn;
  ASSERT_TRUE(SQL_SUCCEEDED(conn.open("DSN=Sample")));
  const char16_t wide[] = u"h\u00e9llo \u2713";
  SQL_NUMERIC_STRUCT numeric{};
  numeric.precision = 5;
  numeric.scale = 2;
  numeric.sign = 0;
  numeric.val[0] = 12345 & 0xFF;
  numeric.val[1] = 12345 >> 8;
  SQLGUID guid{0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
  const ParamCase cases[] = {
      {"long", SQL_C_SLONG, SQL_INTEGER, raw<int32_t>(-42), 0, "-42"},
      {"short", SQL_C_SSHORT, SQL_SMALLINT, raw<int16_t>(7), 0, "7"},
      {"tiny", SQL_C_UTINYINT, SQL_TINYINT, raw<uint8_t>(200), 0, "200"},
      {"bigint", SQL_C_SBIGINT, SQL_BIGINT, raw<int64_t>(1LL << 40), 0, "1099511627776"},
      {"bit", SQL_C_BIT, SQL_BIT, raw<uint8_t>(1), 0, "1"},
      {"double", SQL_C_DOUBLE, SQL_DOUBLE, raw(2.5), 0, "2.5"},
      {"float", SQL_C_FLOAT, SQL_REAL, raw(0.25f), 0, "0.25"},
      {"char", SQL_C_CHAR, SQL_VARCHAR, {'a', 'b', 'c'}, 3, "abc"},
      {"wchar", SQL_C_WCHAR, SQL_WVARCHAR, raw(wide), static_cast<SQLLEN>(sizeof wide - 2), "h\xc3\xa9llo \xe2\x9c\x93"},
      {"numeric", SQL_C_NUMERIC, SQL_DECIMAL, raw(numeric), 0, "-123.45"},
      {"timestamp", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, raw(SQL_TIMESTAMP_STRUCT{2021, 3, 4, 5, 6, 7, 0}), 0, "2021-03-04 05:06:07"},
      {"date", SQL_C_TYPE_DATE, SQL_TYPE_DATE, raw(SQL_DATE_STRUCT{1999, 12, 31}), 0, "1999-12-31 00:00:00"},
      {"binary", SQL_C_BINARY, SQL_VARBINARY, {0x00, 0xAB, 0xFF}, 3, "00ABFF"},
      {"guid", SQL_C_GUID, SQL_GUID, raw(guid), 0, "{01020304-0506-0708-090A-0B0C0D0E0F10}"},
      {"null", SQL_C_SLONG, SQL_INTEGER, raw<int32_t>(0), SQL_NULL_DATA, nullptr},
  };
  for (const ParamCase& c : cases) {
    SCOPED_TRACE(c.name);
    Statement s(conn);
    ASSERT_EQ(SQLPrepare(s.handle(), (SQLCHAR*)"SELECT ?", SQL_NTS), SQL_SUCCESS);
    SQLSMALLINT count = 0;
    SQLNumParams(s.handle(), &count);
    EXPECT_EQ(count, 1);
    std::vector<uint8_t> value = c.bytes;
    SQLLEN ind = c.indicator;
    ASSERT_EQ(SQLBindParameter(s.handle(), 1, SQL_PARAM_INPUT, c.cType, c.sqlType, 0, 0, value.data(),
                               static_cast<SQLLEN>(value.size()), &ind), SQL_SUCCESS);
    ASSERT_EQ(SQLExecute(s.handle()), SQL_SUCCESS) << s.diag().message;
    const auto rows = s.rows();
    ASSERT_EQ(rows.size(), 1u);
    if (c.expected) EXPECT_EQ(rows[0][0].value_or("<null>"), c.expected);
    else EXPECT_FALSE(rows[0][0].has_value());
  }
  // A parameter in a table's condition, run twice with other values.
  Statement s(conn);
  ASSERT_EQ(SQLPrepare(s.handle(), (SQLCHAR*)"SELECT A FROM Table1 WHERE E = ?", SQL_NTS), SQL_SUCCESS);
  int32_t e = 333333333;
  ASSERT_EQ(SQLBindParameter(s.handle(), 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &e, 0, nullptr), SQL_SUCCESS);
  ASSERT_EQ(SQLExecute(s.handle()), SQL_SUCCESS);
  EXPECT_EQ(s.rows(), (std::vector<std::vector<std::optional<std::string>>>{{"abcdefg"}}));
  e = 0;
  ASSERT_EQ(SQLExecute(s.handle()), SQL_SUCCESS);
  EXPECT_EQ(s.rows(), (std::vector<std::vector<std::optional<std::string>>>{{"a"}}));
}

TEST_F(DriverApi, LongValuesComeInPieces) {
  Connection conn;
  ASSERT_TRUE(SQL_SUCCEEDED(conn.open(connectionTo(copyOfTestFile("generated/longValuesV2000.mdb"), ";READONLY=1"))));
  Statement s(conn);
  ASSERT_TRUE(SQL_SUCCEEDED(s.exec("SELECT Memo, Ole, length(Memo), length(Ole) FROM Blobs ORDER BY length(Memo) DESC LIMIT 1")));
  ASSERT_EQ(SQLFetch(s.handle()), SQL_SUCCESS);
  SQLBIGINT chars = 0, bytes = 0;
  SQLLEN ind;
  SQLGetData(s.handle(), 3, SQL_C_SBIGINT, &chars, 0, &ind);
  SQLGetData(s.handle(), 4, SQL_C_SBIGINT, &bytes, 0, &ind);
  ASSERT_GT(chars, 100000);
  // Text as UTF-16 in pieces of 1000 units: each but the last is cut (01004) and tells what is left.
  std::u16string memo;
  SQLWCHAR piece[1000];
  SQLRETURN rc;
  while ((rc = SQLGetData(s.handle(), 1, SQL_C_WCHAR, piece, sizeof piece, &ind)) != SQL_NO_DATA) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc));
    const SQLLEN got = rc == SQL_SUCCESS ? ind / 2 : 999;
    if (rc == SQL_SUCCESS_WITH_INFO) {
      EXPECT_EQ(s.diag().state, "01004");
      EXPECT_EQ(ind / 2, chars - static_cast<SQLLEN>(memo.size()));
    }
    memo.append(reinterpret_cast<const char16_t*>(piece), static_cast<size_t>(got));
  }
  EXPECT_EQ(static_cast<SQLBIGINT>(memo.size()), chars);
  std::vector<uint8_t> ole;
  uint8_t chunk[4096];
  while ((rc = SQLGetData(s.handle(), 2, SQL_C_BINARY, chunk, sizeof chunk, &ind)) != SQL_NO_DATA) {
    ASSERT_TRUE(SQL_SUCCEEDED(rc));
    ole.insert(ole.end(), chunk, chunk + std::min<SQLLEN>(ind, sizeof chunk));
  }
  EXPECT_EQ(static_cast<SQLBIGINT>(ole.size()), bytes);
}

TEST_F(DriverApi, CancelStopsARunningStatementWithHY008) {
  Connection conn;
  ASSERT_TRUE(SQL_SUCCEEDED(conn.open("DSN=Sample")));
  Statement s(conn);
  // The driver manager clears a statement's diagnostics on every call, SQLCancel included, so the
  // running thread reads its state before it says it is done, and cancels are spaced well apart.
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  SQLRETURN rc = SQL_SUCCESS;
  std::string state;
  std::thread run([&] {
    const SQLRETURN r =
        s.exec("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 10000000000) SELECT count(*) FROM c");
    const std::string st = s.diag().state;
    std::lock_guard lock(m);
    rc = r;
    state = st;
    done = true;
    cv.notify_all();
  });
  std::unique_lock lock(m);
  while (!cv.wait_for(lock, std::chrono::milliseconds(50), [&] { return done; })) {
    lock.unlock();
    SQLCancel(s.handle());
    lock.lock();
    cv.wait_for(lock, std::chrono::seconds(2), [&] { return done; });
  }
  lock.unlock();
  run.join();
  EXPECT_EQ(rc, SQL_ERROR);
  EXPECT_EQ(state, "HY008");
}

TEST_F(DriverApi, AQueryReadsOneStateWhileItsRowsAreFetched) {
  // A second connection is another user of the file (its own locks); it may not wait.
  const std::string path = copyOfTestFile("indexTestV2000.mdb");
  for (const bool closeEarly : {false, true}) {
    SCOPED_TRACE(closeEarly ? "cursor closed" : "fetched to the end");
    Connection reader, writer;
    ASSERT_TRUE(SQL_SUCCEEDED(reader.open(connectionTo(path))));
    ASSERT_TRUE(SQL_SUCCEEDED(writer.open(connectionTo(path, ";BUSYTIMEOUT=0"))));
    Statement query(reader), change(writer);
    ASSERT_EQ(query.exec("SELECT id FROM Table2"), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(query.handle()), SQL_SUCCESS);
    EXPECT_EQ(change.exec("UPDATE Table3 SET data = 'x' WHERE id = 10"), SQL_ERROR);
    EXPECT_NE(change.diag().message.find("currently locked"), std::string::npos) << change.diag().message;
    if (closeEarly) ASSERT_EQ(SQLCloseCursor(query.handle()), SQL_SUCCESS);
    else EXPECT_GT(query.rows().size(), 0u);
    EXPECT_EQ(change.exec("UPDATE Table3 SET data = 'x' WHERE id = 10"), SQL_SUCCESS) << change.diag().message;
  }
  Connection bad;
  EXPECT_EQ(bad.open(connectionTo(path, ";BUSYTIMEOUT=soon")), SQL_ERROR);
  EXPECT_EQ(bad.diag().state, "HY024");
}

TEST_F(DriverApi, StatementsOfOneTextComeAsSeveralResults) {
  Connection conn;
  ASSERT_TRUE(SQL_SUCCEEDED(conn.open("DSN=Sample")));
  Statement s(conn);
  ASSERT_EQ(SQLPrepare(s.handle(), (SQLCHAR*)"SELECT ?; SELECT count(*) FROM Table1 WHERE E > ?;", SQL_NTS), SQL_SUCCESS);
  int32_t first = 5, second = 0;
  SQLBindParameter(s.handle(), 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &first, 0, nullptr);
  SQLBindParameter(s.handle(), 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &second, 0, nullptr);
  for (int run = 0; run < 2; ++run) {  // executing again starts from the first statement
    ASSERT_EQ(SQLExecute(s.handle()), SQL_SUCCESS) << s.diag().message;
    EXPECT_EQ(s.rows(), (std::vector<std::vector<std::optional<std::string>>>{{"5"}}));
    ASSERT_EQ(SQLMoreResults(s.handle()), SQL_SUCCESS) << s.diag().message;
    EXPECT_EQ(s.rows(), (std::vector<std::vector<std::optional<std::string>>>{{"1"}}));
    EXPECT_EQ(SQLMoreResults(s.handle()), SQL_NO_DATA);
  }
  // Fetching without a result says so (the driver manager answers for the driver here).
  EXPECT_EQ(SQLFetch(s.handle()), SQL_ERROR);
  EXPECT_EQ(s.diag().state, "HY010");
}

TEST_F(DriverApi, EscapeSequencesBecomeSqliteSyntax) {
  Connection conn;
  ASSERT_TRUE(SQL_SUCCEEDED(conn.open("DSN=Sample")));
  const std::pair<const char*, const char*> cases[] = {
      {"SELECT * FROM t WHERE d = {d '2020-01-02'}", "SELECT * FROM t WHERE d = '2020-01-02 00:00:00'"},
      {"SELECT {ts '2020-01-02 03:04:05'}, {t '10:11:12'}", "SELECT '2020-01-02 03:04:05', '1899-12-30 10:11:12'"},
      {"SELECT {fn LENGTH('a{b}')} FROM {oj a LEFT OUTER JOIN b ON a.x = b.x}",
       "SELECT LENGTH('a{b}') FROM a LEFT OUTER JOIN b ON a.x = b.x"},
      {"SELECT 1 WHERE 'x' LIKE 'a\\_%' {escape '\\'}", "SELECT 1 WHERE 'x' LIKE 'a\\_%' ESCAPE '\\'"},
      {"SELECT '{d ''2020-01-02''}', [{x}]", "SELECT '{d ''2020-01-02''}', [{x}]"},
  };
  for (const auto& [in, out] : cases) {
    SQLCHAR buf[256];
    SQLINTEGER length = 0;
    ASSERT_EQ(SQLNativeSql(conn.handle(), (SQLCHAR*)in, SQL_NTS, buf, sizeof buf, &length), SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(buf), out);
  }
  Statement s(conn);
  ASSERT_EQ(s.exec("SELECT count(*) FROM Table1 WHERE G = {d '1974-09-21'}"), SQL_SUCCESS) << s.diag().message;
  EXPECT_EQ(s.rows(), (std::vector<std::vector<std::optional<std::string>>>{{"1"}}));
}

TEST_F(DriverApi, CatalogFunctionsDescribeTheFile) {
  Connection conn;
  ASSERT_TRUE(SQL_SUCCEEDED(conn.open(connectionTo(copyOfTestFile("indexTestV2000.mdb"), ";READONLY=1"))));
  auto catalog = [&](auto call) {
    Statement s(conn);
    EXPECT_EQ(call(s.handle()), SQL_SUCCESS);
    return s.rows();
  };
  using Row = std::vector<std::optional<std::string>>;
  const auto system = catalog([](SQLHSTMT h) {
    return SQLTables(h, nullptr, 0, nullptr, 0, (SQLCHAR*)"MSys%", SQL_NTS, (SQLCHAR*)"'SYSTEM TABLE'", SQL_NTS);
  });
  EXPECT_FALSE(system.empty());
  for (const Row& r : system) EXPECT_EQ(r[3], "SYSTEM TABLE");
  const auto keys = catalog([](SQLHSTMT h) { return SQLPrimaryKeys(h, nullptr, 0, nullptr, 0, (SQLCHAR*)"Table2", SQL_NTS); });
  EXPECT_EQ(keys, (std::vector<Row>{{std::nullopt, std::nullopt, "Table2", "id", "1", "PrimaryKey"}}));
  const auto foreign = catalog([](SQLHSTMT h) {
    return SQLForeignKeys(h, nullptr, 0, nullptr, 0, (SQLCHAR*)"Table3", SQL_NTS, nullptr, 0, nullptr, 0, nullptr, 0);
  });
  ASSERT_EQ(foreign.size(), 1u);
  EXPECT_EQ((Row{foreign[0][2], foreign[0][3], foreign[0][6], foreign[0][7]}), (Row{"Table3", "id", "Table1", "otherfk2"}));
  const auto columns = catalog([](SQLHSTMT h) {
    return SQLColumns(h, nullptr, 0, nullptr, 0, (SQLCHAR*)"Table_", SQL_NTS, (SQLCHAR*)"data", SQL_NTS);
  });
  EXPECT_EQ(columns.size(), 3u);
  const auto types = catalog([](SQLHSTMT h) { return SQLGetTypeInfo(h, SQL_TYPE_TIMESTAMP); });
  ASSERT_EQ(types.size(), 1u);
  EXPECT_EQ(types[0][0], "DATETIME");
}

}  // namespace
