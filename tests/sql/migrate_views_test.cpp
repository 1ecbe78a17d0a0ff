// Migration carries the translatable saved select queries as views, which give in the target what
// they give through the bridge, and names each query it leaves behind with the reason.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "sql/connection.h"
#include "sql/support/sql_fixture.h"

namespace {

TEST(MigrateViews, SelectQueriesArriveAsViewsTheOthersAreNamed) {
  sqltest::Folder folder;
  const std::string path = folder.copy("queryTestV2000.mdb");
  sqltest::Rows bridged;
  {
    auto c = sql::Connection::open(path);
    c->exec("INSERT INTO Table1 (col1, col2, col3) VALUES ('foo', 'foo', 'x'), ('a', 'b', 'c');"
            "INSERT INTO Table2 (col1, col2, col3) VALUES ('foo', 'foo', 't'), ('a', 'buzz', 'u');"
            "INSERT INTO Table3 (col1, col2, col3) VALUES ('foo', 'n', 'x'), ('b', 'o', 'y');");
    bridged = sqltest::query(c->handle(), "SELECT * FROM SelectQuery");
  }
  ASSERT_FALSE(bridged.empty());
  const std::string target = folder.file("out.sqlite");
  sqltest::Run r = sqltest::run({"migrate", path, "sqlite:" + target});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("1 saved queries as views"), std::string::npos) << r.out;
  for (const char* left : {"AppendQuery", "CrosstabQuery", "UnionQuery", "UpdateQuery"})
    EXPECT_NE(r.err.find(std::string("saved query ") + left + " not carried"), std::string::npos) << left << "\n" << r.err;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(target.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  EXPECT_EQ(sqltest::query(db, "SELECT * FROM SelectQuery"), bridged);
  sqlite3_close(db);
}

}  // namespace
