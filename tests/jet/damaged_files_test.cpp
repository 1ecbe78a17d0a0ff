// Damaged files: every real test file, truncated, with pages zeroed and with bytes flipped, is
// opened, read completely and checked. Each step either works or ends in a jet::Error - never a
// crash, a hang or another kind of exception. A write into a file whose check finds problems is
// refused and leaves the file as it was; a write the engine accepts leaves a file that still checks.
// (Each kind of damage planted on purpose, with what the check names, is in check_test.)
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/support/test_files.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
// Hands each damaged copy of a file's bytes (pages of `page` bytes) to `test`, with what was done.
using Sink = std::function<void(const std::string& what, const Bytes& damaged)>;

const struct Kind {
  const char* name;
  void (*damage)(const Bytes& bytes, size_t page, std::mt19937& random, const Sink& test);
} kKinds[] = {
    {"Truncated",
     [](const Bytes& bytes, size_t page, std::mt19937&, const Sink& test) {
       for (size_t length : {size_t{0}, size_t{1}, size_t{100}, page - 1, page, page + 1, 2 * page + 17, bytes.size() / 2,
                             bytes.size() - page, bytes.size() - 1})
         if (length < bytes.size()) test("cut to " + std::to_string(length), Bytes(bytes.begin(), bytes.begin() + long(length)));
     }},
    {"ZeroedPages",
     [](const Bytes& bytes, size_t page, std::mt19937&, const Sink& test) {
       for (size_t p = 0; p * page < bytes.size(); ++p) {
         Bytes damaged = bytes;
         std::fill(damaged.begin() + long(p * page), damaged.begin() + long(std::min(bytes.size(), (p + 1) * page)), 0);
         test("page " + std::to_string(p) + " zeroed", damaged);
       }
     }},
    {"FlippedBytes",
     [](const Bytes& bytes, size_t page, std::mt19937& random, const Sink& test) {
       for (int round = 0; round < 40; ++round) {
         // Half the rounds hit the structures at the start of a page (headers, row offsets), where
         // damage matters most; the rest hit anywhere.
         Bytes damaged = bytes;
         std::string where;
         for (int i = 0, flips = 1 + int(random() % 8); i < flips; ++i) {
           const size_t at = round % 2 ? random() % bytes.size() : (random() % (bytes.size() / page)) * page + random() % 64;
           damaged[at] ^= uint8_t(1 + random() % 255);
           where += " " + std::to_string(at);
         }
         test("flipped at" + where, damaged);
       }
     }},
};

// The test files small enough to be damaged in every place.
std::vector<std::string> smallTestFiles() {
  std::vector<std::string> files;
  for (const std::string& name : jettest::allTestFiles())
    if (fs::file_size(jettest::testdata(name)) <= 600 * 1024) files.push_back(jettest::testdata(name));
  return files;
}

class DamagedFiles : public ::testing::TestWithParam<Kind> {};

TEST_P(DamagedFiles, EndInAnEngineErrorOrReadCleanly) {
  jettest::TempDir dir;
  std::mt19937 random(20261205);
  for (const std::string& file : smallTestFiles()) {
    const jettest::PageImage image(file);
    GetParam().damage(image.bytes, image.size, random, [&](const std::string& what, const Bytes& damaged) {
      jettest::writeFile(dir.file("damaged.mdb"), damaged);
      EXPECT_EQ(jettest::readEverything(dir.file("damaged.mdb")), "") << file << " " << what;
    });
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedFiles, ::testing::ValuesIn(kKinds), [](const auto& info) { return std::string(info.param.name); });

TEST(DamagedFilesTest, WritingIntoAnInconsistentFileIsRefusedAndChangesNothing) {
  jettest::TempDir dir;
  const std::string target = dir.file("write.mdb");
  std::mt19937 random(77);
  int refusedWrites = 0;
  for (const std::string& file : smallTestFiles()) {
    const jettest::PageImage image(file);
    for (int round = 0; round < 6; ++round) {
      Bytes damaged = image.bytes;
      const size_t p = 1 + random() % (image.count() - 1);
      for (int i = 0; i < 4; ++i) damaged[p * image.size + random() % 32] ^= 0x5a;
      jettest::writeFile(target, damaged);
      SCOPED_TRACE(file + " page " + std::to_string(p));
      std::vector<std::string> problems;
      ASSERT_EQ(jettest::readEverything(target, &problems), "");
      std::string refusal = "not refused";
      try {
        auto db = jet::Database::open(target);
        db->createTable({"AddedAfterDamage", {{"A", jet::ColumnType::Long}}, {}});
        db->insertRow("AddedAfterDamage", {int64_t{1}});
        db->close();
      } catch (const jet::Error& e) {
        refusal = e.description();
      }
      if (!problems.empty()) {
        EXPECT_NE(refusal, "not refused") << "wrote into a file whose check says: " << problems.front();
        EXPECT_TRUE(jettest::readFile(target) == damaged) << "a refused write changed the file";
        ++refusedWrites;
      } else if (refusal == "not refused") {
        EXPECT_EQ(jettest::readEverything(target, &problems), "");
        EXPECT_TRUE(problems.empty()) << "the write left " << problems.front();
      }
    }
  }
  EXPECT_GT(refusedWrites, 0) << "no damage was ever detected; the test exercised nothing";
}

}  // namespace
