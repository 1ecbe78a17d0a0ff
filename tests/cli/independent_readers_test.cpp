// Every user table of every test database, as the tool exports it (JSON lines), compared value by
// value with two independent readers: mdbtools (mdb-json, mdb-tables) and mdb-reader (under
// node). A test skips only when its reader is not installed (`make test` installs both). The
// readers' known faults the comparison allows for are listed in support/reader_compare.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "cli/support/reader_compare.h"
#include "jet/support/test_files.h"

namespace fs = std::filesystem;
using namespace clitest;

namespace {

// mdb-reader is slow on the 200,000-row table (about ten times slower than the engine): its first
// 25,000 rows are compared there. mdbtools compares all of them.
constexpr size_t kMdbReaderRowLimit = 25000;

// The test files, in name order, and the 200,000-row file except in sanitizer builds. (Files the
// engine wrote: random operations, on engine-made files of every version.)
std::vector<std::string> databaseFiles() {
  std::vector<std::string> files;
  for (const std::string& name : jettest::allTestFiles()) files.push_back(jettest::testdata(name));
#if !defined(TABULONIX_SANITIZED)
  const fs::path big = jettest::testdata("generated/big200kV2000.mdb");
  if (fs::exists(big)) files.push_back(big.string());
#endif
  std::sort(files.begin(), files.end());
  return files;
}

// The tool's export of every user table, made once for both tests.
const std::vector<OurFile>& ourExports() {
  static std::unique_ptr<std::vector<OurFile>> cache;
  if (cache) return *cache;
  cache = std::make_unique<std::vector<OurFile>>();
  for (const std::string& path : databaseFiles()) cache->push_back(exportFile(path));
  return *cache;
}

void compareEveryFile(Reader reader, size_t atLeastValues) {
  std::vector<std::string> paths;
  for (const OurFile& f : ourExports()) paths.push_back(f.path);
  const auto theirs = readTables(reader, paths, kMdbReaderRowLimit);
  if (!theirs) GTEST_SKIP() << "the reader is not installed (make oracles)";
  Comparison how{.rowLimit = kMdbReaderRowLimit};
  for (const OurFile& f : ourExports()) compareFile(reader, f, theirs->count(f.path) ? theirs->at(f.path) : std::vector<TheirTable>{}, how);
  EXPECT_GE(how.tables, 70u);
#if defined(TABULONIX_SANITIZED)
  atLeastValues = 5000;
#endif
  EXPECT_GE(how.values, atLeastValues);
}

TEST(IndependentReaders, MdbtoolsReadsEveryValueAsWeDo) {
  compareEveryFile(Reader::Mdbtools, 1000000);  // the 200,000-row table alone has 1.6 million
}

TEST(IndependentReaders, MdbReaderReadsEveryValueAsWeDo) {
  compareEveryFile(Reader::MdbReader, 150000);  // 25,000 rows of the 200,000-row table among them
}

}  // namespace
