// Saved queries: every query of the test files is listed with its type and its SQL rebuilt as
// Access shows it; the translatable ones run as views and give what hand-written SQL gives over the
// same rows; the others say why they cannot run. Also Access's expressions translated to SQL and
// Access's functions called from SQL.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>

#include "cli/support/in_process.h"
#include "jet/database.h"
#include "sql/bridge.h"
#include "sql/connection.h"
#include "sql/access_functions.h"
#include "sql/saved_queries.h"
#include "sql/translate.h"
#include "support/sqlite_rows.h"

namespace {

using testsupport::Rows;

struct Expected {
  const char* name;
  const char* type;
  const char* sql;
  bool view;
};

// The queries of the query test files (the same in each version), with Access's SQL view of them.
const Expected kQueries[] = {
    {"AppendQuery", "append",
     "INSERT INTO Table3 ( col2, col2, col3 )\nSELECT [Table1].[col2], [Table2].[col2], [Table2].[col3]\n"
     "FROM Table3, Table1 INNER JOIN Table2 ON [Table1].[col1]=[Table2].[col1];",
     false},
    {"CrosstabQuery", "crosstab",
     "TRANSFORM Count([Table2].[col2]) AS CountOfcol2\nSELECT Table2_1.col1, [Table2].[col3], Avg(Table2_1.col2) AS AvgOfcol2\n"
     "FROM (Table1 INNER JOIN Table2 ON [Table1].[col1]=[Table2].[col1]) INNER JOIN Table2 AS Table2_1 ON "
     "[Table2].[col1]=Table2_1.col3\n"
     "WHERE ((([Table1].[col1])>\"10\") And ((Table2_1.col1) Is Not Null) And ((Avg(Table2_1.col2))>\"10\"))\n"
     "GROUP BY Table2_1.col1, [Table2].[col3]\nORDER BY [Table2].[col3]\nPIVOT [Table1].[col1];",
     false},
    {"DataDefinitionQuery", "data definition", "CREATE TABLE Table5 (col1 CHAR, col2 CHAR);", false},
    {"DeleteQuery", "delete", "DELETE Table1.col1, Table1.col2, Table1.col3\nFROM Table1\nWHERE (((Table1.col1)>\"blah\"));",
     false},
    {"MakeTableQuery", "make-table",
     "SELECT Max(Table2.col1) AS MaxOfcol1, Table2.col2, Table3.col2 INTO Table4\n"
     "FROM (Table2 INNER JOIN Table1 ON Table2.col1 = Table1.col2) RIGHT JOIN Table3 ON Table1.col2 = Table3.col3\n"
     "GROUP BY Table2.col2, Table3.col2\nHAVING (((Max(Table2.col1))=\"buzz\") AND ((Table2.col2)<>\"blah\"));",
     false},
    {"PassthroughQuery", "pass-through", "ALTER TABLE Table4 DROP COLUMN col5;", false},
    {"SelectQuery", "select",
     "SELECT DISTINCT Table1.*, Table2.col1, Table2.col2, Table3.col3\n"
     "FROM (Table1 LEFT JOIN Table3 ON Table1.col1 = Table3.col1) INNER JOIN Table2 ON (Table3.col1 = Table2.col1) AND "
     "(Table3.col1 = Table2.col2)\nWHERE (((Table2.col2)=\"foo\" Or (Table2.col2) In (\"buzz\",\"bazz\")))\n"
     "ORDER BY Table2.col1;",
     true},
    {"UnionQuery", "union",
     "Select Table1.col1, Table1.col2\nwhere Table1.col1 = \"foo\"\nUNION\nSelect Table2.col1, Table2.col2\nUNION ALL\n"
     "Select Table3.col1, Table3.col2\nwhere Table3.col3 > \"blah\";",
     false},  // its first part has no FROM: SQLite refuses it, as Access would
    {"UpdateQuery", "update",
     "PARAMETERS [User Name] Text ( 255 );\nUPDATE Table1\nSET Table1.col1 = \"foo\", Table1.col2 = [Table2].[col3], "
     "[Table2].[col1] = [User Name]\nWHERE ((([Table2].[col1]) Is Not Null));",
     false},
};

class SavedQueries : public ::testing::TestWithParam<const char*> {};

TEST_P(SavedQueries, AreListedAndRebuilt) {
  auto c = sql::Connection::open(std::string(TABULONIX_TESTDATA_DIR) + "/" + GetParam(), {.readOnly = true});
  const auto& queries = c->queries();
  ASSERT_EQ(queries.size(), std::size(kQueries));
  for (const Expected& e : kQueries) {
    auto q = std::find_if(queries.begin(), queries.end(), [&](const sql::SavedQuery& x) { return x.name == e.name; });
    ASSERT_NE(q, queries.end()) << e.name;
    EXPECT_STREQ(sql::queryTypeName(q->type), e.type) << e.name;
    EXPECT_EQ(q->accessSql, e.sql) << e.name;
    EXPECT_EQ(q->isView, e.view) << e.name << ": " << q->reason;
    if (!q->isView) EXPECT_FALSE(q->reason.empty()) << e.name;
  }
}

// A plain name found in none of a query's tables is a parameter, as Access asks for it, whether a
// PARAMETERS clause declares it or not; each takes the kind its value has. A qualified one stays
// an error.
TEST(SavedQueries, UndeclaredNamesAreParameters) {
  testsupport::TempDir folder;
  const std::string path = folder.copy("queryTestV2000.mdb");
  sql::Connection::open(path)->exec("INSERT INTO Table1 VALUES ('a', 'x', '1'), ('c', 'x', '2'), ('d', 'y', '3'), ('e', 'x', '4');");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> closing(db, sqlite3_close);
  sql::Bridge bridge(jet::Database::open(path, {.readOnly = true}));
  sql::declareTables(db, bridge);
  jet::QueryDefinition d;
  d.tables = {{"Table1", "", ""}};
  d.columns = {{"Table1.col1", "", "", 0}};
  d.orderBy = {{"Table1.col1", false}};
  std::vector<jet::QueryDefinition> definitions = {d, d};
  definitions[0].where = "Table1.col1 > [From] And Table1.col2 <> [Keep] And [Keep] <> [From]";
  definitions[1].where = "Table9.col1 = 1";
  std::vector<sql::SavedQuery> queries(2);
  queries[0].name = "Between", queries[1].name = "Elsewhere";
  sql::translateQueries(db, bridge, queries, definitions);
  EXPECT_EQ(queries[0].reason, "it takes parameters [From], [Keep] (run it with --query and --param)");
  EXPECT_EQ(queries[1].reason, "SQLite refuses the translation: no such column: Table9.col1");
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, queries[0].sqliteSql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << queries[0].sqliteSql;
  sql::bindParameter(stmt, 1, queries[0].parameters[0], "b");
  sql::bindParameter(stmt, 2, queries[0].parameters[1], "y");
  std::string got;
  while (sqlite3_step(stmt) == SQLITE_ROW) got += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  sqlite3_finalize(stmt);
  EXPECT_EQ(got, "ce");

  const std::pair<const char*, const char*> kinds[] = {
      {"1/31/1995", "1995-01-31 00:00:00|text"}, {"12", "12|integer"}, {"1.5", "1.5|real"}, {"abc", "abc|text"}};
  for (const auto& [given, bound] : kinds) {
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT ?1 || '|' || typeof(?1)", -1, &stmt, nullptr), SQLITE_OK);
    sql::bindParameter(stmt, 1, {"x", "", 0}, given);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), bound) << given;
    sqlite3_finalize(stmt);
  }
}

// A crosstab is a grouped SELECT with one column per heading: fixed headings (PIVOT ... In) make a
// view; otherwise the data's headings, read when the query runs, sorted. A cell without rows is Null,
// also for a count.
TEST(SavedQueries, CrosstabsRunAsGroupedSelects) {
  testsupport::TempDir folder;
  const std::string path = folder.copy("queryTestV2000.mdb");
  sql::Connection::open(path)->exec("INSERT INTO Table2 VALUES ('a', 'x', 'p'), ('11', '5', 'q'), ('20', '7', 'r'), "
                                    "('c', '30', 's'), ('20', '40', 't'), ('11', '9', 'q'), (NULL, '1', 'p');");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> closing(db, sqlite3_close);
  sql::Bridge bridge(jet::Database::open(path, {.readOnly = true}));
  sql::declareTables(db, bridge);
  sql::registerAccessFunctions(db);
  jet::QueryDefinition d;
  d.type = jet::QueryType::Crosstab;
  d.tables = {{"Table2", "", ""}};
  d.columns = {{"Count(Table2.col2)", "n", "", 0}, {"Table2.col1", "", "", 1}, {"Table2.col3", "", "", 2}};
  d.groupBy = {{"Table2.col3", "", "", 2}, {"Table2.col1", "", "", 1}};
  d.orderBy = {{"Table2.col3", false}};
  std::vector<jet::QueryDefinition> definitions = {d, d};
  definitions[1].columnHeadings = "\"a\",\"20\",\"z\"\"z\"";
  definitions[1].columns[0].expression = "Max([col2])";
  EXPECT_EQ(jet::accessSql(definitions[1]),
            "TRANSFORM Max([col2]) AS n\nSELECT Table2.col3\nFROM Table2\nGROUP BY Table2.col3\nORDER BY Table2.col3\n"
            "PIVOT Table2.col1 In (\"a\",\"20\",\"z\"\"z\");");
  std::vector<sql::SavedQuery> queries(2);
  queries[0].name = "Counts", queries[1].name = "Fixed";
  queries[0].type = queries[1].type = jet::QueryType::Crosstab;
  sql::translateQueries(db, bridge, queries, definitions);
  EXPECT_TRUE(queries[0].columnsFromData);
  EXPECT_EQ(queries[0].reason, "a crosstab whose columns come from its data (run it with --query)");
  ASSERT_TRUE(queries[1].isView) << queries[1].reason;
  auto names = [&](const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK)
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) out.push_back(sqlite3_column_name(stmt, i));
    sqlite3_finalize(stmt);
    return out;
  };
  EXPECT_EQ(names("SELECT * FROM Fixed"), (std::vector<std::string>{"col3", "a", "20", "z\"z"}));
  EXPECT_EQ(testsupport::query(db, "SELECT * FROM Fixed"),
            (Rows{{"p", "x", "NULL", "NULL"}, {"q", "NULL", "NULL", "NULL"}, {"r", "NULL", "7", "NULL"},
                  {"s", "NULL", "NULL", "NULL"}, {"t", "NULL", "40", "NULL"}}));
  // The same crosstab as migration carries it: CASE for IIf, as SQLite files and PostgreSQL have no IIf.
  std::vector<jet::TableInfo> tables;
  for (const sql::BridgeTable& t : bridge.tables()) tables.push_back(t.info);
  const std::string portable = sql::selectIn(sql::Dialect::Postgres, definitions[1], tables);
  EXPECT_EQ(portable.find("IIf"), std::string::npos) << portable;
  EXPECT_EQ(testsupport::query(db, portable), testsupport::query(db, "SELECT * FROM Fixed"));
  jet::QueryDefinition counted = definitions[0];
  counted.columnHeadings = "\"11\",\"a\",#1/2/2003#,-1";
  EXPECT_EQ(testsupport::query(db, sql::selectIn(sql::Dialect::Sqlite, counted, tables)),
            (Rows{{"p", "NULL", "1", "NULL", "NULL"}, {"q", "2", "NULL", "NULL", "NULL"}, {"r", "NULL", "NULL", "NULL", "NULL"},
                  {"s", "NULL", "NULL", "NULL", "NULL"}, {"t", "NULL", "NULL", "NULL", "NULL"}}));
  const std::string counts = sql::crosstabOfData(db, bridge, queries[0], definitions[0], [](sqlite3_stmt*) {});
  EXPECT_EQ(names(counts), (std::vector<std::string>{"col3", "<>", "11", "20", "a", "c"}));
  EXPECT_EQ(testsupport::query(db, counts),
            (Rows{{"p", "1", "NULL", "NULL", "1", "NULL"}, {"q", "NULL", "2", "NULL", "NULL", "NULL"},
                  {"r", "NULL", "NULL", "1", "NULL", "NULL"}, {"s", "NULL", "NULL", "NULL", "NULL", "1"},
                  {"t", "NULL", "NULL", "1", "NULL", "NULL"}}));
}

INSTANTIATE_TEST_SUITE_P(Versions, SavedQueries,
                         ::testing::Values("queryTestV1997.mdb", "queryTestV2000.mdb", "ace/queryTestV2007.accdb"));

// TOP n over an ORDER BY keeps the rows that tie with the n-th (text ties without regard to case),
// in the ORDER BY's order; without an ORDER BY it is a plain limit. TOP n PERCENT likewise.
TEST(SavedQueryViews, TopKeepsTheRowsThatTie) {
  testsupport::TempDir folder;
  auto c = sql::Connection::open(folder.copy("queryTestV2000.mdb"));
  c->exec("INSERT INTO Table2 (col1, col2, col3) VALUES ('a', 'foo', 'p'), ('b', 'Foo', 'q'), ('c', 'bar', 'r'), ('d', 'zed', 's');");
  jet::QueryDefinition q;
  q.tables = {{"Table2", "", ""}};
  q.columns = {{"Table2.col1", "", "", 0}, {"[col3] & \"!\"", "Third", "", 0}};
  const std::vector<jet::TableInfo> tables = {c->table("Table2")};
  struct Case {
    const char* top;
    bool ordered, percent;
    Rows rows;
  };
  const Case cases[] = {
      {"1", true, false, {{"d", "s!"}}},
      {"2", true, false, {{"d", "s!"}, {"a", "p!"}, {"b", "q!"}}},
      {"3", true, false, {{"d", "s!"}, {"a", "p!"}, {"b", "q!"}}},
      {"4", true, false, {{"d", "s!"}, {"a", "p!"}, {"b", "q!"}, {"c", "r!"}}},
      {"2", false, false, {{"a", "p!"}, {"b", "q!"}}},
      {"25", true, true, {{"d", "s!"}}},  // n percent of the rows, rounded up, and their ties
      {"26", true, true, {{"d", "s!"}, {"a", "p!"}, {"b", "q!"}}},
      {"30", false, true, {{"a", "p!"}, {"b", "q!"}}},
  };
  for (const Case& k : cases) {
    q.options = jet::kQueryTop | (k.percent ? jet::kQueryPercent : 0);
    q.top = k.top;
    q.orderBy.clear();
    if (k.ordered) q.orderBy = {{"Table2.col2", true}};
    const std::string sql = sql::selectIn(sql::Dialect::Bridge, q, tables);
    Rows got = testsupport::query(c->handle(), sql);
    if (k.ordered && got.size() > 2) std::sort(got.begin() + 1, got.begin() + 3);  // the tie's own order is free
    EXPECT_EQ(got, k.rows) << sql;
  }
}

// Access's expression language in SQLite, each expression evaluated through a translation; and
// Access's functions called from SQL: the values crossing between SQLite and the expression engine
// (dates as SQL's text or as day numbers, Null, Yes/No as 1/0) and errors as SQL errors. (What each
// function computes: the expression engine's own table.)
TEST(AccessFunctions, TranslatedOrCalledFromSql) {
  auto c = sql::Connection::open(std::string(TABULONIX_TESTDATA_DIR) + "/testV2000.mdb", {.readOnly = true});
  const std::pair<const char*, const char*> translated[] = {
      {"#1/31/1995#", "1995-01-31 00:00:00"},
      {"#1995-01-31 13:05#", "1995-01-31 13:05:00"},
      {"\"a\" & Null & 5", "a5"},
      {"\"it\"\"s\"", "it\"s"},
      {"IIf(1 > 2, \"yes\", \"no\")", "no"},
      {"Nz(Null, 7)", "7"},
      {"\"abc\" Like \"A*\"", "1"},
      {"\"a_c\" Like \"a?c\"", "1"},
      {"\"abc\" Like \"a_c\"", "0"},
      {"True", "1"},
      {"Not No", "1"},
      {"7 Mod 3", "1"},
      {"CCur(1.23456)", "1.2346"},
      {"CInt(2.5)", "2"},
      {"Year(#3/4/2001#)", "2001"},
      {"Format(#7/4/2001 13:05#, \"mmm d, yyyy h:nn AM/PM\")", "Jul 4, 2001 1:05 PM"},
      {"Mid(\"abcdef\", 2, 3) & Left(\"xyz\", 1) & Right(\"xyz\", 1)", "bcdxz"},
      {"Len(\"äbc\")", "3"},
      {"&H1F", "31"},
  };
  sql::TranslateContext context;
  context.knownFunction = [](const std::string& name) {
    static const char* const kNames[] = {"IIf", "Nz", "CCur", "CInt", "Year", "Format", "Mid", "Left", "Right", "Len"};
    return std::any_of(std::begin(kNames), std::end(kNames), [&](const char* n) { return strcasecmp(n, name.c_str()) == 0; });
  };
  for (const auto& [access, value] : translated) {
    const std::string sql = "SELECT " + sql::translate(access, context);
    EXPECT_EQ(testsupport::query(c->handle(), sql), (Rows{{value}})) << access << " as " << sql;
  }
  const char* const untranslatable[] = {"[Forms]![Orders]![OrderID]", "DLookUp(\"a\", \"b\")", "x Like \"[a-c]*\"",
                                        "5 \\ 2", "x Like y"};
  for (const char* u : untranslatable) EXPECT_THROW(sql::translate(u, context), sql::Untranslatable) << u;

  const std::pair<const char*, const char*> called[] = {
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
  for (const auto& [expression, value] : called)
    EXPECT_EQ(testsupport::query(c->handle(), std::string("SELECT ") + expression), (Rows{{value}})) << expression;
  for (const char* bad : {"SELECT CInt('x')", "SELECT CInt(40000)", "SELECT Mid('abc', 0)"}) {
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(c->handle(), bad, -1, &stmt, nullptr), SQLITE_OK) << bad;
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_ERROR) << bad;
    sqlite3_finalize(stmt);
  }
}

// A saved select query runs as a view that gives what hand-written SQL over the same rows gives;
// migration carries it as a view that gives the same in the target, and names each query it leaves
// behind with the reason.
TEST(MigrateViews, SelectQueriesArriveAsViewsTheOthersAreNamed) {
  testsupport::TempDir folder;
  const std::string path = folder.copy("queryTestV2000.mdb");
  testsupport::Rows bridged;
  {
    auto c = sql::Connection::open(path);
    c->exec(
        "INSERT INTO Table1 (col1, col2, col3) VALUES ('a', 'foo', 'x'), ('b', 'bar', 'y'), ('foo', 'buzz', 'z'), ('foo', 'buzz', 'z');"
        "INSERT INTO Table2 (col1, col2, col3) VALUES ('a', 'foo', 'p'), ('b', 'buzz', 'q'), ('a', 'a', 'r'), ('c', 'bazz', 's'), ('foo', 'foo', 't');"
        "INSERT INTO Table3 (col1, col2, col3) VALUES ('a', 'k', 'blah'), ('b', 'l', 'zzz'), ('a', 'm', 'abc'), ('foo', 'n', 'x'), ('foo', 'o', 'y');");
    bridged = testsupport::query(c->handle(), "SELECT * FROM SelectQuery");
    EXPECT_EQ(bridged, testsupport::query(c->handle(),
                                      "SELECT DISTINCT t1.*, t2.col1, t2.col2, t3.col3 FROM Table1 t1 LEFT JOIN Table3 t3 ON t1.col1 = t3.col1 "
                                      "JOIN Table2 t2 ON t3.col1 = t2.col1 AND t3.col1 = t2.col2 WHERE t2.col2 = 'foo' OR "
                                      "t2.col2 IN ('buzz', 'bazz') ORDER BY t2.col1"));
  }
  ASSERT_FALSE(bridged.empty());
  const std::string target = folder.file("out.sqlite");
  clitest::Result r = clitest::run({"migrate", path, "sqlite:" + target});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("1 saved queries as views"), std::string::npos) << r.out;
  for (const char* left : {"AppendQuery", "CrosstabQuery", "UnionQuery", "UpdateQuery"})
    EXPECT_NE(r.err.find(std::string("saved query ") + left + " not carried"), std::string::npos) << left << "\n" << r.err;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(target.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  EXPECT_EQ(testsupport::query(db, "SELECT * FROM SelectQuery"), bridged);
  sqlite3_close(db);
}

}  // namespace
