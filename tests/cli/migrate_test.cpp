// tabulonix-cli migrate against a real PostgreSQL server that each test starts in a temporary
// folder (Unix socket only, no TCP) and against SQLite files.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <cstdlib>

#include "cli/migrate.h"
#include "cli/migrate_values.h"
#include "jet/database.h"
#include "jet/support/test_files.h"
#include "support/in_process.h"
#include "support/sqlite_rows.h"

namespace fs = std::filesystem;

namespace {

std::string sh(const std::string& command) { return testsupport::run(command).out; }

// A PostgreSQL server of its own in a temporary folder, stopped when the object goes, also when
// the test fails.
class PostgresServer {
 public:
  PostgresServer() {
    dir_ = fs::temp_directory_path() / ("tabulonix-pg-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    std::string bin = sh("ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1");
    while (!bin.empty() && bin.back() == '\n') bin.pop_back();
    if (bin.empty()) return;
    // The server refuses to run as root: it runs as the postgres account then.
    std::string as;
    if (::geteuid() == 0) {
      as = "runuser -u postgres -- ";
      sh("chown postgres " + dir_.string());
    }
    std::string init = as + bin + "/initdb -D " + (dir_ / "data").string() +
                       " -U postgres --auth-local=trust --no-sync -E UTF8 --locale=C > " +
                       (dir_ / "initdb.log").string() + " 2>&1";
    if (std::system(init.c_str()) != 0) return;
    // One account logs in with a password, the others are trusted.
    {
      std::ofstream hba(dir_ / "data" / "pg_hba.conf");
      hba << "local all pwuser scram-sha-256\nlocal all all trust\n";
    }
    pgctl_ = as + bin + "/pg_ctl -D " + (dir_ / "data").string();
    std::string start = pgctl_ + " -w -l " + (dir_ / "server.log").string() + " -o \"-c listen_addresses='' -k " +
                        dir_.string() + " -c fsync=off -c full_page_writes=off\" start > /dev/null 2>&1";
    if (std::system(start.c_str()) != 0) return;
    running_ = true;
    // Should this process die without its destructors (a sanitizer's abort, a signal), a watchdog
    // stops the server and removes the folder.
    std::string watchdog = "(while kill -0 " + std::to_string(::getpid()) + " 2>/dev/null; do sleep 1; done; " +
                           pgctl_ + " -m immediate stop; rm -rf " + dir_.string() + ") > /dev/null 2>&1 &";
    std::system(watchdog.c_str());
    query("CREATE ROLE pwuser LOGIN SUPERUSER PASSWORD 'secret'");
  }
  ~PostgresServer() {
    if (!pgctl_.empty()) std::system((pgctl_ + " -m immediate stop > /dev/null 2>&1").c_str());
    fs::remove_all(dir_);
  }
  bool running() const { return running_; }
  // A user, or "user:password".
  std::string uri(const std::string& user = "postgres") const { return "postgresql://" + user + "@/postgres?host=" + dir_.string(); }

  // The rows of a query, each value as text ("<null>" for Null).
  std::vector<std::vector<std::string>> query(const std::string& sql) const {
    PGconn* c = PQconnectdb(uri().c_str());
    PGresult* r = PQexec(c, sql.c_str());
    std::vector<std::vector<std::string>> rows;
    auto status = PQresultStatus(r);
    std::string error = PQerrorMessage(c);
    for (int i = 0; status == PGRES_TUPLES_OK && i < PQntuples(r); ++i) {
      rows.emplace_back();
      for (int j = 0; j < PQnfields(r); ++j)
        rows.back().push_back(PQgetisnull(r, i, j) ? "<null>" : PQgetvalue(r, i, j));
    }
    PQclear(r);
    PQfinish(c);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) throw std::runtime_error(sql + ": " + error);
    return rows;
  }
  std::string one(const std::string& sql) const {
    auto rows = query(sql);
    return rows.empty() || rows[0].empty() ? "<none>" : rows[0][0];
  }

 private:
  fs::path dir_;
  std::string pgctl_;
  bool running_ = false;
};

// Every .mdb the engine tests read (the shared test data and the long values file), and the
// sample database.
std::vector<std::string> sourceFiles() {
  std::vector<std::string> out;
  for (const std::string& name : jettest::allTestFiles())
    if (fs::path(name).extension() == ".mdb") out.push_back(jettest::testdata(name));
  out.push_back(std::string(TABULONIX_BIN_DIR) + "/Samples/Sample.mdb");
  return out;
}

using jettest::passwordOf;
using testsupport::query;

class Migrate : public ::testing::Test {
 protected:
  void TearDown() override { migrate::faultHook = nullptr; }
  std::string path(const std::string& name) const { return dir_.file(name); }

  // A file made for these tests: awkward names, every type, an auto-number key with a gap, a
  // relationship enforced by Access (written into MSysRelationships as Access writes it).
  std::string craftedFile() {
    std::string file = path("crafted.mdb");
    auto db = jet::Database::create(file);
    jet::NewTable t;
    t.name = "Order Details ä";
    using T = jet::ColumnType;
    t.columns = {{"ID", T::Long, 0, true},   {"select", T::Text, 20}, {"Price €", T::Currency}, {"Amount", T::Numeric},
                 {"When", T::DateTime},      {"Flag", T::Boolean},    {"Small", T::Byte},       {"Ratio", T::Single},
                 {"Tag", T::Guid},           {"Blob", T::Ole},        {"MixedCase", T::Integer}};
    for (jet::NewColumn& c : t.columns) c.allowZeroLength = true;
    t.columns[3].precision = 12;
    t.columns[3].scale = 3;
    t.indexes = {{"PrimaryKey", {{0, true}}, true, true, false, true}, {"By When", {{4, false}, {1, true}}}};
    db->createTable(t);
    for (int i = 0; i < 5; ++i) {
      const jet::Decimal d{.negative = i == 2, .scale = 3, .precision = 12, .magnitude = {1234567u + uint32_t(i), 0, 0}};
      jet::Guid g;
      for (int k = 0; k < 16; ++k) g.bytes[k] = static_cast<uint8_t>(k * 17 + i);
      std::vector<jet::Value> row = {jet::Null{},
                                     i == 3 ? jet::Value(jet::Null{}) : jet::Value("it's \"row\"\t" + std::to_string(i)),
                                     jet::Currency{123456789 * (i + 1) + 1},
                                     d,
                                     jet::DateTime{45000.5 + i + 0.123 / 86400.0},
                                     i % 2 == 0,
                                     int64_t(250 + i),
                                     float(0.1f * i),
                                     g,
                                     jet::Bytes{0, 1, 2, uint8_t(i), 0x5c},
                                     int64_t(-i)};
      db->insertRow(t.name, row);
    }
    // The last row goes: the next auto-number still follows the highest kept.
    auto cursor = db->openTable(t.name);
    jet::RowId last{};
    while (cursor->next()) last = cursor->rowId();
    cursor.reset();
    db->deleteRow(t.name, last);
    db->close();
    return file;
  }

  testsupport::TempDir dir_;
};

TEST_F(Migrate, EveryTestFileMovesToBothTargetsAndReadsBackValueByValue) {
  PostgresServer pg;
  ASSERT_TRUE(pg.running()) << "the PostgreSQL server did not start";
  int n = 0;
  for (const std::string& file : sourceFiles()) {
    SCOPED_TRACE(file);
    const std::string schema = "s" + std::to_string(n++);
    std::vector<std::string> extra;
    if (!passwordOf(file).empty()) extra = {"--password", passwordOf(file)};
    auto args = [&](std::string target, std::vector<std::string> more) {
      std::vector<std::string> a = {"migrate", file, target, "--verify", "--quiet"};
      a.insert(a.end(), more.begin(), more.end());
      a.insert(a.end(), extra.begin(), extra.end());
      return a;
    };
    // --verify reads every row back from the target and compares it value by value; rows the
    // target holds beyond those it cannot see, so the row counts are compared here.
    auto lite = clitest::run(args("sqlite:" + path(schema + ".sqlite"), {}));
    ASSERT_EQ(lite.rc, 0) << lite.err;
    auto post = clitest::run(args(pg.uri(), {"--schema", schema}));
    ASSERT_EQ(post.rc, 0) << post.err;
    auto db = jet::Database::open(file, {true, passwordOf(file)});
    for (const jet::CatalogObject& obj : db->objects())
      if (obj.kind == jet::ObjectKind::Table && !(obj.flags & 0x80000002u)) {
        const std::string q = "\"" + obj.name + "\"", rows = std::to_string(db->table(obj.name).rowCount);
        EXPECT_EQ(rows, pg.one("SELECT count(*) FROM \"" + schema + "\"." + q)) << obj.name;
        EXPECT_EQ(rows, query(path(schema + ".sqlite"), "SELECT count(*) FROM " + q)[0][0]) << obj.name;
      }
  }
}

TEST_F(Migrate, NamesTypesKeysIndexesAndRelationshipsArriveInBothCatalogs) {
  PostgresServer pg;
  ASSERT_TRUE(pg.running());
  const std::string file = craftedFile(), lite = path("crafted.sqlite"), relLite = path("rel.sqlite");
  const std::string rel = std::string(TABULONIX_TESTDATA_DIR) + "/indexTestV2000.mdb";  // relationships Access made
  for (const auto& [source, target] : {std::pair{file, pg.uri()}, {file, "sqlite:" + lite}, {rel, "sqlite:" + relLite}})
    ASSERT_EQ(clitest::run({"migrate", source, target, "--quiet"}).rc, 0) << target;
  ASSERT_EQ(clitest::run({"migrate", rel, pg.uri(), "--schema", "rel", "--quiet"}).rc, 0);
  // Only some tables: a relationship to a table left behind is named and left out.
  auto some = clitest::run({"migrate", rel, pg.uri(), "--schema", "some", "--tables", "table1,Table2"});
  ASSERT_EQ(some.rc, 0) << some.err;
  EXPECT_NE(some.err.find("relationship Table3Table1 left out"), std::string::npos) << some.err;

  // Each query in PostgreSQL or in a SQLite file, its values joined by ',' and its rows by ';'.
  const struct {
    std::string db, sql, rows;
  } checks[] = {
      // Names exactly as they were, the types, sizes, precisions, Nulls and the identity.
      {"pg", "SELECT column_name, data_type, coalesce(character_maximum_length::text, ''), coalesce(numeric_precision::text, '') "
             "|| '/' || coalesce(numeric_scale::text, ''), is_nullable, coalesce(identity_generation, '') FROM "
             "information_schema.columns WHERE table_name = 'Order Details ä' AND ordinal_position IN (1, 2, 3, 4, 5, 6, 9, 10, 11) "
             "ORDER BY ordinal_position",
       "ID,integer,,32/0,NO,BY DEFAULT;select,character varying,20,/,YES,;Price €,numeric,,19/4,YES,;Amount,numeric,,12/3,YES,;"
       "When,timestamp without time zone,,/,YES,;Flag,boolean,,/,NO,;Tag,uuid,,/,YES,;Blob,bytea,,/,YES,;MixedCase,smallint,,16/0,YES,"},
      // Values the usual tools get wrong: four decimals of Currency, the milliseconds, the GUID.
      {"pg", "SELECT \"select\", \"Price €\"::text, \"Amount\"::text, \"When\"::text, \"Flag\"::text, \"Tag\"::text, "
             "encode(\"Blob\", 'hex') FROM \"Order Details ä\" WHERE \"ID\" = 3",
       "it's \"row\"\t2,37037.0368,-1234.569,2023-03-17 12:00:00.123,true,35241302-5746-7968-8a9b-acbdcedff001,000102025c"},
      {lite, "SELECT \"select\", \"Price €\", \"Amount\", \"When\", \"Flag\", \"Tag\", hex(\"Blob\"), typeof(\"Ratio\") FROM "
             "\"Order Details ä\" WHERE \"ID\" = 3",
       "it's \"row\"\t2,37037.0368,-1234.569,2023-03-17 12:00:00.123,1,35241302-5746-7968-8a9b-acbdcedff001,000102025C,real"},
      // The key, and the index with its column order and directions.
      {"pg", "SELECT count(*) FROM pg_index i JOIN pg_class c ON c.oid = i.indrelid WHERE c.relname = 'Order Details ä' AND i.indisprimary", "1"},
      {"pg", "SELECT indexdef FROM pg_indexes WHERE tablename = 'Order Details ä' AND indexdef LIKE '%When%'",
       "CREATE INDEX \"Order Details ä_By When\" ON public.\"Order Details ä\" USING btree (\"When\" DESC, \"select\")"},
      {lite, "SELECT count(*) FROM sqlite_master WHERE (type = 'index' AND sql LIKE '%(\"When\" DESC, \"select\")%') OR "
             "(name = 'Order Details ä' AND sql LIKE '%\"ID\" INTEGER PRIMARY KEY%')", "2"},
      // The next auto-number follows the highest value kept (4; row 5 was deleted in the source).
      {"pg", "INSERT INTO \"Order Details ä\" (\"Flag\") VALUES (true) RETURNING \"ID\"", "5"},
      {lite, "INSERT INTO \"Order Details ä\" (\"Flag\") VALUES (1) RETURNING \"ID\"", "5"},
      // Relationships with enforced integrity: cascade rules and all; a cascade works.
      {"pg", "SELECT tc.constraint_name, tc.table_name, rc.update_rule, rc.delete_rule FROM information_schema.table_constraints tc "
             "JOIN information_schema.referential_constraints rc ON rc.constraint_name = tc.constraint_name AND "
             "rc.constraint_schema = tc.constraint_schema WHERE tc.table_schema = 'rel' ORDER BY 1",
       "Table2Table1,Table1,NO ACTION,CASCADE;Table3Table1,Table1,CASCADE,NO ACTION"},
      {"pg", "SELECT count(*) FROM pg_index i JOIN pg_class c ON c.oid = i.indrelid JOIN pg_namespace n ON n.oid = c.relnamespace "
             "WHERE n.nspname = 'rel' AND i.indisprimary", "3"},
      {"pg", "DELETE FROM rel.\"Table2\" WHERE id = 1", ""}, {"pg", "SELECT count(*) FROM rel.\"Table1\"", "2"},  // of 4
      {relLite, "SELECT \"table\", on_update, on_delete FROM pragma_foreign_key_list('Table1') ORDER BY 1",
       "Table2,NO ACTION,CASCADE;Table3,CASCADE,NO ACTION"},
      {"pg", "SELECT string_agg(table_name, ',' ORDER BY table_name) FROM information_schema.tables WHERE table_schema = 'some'", "Table1,Table2"},
      {"pg", "SELECT string_agg(constraint_name, ',') FROM information_schema.referential_constraints WHERE constraint_schema = 'some'",
       "Table2Table1"},
  };
  for (const auto& c : checks) {
    std::string got;
    for (const auto& row : c.db == "pg" ? pg.query(c.sql) : query(c.db, c.sql)) {
      got += got.empty() ? "" : ";";
      for (size_t i = 0; i < row.size(); ++i) got += (i ? "," : "") + row[i];
    }
    EXPECT_EQ(got, c.rows) << c.sql;
  }
}

TEST_F(Migrate, ASecondRunIsRefusedAndAFailureInMidLoadLeavesNothingBehind) {
  PostgresServer pg;
  ASSERT_TRUE(pg.running());
  const std::string file = std::string(TABULONIX_TESTDATA_DIR) + "/compIndexTestV2000.mdb";
  const std::string other = std::string(TABULONIX_TESTDATA_DIR) + "/testV2000.mdb";

  ASSERT_EQ(clitest::run({"migrate", file, pg.uri(), "--schema", "once", "--quiet"}).rc, 0);
  const std::string tables = "SELECT count(*) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                             "WHERE n.nspname = 'once'";
  const std::string count = pg.one(tables);
  auto again = clitest::run({"migrate", file, pg.uri(), "--schema", "once"});
  EXPECT_EQ(again.rc, 1);
  EXPECT_NE(again.err.find("already holds a table"), std::string::npos) << again.err;
  EXPECT_EQ(pg.one(tables), count);
  EXPECT_EQ(pg.one("SELECT count(*) FROM once.\"Table1\""), "512");

  // A schema holding only one of the tables refuses the whole migration: nothing else is made.
  pg.query("CREATE SCHEMA part");
  pg.query("CREATE TABLE part.\"Table2\" (x int)");
  auto partial = clitest::run({"migrate", other, pg.uri(), "--schema", "part"});
  EXPECT_EQ(partial.rc, 1);
  EXPECT_EQ(pg.one("SELECT count(*) FROM pg_tables WHERE schemaname = 'part'"), "1");

  const std::string lite = path("once.sqlite");
  ASSERT_EQ(clitest::run({"migrate", file, "sqlite:" + lite, "--quiet"}).rc, 0);
  const auto size = fs::file_size(lite);
  const auto time = fs::last_write_time(lite);
  auto liteAgain = clitest::run({"migrate", other, "sqlite:" + lite});
  EXPECT_EQ(liteAgain.rc, 1);
  EXPECT_NE(liteAgain.err.find("exists already"), std::string::npos) << liteAgain.err;
  EXPECT_EQ(fs::file_size(lite), size);
  EXPECT_EQ(fs::last_write_time(lite), time);

  // A fault in the middle of the second table's rows: no schema, no table, no file, no leftovers.
  migrate::faultHook = [](const std::string&, int64_t row) {
    if (row == 300) throw std::runtime_error("injected fault");
  };
  auto broken = clitest::run({"migrate", file, pg.uri(), "--schema", "broken"});
  EXPECT_EQ(broken.rc, 1);
  EXPECT_NE(broken.err.find("injected fault"), std::string::npos);
  EXPECT_EQ(pg.one("SELECT count(*) FROM pg_namespace WHERE nspname = 'broken'"), "0");
  const std::string brokenLite = path("broken.sqlite");
  EXPECT_EQ(clitest::run({"migrate", file, "sqlite:" + brokenLite}).rc, 1);
  EXPECT_FALSE(fs::exists(brokenLite));
  for (const auto& e : fs::directory_iterator(dir_.path()))
    EXPECT_EQ(e.path().filename().string().find("broken"), std::string::npos) << e.path();
}

TEST_F(Migrate, RefusalsAreClearAndNameWhatWasRefused) {
  PostgresServer pg;
  ASSERT_TRUE(pg.running());
  const std::string file = std::string(TABULONIX_TESTDATA_DIR) + "/testV2000.mdb", bad = path("bad.mdb"), longName = path("long.mdb");
  {
    // Values a target cannot hold: a NUL in a text (PostgreSQL), a date past year 9999 (SQLite).
    auto db = jet::Database::create(bad);
    db->createTable({"Bad", {{"Note", jet::ColumnType::Text, 50, false, false, true}, {"Day", jet::ColumnType::DateTime}}, {}});
    db->insertRow("Bad", {std::string("fine"), jet::DateTime{40000}});
    db->insertRow("Bad", {std::string("nul\0inside", 10), jet::DateTime{40000}});
    db->insertRow("Bad", {std::string("fine"), jet::DateTime{4e6}});
    db->close();
    // A name PostgreSQL would cut short (32 characters, 64 bytes); SQLite takes it.
    std::string name;
    for (int i = 0; i < 32; ++i) name += "ä";
    db = jet::Database::create(longName);
    db->createTable({name, {{"x", jet::ColumnType::Long}}, {}});
    db->close();
  }
  const struct {
    std::vector<std::string> args;
    int rc;
    const char* inError;
  } cases[] = {
      {{file, "postgresql://postgres@/postgres?host=" + path("nowhere")}, 1, "cannot connect"},
      {{file, pg.uri("pwuser:wrong")}, 1, "password authentication failed"},
      {{file, pg.uri("pwuser:secret"), "--schema", "pw", "--quiet"}, 0, ""},
      {{std::string(TABULONIX_TESTDATA_DIR) + "/more/passwordV2000.mdb", "sqlite:" + path("locked.sqlite"), "--password", "nope"}, 1, "password"},
      {{file, pg.uri(), "--tables", "Table1,NoSuchTable"}, 1, "NoSuchTable"},
      {{bad, pg.uri(), "--schema", "bad"}, 1, "table Bad, row 2, column Note"},
      {{longName, pg.uri(), "--schema", "long"}, 1, "63 bytes"},
      {{longName, "sqlite:" + path("long.sqlite"), "--quiet"}, 0, ""},
      {{bad, "sqlite:" + path("bad.sqlite")}, 1, "table Bad, row 3, column Day"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"migrate"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto r = clitest::run(args);
    EXPECT_EQ(r.rc, c.rc) << c.args[1] << ": " << r.err;
    EXPECT_NE(r.err.find(c.inError), std::string::npos) << r.err;
  }
  // Nothing of a refused migration stays behind.
  EXPECT_EQ(pg.one("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"), "0");
  EXPECT_EQ(pg.one("SELECT count(*) FROM pg_namespace WHERE nspname IN ('bad', 'long')"), "0");
}

TEST(MigrateValues, VerificationTellsValuesApart) {
  const jet::ColumnInfo single{.type = jet::ColumnType::Single}, date{.type = jet::ColumnType::DateTime};
  EXPECT_TRUE(migrate::sameValue(migrate::Dialect::Postgres, single, jet::Value(0.1f), std::string("0.1")));
  EXPECT_FALSE(migrate::sameValue(migrate::Dialect::Postgres, single, jet::Value(0.1f), std::string("0.2")));
  EXPECT_FALSE(migrate::sameValue(migrate::Dialect::Sqlite, single, jet::Value(jet::Null{}), std::string("0")));
  // PostgreSQL drops the fraction's trailing zeros; SQLite keeps three digits.
  const jet::Value noon = jet::DateTime{45000.5 + 0.12 / 86400.0};
  EXPECT_TRUE(migrate::sameValue(migrate::Dialect::Postgres, date, noon, std::string("2023-03-15 12:00:00.12")));
  EXPECT_TRUE(migrate::sameValue(migrate::Dialect::Sqlite, date, noon, std::string("2023-03-15 12:00:00.120")));
  EXPECT_FALSE(migrate::sameValue(migrate::Dialect::Sqlite, date, noon, std::string("2023-03-15 12:00:00")));
  EXPECT_EQ(migrate::exactDecimal(jet::Decimal{.negative = true, .scale = 2}), "0.00");
}

}  // namespace
