// The keys the engine computes for the rows of Access-made files must equal, byte for byte, the
// keys Access wrote into those files' index pages: every entry of every index of every table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "jet/error.h"
#include "jet/index.h"
#include "jet/index_key.h"
#include "jet/support/index_fixture.h"

namespace {

std::string hex(const jet::Bytes& b) {
  std::string s;
  char buf[4];
  for (uint8_t x : b) {
    std::snprintf(buf, sizeof buf, "%02x", x);
    s += buf;
  }
  return s;
}

struct FileResult {
  size_t indexes = 0;
  size_t entries = 0;
};

// Compares every index of every table of the file with the keys computed from its rows.
FileResult checkFile(const std::string& name) {
  indextest::MdbImage db(std::string(TABULONIX_TESTDATA_DIR) + "/" + name);
  FileResult result;
  for (const auto& table : db.tables()) {
    auto rows = db.rows(table);
    for (const auto& spec : db.specs(table)) {
      jet::IndexTree tree(db, spec.rootPage, table.tdef);
      std::vector<jet::IndexEntry> actual = tree.entries();
      std::vector<jet::IndexEntry> expected;
      for (const auto& [id, values] : rows)
        if (auto key = jet::rowKey(spec, values)) expected.push_back({*key, id, 0});
      std::sort(expected.begin(), expected.end());
      ++result.indexes;
      result.entries += actual.size();
      const std::string where = name + " table@" + std::to_string(table.tdef) + " index " + spec.name;
      EXPECT_EQ(actual.size(), expected.size()) << where;
      // Pair the entries by row address so that a wrong key shows with its row.
      std::sort(actual.begin(), actual.end(), [](auto& a, auto& b) { return a.row.page != b.row.page ? a.row.page < b.row.page : a.row.row < b.row.row; });
      std::sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.row.page != b.row.page ? a.row.page < b.row.page : a.row.row < b.row.row; });
      int reported = 0;
      for (size_t i = 0; i < std::min(actual.size(), expected.size()) && reported < 5; ++i) {
        if (actual[i].key != expected[i].key || !(actual[i].row == expected[i].row)) {
          ++reported;
          ADD_FAILURE() << where << " row " << expected[i].row.page << ":" << expected[i].row.row << "\n  access: " << hex(actual[i].key)
                        << "\n  engine: " << hex(expected[i].key);
        }
      }
      EXPECT_TRUE(tree.verify().empty()) << where << ": " << tree.verify().front();
    }
  }
  return result;
}

TEST(IndexKeysMatchAccess, Jet3EveryCharacterAndType) {
  FileResult r = checkFile("testIndexCodesV1997.mdb");
  // About thirty tables, one per type and order, a key for every character.
  EXPECT_GE(r.indexes, 25u);
  EXPECT_GE(r.entries, 500u);
}

TEST(IndexKeysMatchAccess, CompositeIndexesOverSeveralPages) {
  for (const char* f : {"compIndexTestV1997.mdb", "compIndexTestV2000.mdb"}) {
    FileResult r = checkFile(f);
    EXPECT_GE(r.entries, 512u) << f;
  }
}

TEST(IndexKeysMatchAccess, SmallIndexTables) {
  for (const char* f : {"indexTestV1997.mdb", "indexTestV2000.mdb", "testIndexPropertiesV2000.mdb", "indexCursorTestV2000.mdb",
                        "bigIndexTestV2000.mdb"}) {
    FileResult r = checkFile(f);
    EXPECT_GE(r.indexes, 3u) << f;
  }
}

TEST(IndexKeysMatchAccess, CatalogAndOtherFiles) {
  // The system tables' own indexes (text and numeric) of files made by both formats.
  for (const char* f : {"testV1997.mdb", "testV2000.mdb", "test2V2000.mdb", "fixedNumericTestV2000.mdb", "delTestV2000.mdb",
                        "queryTestV1997.mdb", "emptyJet4.mdb"}) {
    FileResult r = checkFile(f);
    EXPECT_GE(r.indexes, 1u) << f;
  }
}

}  // namespace
