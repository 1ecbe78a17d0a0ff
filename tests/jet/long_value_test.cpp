#include "jet/storage/long_value.h"

#include <gtest/gtest.h>

#include "jet/base/text_codec.h"
#include "jet/database.h"
#include "jet/support/test_files.h"

namespace {

TEST(LongValue, ReferencesThatDoNotFitFail) {
  jettest::TempDir dir;
  std::string path = dir.copy("generated/longValuesV2000.mdb");
  jet::PageFile file(path, true);
  file.setPageSize(4096);
  jet::LongValueReader reader(file, jet::Format::Jet4);
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
