// Over every test file, queries on the bridge's tables give the answers SQLite gives over a plain
// copy of the same rows: grouping, joins, subqueries, window functions and set operations, with the
// bridge's index seeks (equality, ranges, IN) and the orders it offers in play.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <set>

#include "jet/database.h"
#include "jet/support/test_files.h"
#include "sql/connection.h"
#include "sql/values.h"
#include "support/files.h"
#include "support/sqlite_rows.h"

namespace {

using testsupport::Rows;

using testsupport::quoteName;

// A plain in-memory database with every table's rows as the bridge reads them, each column of the
// same declared type (so of the same affinity).
sqlite3* plainCopy(sql::Connection& c) {
  sqlite3* copy = nullptr;
  sqlite3_open(":memory:", &copy);
  sqlite3_exec(copy, "BEGIN", nullptr, nullptr, nullptr);
  for (const std::string& name : c.tableNames()) {
    const jet::TableInfo& info = c.table(name);
    std::string ddl = "CREATE TABLE " + quoteName(name) + "(", insert = "INSERT INTO " + quoteName(name) + " VALUES(";
    for (size_t i = 0; i < info.columns.size(); ++i) {
      ddl += (i ? ", " : "") + quoteName(info.columns[i].name) + " " + sql::declaredType(info.columns[i]);
      insert += i ? ", ?" : "?";
    }
    EXPECT_EQ(sqlite3_exec(copy, (ddl + ")").c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << ddl;
    sqlite3_stmt *read = nullptr, *write = nullptr;
    if (sqlite3_prepare_v2(c.handle(), ("SELECT * FROM " + quoteName(name)).c_str(), -1, &read, nullptr) != SQLITE_OK)
      continue;  // a linked table whose source is gone
    sqlite3_prepare_v2(copy, (insert + ")").c_str(), -1, &write, nullptr);
    while (sqlite3_step(read) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(read); ++i) sqlite3_bind_value(write, i + 1, sqlite3_column_value(read, i));
      EXPECT_EQ(sqlite3_step(write), SQLITE_DONE) << name;
      sqlite3_reset(write);
    }
    sqlite3_finalize(read);
    sqlite3_finalize(write);
  }
  sqlite3_exec(copy, "COMMIT", nullptr, nullptr, nullptr);
  return copy;
}

std::string fill(std::string text, const std::string& table, const std::string& column, const std::string& first) {
  for (auto [key, value] : {std::pair<std::string, std::string>{"{mid}", "(SELECT {c} FROM {T} WHERE {c} IS NOT NULL ORDER BY {c} "
                                                                         "LIMIT 1 OFFSET (SELECT count({c}) / 2 FROM {T}))"},
                            {"{T}", quoteName(table)}, {"{c}", quoteName(column)}, {"{k}", quoteName(first)}})
    for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
  return text;
}

struct Query {
  const char* sql;  // {T} the table, {c} the column, {k} the table's first column, {mid} the column's median
  bool ordered;     // compared in order (else as a set of rows)
};

const Query kQueries[] = {
    {"SELECT {c}, count(*), count({k}) FROM {T} GROUP BY {c} HAVING count(*) > 0", false},
    {"SELECT d.v, count(t.{k}) FROM (SELECT DISTINCT {c} AS v FROM {T}) d LEFT JOIN {T} t ON t.{c} = d.v GROUP BY d.v", false},
    {"SELECT count(*) FROM {T} WHERE {c} IN (SELECT {c} FROM {T} WHERE {c} IS NOT NULL ORDER BY {c} LIMIT 3)", false},
    {"SELECT count(*) FROM {T} o WHERE EXISTS (SELECT 1 FROM {T} i WHERE i.{c} = o.{c})", false},
    {"SELECT {c} FROM {T} WHERE {c} BETWEEN (SELECT min({c}) FROM {T}) AND {mid}", false},
    {"SELECT {c}, {k} FROM {T} WHERE {c} = {mid}", false},
    {"SELECT {c}, rank() OVER (ORDER BY {c}), count(*) OVER (PARTITION BY {c}) FROM {T}", false},
    {"SELECT {c} FROM {T} WHERE {c} > {mid} UNION SELECT {c} FROM {T} WHERE {c} IS NULL", false},
    {"SELECT {c} FROM {T} INTERSECT SELECT {c} FROM {T} WHERE {c} >= {mid}", false},
    {"SELECT {c} FROM {T} EXCEPT SELECT {c} FROM {T} WHERE {c} < {mid}", false},
    {"SELECT {c} FROM {T} ORDER BY {c}", true},
    {"SELECT {c} FROM {T} WHERE {c} >= {mid} ORDER BY {c} DESC", true},
};

void compareWithCopy(sql::Connection& c) {
  sqlite3* copy = plainCopy(c);
  for (const std::string& name : c.tableNames()) {
    const jet::TableInfo& info = c.table(name);
    // The columns that lead an index (where the bridge seeks), and the first two.
    std::set<size_t> columns{0, 1};
    for (const jet::IndexInfo& x : info.indexes)
      if (!x.columns.empty()) columns.insert(x.columns[0].columnNumber);
    for (size_t i : columns) {
      if (i >= info.columns.size()) continue;
      const std::string type = sql::declaredType(info.columns[i]);
      if (type == "BLOB" || type == "JSON") continue;
      for (const Query& q : kQueries) {
        const std::string text = fill(q.sql, name, info.columns[i].name, info.columns[0].name);
        Rows ours = testsupport::query(c.handle(), text), plain = testsupport::query(copy, text);
        if (!q.ordered) {
          std::sort(ours.begin(), ours.end());
          std::sort(plain.begin(), plain.end());
        }
        EXPECT_EQ(ours, plain) << text;
      }
    }
  }
  sqlite3_close(copy);
}

class SameAnswers : public ::testing::TestWithParam<std::string> {};

TEST_P(SameAnswers, AsSqliteOverACopy) {
  auto c = sql::Connection::open(jettest::testdata(GetParam()), {.readOnly = true, .password = jettest::passwordOf(GetParam())});
  compareWithCopy(*c);
}

// Dates before 1899-12-30 with a time of day, whose stored numbers run backwards within their day,
// through an index on the date.
TEST(SameAnswers, EarlyDatesWithTimesThroughAnIndex) {
  testsupport::TempDir folder;
  const std::string path = folder.file("early.mdb");
  {
    auto db = jet::Database::create(path, {.format = jet::Format::Jet4Layout, .version = jet::FileVersion::Jet4});
    jet::NewTable t{.name = "Times",
                    .columns = {{.name = "At", .type = jet::ColumnType::DateTime}, {.name = "Id", .type = jet::ColumnType::Long}},
                    .indexes = {{.name = "At", .columns = {{0, true}}}}};
    db->createTable(t);
    db->close();
  }
  auto c = sql::Connection::open(path);
  c->exec("INSERT INTO Times VALUES ('1899-12-29 02:24:00', 1), ('1899-12-29 21:36:00', 2), ('1899-12-29 12:00:00', 3),"
          " ('1899-12-28 06:00:00', 4), ('1899-12-30 06:00:00', 5), ('1900-01-01 00:00:00', 6), ('1899-12-29 00:00:00', 7)");
  EXPECT_EQ(testsupport::query(c->handle(), "SELECT Id FROM Times WHERE At BETWEEN '1899-12-29 02:00:00' AND '1899-12-29 22:00:00' ORDER BY Id"),
            (Rows{{"1"}, {"2"}, {"3"}}));
  compareWithCopy(*c);
}

INSTANTIATE_TEST_SUITE_P(AllFiles, SameAnswers, ::testing::ValuesIn(jettest::allTestFiles()),
                         testsupport::paramName<::testing::TestParamInfo<std::string>>);

}  // namespace
