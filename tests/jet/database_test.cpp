#include "jet/database.h"

#include <gtest/gtest.h>

#include "jet/support/test_files.h"
#include "support/error_of.h"

namespace {

TEST(Database, ReportsFileFacts) {
  auto db = jet::Database::open(jettest::testdata("testV1997.mdb"), {true, ""});
  EXPECT_EQ(db->format(), jet::Format::Jet3);
  EXPECT_EQ(db->pageSize(), 2048u);
  EXPECT_EQ(db->codePage(), 1252);
  EXPECT_EQ(db->pageCount(), jettest::readFile(jettest::testdata("testV1997.mdb")).size() / 2048);
  EXPECT_TRUE(db->readOnly());
  EXPECT_EQ(errorOf([&] { jet::Database::open("/nonexistent/file.mdb"); }), jet::err::kFileNotFound);
}

TEST(Database, CursorRewindsAndRowIdsAreStable) {
  auto db = jet::Database::open(jettest::testdata("compIndexTestV2000.mdb"), {true, ""});
  std::string name;
  for (auto& o : db->objects())
    if (o.kind == jet::ObjectKind::Table) name = o.name;
  auto cur = db->openTable(name);
  std::vector<jet::RowId> ids;
  while (cur->next()) ids.push_back(cur->rowId());
  ASSERT_GT(ids.size(), 100u);
  cur->rewind();
  size_t i = 0;
  while (cur->next()) ASSERT_EQ(cur->rowId(), ids[i++]);
  EXPECT_EQ(i, ids.size());
}

}  // namespace
