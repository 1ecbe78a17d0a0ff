// The command-line tool on real databases: its read commands' output, exit codes and messages,
// and the write commands on copies in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/commands.h"
#include "cli/support/in_process.h"
#include "jet/database.h"
#include "support/files.h"

namespace fs = std::filesystem;

namespace {

using clitest::lines;
using clitest::Result;
using clitest::run;

using testsupport::testdata;
using TempDir = testsupport::TempDir;

}  // namespace

TEST(CliRead, ExportsLargeNumbersAndExtendedDatesCanonically) {
  TempDir dir;
  const std::string file = dir.copy("ace/empty2019.accdb");
  {
    auto db = jet::Database::open(file);
    db->createTable({"T", {{"N", jet::ColumnType::BigInt}, {"D", jet::ColumnType::DateTimeExtended}}, {}});
    db->insertRow("T", {int64_t(9223372036854775807), jet::DateTimeExtended{737955, 3661, 1234567}});
    db->insertRow("T", {int64_t(-1), jet::Null{}});
  }
  Result r = run({"export", file, "T", "--format", "jsonl"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(lines(r.out), (std::vector<std::string>{R"({"N":9223372036854775807,"D":"2021-06-15T01:01:01.1234567"})",
                                                    R"({"N":-1,"D":null})"}));
  r = run({"export", file, "T", "--format", "csv"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(lines(r.out), (std::vector<std::string>{"N,D", "9223372036854775807,2021-06-15 01:01:01.1234567", "-1,"}));
  r = run({"columns", file, "T"});
  EXPECT_EQ(lines(r.out), (std::vector<std::string>{"N\t16\t8\t1", "D\t26\t42\t1"}));
  // What the export writes imports back as the same values.
  r = run({"import", file, "T", "--format", "jsonl"}, lines(run({"export", file, "T", "--format", "jsonl"}).out)[0] + "\n");
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(lines(run({"export", file, "T", "--format", "jsonl"}).out).back(),
            R"({"N":9223372036854775807,"D":"2021-06-15T01:01:01.1234567"})");
}

TEST(CliRead, InfoNamesFormatAndRowCounts) {
  Result r = run({"info", testdata("testV1997.mdb")});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("format\tJet 3\n"), std::string::npos);
  EXPECT_NE(r.out.find("page size\t2048\n"), std::string::npos);
  EXPECT_NE(r.out.find("table\tTable1\t"), std::string::npos);
  r = run({"info", testdata("ace/testV2007.accdb")});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("format\tAccess 2007\nversion\t12.0\npage size\t4096\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("table\tTable1\t2 rows\n"), std::string::npos) << r.out;
  r = run({"info", testdata("ace/empty2019.accdb")});
  EXPECT_NE(r.out.find("format\tAccess 2019\nversion\t17.0\n"), std::string::npos) << r.out;
  r = run({"info", testdata("generated/big200kV2000.mdb")});
  EXPECT_NE(r.out.find("table\tBig\t200000 rows\n"), std::string::npos) << r.out;
}

// Every command that opens a database takes its password: without it the command fails with 3031
// and says why, with it the command works; a compacted copy keeps the password (an encrypted
// .accdb, Access 2010's own file, its encryption under the same password).
TEST(CliPassword, EveryCommandTakesTheDatabasePassword) {
  const struct {
    const char* name;
    const char* refusal;
    bool writable;
  } files[] = {{"more/passwordV2000.mdb", "(error 3031)", true},
               {"ace/passwordV2010.accdb", "The database 'passwordV2010.accdb' is encrypted and needs its password. (error 3031)", false}};
  for (const auto& f : files) {
    TempDir dir;
    const std::string db = dir.copy(f.name), copy = dir.file("compacted" + fs::path(f.name).extension().string());
    std::vector<std::pair<std::vector<std::string>, std::string>> commands = {
        {{"tables", db}, ""}, {{"columns", db, "Table1"}, ""}, {{"export", db, "Table1"}, ""}, {{"info", db}, ""}};
    if (f.writable)
      commands.insert(commands.end(), {{{"check", db}, ""},
                                       {{"import", db, "Table1", "--format", "jsonl"}, "{\"ID\": 100, \"Data\": \"typed\"}\n"},
                                       {{"update", db, "Table1", "1"}, "{\"Data\": \"changed\"}\n"},
                                       {{"delete", db, "Table1", "1"}, ""},
                                       {{"create-table", db, "Added", "A:Long"}, ""},
                                       {{"rename-table", db, "Added", "Renamed"}, ""},
                                       {{"drop-table", db, "Renamed"}, ""}});
    commands.push_back({{"compact", db, copy}, ""});
    for (const auto& [args, input] : commands) {
      Result refused = run(args, input);
      EXPECT_EQ(refused.rc, 1) << args[0];
      EXPECT_NE(refused.err.find(f.refusal), std::string::npos) << args[0] << ": " << refused.err;
      std::vector<std::string> with = args;
      with.insert(with.end(), {"--password", "password"});
      Result r = run(with, input);
      EXPECT_EQ(r.rc, 0) << args[0] << ": " << r.err;
    }
    EXPECT_NE(run({"tables", copy}).err.find(f.writable ? "3031" : "is encrypted and needs its password"), std::string::npos)
        << "the copy keeps the password";
    EXPECT_EQ(run({"check", copy, "--password", "password"}).out, "ok\n");
    EXPECT_EQ(run({"export", copy, "Table1", "--password", "password"}).out,
              run({"export", db, "Table1", "--password", "password"}).out);
  }
  TempDir dir;
  const std::string encrypted = dir.copy("ace/passwordV2010.accdb");
  EXPECT_NE(run({"tables", encrypted, "--password", "Password"}).err.find("Not a valid password. (error 3031)"), std::string::npos);
  EXPECT_EQ(run({"export", encrypted, "Table1", "--password", "password"}).out, "ID,Data\n1,One\n2,Two\n3,Three\n");
  // A new database cannot be protected yet: asking for it is refused, and no file is made.
  const std::string fresh = dir.file("fresh.mdb");
  EXPECT_EQ(run({"create", fresh, "--password", "secret"}).rc, 2);
  EXPECT_FALSE(fs::exists(fresh));
}
