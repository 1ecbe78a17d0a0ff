// New databases: the header page, the system tables and their catalog, checked against the empty
// database the Jet 4 engine itself produces and against mdbtools and mdb-reader (the whole-file
// check of new databases is in check_test).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/catalog_writer.h"
#include "jet/catalog/schema_writer.h"
#include "jet/catalog/system_tables.h"
#include "jet/catalog/create_database.h"
#include "jet/storage/header.h"
#include "jet/support/same_definition.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"
#include "jet/table/table_def.h"

namespace {

using jet::Format;

class NewDatabase : public ::testing::TestWithParam<Format> {
 protected:
  void SetUp() override { jet::createDatabaseFile(path_, {GetParam(), 1252, 1033}); }

  jettest::TempDir tmp_;
  const std::string dir_ = tmp_.path().string(), path_ = dir_ + "/new.mdb";
};

// An existing file is left alone, a missing folder is named.
TEST_P(NewDatabase, RefusesAnExistingPathOrAMissingFolder) {
  std::ifstream before(path_, std::ios::binary);
  std::string original((std::istreambuf_iterator<char>(before)), {});
  try {
    jet::createDatabaseFile(path_, {GetParam(), 1252, 1033});
    FAIL() << "created over an existing file";
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.number(), 3204);
    EXPECT_STREQ(e.what(), "Database already exists.");
  }
  std::ifstream after(path_, std::ios::binary);
  EXPECT_EQ(original, std::string((std::istreambuf_iterator<char>(after)), {}));
  try {
    jet::createDatabaseFile(dir_ + "/no such folder/new.mdb", {GetParam(), 1252, 1033});
    FAIL() << "created in a missing folder";
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.number(), 3044);
    EXPECT_NE(std::string(e.what()).find("'" + dir_ + "/no such folder' is not a valid path."), std::string::npos)
        << e.what();
  }
}

TEST_P(NewDatabase, HeaderCarriesFormatCodePageSortOrderAndNoPassword) {
  auto file = jet::SchemaFile::open(path_, true);
  EXPECT_EQ(file->format(), GetParam());
  jet::Bytes h = file->page(0);
  EXPECT_EQ(0, std::memcmp(h.data() + 4, "Standard Jet DB", 15));
  jet::maskHeaderBlock(GetParam(), h.data(), h.size());
  EXPECT_EQ(jet::le::get16(&h[0x3C]), 1252);
  EXPECT_EQ(jet::le::get32(&h[0x3E]), 0u) << "no database key";
  if (GetParam() == Format::Jet4) {
    EXPECT_EQ(jet::le::get16(&h[0x6E]), 1033);
    double created;
    std::memcpy(&created, &h[0x72], 8);
    EXPECT_NEAR(created, jet::sys::oleNow(), 1.0);
    // No password: the password field holds exactly its date mask.
    const uint32_t mask = uint32_t(int32_t(created));
    for (size_t i = 0; i < 40; i += 4) EXPECT_EQ(jet::le::get32(&h[0x42 + i]), mask);
  } else {
    EXPECT_EQ(jet::le::get16(&h[0x3A]), 1033);
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(h[0x42 + i], 0) << "password byte " << i;
  }
}

TEST_P(NewDatabase, GlobalMapMarksOnlyPagesPastTheEndFree) {
  auto file = jet::SchemaFile::open(path_, true);
  for (uint32_t p = 0; p < file->pageCount(); ++p) EXPECT_FALSE(file->globalFree(p)) << "page " << p;
  EXPECT_TRUE(file->globalFree(file->pageCount()));
  EXPECT_TRUE(file->globalFree(file->pageCount() + 40));
}

TEST_P(NewDatabase, IndependentReadersSeeTheSystemTablesAndCatalog) {
  if (auto tables = oracle::mdbtools("mdb-tables", "-S -1 " + oracle::quote(path_))) {
    EXPECT_EQ(tables->out, "MSysObjects\nMSysACEs\nMSysQueries\nMSysRelationships\n");
    EXPECT_EQ(oracle::mdbtools("mdb-tables", "-1 " + oracle::quote(path_))->out, "") << "no user tables";
    auto catalog = oracle::mdbtools("mdb-export", "-H " + oracle::quote(path_) + " MSysObjects");
    EXPECT_EQ(catalog->status, 0);
    EXPECT_NE(catalog->out.find("251658241,251658240,\"Tables\",3,"), std::string::npos) << catalog->out;
    EXPECT_NE(catalog->out.find("5,251658241,\"MSysRelationships\",1,"), std::string::npos) << catalog->out;
    EXPECT_EQ(oracle::mdbtools("mdb-ver", oracle::quote(path_))->out, GetParam() == Format::Jet4 ? "JET4\n" : "JET3\n");
  }
  if (auto lines = oracle::mdbReader(path_)) {
    ASSERT_NE(lines->front(), "ERROR") << (lines->size() > 1 ? (*lines)[1] : "");
    std::vector<std::string> tableLines;
    bool sawMSysDb = false;
    for (const auto& l : *lines) {
      if (l.rfind("TABLE\t", 0) == 0) tableLines.push_back(l);
      if (l.rfind("ROW\tMSysObjects\t", 0) == 0)
        sawMSysDb = sawMSysDb || l.find("\"Name\":\"MSysDb\",\"Type\":2") != std::string::npos;
    }
    EXPECT_EQ(tableLines, (std::vector<std::string>{"TABLE\tMSysObjects\t8", "TABLE\tMSysACEs\t16",
                                                     "TABLE\tMSysQueries\t0", "TABLE\tMSysRelationships\t0"}));
    EXPECT_TRUE(sawMSysDb);
  }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, NewDatabase, ::testing::Values(Format::Jet3, Format::Jet4),
                         [](const auto& info) { return info.param == Format::Jet4 ? "Jet4" : "Jet3"; });

// The system tables' definitions match, field by field, the ones the Jet 4 engine wrote into its
// own empty database (and the Jet 3 engine into a 97 file).
void expectSameDefinitions(const std::string& reference, Format format) {
  auto ours = jet::buildNewDatabase({format, 1252, 1033}, 45000.5);
  auto ref = jet::SchemaFile::open(reference, true);
  for (uint32_t page = 2; page <= 5; ++page) {
    SCOPED_TRACE("definition page " + std::to_string(page));
    auto a = ref->definition(page);
    jet::Bytes mine(ours[page].begin(), ours[page].end());
    mine.resize(jet::le::get32(&mine[8]));
    jet::TextCodec codec(1252);
    auto b = jet::parseTableDef(format, mine, codec);
    EXPECT_EQ(a.systemTable(), b.systemTable());
    EXPECT_EQ(a.storedOrder, b.storedOrder) << "columns stored in the engine's order";
    EXPECT_EQ(a.ownedPagesPointer != 0, b.ownedPagesPointer != 0);
    ASSERT_EQ(a.columns.size(), b.columns.size());
    for (size_t i = 0; i < a.columns.size(); ++i) {
      const auto &x = a.columns[i], &y = b.columns[i];
      jettest::expectSameColumn(x, y);
      EXPECT_EQ(x.sortOrder, y.sortOrder) << x.name;
      EXPECT_EQ(x.lvOwnedPointer != 0, y.lvOwnedPointer != 0) << x.name;
    }
    jettest::expectSameIndexes(a, b);
    if (::testing::Test::HasFatalFailure()) return;
    for (size_t i = 0; i < a.realIndexes.size(); ++i)
      for (size_t k = 0; k < a.realIndexes[i].columns.size(); ++k)
        EXPECT_EQ(a.realIndexes[i].columns[k].ascending, b.realIndexes[i].columns[k].ascending);
  }
}

TEST(NewDatabaseDefinitions, MatchTheJet4EnginesEmptyDatabase) {
  expectSameDefinitions(std::string(TABULONIX_TESTDATA_DIR) + "/adox_jet4.mdb", Format::Jet4);
}

TEST(NewDatabaseDefinitions, MatchTheJet3EnginesSystemTables) {
  expectSameDefinitions(std::string(TABULONIX_TESTDATA_DIR) + "/testV1997.mdb", Format::Jet3);
}

TEST(NewDatabaseDefinitions, Jet4LayoutIsPageForPageTheEnginesOwn) {
  // Same pages in the same places: header, global map, definitions, maps, index roots, data.
  auto ours = jet::buildNewDatabase({Format::Jet4, 1252, 1033}, 45000.5);
  auto ref = jet::SchemaFile::open(std::string(TABULONIX_TESTDATA_DIR) + "/adox_jet4.mdb", true);
  ASSERT_EQ(ours.size(), ref->pageCount());
  for (uint32_t p = 1; p < ref->pageCount(); ++p) {
    jet::Bytes r = ref->page(p);
    EXPECT_EQ(ours[p][0], r[0]) << "page type of page " << p;
    EXPECT_EQ(jet::le::get32(&ours[p][4]), jet::le::get32(&r[4])) << "owner of page " << p;
  }
  // The usage maps and index pages carry no dates: they are byte for byte the same.
  for (uint32_t p : {1u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u}) EXPECT_EQ(ours[p], ref->page(p)) << "page " << p;
}

}  // namespace
