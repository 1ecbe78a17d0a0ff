// Damaged files: every real test file, truncated, with pages zeroed and with bytes flipped, is
// opened, read completely and checked. Each step either works or ends in a jet::Error - never a
// crash, a hang or another kind of exception. (Each kind of damage planted on purpose, with what the
// check names, that a write into it is refused and leaves the file as it was, and what repair
// salvages: check_test.)
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

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

}  // namespace
