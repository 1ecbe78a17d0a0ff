// The write commands of the command-line tool, run as a user runs them (in this process; the built
// program itself: the main window's tests): on files in a temporary folder, rows on standard input,
// results read back through the tool's own export and through mdbtools.
#include <gtest/gtest.h>

#include "cli/support/in_process.h"

namespace fs = std::filesystem;

namespace {

using clitest::lines;
using clitest::Result;
using testsupport::quote;

std::string slurp(const std::string& p) { return testsupport::readText(p); }

class Workspace : public ::testing::Test {
 protected:
  std::string file(const std::string& name) const { return folder_.file(name); }

  Result cli(const std::vector<std::string>& args, const std::string& input = "") const { return clitest::run(args, input); }
  std::vector<std::string> exported(const std::string& db, const std::string& table,
                                    const std::string& format = "csv") const {
    Result r = cli({"export", db, table, "--format", format});
    EXPECT_EQ(r.rc, 0) << r.err;
    return lines(r.out);
  }
  void expectCheckPasses(const std::string& db) const {
    Result r = cli({"check", db});
    EXPECT_EQ(r.rc, 0) << r.out;
    EXPECT_EQ(r.out, "ok\n");
  }

  testsupport::TempDir folder_;
};

std::vector<std::string> createTableArgs(const std::string& db) {
  return {"create-table", db, "Items", "ID:Long::auto", "Name:Text:40:allowzero", "Notes:Memo", "Price:Currency",
          "When:Date/Time", "Ok:Boolean", "N:Byte", "I:Integer", "S:Single", "D:Double"};
}

}  // namespace

TEST_F(Workspace, CreateTableWithEveryTypeSizeAndFlag) {
  std::string db = file("t.mdb");
  ASSERT_EQ(cli({"create", db, "--format", "jet4"}).rc, 0);
  Result r = cli(createTableArgs(db));
  ASSERT_EQ(r.rc, 0) << r.err;
  r = cli({"create-table", db, "People", "Code:TEXT:8:required", "Pic:ole", "G:guid", "C:date/time"});  // in any case
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(lines(cli({"columns", db, "People"}).out), (std::vector<std::string>{"Code\t10\t8\t2", "Pic\t11\t0\t2", "G\t15\t16\t1", "C\t8\t8\t1"}));
  r = cli({"columns", db, "Items"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(lines(r.out), (std::vector<std::string>{"ID\t4\t4\t17", "Name\t10\t40\t2", "Notes\t12\t0\t2",
                                                    "Price\t5\t8\t1", "When\t8\t8\t1", "Ok\t1\t1\t1", "N\t2\t1\t1",
                                                    "I\t3\t2\t1", "S\t6\t4\t1", "D\t7\t8\t1"}));
  EXPECT_EQ(lines(cli({"tables", db}).out), (std::vector<std::string>{"Items", "People"}));
  if (testsupport::haveProgram("mdb-schema")) {
    std::string schema = testsupport::run("mdb-schema " + quote(db) + " 2>/dev/null").out;
    EXPECT_NE(schema.find("[Name]\t\t\tText (40)"), std::string::npos) << schema;
    EXPECT_NE(schema.find("[Code]\t\t\tText (8) NOT NULL"), std::string::npos) << schema;
    EXPECT_NE(schema.find("[When]\t\t\tDateTime"), std::string::npos) << schema;
  }
  // Required and allow-zero-length reach the rows written later.
  r = cli({"import", db, "People"}, "{\"Pic\":\"0x00ff\"}\n");
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("line 1:"), std::string::npos) << r.err;
  r = cli({"import", db, "People"}, "{\"Code\":\"\"}\n");
  EXPECT_EQ(r.rc, 1) << "Code does not allow a zero-length string";
  // Every type goes in from JSON and comes out as it went in (the zero-length name too).
  for (const auto& [table, row] :
       {std::pair<std::string, std::string>{"Items", "{\"ID\":1,\"Name\":\"\",\"Notes\":\"a\\nb\",\"Price\":\"-12.3400\",\"When\":"
                                            "\"2024-02-29T13:45:00\",\"Ok\":true,\"N\":200,\"I\":-1234,\"S\":0.25,\"D\":3.14159}\n"},
        {"People", "{\"Code\":\"x\",\"Pic\":\"00ff\",\"G\":\"{8E39276A-BCA8-4AC4-891E-49911D8438DD}\",\"C\":\"1899-12-30T01:02:03\"}\n"}}) {
    EXPECT_EQ(cli({"import", db, table}, row).err, "");
    EXPECT_EQ(cli({"export", db, table, "--format", "jsonl"}).out, row);
  }
  expectCheckPasses(db);
}

TEST_F(Workspace, CreateTableRefusals) {
  std::string db = file("t.mdb");
  ASSERT_EQ(cli({"create", db, "--format", "jet3"}).rc, 0);
  ASSERT_EQ(cli({"create-table", db, "T", "A:Long"}).rc, 0);
  const std::string before = slurp(db);
  struct Case {
    std::vector<std::string> args;
    int rc;
    const char* inError;
  };
  const Case cases[] = {
      {{"create-table", db, "T", "A:Long"}, 1, "3010"},
      {{"create-table", db, "t", "A:Long"}, 1, "3010"},
      {{"create-table", db, "[bad]", "A:Long"}, 1, "3125"},
      {{"create-table", db, " lead", "A:Long"}, 1, "3125"},
      {{"create-table", db, "U", "A:Text::auto"}, 1, "3259"},
      {{"create-table", db, "U", "A:Long", "a:Text"}, 1, "A"},
      {{"create-table", db, "U", "A:Text:256"}, 1, "error"},
      {{"create-table", db, "U", "A:Date"}, 2, "Date"},  // the type list says Date/Time
      {{"create-table", db, "U", "A:Texts"}, 2, "Texts"},
      {{"create-table", db, "U", "A:Long::bogus"}, 2, "bogus"},
      {{"create-table", db, "U", "A"}, 2, "NAME:TYPE"},
      {{"create-table", db, "U"}, 2, "usage"},
      {{"create-table", db, "U", "A:Text:x"}, 2, "x"},
  };
  for (const Case& c : cases) {
    Result r = cli(c.args);
    EXPECT_EQ(r.rc, c.rc) << c.args.back() << ": " << r.err;
    EXPECT_NE(r.err.find(c.inError), std::string::npos) << r.err;
    if (c.rc == 1) EXPECT_EQ(lines(r.err).size(), 1u) << "one error, the first: " << r.err;
  }
  EXPECT_EQ(slurp(db), before) << "refused definitions must not change the file";
  EXPECT_EQ(lines(cli({"tables", db}).out), (std::vector<std::string>{"T"}));
}

// Large Number needs an Access 2016 file and Date/Time Extended an Access 2019 one; older files
// (.mdb included) refuse them with 3259 and a sentence naming both versions, and stay unchanged.
TEST_F(Workspace, NewerTypesOnlyInTheVersionsThatHaveThem) {
  const std::string mdb = folder_.copy("testV2000.mdb"), a2010 = folder_.copy("ace/empty2010.accdb"),
                    a2016 = folder_.copy("ace/empty2016.accdb"), a2019 = folder_.copy("ace/empty2019.accdb");
  struct Case {
    std::string db, type, inError;
  };
  const Case refused[] = {{mdb, "BigInt", "Access 2016"},
                          {a2010, "BigInt", "Access 2010"},
                          {mdb, "DateTimeExtended", "Access 2019"},
                          {a2016, "DateTimeExtended", "Access 2016"}};
  for (const Case& c : refused) {
    const std::string before = slurp(c.db);
    Result r = cli({"create-table", c.db, "N", "X:" + c.type});
    EXPECT_EQ(r.rc, 1) << c.db << " " << c.type;
    EXPECT_NE(r.err.find("3259"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.inError), std::string::npos) << r.err;
    EXPECT_EQ(slurp(c.db), before) << c.db;
  }
  ASSERT_EQ(cli({"create-table", a2016, "N", "ID:Long::auto", "X:BigInt"}).rc, 0);
  ASSERT_EQ(cli({"create-table", a2019, "N", "X:BigInt", "D:DateTimeExtended"}).rc, 0);
  EXPECT_EQ(cli({"columns", a2019, "N"}).out, "X\t16\t8\t1\nD\t26\t42\t1\n");
  // Both go in and come out exactly, in JSON and in CSV.
  const std::string rows = "{\"X\":-9007199254740993,\"D\":\"2021-06-15T01:01:01.1234567\"}\n{\"X\":9223372036854775807,\"D\":null}\n";
  Result in = cli({"import", a2019, "N", "--format", "jsonl"}, rows);
  EXPECT_EQ(in.rc, 0) << in.err;
  EXPECT_EQ(cli({"export", a2019, "N", "--format", "jsonl"}).out, rows);
  EXPECT_EQ(cli({"export", a2019, "N"}).out, "X,D\n-9007199254740993,2021-06-15 01:01:01.1234567\n9223372036854775807,\n");
  expectCheckPasses(a2016);
  expectCheckPasses(a2019);
}

// CSV as users write it (quotes, doubled quotes, a line break inside a value, empty and missing
// fields) goes in as the same rows. (Both formats' rows: the engine's tests and random operations.)
TEST_F(Workspace, ImportCsvReadsQuotedFieldsAndLineBreaks) {
  std::string db = file("t.mdb");
  ASSERT_EQ(cli({"create", db, "--format", "jet3"}).rc, 0);
  ASSERT_EQ(cli(createTableArgs(db)).rc, 0);
  // --no-sync leaves out only the forcing to the disk: the rows and the file are the same.
  Result r = cli({"import", db, "Items", "--format", "csv", "--no-sync"},
                 "Name,When,I,ID\r\n\"quoted, with \"\"quotes\"\"\",1999-12-31 23:59:59,7,99\r\n"
                 "\"two\nlines\",,,\r\n\"\",,,\r\n,,,\r\n");
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "4 rows imported\n");
  std::vector<std::string> rows = exported(db, "Items");
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[1], "1,\"quoted, with \"\"quotes\"\"\",,,1999-12-31 23:59:59,False,,7,,")
      << "an auto-number given in the input is the engine's to assign";
  EXPECT_EQ(rows[2], "2,\"two");
  EXPECT_EQ(rows[3], "lines\",,,,False,,,,");
  EXPECT_EQ(rows[4], "3,\"\",,,,False,,,,");
  EXPECT_EQ(rows[5], "4,,,,,False,,,,");
  expectCheckPasses(db);
  EXPECT_FALSE(fs::exists(db + "-journal")) << "the journal outlived the command";
}

TEST_F(Workspace, ImportStopsAtTheFirstRefusedRowKeepingTheRowsBefore) {
  std::string db = file("t.mdb");
  ASSERT_EQ(cli({"create", db}).rc, 0);
  ASSERT_EQ(cli({"create-table", db, "T", "K:Long", "Name:Text:5:required"}).rc, 0);
  ASSERT_EQ(cli({"create-table", db, "U", "ID:Long::auto", "Name:Text:5"}).rc, 0);
  struct Case {
    std::string format, input;
    int line;
    const char* why;
    int kept;
  };
  const Case cases[] = {
      {"jsonl", "{\"K\":1,\"Name\":\"a\"}\n{\"K\":2,\"Name\":\"toolong\"}\n{\"K\":3,\"Name\":\"c\"}\n", 2, "3163", 1},
      {"jsonl", "{\"K\":1,\"Name\":\"a\"}\n\n{\"K\":2}\n", 3, "3314", 1},
      {"jsonl", "{\"K\":\"x\",\"Name\":\"a\"}\n", 1, "3421", 0},
      {"jsonl", "{\"K\":1,\"Name\":\"a\"}\n{\"Nope\":1}\n", 2, "Nope", 1},
      {"jsonl", "{\"K\":1,\"Name\":\"a\"}\n{\"K\":1,\"Name\":\"a\"\n", 2, "", 1},
      {"jsonl", "{\"K\":99999999999,\"Name\":\"a\"}\n", 1, "", 0},
      {"csv", "K,Name\n1,a\n2,b\n\"3\",\"x\",extra\n", 4, "fields", 2},
      {"csv", "K,Name\n1,\"a\nb\"\n\"2\nx\",b\n", 4, "3421", 1},  // lines counted inside quotes
      {"csv", "K,Missing\n1,a\n", 1, "Missing", 0},
  };
  int total = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    Result r = cli({"import", db, "T", "--format", c.format}, c.input);
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("line " + std::to_string(c.line) + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(std::to_string(c.kept) + " rows imported before it"), std::string::npos) << r.err;
    total += c.kept;
    EXPECT_EQ(exported(db, "T", "jsonl").size(), static_cast<size_t>(total));
  }
  expectCheckPasses(db);
  EXPECT_EQ(cli({"import", db, "T", "--format", "xml"}).rc, 2);
  EXPECT_EQ(cli({"import", db, "NoSuch"}, "{}\n").rc, 1);
}

TEST_F(Workspace, UpdateAndDeleteByPosition) {
  std::string db = file("t.mdb");
  ASSERT_EQ(cli({"create", db, "--format", "jet4"}).rc, 0);
  ASSERT_EQ(cli({"create-table", db, "T", "ID:Long::auto", "Name:Text:20", "Notes:Memo", "V:Double"}).rc, 0);
  std::string input;
  for (int i = 0; i < 10; ++i) input += "{\"Name\":\"r" + std::to_string(i) + "\",\"V\":" + std::to_string(i) + "}\n";
  ASSERT_EQ(cli({"import", db, "T"}, input).rc, 0);

  std::string big(9000, 'x');
  Result r = cli({"update", db, "T", "3"}, "{\"Name\":\"three\",\"Notes\":\"" + big + "\",\"V\":null}\n");
  ASSERT_EQ(r.rc, 0) << r.err;
  std::vector<std::string> rows = exported(db, "T");
  ASSERT_EQ(rows.size(), 11u);
  EXPECT_EQ(rows[4], "4,three," + big + ",");
  EXPECT_EQ(rows[3], "3,r2,,2") << "its neighbours are untouched";
  EXPECT_EQ(rows[5], "5,r4,,4");
  // Shrinking the memo again frees its pages; check confirms the usage maps.
  ASSERT_EQ(cli({"update", db, "T", "3"}, "{\"notes\":\"short\"}").rc, 0);
  EXPECT_EQ(exported(db, "T")[4], "4,three,short,");
  expectCheckPasses(db);

  const std::string unchanged = slurp(db);
  struct Refusal {
    std::vector<std::string> args;
    std::string input;
    int rc;
    const char* why;
  };
  const Refusal refusals[] = {
      {{"update", db, "T", "10"}, "{\"Name\":\"x\"}", 1, "3021"},
      {{"update", db, "T", "0"}, "{\"ID\":5}", 1, "3164"},
      {{"update", db, "T", "0"}, "{\"Name\":\"" + std::string(21, 'y') + "\"}", 1, "3163"},
      {{"update", db, "T", "0"}, "{\"V\":\"abc\"}", 1, "3421"},
      {{"update", db, "T", "0"}, "{\"Nope\":1}", 1, "Nope"},
      {{"update", db, "T", "0"}, "not json", 1, ""},
      {{"update", db, "T", "-1"}, "{}", 2, "position"},
      {{"update", db, "T"}, "{}", 2, "usage"},
      {{"delete", db, "T", "10"}, "", 1, "3021"},
      {{"delete", db, "T", "8", "10"}, "", 1, "3021"},
      {{"delete", db, "T", "5", "4"}, "", 2, "LAST"},
      {{"delete", db, "T", "x"}, "", 2, "position"},
      {{"delete", db, "T", "1", "2", "3"}, "", 2, "usage"},
      {{"delete", db, "Nope", "0"}, "", 1, "Nope"},
  };
  for (const Refusal& c : refusals) {
    Result rr = cli(c.args, c.input);
    EXPECT_EQ(rr.rc, c.rc) << c.args[1] << " " << c.args.back() << ": " << rr.err;
    EXPECT_NE(rr.err.find(c.why), std::string::npos) << rr.err;
  }
  EXPECT_EQ(slurp(db), unchanged) << "a refused update or delete must not change the file";

  // Positions are counted as before the command: 2..4 removes r2, three and r4.
  r = cli({"delete", db, "T", "2", "4"});
  ASSERT_EQ(r.rc, 0) << r.err;
  r = cli({"delete", db, "T", "0"});
  ASSERT_EQ(r.rc, 0) << r.err;
  rows = exported(db, "T");
  std::vector<std::string> expected = {"ID,Name,Notes,V", "2,r1,,1", "6,r5,,5", "7,r6,,6",
                                       "8,r7,,7", "9,r8,,8", "10,r9,,9"};
  EXPECT_EQ(rows, expected);
  expectCheckPasses(db);
  // A new row after deletions still takes the next auto-number.
  ASSERT_EQ(cli({"import", db, "T"}, "{\"Name\":\"new\"}\n").rc, 0);
  EXPECT_NE(exported(db, "T").back().find("11,new"), std::string::npos);
  ASSERT_EQ(cli({"delete", db, "T", "0", "6"}).rc, 0);
  EXPECT_EQ(exported(db, "T").size(), 1u);
  expectCheckPasses(db);
}
