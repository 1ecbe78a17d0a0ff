// Writes through SQL go through the engine: the file stays sound for the engine's check and the
// independent readers, unique keys and Required hold, a statement that fails changes nothing, a
// rolled-back transaction leaves the file byte for byte as it was, and complex fields take JSON.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "jet/database.h"
#include "jet/support/oracles.h"
#include "sql/connection.h"
#include "support/complex_fixture.h"
#include "support/error_of.h"
#include "support/files.h"
#include "support/sqlite_rows.h"

namespace {

using jet::ColumnType;
using testsupport::Rows;

struct Version {
  const char* name;
  jet::CreateOptions options;
};

const Version kVersions[] = {
    {"jet3", {.format = jet::Format::Jet3Layout, .version = jet::FileVersion::Jet3}},
    {"jet4", {.format = jet::Format::Jet4Layout, .version = jet::FileVersion::Jet4}},
    {"accdb", {.format = jet::Format::Jet4Layout, .version = jet::FileVersion::Access2007}},
};

// A table with an auto-number key, a unique required text, a memo, a date and a currency.
std::string makeDatabase(testsupport::TempDir& folder, const Version& v) {
  const std::string path = folder.file(std::string("w_") + v.name + (v.options.version == jet::FileVersion::Access2007 ? ".accdb" : ".mdb"));
  auto db = jet::Database::create(path, v.options);
  jet::NewTable t;
  t.name = "Order Lines";
  t.columns = {{.name = "Id", .type = ColumnType::Long, .autoNumber = true},
               {.name = "Code", .type = ColumnType::Text, .size = 20, .required = true},
               {.name = "Note", .type = ColumnType::Memo},
               {.name = "Due", .type = ColumnType::DateTime},
               {.name = "Price", .type = ColumnType::Currency}};
  t.indexes = {{.name = "PrimaryKey", .columns = {{0, true}}, .primaryKey = true, .unique = true, .required = true},
               {.name = "Code", .columns = {{1, true}}, .unique = true}};
  db->createTable(t);
  db->close();
  return path;
}

class Writes : public ::testing::TestWithParam<Version> {
 protected:
  testsupport::TempDir folder;
};

TEST_P(Writes, KeepTheFileSoundForEveryReader) {
  const std::string path = makeDatabase(folder, GetParam());
  {
    auto c = sql::Connection::open(path);
    const std::string longNote(5000, 'n');  // a long value of its own pages
    c->exec("INSERT INTO [Order Lines] (Code, Note, Due, Price) VALUES ('a1', 'short', '2024-02-29 10:30:00', 12.5);"
            "INSERT INTO \"Order Lines\" (Code, Note, Price) VALUES ('b2', '" + longNote + "', 3);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300)"
            "  INSERT INTO [Order Lines] (Code, Price) SELECT 'k' || i, i * 0.25 FROM n;"
            "UPDATE [Order Lines] SET Price = Price * 2, Note = 'changed' WHERE Code = 'a1';"
            "DELETE FROM [Order Lines] WHERE Code LIKE 'k1%';");
    Rows rows = testsupport::query(c->handle(),
                               "SELECT Id, Code, length(Note), Due, Price FROM [Order Lines] WHERE Code IN ('a1', 'b2') ORDER BY Id");
    EXPECT_EQ(rows, (Rows{{"1", "a1", "7", "2024-02-29 10:30:00", "25"}, {"2", "b2", "5000", "NULL", "3"}}));
    EXPECT_EQ(testsupport::query(c->handle(), "SELECT count(*) FROM [Order Lines]"), (Rows{{"191"}}));
  }
  auto db = jet::Database::open(path, {.readOnly = true});
  jet::CheckReport report = db->check();
  EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
  db->close();
  if (auto mdb = oracle::mdbtools("mdb-export", oracle::quote(path) + " 'Order Lines' | wc -l"))
    EXPECT_EQ(mdb->out, "192\n");  // the header and every row
  if (auto lines = oracle::mdbReader(path)) {
    size_t rows = 0;
    for (const std::string& l : *lines) rows += l.rfind("ROW\tOrder Lines\t", 0) == 0;
    EXPECT_EQ(rows, 191u);
  }
}

TEST_P(Writes, RefusedStatementsAndRollbacksUndoExactlyThemselves) {
  const std::string path = makeDatabase(folder, GetParam());
  {
    auto c = sql::Connection::open(path);
    c->exec("INSERT INTO [Order Lines] (Code) VALUES ('x'), ('y')");
  }
  const std::vector<uint8_t> before = testsupport::readFile(path);
  struct Case {
    const char* what;
    const char* sql;
  };
  const Case cases[] = {
      {"duplicate key in the third row", "INSERT INTO [Order Lines] (Code) VALUES ('p'), ('q'), ('x')"},
      {"Null in a required field", "UPDATE [Order Lines] SET Code = CASE WHEN Code = 'y' THEN NULL ELSE 'z' END"},
      {"a text longer than its field", "INSERT INTO [Order Lines] (Code) VALUES ('abcdefghijklmnopqrstu')"},
      {"a value that does not convert", "INSERT INTO [Order Lines] (Code, Due) VALUES ('d', 'not a date')"},
      {"rolled back", "BEGIN; INSERT INTO [Order Lines] (Code) VALUES ('r'); DELETE FROM [Order Lines] WHERE Code = 'x';"
                      "UPDATE [Order Lines] SET Note = 'n'; ROLLBACK"},
  };
  for (const Case& k : cases) {
    auto c = sql::Connection::open(path);
    try {
      c->exec(k.sql);
      EXPECT_STREQ(k.what, "rolled back") << "accepted";
    } catch (const sql::SqlError&) {
    }
    c.reset();
    EXPECT_EQ(testsupport::readFile(path), before) << k.what;
  }
  // A statement that fails inside a transaction undoes only itself.
  auto c = sql::Connection::open(path);
  c->begin();
  c->exec("INSERT INTO [Order Lines] (Code) VALUES ('one')");
  EXPECT_THROW(c->exec("INSERT INTO [Order Lines] (Code) VALUES ('two'), ('one')"), sql::SqlError);
  EXPECT_TRUE(c->inTransaction());
  c->exec("INSERT INTO [Order Lines] (Code) VALUES ('three')");
  c->commit();
  EXPECT_EQ(testsupport::query(c->handle(), "SELECT Code FROM [Order Lines] ORDER BY Id"), (Rows{{"x"}, {"y"}, {"one"}, {"three"}}));
  c.reset();
  EXPECT_TRUE(jet::Database::open(path, {.readOnly = true})->check().ok());
}

// Complex fields take the JSON the bridge shows them as: an array replaces the row's values, Null
// empties them, a statement that leaves the field out keeps them, and what is not an array of the
// field's kind is refused with the file unchanged.
TEST(ComplexWrites, TakeTheJsonTheyAreShownAs) {
  testsupport::TempDir folder;
  const std::string path = folder.file("complex.mdb");
  complexfixture::build(path);
  {
    const char* kRows = "SELECT name, tags, files, scores FROM Items ORDER BY name";
    auto c = sql::Connection::open(path);
    ASSERT_EQ(testsupport::query(c->handle(), kRows).size(), 3u);  // the values read before they change
    {  // A statement open on the file reads one committed state: another program's write waits for it.
      sqlite3_stmt* st = nullptr;
      ASSERT_EQ(sqlite3_prepare_v2(c->handle(), "SELECT name, tags FROM Items", -1, &st, nullptr), SQLITE_OK);
      ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
      auto other = jet::Database::open(path, {.busyTimeoutMs = 0});
      const auto add = [&] { other->createTable({"Added", {{"A", ColumnType::Long}}, {}}); };
      EXPECT_EQ(errorOf(add), 3260);
      while (sqlite3_step(st) == SQLITE_ROW) {}
      EXPECT_EQ(errorOf(add), 0);
      EXPECT_EQ(sqlite3_step(st), SQLITE_ROW) << "a new run after another program's commit";
      sqlite3_finalize(st);
    }
    c->exec("INSERT INTO Items (name, tags, files, scores) VALUES "
            "('four', '[\"x\",\"y\"]', '[{\"name\":\"e.txt\",\"type\":\"txt\",\"data\":\"6869\"}]', '[7]');"
            "UPDATE Items SET tags = '[\"q\"]', scores = NULL WHERE name = 'one';"
            "UPDATE Items SET notes = 'n2 b' WHERE name = 'two';");
    const Rows expected = {
        {"four", "[\"x\",\"y\"]", "[{\"name\":\"e.txt\",\"type\":\"txt\",\"data\":\"6869\"}]", "[7]"},
        {"one", "[\"q\"]", "[{\"name\":\"a.txt\",\"type\":\"txt\",\"data\":\"68656c6c6f0a\"}]", "[]"},
        {"three", "[]", "[]", "[]"},
        {"two", "[\"blue\"]",
         "[{\"name\":\"b.bin\",\"type\":\"bin\",\"data\":\"00ff1080\"},{\"name\":\"c.txt\",\"type\":\"txt\",\"data\":\"7365636f6e64\"}]",
         "[]"}};
    EXPECT_EQ(testsupport::query(c->handle(), kRows), expected);
    EXPECT_EQ(testsupport::query(sql::Connection::open(path, {.readOnly = true})->handle(), kRows), expected);
  }
  const std::vector<uint8_t> before = testsupport::readFile(path);
  for (const char* bad : {"UPDATE Items SET tags = 'red'", "UPDATE Items SET scores = '[\"many\"]'",
                          "UPDATE Items SET files = '[{\"name\":\"f\"}]'", "INSERT INTO Items (tags) VALUES (5)"})
    EXPECT_THROW(sql::Connection::open(path)->exec(bad), sql::SqlError) << bad;
  EXPECT_EQ(testsupport::readFile(path), before);
  EXPECT_TRUE(jet::Database::open(path, {.readOnly = true})->check().ok());
}

// A field an INSERT leaves out, or gives as Null, takes its default value; one without a default
// stays Null, and an UPDATE stores Null anywhere a field may hold it.
TEST_P(Writes, FieldsLeftOutTakeTheirDefaults) {
  const std::string path =
      folder.file(std::string("d_") + GetParam().name + (GetParam().options.version == jet::FileVersion::Access2007 ? ".accdb" : ".mdb"));
  {
    auto db = jet::Database::create(path, GetParam().options);
    jet::NewTable t;
    t.name = "Defaults";
    t.columns = {{.name = "Code", .type = ColumnType::Text, .size = 10},
                 {.name = "Kind", .type = ColumnType::Text, .size = 10, .required = true, .defaultValue = "\"none\""},
                 {.name = "Active", .type = ColumnType::Boolean, .defaultValue = "Yes"},
                 {.name = "Note", .type = ColumnType::Text, .size = 10, .defaultValue = "\"n\""}};
    db->createTable(t);
  }
  auto c = sql::Connection::open(path);
  c->exec("INSERT INTO Defaults (Code) VALUES ('a'); INSERT INTO Defaults VALUES ('b', 'own', 0, 'x');"
          "INSERT INTO Defaults (Code, Kind, Note) SELECT 'c', 'k', NULL; INSERT INTO Defaults DEFAULT VALUES;"
          "UPDATE Defaults SET Note = NULL WHERE Code = 'b'");
  EXPECT_THROW(c->exec("UPDATE Defaults SET Kind = NULL"), sql::SqlError);
  EXPECT_EQ(testsupport::query(c->handle(), "SELECT * FROM Defaults ORDER BY Code"),
            (Rows{{"NULL", "none", "1", "n"}, {"a", "none", "1", "n"}, {"b", "own", "0", "NULL"}, {"c", "k", "1", "n"}}));
}

INSTANTIATE_TEST_SUITE_P(Versions, Writes, ::testing::ValuesIn(kVersions),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
