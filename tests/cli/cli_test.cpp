// The command-line tool in this process on real databases: its read commands' output, the
// password, the help and usage errors, tables made with rules and defaults, and repair.
#include <gtest/gtest.h>
#include <tabulonix_version.h>

#include "cli/command.h"
#include "cli/support/in_process.h"

namespace fs = std::filesystem;

namespace {

using clitest::lines;
using clitest::Result;
using clitest::run;

using testsupport::testdata;
using TempDir = testsupport::TempDir;

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(CliRead, InfoNamesFormatAndRowCounts) {
  const std::pair<const char*, const char*> cases[] = {
      {"testV1997.mdb", "format\tJet 3\nversion\t3.0\npage size\t2048\n"}, {"testV1997.mdb", "table\tTable1\t"},
      {"testV2000.mdb", "version\t4.0\n"}, {"ace/empty2010.accdb", "version\t14.0\n"}, {"ace/empty2016.accdb", "version\t16.0\n"},
      {"ace/testV2007.accdb", "format\tAccess 2007\nversion\t12.0\npage size\t4096\n"},
      {"ace/testV2007.accdb", "table\tTable1\t2 rows\n"}, {"ace/empty2019.accdb", "format\tAccess 2019\nversion\t17.0\n"},
      {"generated/big200kV2000.mdb", "table\tBig\t200000 rows\n"}};
  for (const auto& [file, part] : cases) {
    const Result r = run({"info", testdata(file)});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_TRUE(has(r.out, part)) << r.out;
  }
}

// Every command that opens a database takes its password: without it the command fails with 3031
// and says why, with it the command works (an encrypted .accdb, Access 2010's own file, too). That
// a compacted copy keeps the password: the engine's compaction tests.
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

// The tool's own help: the usage, each command's help with its example, the version; command lines
// that do not say what to do are usage errors (status 2, the usage on standard error).
TEST(CliHelp, UsageVersionAndCommandLinesThatSayNothingRunnable) {
  const struct {
    std::vector<std::string> args;
    std::string inOut, inErr;  // inErr empty: status 0, nothing on standard error
  } cases[] = {
      {{"--help"}, "Commands:", ""}, {{"-h"}, "Commands:", ""}, {{"help"}, "Commands:", ""},
      {{"--version"}, std::string("tabulonix-cli ") + TABULONIX_VERSION + "\n", ""},
      {{"export", "--help"}, "Example:\n  tabulonix-cli export ", ""},
      {{"help", "migrate"}, "Example:\n  tabulonix-cli migrate ", ""},
      {{}, "", "no command"},
      {{"frobnicate", "x.mdb"}, "", "unknown command frobnicate"},
      {{"help", "frobnicate"}, "", "no command frobnicate"},
      {{"tables", "x.mdb", "--bogus"}, "", "unknown option --bogus"},
      {{"tables", "x.mdb", "--verify=yes"}, "", "--verify takes no value"},
      {{"export", "x.mdb", "T", "--format"}, "", "--format needs a value"},  // (field types: the write commands' tests)
  };
  for (const auto& c : cases) {
    const Result r = run(c.args);
    EXPECT_EQ(r.rc, c.inErr.empty() ? 0 : 2) << c.inOut << c.inErr;
    EXPECT_TRUE(has(r.out, c.inOut) && (c.inErr.empty() || r.out.empty())) << r.out;
    EXPECT_TRUE(c.inErr.empty() ? r.err.empty() : has(r.err, c.inErr) && has(r.err, "usage: tabulonix-cli")) << r.err;
  }
  // Every command of the table is in the usage and has an example that runs it.
  const std::string usage = run({"--help"}).out;
  for (const cli::Command& c : cli::commands()) {
    EXPECT_TRUE(has(usage, std::string("\n  ") + c.name + " ")) << c.name;
    EXPECT_TRUE(has(c.example, std::string("tabulonix-cli ") + c.name + " ")) << c.name;
    EXPECT_TRUE(has(run({"help", c.name}).out, c.example)) << c.name;
  }
  const std::string help = run({"help", "create-table"}).out;
  for (const std::string& type : cli::createTableTypeNames()) EXPECT_TRUE(has(help, type)) << type;
}

// A table made on the command line with default values, field and table rules and a calculated
// field: imports leave out fields and take their defaults, rows that break a rule are refused with
// its message, the calculated field follows its expression, and a rule the engine cannot read is
// refused when the table is made.
TEST(CreateTableRules, DefaultsRulesAndCalculatedFieldsHoldOnImport) {
  TempDir dir;
  const std::string db = dir.file("rules.accdb");
  ASSERT_EQ(run({"create", db, "--format", "accdb2010"}).rc, 0);
  const Result made =
      run({"create-table", db, "Lines", "Qty:Long", "Price:Currency", "Total:Currency", "Note:Text:20",
                    "--default", "Qty=1", "--default", "Note=\"none\"", "--rule", "Qty=>0 And <1000", "--rule-text",
                    "Qty=Between 1 and 999", "--calculated", "Total=[Qty]*[Price]", "--table-rule", "[Price]<100"});
  ASSERT_EQ(made.rc, 0) << made.err;
  struct Case {
    const char* rows;
    int rc;
    const char* error;
  };
  const Case cases[] = {
      {"{\"Price\":2.5}\n{\"Qty\":3,\"Price\":4,\"Note\":null}\n", 0, ""},
      {"{\"Qty\":0,\"Price\":1}\n", 1, "Between 1 and 999 (error 3316)"},
      {"{\"Qty\":5,\"Price\":200}\n", 1, "validation rule '[Price]<100' set for 'Lines'"},
  };
  for (const Case& k : cases) {
    const Result r = run({"import", db, "Lines"}, k.rows);
    EXPECT_EQ(r.rc, k.rc) << k.rows << r.err;
    EXPECT_NE(r.err.find(k.error), std::string::npos) << r.err;
  }
  EXPECT_EQ(lines(run({"export", db, "Lines"}).out),
            (std::vector<std::string>{"Qty,Price,Total,Note", "1,2.5,2.5,none", "3,4,12,"}));
  EXPECT_EQ(run({"check", db}).out, "ok\n");

  struct Refused {
    std::vector<std::string> options;
    int rc;
    const char* error;
  };
  const Refused refused[] = {
      {{"--rule", "B=1"}, 2, "names no field of the table: B"},
      {{"--default", "A"}, 2, "must be FIELD=VALUE"},
      {{"--rule", "A=>>"}, 1, "(error 3075)"},
      {{"--table-rule", "[B]>1"}, 1, "(error 3070)"},
  };
  for (const Refused& k : refused) {
    std::vector<std::string> args = {"create-table", db, "Bad", "A:Long"};
    args.insert(args.end(), k.options.begin(), k.options.end());
    const Result r = run(args);
    EXPECT_EQ(r.rc, k.rc) << k.options[0] << r.err;
    EXPECT_NE(r.err.find(k.error), std::string::npos) << r.err;
  }
  EXPECT_EQ(run({"tables", db}).out, "Lines\n");
}

// A copy of a test file with every index page zeroed.
static std::string withoutIndexes(const TempDir& dir, const std::string& name) {
  std::vector<uint8_t> bytes = testsupport::readFile(testsupport::testdata(name));
  const size_t page = bytes[0x14] == 0 ? 2048 : 4096;
  for (size_t at = 3 * page; at + page <= bytes.size(); at += page)
    if (bytes[at] == 0x03 || bytes[at] == 0x04) std::fill(bytes.begin() + long(at), bytes.begin() + long(at + page), 0);
  testsupport::writeFile(dir.file("damaged.mdb"), bytes);
  return dir.file("damaged.mdb");
}

// tabulonix-cli repair: the report on stdout, the exit codes, and a copy that the check passes;
// a file with nothing to recover is an error and writes nothing.
TEST(RepairCommand, ReportsEachTableAndATotalAndWritesNothingWhenNothingIsLeft) {
  TempDir dir;
  const std::string src = withoutIndexes(dir, "compIndexTestV2000.mdb"), out = dir.file("out.mdb");
  const Result r = run({"repair", src, out});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("Table1: 512 rows recovered, 0 rows lost, 0 long values lost, 0 pages skipped\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\nTotal: "), std::string::npos) << r.out;
  EXPECT_EQ(run({"check", out}).out, "ok\n");
  // The source is only read; an existing destination is refused.
  const Result again = run({"repair", src, out});
  EXPECT_EQ(again.rc, 1);
  EXPECT_NE(again.err.find("Database already exists."), std::string::npos) << again.err;

  std::ofstream(dir.file("junk.mdb"), std::ios::binary) << std::string(9000, 'x');
  const Result junk = run({"repair", dir.file("junk.mdb"), dir.file("none.mdb")});
  EXPECT_EQ(junk.rc, 1);
  EXPECT_NE(junk.err.find("Unrecognized database format"), std::string::npos) << junk.err;
  EXPECT_FALSE(fs::exists(dir.file("none.mdb")));
  EXPECT_EQ(run({"repair", dir.file("junk.mdb")}).rc, 2);
}
