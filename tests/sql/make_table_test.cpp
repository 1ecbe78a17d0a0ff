// Make-table queries: the new table's columns typed from their sources or their values, its rows
// those of the SELECT, a table of the same name replaced (even by a query that reads it), and a
// query that fails leaving the file byte for byte as it was.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "jet/base/error.h"
#include "jet/database.h"
#include "jet/support/oracles.h"
#include "sql/connection.h"
#include "cli/support/in_process.h"
#include "support/files.h"
#include "support/sqlite_rows.h"

namespace {

using jet::ColumnType;
using testsupport::Rows;

struct Column {
  const char* expression;
  const char* name;
  ColumnType type;
  int textSize;          // characters, for Text
  const char* readBack;  // the values as the new column gives them back, when they change type
};

const Column kColumns[] = {
    {"Id", "Id", ColumnType::Long, 0},  // an AutoNumber's values, in a plain Long
    {"Code", "Code", ColumnType::Text, 20},
    {"Price", "Price", ColumnType::Currency, 0},
    {"Due", "Due", ColumnType::DateTime, 0},
    {"Code AS \"Orders.Code\"", "Orders_Code", ColumnType::Text, 20},
    {"Id * 2 AS Twice", "Twice", ColumnType::Long, 0},
    {"Id * 10000000000 AS Big", "Big", ColumnType::Double, 0, "Id * 1e10"},
    {"Price / 4 AS Quarter", "Quarter", ColumnType::Double, 0},
    {"datetime(Due, '+1 day') AS Next", "Next", ColumnType::DateTime, 0},
    {"Code || '!' AS Shout", "Shout", ColumnType::Text, 255},
    {"printf('%300s', Code) AS Wide", "Wide", ColumnType::Memo, 0},
    {"x'00ff' AS Raw", "Raw", ColumnType::Ole, 0},
    {"NULL AS Empty", "Empty", ColumnType::Text, 255},
};

const jet::CreateOptions kVersions[] = {
    {.format = jet::Format::Jet3Layout, .version = jet::FileVersion::Jet3},
    {.format = jet::Format::Jet4Layout, .version = jet::FileVersion::Jet4},
    {.format = jet::Format::Jet4Layout, .version = jet::FileVersion::Access2007},
};

TEST(MakeTable, TypesRowsReplacementAndFailures) {
  testsupport::TempDir folder;
  const auto none = [](sqlite3_stmt*) {};
  for (const jet::CreateOptions& v : kVersions) {
    const bool jet3 = v.format == jet::Format::Jet3Layout;
    const std::string path = folder.file(jet3 ? "m3.mdb" : v.version == jet::FileVersion::Jet4 ? "m4.mdb" : "m.accdb");
    SCOPED_TRACE(path);
    {
      auto db = jet::Database::create(path, v);
      db->createTable({"Orders",
                       {{.name = "Id", .type = ColumnType::Long, .autoNumber = true},
                        {.name = "Code", .type = ColumnType::Text, .size = 20},
                        {.name = "Price", .type = ColumnType::Currency},
                        {.name = "Due", .type = ColumnType::DateTime}},
                       {{.name = "PrimaryKey", .columns = {{0, true}}, .primaryKey = true, .unique = true, .required = true}}});
    }
    auto c = sql::Connection::open(path);
    c->exec("INSERT INTO Orders (Code, Price, Due) VALUES ('a', 10, '2024-02-29 10:30:00'), ('b', 2.5, NULL), ('c', 7, "
            "'1999-12-31 00:00:00')");
    std::string select, reference;
    for (const Column& col : kColumns) {
      select += std::string(select.empty() ? "SELECT " : ", ") + col.expression;
      reference += std::string(reference.empty() ? "SELECT " : ", ") + (col.readBack ? col.readBack : col.expression);
    }
    select += " FROM Orders";
    EXPECT_EQ(c->makeTable("Made", select, none), 3);
    const jet::TableInfo made = c->database().table("Made");
    ASSERT_EQ(made.columns.size(), std::size(kColumns));
    for (size_t i = 0; i < made.columns.size(); ++i) {
      const jet::ColumnInfo& got = made.columns[i];
      EXPECT_EQ(got.name, kColumns[i].name);
      EXPECT_EQ(got.type, kColumns[i].type) << got.name;
      EXPECT_FALSE(got.autoNumber) << got.name;
      if (got.type == ColumnType::Text) EXPECT_EQ(got.length / (jet3 ? 1 : 2), kColumns[i].textSize) << got.name;
    }
    EXPECT_EQ(testsupport::query(c->handle(), "SELECT * FROM Made ORDER BY Id"), testsupport::query(c->handle(), reference + " FROM Orders ORDER BY Id"));

    // Replaced by a query that reads it; failures change nothing.
    EXPECT_EQ(c->makeTable("made", "SELECT Code, Twice + 1 AS Three FROM Made WHERE Id > 1", none), 2);
    const std::vector<uint8_t> before = testsupport::readFile(path);
    EXPECT_THROW(c->makeTable("Made", "SELECT 1 AS a, 2 AS A", none), jet::Error);  // a field defined twice
    EXPECT_THROW(c->makeTable("Made", "SELECT Nosuch FROM Made", none), sql::SqlError);
    EXPECT_THROW(c->makeTable("Orders", "SELECT 1 AS \" Lead\"", none), jet::Error);  // not a valid name
    c->begin();
    EXPECT_THROW(c->makeTable("Other", "SELECT 1 AS One", none), jet::Error);  // a change of its own
    c->rollback();
    EXPECT_EQ(testsupport::readFile(path), before);
    EXPECT_EQ(testsupport::query(c->handle(), "SELECT * FROM Made ORDER BY Code"), (Rows{{"b", "5"}, {"c", "7"}}));
    EXPECT_EQ(testsupport::query(c->handle(), "SELECT count(*) FROM Orders"), (Rows{{"3"}}));
    jet::CheckReport report = c->database().check();
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
    c.reset();
    if (auto mdb = oracle::mdbtools("mdb-export", oracle::quote(path) + " Made")) EXPECT_EQ(mdb->out, "Code,Three\n\"b\",5\n\"c\",7\n");
  }
}

// The saved make-table query of Access's files runs from the command line.
TEST(MakeTable, SavedQueryRunsFromTheCommandLine) {
  testsupport::TempDir folder;
  for (const char* file : {"queryTestV1997.mdb", "queryTestV2000.mdb", "ace/queryTestV2007.accdb"}) {
    const std::string path = folder.file("q");
    std::filesystem::copy_file(std::string(TABULONIX_TESTDATA_DIR) + "/" + file, path, std::filesystem::copy_options::overwrite_existing);
    clitest::run({"sql", path, "INSERT INTO Table1 VALUES ('a', 'buzz', 'x'); INSERT INTO Table2 VALUES ('buzz', 'k', 'z');"
                               "INSERT INTO Table3 VALUES ('q', 't3', 'buzz'), ('q2', 't4', 'none')"});
    const clitest::Result made = clitest::run({"sql", path, "--query", "MakeTableQuery"});
    EXPECT_EQ(made.rc, 0) << file << made.err;
    EXPECT_EQ(clitest::run({"sql", path, "SELECT * FROM Table4", "--format", "csv"}).out,
              "MaxOfcol1,Table2_col2,Table3_col2\nbuzz,k,t3\n")
        << file;
  }
}

}  // namespace
