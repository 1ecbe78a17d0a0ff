#include "jet/database.h"

#include <gtest/gtest.h>

#include <random>

#include "jet/support/test_files.h"

namespace {

// Opens a file and reads every row of every table; returns the rows read.
size_t readEverything(const std::string& path) {
  auto db = jet::Database::open(path, {true, jettest::passwordOf(path)});
  size_t rows = 0;
  for (const auto& o : db->objects()) {
    if (o.kind != jet::ObjectKind::Table && o.kind != jet::ObjectKind::SystemTable) continue;
    auto cur = db->openTable(o.name);
    size_t n = 0;
    while (cur->next()) {
      EXPECT_EQ(cur->values().size(), cur->table().columns.size());
      ++n;
    }
    // The definition keeps the count of live rows (system tables' counts are not kept up to date).
    if (o.kind == jet::ObjectKind::Table) EXPECT_EQ(n, cur->table().rowCount) << path << " " << o.name;
    rows += n;
  }
  return rows;
}

TEST(Database, EveryTableOfEveryTestFileReads) {
  auto files = jettest::allTestFiles();
  ASSERT_GT(files.size(), 20u);
  for (const auto& f : files) {
    SCOPED_TRACE(f);
    EXPECT_NO_THROW(readEverything(jettest::testdata(f)));
  }
}

TEST(Database, ReportsFileFacts) {
  auto db = jet::Database::open(jettest::testdata("testV1997.mdb"), {true, ""});
  EXPECT_EQ(db->format(), jet::Format::Jet3);
  EXPECT_EQ(db->pageSize(), 2048u);
  EXPECT_EQ(db->codePage(), 1252);
  EXPECT_EQ(db->pageCount(), jettest::readFile(jettest::testdata("testV1997.mdb")).size() / 2048);
  EXPECT_TRUE(db->readOnly());
  try {
    jet::Database::open("/nonexistent/file.mdb");
    FAIL();
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.number(), jet::err::kFileNotFound);
  }
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

// Damaged copies end in a jet::Error or read through; they never crash or hang.
void expectCleanFailure(const std::string& path) {
  try {
    auto db = jet::Database::open(path, {true, ""});
    for (const auto& o : db->objects()) {
      if (o.kind != jet::ObjectKind::Table && o.kind != jet::ObjectKind::SystemTable) continue;
      try {
        auto cur = db->openTable(o.name);
        size_t guard = 0;
        while (cur->next() && ++guard < 2000000) cur->values();
      } catch (const jet::Error&) {
      }
    }
  } catch (const jet::Error& e) {
    EXPECT_GT(e.number(), 0);
  }
}

TEST(Database, DamagedFilesFailCleanly) {
  jettest::TempDir dir;
  std::mt19937 rng(1234);
  for (const char* name : {"testV1997.mdb", "testV2000.mdb", "overflowTestV2000.mdb", "test2V1997.mdb",
                           "generated/longValuesV2000.mdb"}) {
    auto original = jettest::readFile(jettest::testdata(name));
    uint32_t pageSize = original[0x14] == 0 ? 2048 : 4096;
    size_t pages = original.size() / pageSize;
    std::string path = (dir.path() / "damaged.mdb").string();
    int rounds = std::string(name).find("longValues") != std::string::npos ? 15 : 60;
    for (int round = 0; round < rounds; ++round) {
      auto bytes = original;
      switch (round % 3) {
        case 0:  // flipped bytes, mostly in the structural pages at the start
          for (int k = 0; k < 40; ++k) {
            size_t at = rng() % std::min(bytes.size(), size_t(pageSize) * 40);
            bytes[at] ^= uint8_t(1u << (rng() % 8));
          }
          break;
        case 1: {  // a zeroed page
          size_t p = 1 + rng() % (pages - 1);
          std::fill(bytes.begin() + long(p * pageSize), bytes.begin() + long((p + 1) * pageSize), 0);
          break;
        }
        case 2:  // truncation
          bytes.resize(rng() % bytes.size());
          break;
      }
      jettest::writeFile(path, bytes);
      SCOPED_TRACE(std::string(name) + " round " + std::to_string(round));
      expectCleanFailure(path);
    }
  }
}

}  // namespace
