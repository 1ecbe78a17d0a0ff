// The tool's own help: the usage, each command's help with its example, the version, and the
// answers to command lines that do not say what to do.
#include <gtest/gtest.h>
#include <tabulonix_version.h>

#include "cli/command.h"
#include "cli/support/in_process.h"
#include "support/files.h"

namespace {

using clitest::run;

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(CliHelp, UsageAndVersionGoToStandardOutput) {
  const struct {
    std::vector<std::string> args;
    std::string inOut;
  } cases[] = {
      {{"--help"}, "Commands:"}, {{"-h"}, "Commands:"}, {{"help"}, "Commands:"},
      {{"--version"}, std::string("tabulonix-cli ") + TABULONIX_VERSION + "\n"},
      {{"export", "--help"}, "Example:\n  tabulonix-cli export "},
      {{"help", "migrate"}, "Example:\n  tabulonix-cli migrate "},
  };
  for (const auto& c : cases) {
    const clitest::Result r = run(c.args);
    EXPECT_EQ(r.rc, 0) << c.args[0];
    EXPECT_TRUE(has(r.out, c.inOut)) << r.out;
    EXPECT_EQ(r.err, "");
  }
  // Every command of the table is in the usage and has an example that runs it.
  const std::string usage = run({"--help"}).out;
  for (const cli::Command& c : cli::commands()) {
    EXPECT_TRUE(has(usage, std::string("\n  ") + c.name + " ")) << c.name;
    EXPECT_TRUE(has(c.example, std::string("tabulonix-cli ") + c.name + " ")) << c.name;
    EXPECT_TRUE(has(run({"help", c.name}).out, c.example)) << c.name;
  }
}

TEST(CliHelp, CommandLinesThatSayNothingRunnableAreUsageErrors) {
  const struct {
    std::vector<std::string> args;
    std::string inErr;
  } cases[] = {
      {{}, "no command"},
      {{"frobnicate", "x.mdb"}, "unknown command frobnicate"},
      {{"help", "frobnicate"}, "no command frobnicate"},
      {{"tables", "x.mdb", "--bogus"}, "unknown option --bogus"},
      {{"tables", "x.mdb", "--verify=yes"}, "--verify takes no value"},
      {{"export", "x.mdb", "T", "--format"}, "--format needs a value"},
      {{"create-table", "x.mdb", "T", "A:Lng"}, "unknown field type Lng"},
  };
  for (const auto& c : cases) {
    const clitest::Result r = run(c.args);
    EXPECT_EQ(r.rc, 2);
    EXPECT_TRUE(has(r.err, c.inErr)) << r.err;
    EXPECT_TRUE(has(r.err, "usage: tabulonix-cli")) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

// Type names are taken in any case; a refused table is reported once, by its first error.
TEST(CliHelp, CreateTableTypesInAnyCaseAndOneErrorPerFailure) {
  testsupport::TempDir folder;
  const std::string db = folder.file("t.mdb");
  ASSERT_EQ(run({"create", db}).rc, 0);
  ASSERT_EQ(run({"create-table", db, "T", "A:long", "B:TEXT:20", "C:date/time", "D:guid"}).rc, 0);
  EXPECT_EQ(clitest::lines(run({"columns", db, "T"}).out),
            (std::vector<std::string>{"A\t4\t4\t1", "B\t10\t20\t2", "C\t8\t8\t1", "D\t15\t16\t1"}));
  for (const auto& field : {"A:Long", "A:Text:300", "A:Memo::auto"}) {
    const clitest::Result r = run({"create-table", db, field[2] == 'L' ? "T" : "U", field});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(clitest::lines(r.err).size(), 1u) << r.err;
  }
  const std::string help = run({"help", "create-table"}).out;
  for (const std::string& type : cli::createTableTypeNames()) EXPECT_TRUE(has(help, type)) << type;
}

}  // namespace
