// tabulonix-cli repair: the report on stdout, the exit codes, and a copy that the check passes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli/support/in_process.h"
#include "support/files.h"

namespace fs = std::filesystem;

namespace {

class RepairCommand : public ::testing::Test {
 protected:
  std::string file(const std::string& name) const { return dir_.file(name); }

  // A copy of a test file with every index page zeroed.
  std::string withoutIndexes(const std::string& name) {
    std::vector<uint8_t> bytes = testsupport::readFile(testsupport::testdata(name));
    const size_t page = bytes[0x14] == 0 ? 2048 : 4096;
    for (size_t at = 3 * page; at + page <= bytes.size(); at += page)
      if (bytes[at] == 0x03 || bytes[at] == 0x04) std::fill(bytes.begin() + long(at), bytes.begin() + long(at + page), 0);
    testsupport::writeFile(file("damaged.mdb"), bytes);
    return file("damaged.mdb");
  }

  testsupport::TempDir dir_;
};

TEST_F(RepairCommand, ReportsEachTableAndATotal) {
  const std::string src = withoutIndexes("compIndexTestV2000.mdb");
  const clitest::Result r = clitest::run({"repair", src, file("out.mdb")});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("Table1: 512 rows recovered, 0 rows lost, 0 long values lost, 0 pages skipped\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\nTotal: "), std::string::npos) << r.out;
  EXPECT_EQ(clitest::run({"check", file("out.mdb")}).out, "ok\n");
  // The source is only read; an existing destination is refused.
  const clitest::Result again = clitest::run({"repair", src, file("out.mdb")});
  EXPECT_EQ(again.rc, 1);
  EXPECT_NE(again.err.find("Database already exists."), std::string::npos) << again.err;
}

TEST_F(RepairCommand, NothingToRecoverIsAnErrorAndWritesNothing) {
  std::ofstream(file("junk.mdb"), std::ios::binary) << std::string(9000, 'x');
  const clitest::Result r = clitest::run({"repair", file("junk.mdb"), file("out.mdb")});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("Unrecognized database format"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(file("out.mdb")));
  EXPECT_EQ(clitest::run({"repair", file("junk.mdb")}).rc, 2);
}

}  // namespace
