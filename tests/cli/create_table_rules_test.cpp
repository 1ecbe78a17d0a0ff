// A table made on the command line with default values, field and table rules and a calculated
// field: imports leave out fields and take their defaults, rows that break a rule are refused with
// its message, the calculated field follows its expression, and a rule the engine cannot read is
// refused when the table is made.
#include <gtest/gtest.h>

#include "cli/support/in_process.h"
#include "support/files.h"

namespace {

TEST(CreateTableRules, DefaultsRulesAndCalculatedFieldsHoldOnImport) {
  testsupport::TempDir dir;
  const std::string db = dir.file("rules.accdb");
  ASSERT_EQ(clitest::run({"create", db, "--format", "accdb2010"}).rc, 0);
  const clitest::Result made =
      clitest::run({"create-table", db, "Lines", "Qty:Long", "Price:Currency", "Total:Currency", "Note:Text:20",
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
    const clitest::Result r = clitest::run({"import", db, "Lines"}, k.rows);
    EXPECT_EQ(r.rc, k.rc) << k.rows << r.err;
    EXPECT_NE(r.err.find(k.error), std::string::npos) << r.err;
  }
  EXPECT_EQ(clitest::lines(clitest::run({"export", db, "Lines"}).out),
            (std::vector<std::string>{"Qty,Price,Total,Note", "1,2.5,2.5,none", "3,4,12,"}));
  EXPECT_EQ(clitest::run({"check", db}).out, "ok\n");

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
    const clitest::Result r = clitest::run(args);
    EXPECT_EQ(r.rc, k.rc) << k.options[0] << r.err;
    EXPECT_NE(r.err.find(k.error), std::string::npos) << r.err;
  }
  EXPECT_EQ(clitest::run({"tables", db}).out, "Lines\n");
}

}  // namespace
