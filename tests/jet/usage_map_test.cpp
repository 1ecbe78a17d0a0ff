#include "jet/usage_map.h"

#include <gtest/gtest.h>

#include "jet/data_page.h"
#include "jet/database_impl.h"
#include "jet/page_transaction.h"
#include "jet/support/test_files.h"

namespace {

TEST(UsageMap, TableMapsListTheTablesDataPages) {
  jet::DatabaseImpl db(jettest::testdata("generated/big200kV2000.mdb"), {true, ""});
  const jet::TableDef& def = db.tableDef("Big");
  jet::UsageMap owned = jet::UsageMap::read(db.pageFile(), def.format, def.ownedPagesPointer);
  auto pages = owned.pages();
  ASSERT_GT(pages.size(), 1000u);
  EXPECT_TRUE(std::is_sorted(pages.begin(), pages.end()));
  size_t data = 0;
  for (uint32_t p : pages) {
    auto page = db.pageFile().page(p);
    if ((*page)[0] == jet::kDataPageType) ++data;
    EXPECT_TRUE(owned.contains(p));
  }
  EXPECT_EQ(data, pages.size());
  EXPECT_FALSE(owned.contains(1));
  EXPECT_EQ(owned.nextFrom(pages.back() + 1), UINT32_MAX);
}

TEST(UsageMap, MarkingBeyondAnInlineMapTurnsItIntoAReferenceMap) {
  jettest::TempDir dir;
  std::string path = dir.copy("testV2000.mdb");
  jet::DatabaseImpl db(path, {});
  jet::TableDef def = db.tableDef("Table1");
  auto before = jet::UsageMap::read(db.pageFile(), def.format, def.ownedPagesPointer).pages();
  ASSERT_TRUE(jet::UsageMap::read(db.pageFile(), def.format, def.ownedPagesPointer).isInline());
  {
    jet::PageTransaction tx(db.pageFile());
    jet::markUsage(tx, def.format, def.ownedPagesPointer, 744, true);
    jet::markUsage(tx, def.format, def.ownedPagesPointer, before[0], false);
    tx.commit();
  }
  // The far page is beyond the inline map's reach from its start page.
  jet::PageTransaction tx(db.pageFile());
  jet::markUsage(tx, def.format, def.ownedPagesPointer, 40000, true);
  tx.commit();
  auto map = jet::UsageMap::read(db.pageFile(), def.format, def.ownedPagesPointer);
  EXPECT_FALSE(map.isInline());
  auto after = map.pages();
  std::vector<uint32_t> expected(before.begin() + 1, before.end());
  expected.push_back(744);
  expected.push_back(40000);
  EXPECT_EQ(after, expected);
}

}  // namespace
