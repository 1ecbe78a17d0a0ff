// New .accdb databases of each Access version: the header, the page layout and the definitions of
// the engine's own tables, checked against the empty databases Access itself made, and the files
// read back by mdbtools and mdb-reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "jet/base/bytes.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/schema_writer.h"
#include "jet/catalog/system_tables.h"
#include "jet/catalog/create_database.h"
#include "jet/database.h"
#include "jet/storage/header.h"
#include "jet/support/same_definition.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"
#include "jet/table/table_def.h"

namespace {

using jet::FileVersion;
using jet::Format;

struct Version {
  FileVersion version;
  const char* reference;  // the empty database Access made in that version
  const char* mdbVer;     // what mdbtools calls the version
};

std::string nameOf(const Version& v) { return std::string(v.reference).substr(0, 9); }

jet::CreateOptions optionsFor(FileVersion v) {
  jet::CreateOptions o;
  o.version = v;
  return o;
}

class NewAccdb : public ::testing::TestWithParam<Version> {
 protected:
  void SetUp() override {
    path_ = (dir_.path() / "new.accdb").string();
    jet::createDatabaseFile(path_, optionsFor(GetParam().version));
  }
  std::string reference() const { return std::string(TABULONIX_TESTDATA_DIR) + "/ace/" + GetParam().reference; }

  jettest::TempDir dir_;
  std::string path_;
};

TEST_P(NewAccdb, HeaderNamesTheEngineVersionAndSortOrder) {
  auto file = jet::SchemaFile::open(path_, true);
  jet::Bytes h = file->page(0);
  EXPECT_EQ(0, std::memcmp(h.data() + 4, "Standard ACE DB", 15));
  EXPECT_EQ(h[0x14], jet::versionByteOf(GetParam().version));
  jet::maskHeaderBlock(Format::Jet4, h.data(), h.size());
  EXPECT_EQ(jet::le::get16(&h[0x3C]), 1252);
  EXPECT_EQ(jet::le::get16(&h[0x6E]), 1033);
  // Access 2007 knows only the legacy order; later versions make files in the newer one.
  EXPECT_EQ(h[0x71], GetParam().version == FileVersion::Access2007 ? 0 : 1);
  double created;
  std::memcpy(&created, &h[0x72], 8);
  const uint32_t mask = uint32_t(int32_t(created));
  for (size_t i = 0; i < 40; i += 4) EXPECT_EQ(jet::le::get32(&h[0x42 + i]), mask) << "no password";
  const jet::Header parsed = jet::parseHeader(std::vector<uint8_t>(h.begin(), h.begin() + 0x100), path_);
  EXPECT_EQ(parsed.format, Format::Jet4);
}

// The engine's part of Access's empty database is its first pages: header, global map, the four
// core definitions, each table's map page and index roots, the catalog's rows, the complex-column
// tables; the permissions' rows follow (where Access's own tables did not take that page). Ours
// has exactly those pages, of the same kinds and owners.
TEST_P(NewAccdb, LayoutIsPageForPageTheEnginePartOfAccesssOwn) {
  auto ours = jet::SchemaFile::open(path_, true);
  auto ref = jet::SchemaFile::open(reference(), true);
  ASSERT_EQ(ours->pageCount(), 42u);
  for (uint32_t p = 1; p < ours->pageCount() - 1; ++p) {
    jet::Bytes a = ours->page(p), b = ref->page(p);
    EXPECT_EQ(a[0], b[0]) << "page type of page " << p;
    EXPECT_EQ(jet::le::get32(&a[4]), jet::le::get32(&b[4])) << "owner of page " << p;
  }
  jet::Bytes last = ours->page(41);
  EXPECT_EQ(last[0], 0x01);
  EXPECT_EQ(jet::le::get32(&last[4]), jet::sys::kAcesTdef);
}

// Definition by definition, the engine's tables as Access wrote them: columns, their order, types,
// flags, lengths and sort order, indexes and their flags.
TEST_P(NewAccdb, DefinitionsMatchAccesssEmptyDatabase) {
  auto ref = jet::SchemaFile::open(reference(), true);
  // Access's empty 2019 file was made with the legacy order: compare like with like.
  jet::CreateOptions o = optionsFor(GetParam().version);
  jet::Bytes refHeader = ref->page(0);
  jet::maskHeaderBlock(Format::Jet4, refHeader.data(), refHeader.size());
  o.sortVersion = refHeader[0x71];
  auto ours = jet::buildNewDatabase(o, 45000.5);
  jet::TextCodec codec(1252);
  size_t compared = 0;
  for (uint32_t page = 2; page < ours.size(); ++page) {
    if (ours[page][0] != 0x02) continue;
    SCOPED_TRACE("definition page " + std::to_string(page));
    jet::Bytes mine(ours[page].begin(), ours[page].end());
    mine.resize(jet::le::get32(&mine[8]));
    const jet::TableDef b = jet::parseTableDef(Format::Jet4, mine, codec);
    const jet::TableDef a = ref->definition(page);
    ++compared;
    EXPECT_EQ(a.tableType, b.tableType);
    EXPECT_EQ(a.storedOrder, b.storedOrder);
    ASSERT_EQ(a.columns.size(), b.columns.size());
    for (size_t i = 0; i < a.columns.size(); ++i) {
      const auto &x = a.columns[i], &y = b.columns[i];
      jettest::expectSameColumn(x, y);
      EXPECT_EQ(x.extFlags, y.extFlags) << x.name;
      if (x.type == jet::ColumnType::Numeric) {
        EXPECT_EQ(x.precision, y.precision) << x.name;
      } else {
        EXPECT_EQ(x.sortOrder, y.sortOrder) << x.name;
        EXPECT_EQ(x.sortVersion, y.sortVersion) << x.name;
      }
    }
    jettest::expectSameIndexes(a, b);
    if (HasFatalFailure()) return;
    for (size_t i = 0; i < a.realIndexes.size(); ++i) {
      EXPECT_EQ(a.realIndexes[i].usedPagesPointer, b.realIndexes[i].usedPagesPointer) << "map of real index " << i;
      EXPECT_EQ(a.realIndexes[i].rootPage, b.realIndexes[i].rootPage) << "root of real index " << i;
    }
    EXPECT_EQ(a.ownedPagesPointer, b.ownedPagesPointer);
    EXPECT_EQ(a.freeSpacePointer, b.freeSpacePointer);
  }
  EXPECT_EQ(compared, 14u);
}

TEST_P(NewAccdb, CatalogNamesTheComplexColumnTablesWithoutAnOwner) {
  auto file = jet::SchemaFile::open(path_, true);
  const jet::Catalog catalog = jet::Catalog::read(file->pageFile(), Format::Jet4, jet::windows1252Codec());
  size_t templates = 0;
  bool complexColumns = false;
  for (const auto& e : catalog.entries()) {
    if (e.object.name == "MSysComplexColumns") {
      complexColumns = true;
      EXPECT_EQ(e.object.flags, 0x80000000u);
      EXPECT_EQ(e.object.id, 18);
    }
    if (e.object.name.rfind("MSysComplexType_", 0) == 0) {
      ++templates;
      EXPECT_EQ(e.object.flags, 0x80030000u) << e.object.name;
    }
  }
  EXPECT_TRUE(complexColumns);
  EXPECT_EQ(templates, 9u);
  EXPECT_EQ(catalog.entries().size(), 18u);
}

TEST_P(NewAccdb, MdbtoolsNamesTheVersionAndListsTheEnginesTables) {
  auto ver = oracle::mdbtools("mdb-ver", oracle::quote(path_));
  if (!ver) GTEST_SKIP() << "mdbtools not installed";
  EXPECT_EQ(ver->out, std::string(GetParam().mdbVer) + "\n");
  auto tables = oracle::mdbtools("mdb-tables", "-S -1 " + oracle::quote(path_));
  EXPECT_NE(tables->out.find("MSysComplexColumns\n"), std::string::npos) << tables->out;
  EXPECT_NE(tables->out.find("MSysComplexType_Attachment\n"), std::string::npos) << tables->out;
  EXPECT_EQ(oracle::mdbtools("mdb-tables", "-1 " + oracle::quote(path_))->out, "");
}

TEST_P(NewAccdb, MdbReaderReadsEveryTable) {
  auto lines = oracle::mdbReader(path_);
  if (!lines) GTEST_SKIP() << "mdb-reader not installed";
  ASSERT_FALSE(lines->empty());
  std::vector<std::string> tables;
  for (const auto& l : *lines) {
    EXPECT_NE(l.rfind("FAIL", 0), 0u) << l;
    if (l.rfind("TABLE\t", 0) == 0) tables.push_back(l);
  }
  ASSERT_EQ(tables.size(), 14u);
  EXPECT_EQ(tables[0], "TABLE\tMSysObjects\t18");
  EXPECT_EQ(tables[1], "TABLE\tMSysACEs\t" + std::to_string(jet::sys::initialAces(std::vector<int32_t>(10)).size()));
  EXPECT_EQ(tables[4], "TABLE\tMSysComplexColumns\t0");
}

// A table with a unique text index in the file's own sort order, filled, then compacted: the copy
// keeps the version, the sort order of header and columns, and the engine's tables, and checks
// clean; its index still finds every row.
TEST_P(NewAccdb, CompactionKeepsVersionSortOrderAndEngineTables) {
  {
    auto db = jet::Database::open(path_);
    jet::NewTable t{"Words", {{"Id", jet::ColumnType::Long}, {"Word", jet::ColumnType::Text}}, {}};
    t.columns[0].autoNumber = true;
    t.columns[1].size = 40;
    t.indexes.push_back({"Word", {{1, true}}, false, true, false, false});
    db->createTable(t);
    const char* words[] = {"cote", "côte", "coté", "côté", "Zebra", "zèbre", "apple", "Æble", "straße", "strasse", "ǅ", "ß"};
    for (int i = 0; i < 600; ++i) db->insertRow("Words", {jet::Null{}, std::string(words[i % 12]) + " " + std::to_string(i)});
    EXPECT_TRUE(db->check().ok());
  }
  const std::string copy = (dir_.path() / "copy.accdb").string();
  jet::Database::compact(path_, copy);
  auto file = jet::SchemaFile::open(copy, true);
  jet::Bytes h = file->page(0);
  EXPECT_EQ(0, std::memcmp(h.data() + 4, "Standard ACE DB", 15));
  EXPECT_EQ(h[0x14], jet::versionByteOf(GetParam().version));
  jet::maskHeaderBlock(Format::Jet4, h.data(), h.size());
  const uint8_t sortVersion = GetParam().version == FileVersion::Access2007 ? 0 : 1;
  EXPECT_EQ(h[0x71], sortVersion);
  const jet::Catalog catalog = jet::Catalog::read(file->pageFile(), Format::Jet4, jet::windows1252Codec());
  size_t engineTables = 0;
  for (const auto& e : catalog.entries()) {
    if (e.object.name.rfind("MSysComplex", 0) == 0) ++engineTables;
    if (e.object.name == "Words")
      for (const auto& c : file->definition(uint32_t(e.object.id)).columns) EXPECT_EQ(c.sortVersion, sortVersion) << c.name;
  }
  EXPECT_EQ(engineTables, 10u);
  file.reset();
  auto db = jet::Database::open(copy);
  const jet::CheckReport report = db->check();
  EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems.front());
  EXPECT_EQ(db->table("Words").rowCount, 600u);
}

INSTANTIATE_TEST_SUITE_P(EveryVersion, NewAccdb,
                         ::testing::Values(Version{FileVersion::Access2007, "empty2007.accdb", "ACE12"},
                                           Version{FileVersion::Access2010, "empty2010.accdb", "ACE14"},
                                           Version{FileVersion::Access2016, "empty2016.accdb", "ACE16"},
                                           Version{FileVersion::Access2019, "empty2019.accdb", "ACE17"}),
                         [](const auto& info) { return nameOf(info.param); });

TEST(NewAccdbOptions, SortOrderAVersionLacksIsRefused) {
  jettest::TempDir temp;
  const std::string dir = temp.path().string();
  jet::CreateOptions o = optionsFor(FileVersion::Access2007);
  o.sortVersion = 1;
  try {
    jet::createDatabaseFile(dir + "/a.accdb", o);
    ADD_FAILURE() << "an Access 2007 file in the newer sort order";
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.number(), 3001);
  }
  o.version = FileVersion::Access2019;
  o.sortVersion = 0;  // the legacy order stays possible in later versions
  jet::createDatabaseFile(dir + "/b.accdb", o);
  jet::Bytes h = jet::SchemaFile::open(dir + "/b.accdb", true)->page(0);
  jet::maskHeaderBlock(Format::Jet4, h.data(), h.size());
  EXPECT_EQ(h[0x71], 0);
}

}  // namespace
