// Damaged index pages found by fuzzing: each must be refused when read, so that nothing built on
// it (a tree walk, an insert that writes the page back) works from entries the writer cannot hold.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "jet/base/error.h"
#include "jet/index/index_page.h"

namespace {

std::vector<uint8_t> pageFrom(const std::string& name, jet::Format format) {
  std::ifstream in(std::string(TABULONIX_SOURCE_DIR) + "/tests/jet/data/" + name, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  EXPECT_FALSE(bytes.empty()) << name;
  // The fuzz input's first byte chose the tree's root; the page starts after it.
  std::vector<uint8_t> page(jet::IndexPageLayout::of(format).pageSize, 0);
  for (size_t i = 1; i < bytes.size() && i - 1 < page.size(); ++i) page[i - 1] = bytes[i];
  return page;
}

}  // namespace

TEST(DamagedIndexPage, EntriesOutOfOrderAreRefused) {
  // A leaf page whose entries are not sorted: written back it lost most of its entries.
  std::vector<uint8_t> page = pageFrom("index_page_unsorted.bin", jet::Format::Jet3);
  try {
    jet::parseIndexPage(jet::Format::Jet3, page.data(), page.size());
    FAIL() << "an unsorted page was accepted";
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.number(), jet::err::kCorrupt);
  }

  // The same entries in order are a page the engine writes and reads back unchanged.
  jet::IndexPage sorted;
  for (uint8_t k : {3, 1, 2}) sorted.entries.push_back({jet::Bytes(40, 0), jet::RowId{k, 0}});
  std::sort(sorted.entries.begin(), sorted.entries.end());
  std::vector<uint8_t> out(2048);
  ASSERT_TRUE(jet::writeIndexPage(jet::Format::Jet3, sorted, out.data()));
  EXPECT_EQ(jet::parseIndexPage(jet::Format::Jet3, out.data(), out.size()).entries, sorted.entries);
}
