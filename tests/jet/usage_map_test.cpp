#include "jet/storage/usage_map.h"

#include <gtest/gtest.h>

#include <memory>

#include "jet/file_database.h"
#include "jet/storage/data_page.h"
#include "jet/storage/page_transaction.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"

namespace {

// (An inline map that cannot reach a page becomes a map of bitmap pages: every bulk load that
// grows a table past one window goes through that, see the queued-insert and kill tests.)
TEST(UsageMap, AnInlineMapMovesItsWindowWhenEveryMarkedPageFitsInIt) {
  jettest::TempDir dir;
  jet::FileDatabase db(dir.copy("testV2000.mdb"), {});
  jet::Tdef def = db.tableDef("Table1");
  const auto before = jet::UsageMap::read(db.pageFile(), def.format, def.ownedPagesPointer).pages();
  ASSERT_FALSE(before.empty());
  jet::PageTransaction tx(db.pageFile());
  for (uint32_t p : before) jet::markUsage(tx, def.format, def.ownedPagesPointer, p, false);
  jet::markUsage(tx, def.format, def.ownedPagesPointer, 1003, true);
  jet::markUsage(tx, def.format, def.ownedPagesPointer, 1100, true);
  tx.commit();
  const auto map = jet::UsageMap::read(db.pageFile(), def.format, def.ownedPagesPointer);
  EXPECT_TRUE(map.isInline());
  EXPECT_EQ(map.firstPage(), 1000u);
  EXPECT_EQ(map.pages(), (std::vector<uint32_t>{1003, 1100}));
}

// A file of 64 empty pages whose free-page map (page 1) has room for eight pages only.
std::string tinyFreeMapFile(const jettest::TempDir& dir) {
  std::vector<uint8_t> bytes(64 * 4096, 0);
  uint8_t* page1 = bytes.data() + 4096;
  jet::initDataPage(page1, 4096, jet::Format::Jet4Layout, 0);
  const uint8_t row[6] = {0, 0, 0, 0, 0, 0};  // inline, window from page 0, eight bits
  jet::addRow(page1, 4096, jet::Format::Jet4Layout, row, sizeof row, 0);
  jettest::writeFile(dir.file("tiny.mdb"), bytes);
  return dir.file("tiny.mdb");
}

TEST(FreePageMap, PagesFreedOutsideTheWindowAreStillFoundAndReused) {
  jettest::TempDir dir;
  jet::PageFile file(tinyFreeMapFile(dir), false);
  file.setPageSize(4096);
  auto tx = [&] {
    auto t = std::make_unique<jet::PageTransaction>(file);
    t->useFreePageMap(jet::Format::Jet4Layout);
    return t;
  };
  {
    auto t = tx();
    t->release(5);   // inside the window
    t->allocate();   // takes 5 again
    t->release(20);  // outside: the window moves to pages 16 to 23
    t->release(22);  // inside the moved window
    t->commit();
  }
  EXPECT_EQ(file.pageCount(), 64u);
  {
    auto t = tx();
    t->release(60);  // 20 to 60 is more than one window: the map now refers to a bitmap page
    t->commit();
  }
  ASSERT_EQ(file.pageCount(), 65u);
  EXPECT_EQ((*file.page(64))[0], 0x05);
  EXPECT_EQ((*file.page(1))[4096 - 6], 1);  // the row (last on the page) is of the bitmap kind
  {
    auto t = tx();
    EXPECT_EQ(t->allocate(), 20u);
    EXPECT_EQ(t->allocate(), 22u);
    EXPECT_EQ(t->allocate(), 60u);
    EXPECT_EQ(t->allocate(), 65u);  // nothing free is left: the file grows
    t->commit();
  }
  {
    auto t = tx();
    t->release(33);
    t->commit();
  }
  auto t = tx();
  EXPECT_EQ(t->allocate(), 33u);
  EXPECT_EQ(t->allocate(), 66u);
}

TEST(FreePageMap, APageNoMapOfTheRowCanReachIsRefusedAndNothingChanges) {
  jettest::TempDir dir;
  const std::string path = tinyFreeMapFile(dir);
  jet::PageFile file(path, false);
  file.setPageSize(4096);
  const auto page1 = *file.page(1);
  jet::PageTransaction t(file);
  t.useFreePageMap(jet::Format::Jet4Layout);
  t.release(20);
  // One bitmap page reaches (4096 - 4) * 8 pages; the six-byte row has room for one.
  EXPECT_EQ(errorOf([&] { t.release(40000); }), 3035);
  EXPECT_EQ(*file.page(1), page1);
  EXPECT_EQ(file.pageCount(), 64u);
}

}  // namespace
