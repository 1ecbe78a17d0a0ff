// The page file: pages read through a bounded cache, write faults reported with the page left as it
// was; and long-value references that point past what is stored. (Pages written encoded: the
// database-key and encryption tests.)
#include "jet/storage/page_file.h"

#include <gtest/gtest.h>

#include "jet/base/error.h"
#include "jet/storage/fault_env.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"
#include "jet/storage/long_value.h"

using jet::Error;
using jet::PageFile;

namespace {

TEST(PageFile, ReadsPagesThroughABoundedCache) {
  std::string path = jettest::testdata("generated/longValuesV2000.mdb");
  PageFile file(path, true, 8);
  file.setPageSize(4096);
  auto bytes = jettest::readFile(path);
  ASSERT_EQ(file.pageCount(), bytes.size() / 4096);
  for (uint32_t p = 0; p < file.pageCount(); ++p) {
    jet::PageRef page = file.page(p);
    ASSERT_TRUE(std::equal(page->begin(), page->end(), bytes.begin() + long(p) * 4096)) << "page " << p;
    ASSERT_LE(file.cachedPages(), 8u);
  }
  // A page a caller holds stays valid after the cache dropped it.
  jet::PageRef first = file.page(1);
  for (uint32_t p = 2; p < 40; ++p) file.page(p);
  EXPECT_TRUE(std::equal(first->begin(), first->end(), bytes.begin() + 4096));
  EXPECT_EQ(errorOf([&] { file.page(file.pageCount()); }), jet::err::kCorrupt);
  // A missing file, and a folder, are not found.
  EXPECT_EQ(errorOf([] { PageFile f("/nonexistent/x.mdb", true); }), jet::err::kFileNotFound);
  EXPECT_EQ(errorOf([] { PageFile f("/tmp", true); }), jet::err::kFileNotFound);
}

TEST(PageFile, InjectedWriteFaultsReportAndLeaveThePageUnchanged) {
  jettest::TempDir dir;
  std::string path = dir.copy("emptyJet4.mdb");
  jet::FaultEnv& faults = jet::FaultEnv::install();
  PageFile file(path, false);
  file.setPageSize(4096);
  jet::Page before = *file.page(3);
  std::vector<uint8_t> junk(4096, 0xAB);
  struct Case { jet::FaultEnv::Fault fault; int error; };
  for (Case c : {Case{jet::FaultEnv::Fault::DiskFull, jet::err::kDiskFull}, Case{jet::FaultEnv::Fault::IoError, jet::err::kIoError},
                 Case{jet::FaultEnv::Fault::ShortWrite, jet::err::kIoError}}) {
    faults.failAt(2, c.fault);
    file.writePage(3, before.data());  // the first write passes
    EXPECT_EQ(errorOf([&] { file.writePage(3, junk.data()); }), c.error);
    EXPECT_EQ(*file.page(3), before);
  }
  faults.failAt(1, jet::FaultEnv::Fault::IoError);
  EXPECT_EQ(errorOf([&] { file.flush(); }), jet::err::kIoError);
}

// Long-value references that point outside what is stored are refused.
TEST(LongValue, ReferencesThatDoNotFitFail) {
  jettest::TempDir dir;
  std::string path = dir.copy("generated/longValuesV2000.mdb");
  jet::PageFile file(path, true);
  file.setPageSize(4096);
  jet::LongValueReader reader(file, jet::Format::Jet4Layout);
  std::vector<uint8_t> out;
  uint8_t ref[12] = {10, 0, 0, 0x80};  // inline, 10 bytes, none present
  EXPECT_THROW(reader.read(ref, sizeof ref, out), jet::Error);
  EXPECT_THROW(reader.read(ref, 5, out), jet::Error);
  uint8_t chain[12] = {0xFF, 0xFF, 0x0F, 0x00, 0x00, 0xFF, 0xFF, 0x00};  // a page far past the end
  EXPECT_THROW(reader.read(chain, sizeof chain, out), jet::Error);
  uint8_t kind[12] = {1, 0, 0, 0x20, 0, 1, 0, 0};
  EXPECT_THROW(reader.read(kind, sizeof kind, out), jet::Error);
}

}  // namespace
