// Exporting a table with complex columns: attachments, multiple values and version history in
// JSON lines, and names or values joined by ';' in CSV; importing and updating them from the same
// JSON.
#include <gtest/gtest.h>

#include "cli/format.h"
#include "cli/support/in_process.h"
#include "support/complex_fixture.h"

namespace {

class ComplexExport : public ::testing::Test {
 protected:
  void SetUp() override { complexfixture::build(path_); }
  testsupport::TempDir dir_;
  const std::string path_ = dir_.file("complex.mdb");
};

TEST_F(ComplexExport, JsonLinesGiveArraysOfValuesFilesAndVersionsCsvTheirNames) {
  clitest::Result r = clitest::run({"export", path_, "Items", "--format", "jsonl"});
  ASSERT_EQ(r.rc, 0) << r.err;
  const auto rows = clitest::lines(r.out);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0],
            "{\"name\":\"one\",\"tags\":[\"red\",\"green\"],"
            "\"files\":[{\"name\":\"a.txt\",\"type\":\"txt\",\"data\":\"68656c6c6f0a\"}],"
            "\"notes\":\"n1\",\"history\":[],\"scores\":[10,20]}");
  EXPECT_EQ(rows[1],
            "{\"name\":\"two\",\"tags\":[\"blue\"],"
            "\"files\":[{\"name\":\"b.bin\",\"type\":\"bin\",\"data\":\"00ff1080\"},"
            "{\"name\":\"c.txt\",\"type\":\"txt\",\"data\":\"7365636f6e64\"}],"
            "\"notes\":\"n2 again\",\"history\":[{\"value\":\"n2 again\",\"modified\":\"2011-09-12T21:22:33\"},"
            "{\"value\":\"n2\",\"modified\":\"2011-09-12T21:21:02\"}],\"scores\":[]}");
  EXPECT_EQ(rows[2], "{\"name\":\"three\",\"tags\":[],\"files\":[],\"notes\":null,\"history\":[],\"scores\":[]}");
  // CSV joins the names and values.
  r = clitest::run({"export", path_, "Items"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(clitest::lines(r.out), (std::vector<std::string>{"name,tags,files,notes,history,scores", "one,red;green,a.txt,n1,,10;20",
                                                              "two,blue,b.bin;c.txt,n2 again,n2 again;n2,", "three,,,,,"}));
}

TEST_F(ComplexExport, ImportAndUpdateTakeTheJsonTheExportWrites) {
  clitest::Result r = clitest::run({"export", path_, "Items", "--format", "jsonl"});
  ASSERT_EQ(r.rc, 0) << r.err;
  const auto before = clitest::lines(r.out);
  r = clitest::run({"import", path_, "Items"}, r.out);
  ASSERT_EQ(r.rc, 0) << r.err;
  r = clitest::run({"export", path_, "Items", "--format", "jsonl"});
  const auto after = clitest::lines(r.out);
  ASSERT_EQ(after.size(), 6u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(after[i + 3], before[i]);

  // An update replaces a complex field's values; null or [] empties it.
  r = clitest::run({"update", path_, "Items", "3"},
                   "{\"tags\":[\"z\"],\"files\":[{\"name\":\"d.BIN\",\"type\":\"BIN\",\"data\":\"00FF\"}],"
                   "\"scores\":null}");
  ASSERT_EQ(r.rc, 0) << r.err;
  r = clitest::run({"export", path_, "Items", "--format", "jsonl"});
  EXPECT_EQ(clitest::lines(r.out).at(3),
            "{\"name\":\"one\",\"tags\":[\"z\"],\"files\":[{\"name\":\"d.BIN\",\"type\":\"BIN\",\"data\":\"00ff\"}],"
            "\"notes\":\"n1\",\"history\":[],\"scores\":[]}");
  EXPECT_EQ(clitest::lines(r.out).at(0), before[0]);

  // Values that do not suit the field are refused with the line, and nothing of the row is written.
  for (const char* bad : {"{\"name\":\"x\",\"scores\":[\"ten\"]}", "{\"name\":\"x\",\"tags\":\"red\"}",
                          "{\"name\":\"x\",\"files\":[{\"name\":\"a\",\"type\":\"\",\"data\":\"zz\"}]}",
                          "{\"name\":\"x\",\"files\":[{\"name\":\"a\",\"type\":\"\",\"data\":\"\",\"url\":\"u\"}]}",
                          "{\"name\":\"x\",\"notes\":[\"a\"]}"}) {
    r = clitest::run({"import", path_, "Items"}, std::string(bad) + "\n");
    EXPECT_EQ(r.rc, 1) << bad;
    EXPECT_NE(r.err.find("line 1"), std::string::npos) << r.err;
  }
  EXPECT_EQ(clitest::lines(clitest::run({"export", path_, "Items"}).out).size(), 7u);

  // CSV names a complex field's values but cannot carry them: an empty field is no values, any
  // other text is refused with its line, the rows before it kept.
  r = clitest::run({"import", path_, "Items", "--format", "csv"}, "name,tags,files\nfour,,\nfive,red;green,\n");
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("line 3"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("'tags'"), std::string::npos) << r.err;
  EXPECT_EQ(clitest::lines(clitest::run({"export", path_, "Items"}).out).size(), 8u);
  r = clitest::run({"check", path_});
  EXPECT_EQ(r.rc, 0) << r.out;
}

TEST(ComplexFormat, ValuesNeedingQuotesAndDamagedAttachments) {
  jet::ComplexValue v;
  v.kind = jet::ComplexKind::MultiValue;
  v.values = {jet::Value(std::string("a,b")), jet::Value(std::string("say \"hi\""))};
  std::string csv;
  cli::appendCsvComplex(csv, v);
  EXPECT_EQ(csv, "\"a,b;say \"\"hi\"\"\"");
  std::string json;
  cli::appendJsonComplex(json, v);
  EXPECT_EQ(json, "[\"a,b\",\"say \\\"hi\\\"\"]");

  jet::ComplexValue files;
  files.kind = jet::ComplexKind::Attachment;
  files.attachments.push_back(jet::Attachment{"x.txt", "txt", {1, 0, 0, 0, 9}});
  json.clear();
  EXPECT_THROW(cli::appendJsonComplex(json, files), jet::Error);
  csv.clear();
  cli::appendCsvComplex(csv, files);  // names only: the data is not read
  EXPECT_EQ(csv, "x.txt");
}

}  // namespace
