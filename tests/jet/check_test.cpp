// The whole-file check: silent on sound files (ours and Access's), and naming the damage in
// deliberately damaged copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "jet/base/bytes.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/catalog_writer.h"
#include "jet/catalog/schema_writer.h"
#include "jet/catalog/system_tables.h"
#include "jet/catalog/create_database.h"
#include "jet/database.h"
#include "jet/database_impl.h"
#include "jet/index/index_page.h"
#include "jet/storage/data_page.h"
#include "jet/storage/page_transaction.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"

namespace {

using jet::ColumnType;
using jet::Format;

std::string joined(const jet::CheckReport& r) {
  std::string s;
  for (const auto& p : r.problems) s += p + "\n";
  return s;
}

jet::CheckReport checkFile(const std::string& path, const std::string& password = "") {
  return jet::Database::open(path, {true, password})->check();
}

// The check of the file names the problem `text` (a part of one of its lines).
void expectNamed(const std::string& path, const std::string& text) {
  const std::string problems = joined(checkFile(path));
  EXPECT_NE(problems.find(text), std::string::npos) << "no '" << text << "' in:\n" << problems;
}

class CheckFixture {
 public:
  std::string copy(const std::string& name) { return tmp_.copy(name); }
  // A new database with two user tables, one with an index.
  std::string fresh(Format f) {
    std::string path = dir_ + (f == Format::Jet4 ? "/fresh4.mdb" : "/fresh3.mdb");
    auto db = jet::Database::create(path, {f, 1252, 1033});
    db->createTable({"Alpha", {{"ID", ColumnType::Long, 0, true}, {"Name", ColumnType::Text, 30}},
                     {{"PrimaryKey", {{0, true}}, true, true, false, true}}});
    db->createTable({"Beta", {{"Note", ColumnType::Memo}}, {}});
    db->createTable({"Gamma", {{"X", ColumnType::Double}}, {}});
    db->renameTable("Gamma", "Delta");
    db->dropTable("Beta");
    return path;
  }
  const std::string& dir() const { return dir_; }

 private:
  jettest::TempDir tmp_;
  const std::string dir_ = tmp_.path().string();
};

uint32_t tdefOf(const std::string& path, const std::string& table) {
  auto f = jet::SchemaFile::open(path, true);
  const jet::Catalog catalog = jet::Catalog::read(f->pageFile(), f->format(), jet::windows1252Codec());
  const jet::CatalogEntry* e = catalog.findTable(table);
  return e ? uint32_t(e->object.id) : 0;
}

// The last data page of the table's usage map that holds its rows (0 for none).
uint32_t dataPageOf(jet::SchemaFile& f, uint32_t tdef) {
  uint32_t found = 0;
  for (uint32_t p : f.usageMapPages(f.definition(tdef).ownedPagesPointer))
    if (f.page(p)[0] == jet::kDataPageType && jet::le::get32(&f.page(p)[4]) == tdef) found = p;
  return found;
}

std::string holdsRowsOutsideItsMap(uint32_t page) {
  return "Page " + std::to_string(page) + " holds rows of table 'Table1' but its usage map";
}

TEST(Check, SoundFilesHaveNoProblems) {
  CheckFixture fx;
  for (Format f : {Format::Jet3, Format::Jet4}) {
    auto r = checkFile(fx.fresh(f));
    EXPECT_TRUE(r.ok()) << joined(r);
  }
  // Every file of the test collection: Access-made files with deleted and moved rows, long values,
  // several index levels, and a key for every Jet 3 character (code-page bytes included).
  size_t files = 0;
  for (const std::string& name : jettest::allTestFiles()) {
    const std::string path = jettest::testdata(name);
    ++files;
    auto r = checkFile(path, jettest::passwordOf(name));
    EXPECT_TRUE(r.ok()) << path << ":\n" << joined(r);
  }
  EXPECT_GE(files, 32u);
  // Access's encrypted file, which keeps a superseded copy of a page of MSysNavPaneObjectIDs.
  auto r = checkFile(jettest::testdata("ace/passwordV2010.accdb"), "password");
  EXPECT_TRUE(r.ok()) << joined(r);
}

// Counts planted wrong in an Access-made file: the definition's row count, and the free-space count
// of one of the table's data pages (writers trust it to place rows).
TEST(Check, NamesAWrongRowOrFreeSpaceCount) {
  const struct {
    bool dataPage;
    const char* named;
  } cases[] = {{false, "Table 'Table1' records"}, {true, " of table 'Table1' records"}};
  for (const auto& c : cases) {
    CheckFixture fx;
    const std::string path = fx.copy("testV1997.mdb");
    const uint32_t tdef = tdefOf(path, "Table1");
    ASSERT_NE(tdef, 0u);
    {
      auto f = jet::SchemaFile::open(path);
      const uint32_t page = c.dataPage ? dataPageOf(*f, tdef) : tdef, at = c.dataPage ? 2 : 12;
      jet::Bytes p = f->page(page);
      jet::le::put16(&p[at], uint16_t(jet::le::get16(&p[at]) + 2));
      f->writePage(page, p.data());
    }
    expectNamed(path, c.named);
  }
}

TEST(Check, NamesAMissingIndexEntry) {
  CheckFixture fx;
  for (Format f : {Format::Jet3, Format::Jet4}) {
    const std::string path = fx.fresh(f);
    {
      auto file = jet::SchemaFile::open(path);
      auto def = file->definition(2);
      // Take the entry of the table 'Alpha' out of the catalog's index on Id.
      jet::IndexTree tree(*file, def.realIndexes[1].rootPage, 2);
      auto entries = tree.entries();
      ASSERT_FALSE(entries.empty());
      ASSERT_TRUE(tree.erase(entries.back()));
    }
    expectNamed(path, "Table 'MSysObjects': index 'Id'");
  }
}

TEST(Check, NamesAUsedPageTheGlobalMapOffers) {
  CheckFixture fx;
  const std::string path = fx.fresh(Format::Jet4);
  const uint32_t tdef = tdefOf(path, "Alpha");
  {
    auto f = jet::SchemaFile::open(path);
    jet::Bytes p = f->page(1);
    const uint16_t start = jet::le::get16(&p[14]) & 0x1FFF;
    p[start + 5 + tdef / 8] |= uint8_t(1 << (tdef % 8));
    f->writePage(1, p.data());
    ASSERT_TRUE(f->globalFree(tdef));
  }
  expectNamed(path, "Page " + std::to_string(tdef) + " is used by the definition of table 'Alpha'");
}

TEST(Check, NamesACatalogRowWithoutDefinition) {
  CheckFixture fx;
  const std::string path = fx.fresh(Format::Jet3);
  const uint32_t tdef = tdefOf(path, "Delta");
  {
    auto f = jet::SchemaFile::open(path);
    jet::Bytes zero(f->pageSize(), 0);
    f->writePage(tdef, zero.data());
  }
  expectNamed(path, "Table 'Delta' points to page " + std::to_string(tdef) + ", which is not a table definition");
}

TEST(Check, NamesRowsTheUsageMapLeavesOut) {
  CheckFixture fx;
  const std::string path = fx.copy("testV2000.mdb");
  const uint32_t tdef = tdefOf(path, "Table1");
  uint32_t dataPage = 0;
  {
    auto f = jet::SchemaFile::open(path);
    ASSERT_NE(dataPage = dataPageOf(*f, tdef), 0u);
    f->usageMapMark(f->definition(tdef).ownedPagesPointer, dataPage, false);
  }
  expectNamed(path, holdsRowsOutsideItsMap(dataPage));
}

// A page that still names the table in its header but that the table's map no longer lists is not
// the table's (Access leaves superseded copies of pages so, in use until compaction): the rows are
// read through the map alone and the check is silent, unless rows the definition counts are missing.
TEST(Check, APageTheMapGaveUpIsNotTheTablesUnlessRowsAreMissing) {
  CheckFixture fx;
  for (const char* name : {"testV2000.mdb", "ace/testV2007.accdb"}) {
    const std::string path = fx.copy(name);
    const uint32_t tdef = tdefOf(path, "Table1");
    const auto before = jettest::contents(*jet::Database::open(path, {true, ""}));
    uint32_t dataPage = 0, copy = 0;
    {
      auto f = jet::SchemaFile::open(path);
      ASSERT_NE(dataPage = dataPageOf(*f, tdef), 0u) << name;
      copy = f->allocatePage();
      ASSERT_FALSE(f->globalFree(copy));
      f->writePage(copy, f->page(dataPage).data());
    }
    auto r = checkFile(path);
    EXPECT_TRUE(r.ok()) << name << ":\n" << joined(r);
    EXPECT_EQ(jettest::contents(*jet::Database::open(path, {true, ""})), before) << name;
    // The page the map still lists is taken out of it: the definition's rows are no longer all found,
    // and both pages holding the table's rows outside the map are named.
    {
      auto f = jet::SchemaFile::open(path);
      f->usageMapMark(f->definition(tdef).ownedPagesPointer, dataPage, false);
    }
    for (uint32_t p : {dataPage, copy}) expectNamed(path, holdsRowsOutsideItsMap(p));
  }
}

TEST(Check, NamesAPageTwoTablesClaim) {
  CheckFixture fx;
  const std::string path = fx.copy("testV2000.mdb");
  const uint32_t one = tdefOf(path, "Table1"), two = tdefOf(path, "Table2");
  uint32_t shared = 0;
  {
    auto f = jet::SchemaFile::open(path);
    auto a = f->definition(one);
    auto b = f->definition(two);
    for (uint32_t p : f->usageMapPages(a.ownedPagesPointer))
      if (f->page(p)[0] == 0x01) shared = p;
    ASSERT_NE(shared, 0u);
    f->usageMapMark(b.ownedPagesPointer, shared, true);
  }
  expectNamed(path, "Page " + std::to_string(shared) + " is listed by the usage maps of both");
}

TEST(Check, NamesABrokenLongValue) {
  CheckFixture fx;
  const std::string source = std::string(TABULONIX_TESTDATA_DIR) + "/generated/longValuesV2000.mdb";
  const std::string path = fx.dir() + "/lv.mdb";
  ASSERT_TRUE(oracle::copyFile(source, path));
  std::vector<uint32_t> lvPages;
  {
    auto f = jet::SchemaFile::open(path, true);
    for (uint32_t p = 2; p < f->pageCount(); ++p) {
      jet::Bytes b = f->page(p);
      if (b[0] == 0x01 && std::memcmp(&b[4], "LVAL", 4) == 0) lvPages.push_back(p);
    }
  }
  ASSERT_FALSE(lvPages.empty());
  // Break one long-value page at a time (every row loses its place) until one holds a table's
  // values rather than the catalog's properties, which the database needs to open at all.
  // A dozen pages spread over the file stand for all of them: each round copies and checks the
  // whole file.
  bool named = false;
  const size_t stride = std::max<size_t>(1, lvPages.size() / 12);
  for (size_t k = 0; k < lvPages.size(); k += stride) {
    const uint32_t p = lvPages[k];
    ASSERT_TRUE(oracle::copyFile(source, path));
    {
      auto f = jet::SchemaFile::open(path);
      jet::Bytes b = f->page(p);
      const uint16_t rows = jet::le::get16(&b[12]);
      for (uint16_t i = 0; i < rows; ++i) jet::le::put16(&b[14 + 2 * i], 0x1FFF);
      f->writePage(p, b.data());
    }
    std::string problems;
    if (!jettest::failure([&] { problems = joined(checkFile(path)); }).empty()) continue;
    EXPECT_NE(problems, "") << "long-value page " << p << " broken unnoticed";
    named = named || problems.find("cannot be read") != std::string::npos;
  }
  EXPECT_TRUE(named);
}

TEST(Check, NamesDuplicateTableNames) {
  CheckFixture fx;
  const std::string path = fx.fresh(Format::Jet4);
  {
    auto f = jet::SchemaFile::open(path);
    auto def = f->definition(2);
    for (auto [row, values] : jet::readPlainRows(*f, 2, def)) {
      if (values[def.findColumn(jet::sys::kObjName)] != jet::Value(std::string("Delta"))) continue;
      values[def.findColumn(jet::sys::kObjName)] = std::string("ALPHA");
      f->insertRow(2, def, jet::encodeSystemRow(def, values, f->codec(), true));
      f->deleteRow(row.page, row.row);
    }
  }
  expectNamed(path, "Two catalog objects are named 'ALPHA'");
  // The catalog's own index no longer agrees with its rows either.
  expectNamed(path, "Table 'MSysObjects': index 'ParentIdName'");
}

TEST(CheckPages, AnIndexPageBelowTheRootThatTheMapOffersIsReported) {
  CheckFixture fx;
  const std::string path = fx.dir() + "/pages.mdb";
  uint32_t leaf = 0;
  {
    auto db = jet::Database::create(path);
    db->createTable({"T", {{"ID", ColumnType::Long, 0, true}, {"Name", ColumnType::Text, 50}}, {{"Name", {{1, true}}}}});
    for (int i = 0; i < 3000; ++i) db->insertRow("T", {jet::Value{}, std::string("a fairly long name " + std::to_string(i))});
    EXPECT_TRUE(db->check().ok());
  }
  {
    jet::DatabaseImpl db(path, {});
    const jet::TableDef& def = db.tableDef("T");
    const uint32_t root = def.realIndexes.at(0).rootPage;
    for (uint32_t p = 3; p < db.pageCount() && !leaf; ++p) {
      auto page = db.pageFile().page(p);
      if ((*page)[0] == jet::kIndexLeafPage && jet::le::get32(page->data() + 4) == def.tdefPage && p != root) leaf = p;
    }
    ASSERT_NE(leaf, 0u) << "the index has a single page";
    jet::PageTransaction tx(db.pageFile());
    tx.useFreePageMap(jet::Format::Jet4);
    tx.release(leaf);
    tx.commit();
  }
  bool named = false;
  for (const auto& p : checkFile(path).problems)
    named = named || (p.find("Page " + std::to_string(leaf) + " is used by index 'Name'") == 0 &&
                      p.find("marks it free") != std::string::npos);
  EXPECT_TRUE(named) << joined(checkFile(path));
}

}  // namespace
