// Creating, renaming and dropping tables: what the independent readers see afterwards, the
// catalog and its indexes (also in a code page other than Windows-1252), the pages given back, and
// the errors for every refused change.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/schema_writer.h"
#include "jet/catalog/system_tables.h"
#include "jet/catalog/create_database.h"
#include "jet/database.h"
#include "jet/storage/header.h"
#include "jet/storage/page_file.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"
#include "jet/table/table_def.h"
#include "support/error_of.h"

namespace {

using jet::ColumnType;
using jet::Format;

jet::NewTable everyType() {
  jet::NewTable t;
  t.name = "Every Type";
  t.columns = {
      {"ID", ColumnType::Long, 0, true, false, false},
      {"Name", ColumnType::Text, 40, false, true, false},
      {"Code", ColumnType::Text, 255, false, false, true},
      {"Notes", ColumnType::Memo, 0, false, false, true},
      {"Done", ColumnType::Boolean},
      {"Small", ColumnType::Byte},
      {"Count", ColumnType::Integer},
      {"Price", ColumnType::Currency},
      {"Ratio", ColumnType::Single},
      {"Value", ColumnType::Double},
      {"When", ColumnType::DateTime},
  };
  t.indexes = {{"PrimaryKey", {{0, true}}, true, true, false, true}};
  return t;
}

std::vector<jet::CatalogEntry> catalogOf(jet::SchemaFile& f) {
  return jet::Catalog::read(f.pageFile(), f.format(), jettest::cp1252()).entries();
}

uint32_t tdefOf(jet::SchemaFile& f, const std::string& table) {
  for (const auto& e : catalogOf(f))
    if (e.object.name == table) return uint32_t(e.object.id);
  return 0;
}

// The user tables the catalog lists, in its order.
std::vector<std::string> userTables(const std::vector<jet::CatalogEntry>& catalog) {
  std::vector<std::string> names;
  for (const auto& e : catalog)
    if (e.parentId == jet::sys::kTablesId && !(e.object.flags & 0x80000000u)) names.push_back(e.object.name);
  return names;
}

class SchemaChanges : public ::testing::TestWithParam<Format> {
 protected:
  void SetUp() override { jet::createDatabaseFile(path_, {GetParam(), 1252, 1033}); }
  std::unique_ptr<jet::SchemaFile> open() { return jet::SchemaFile::open(path_); }
  std::vector<jet::CatalogEntry> catalog() { return catalogOf(*jet::SchemaFile::open(path_, true)); }
  jettest::TempDir dir_;
  const std::string path_ = (dir_.path() / "db.mdb").string();
};

TEST_P(SchemaChanges, DropGivesEveryPageBack) {
  uint32_t before = 0;
  std::vector<uint32_t> tablePages;
  {
    auto f = open();
    before = f->pageCount();
    jet::createTable(*f, everyType());
    for (uint32_t p = before; p < f->pageCount(); ++p) tablePages.push_back(p);
  }
  ASSERT_FALSE(tablePages.empty());
  auto f = open();
  const uint32_t tdef = tdefOf(*f, "Every Type");
  jet::dropTable(*f, "Every Type");
  EXPECT_TRUE(f->globalFree(tdef));
  for (uint32_t p : tablePages) {
    jet::Bytes b = f->page(p);
    // What stays in use is only a page of usage maps shared with later tables.
    if (b[0] == 0x01 && jet::le::get32(&b[4]) == 0) continue;
    EXPECT_TRUE(f->globalFree(p)) << "page " << p;
    EXPECT_NE(b[0], 0x02) << "page " << p << " still looks like a table definition";
  }
  // The freed pages are used again before the file grows.
  const uint32_t size = f->pageCount();
  jet::createTable(*f, everyType());
  EXPECT_EQ(f->pageCount(), size);
}

TEST_P(SchemaChanges, RefusedChangesNameTheirError) {
  auto f = open();
  jet::createTable(*f, everyType());
  jet::NewTable t{"Other", {{"A", ColumnType::Long}}, {}};
  jet::createTable(*f, t);

  t.name = "every type";
  EXPECT_EQ(errorOf([&] { jet::createTable(*f, t); }), 3010);
  for (const std::string& bad : std::vector<std::string>{"", " Lead", "a.b", "a!b", "a`b", "a[b", "a]b",
                                                       "tab\tname", std::string(65, 'x')}) {
    t.name = bad;
    EXPECT_EQ(errorOf([&] { jet::createTable(*f, t); }), 3125) << "'" << bad << "'";
  }
  t.name = std::string(64, 'x');
  EXPECT_EQ(errorOf([&] { jet::createTable(*f, t); }), 0) << "64 characters are allowed";
  // Names the older format's code page cannot hold are refused there rather than changed.
  t.name = "\xE8\xA1\xA8 \xC3\xA9t\xC3\xA9";
  EXPECT_EQ(errorOf([&] { jet::createTable(*f, t); }), GetParam() == Format::Jet3Layout ? 3125 : 0);
  EXPECT_EQ(errorOf([&] { jet::createTable(*f, {"Caf\xC3\xA9 \xE2\x82\xAC", {{"A", ColumnType::Long}}, {}}); }), 0)
      << "Windows-1252 letters and the euro sign are fine in both formats";

  const std::vector<jet::NewColumn> two = {{"A", ColumnType::Long}, {"B", ColumnType::Long}};
  const std::pair<jet::NewTable, int> refusals[] = {
      {{"Empty", {}, {}}, 3264},
      {{"Twice", {{"A", ColumnType::Long}, {"a", ColumnType::Text, 5}}, {}}, 3191},
      {{"Long", {{"A", ColumnType::Text, 256}}, {}}, 3001},
      {{"Zero", {{"A", ColumnType::Text, 0}}, {}}, 3001},
      {{"Idx", two, {{"K", {{0, true}}, false, false, false, false}, {"k", {{1, true}}, false, false, false, false}}}, 3284},
      {{"Idx", two, {{"P1", {{0, true}}, true, true, false, true}, {"P2", {{1, true}}, true, true, false, true}}}, 3283},
      {{"Idx", {{"A", ColumnType::Memo}}, {{"OnMemo", {{0, true}}, false, false, false, false}}}, 3259},
      {{"Bad", {{"A", ColumnType(0x33)}}, {}}, 3259},
  };
  for (const auto& [table, error] : refusals) EXPECT_EQ(errorOf([&] { jet::createTable(*f, table); }), error) << table.name;

  EXPECT_EQ(errorOf([&] { jet::renameTable(*f, "Missing", "X"); }), 3011);
  EXPECT_EQ(errorOf([&] { jet::renameTable(*f, "Other", "EVERY TYPE"); }), 3010);
  EXPECT_EQ(errorOf([&] { jet::renameTable(*f, "Other", "a.b"); }), 3125);
  EXPECT_EQ(errorOf([&] { jet::dropTable(*f, "Missing"); }), 3011);
  EXPECT_NE(jettest::failure([&] { jet::dropTable(*f, "Nowhere"); }).find("'Nowhere'"), std::string::npos);
  // Nothing refused changed the catalog.
  std::vector<std::string> want = {"Every Type", "Other", std::string(64, 'x')};
  if (GetParam() == Format::Jet4Layout) want.push_back("\xE8\xA1\xA8 \xC3\xA9t\xC3\xA9");
  want.push_back("Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(userTables(catalog()), want);
  EXPECT_EQ(jettest::firstProblem(*jet::Database::open(path_, {true, ""})), "") << "every index holds exactly its rows";
}

INSTANTIATE_TEST_SUITE_P(BothFormats, SchemaChanges, ::testing::Values(Format::Jet3Layout, Format::Jet4Layout),
                         [](const auto& info) { return info.param == Format::Jet4Layout ? "Jet4" : "Jet3"; });

// Tables created, renamed (once in case only) and dropped, in new files of both formats and beside
// Access's own tables: the catalog lists what is left and its indexes stay true, the dropped
// table's permission rows go, and the independent readers see the tables left while the rows of
// Access's tables read as before.
class SchemaChangeFiles : public ::testing::TestWithParam<const char*> {};

TEST_P(SchemaChangeFiles, CreateRenameAndDropLeaveTheRestAlone) {
  jettest::TempDir dir;
  const std::string name = GetParam();
  std::string path = dir.file("db.mdb");
  if (name.rfind("Jet", 0) == 0) jet::createDatabaseFile(path, {name == "Jet3" ? Format::Jet3Layout : Format::Jet4Layout, 1252, 1033});
  else path = dir.copy(name);
  auto tables = [&] {
    std::vector<std::string> t = userTables(catalogOf(*jet::SchemaFile::open(path, true)));
    std::sort(t.begin(), t.end());
    return t;
  };
  // Rows of Table1 and the tables the reader cannot read (types it lacks): the same before and after.
  auto untouched = [](const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const auto& l : lines)
      if (l.rfind("FAIL\t", 0) == 0 || l.rfind("ROW\tTable1\t", 0) == 0) out.push_back(l);
    return out;
  };
  auto aces = [](const std::vector<std::string>& lines) {
    return size_t(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("ROW\tMSysACEs\t", 0) == 0; }));
  };
  std::vector<std::string> want = tables();
  want.insert(want.end(), {"Renamed", "THIRD"});
  std::sort(want.begin(), want.end());
  auto readerBefore = oracle::mdbReader(path);
  {
    auto f = jet::SchemaFile::open(path);
    jet::createTable(*f, everyType());
    jet::createTable(*f, {"Second", {{"X", ColumnType::Text, 10}}, {}});
    jet::createTable(*f, {"Third", {{"Y", ColumnType::Long}}, {{"ByY", {{0, true}}, false, true, false, false}}});
    jet::renameTable(*f, "second", "Renamed");
    jet::renameTable(*f, "Third", "THIRD");  // a change of case only
    jet::dropTable(*f, "Every Type");
    EXPECT_EQ(errorOf([&] { jet::createTable(*f, jet::NewTable{"renamed", {{"A", ColumnType::Long}}, {}}); }), 3010);
  }
  EXPECT_EQ(tables(), want);
  EXPECT_EQ(jettest::firstProblem(*jet::Database::open(path, {true, ""})), "") << "every index holds exactly its rows";
  if (auto listed = oracle::mdbtools("mdb-tables", "-1 " + oracle::quote(path))) {
    std::vector<std::string> seen = testsupport::lines(listed->out), named;
    std::copy_if(want.begin(), want.end(), std::back_inserter(named), [](const std::string& t) { return t.rfind("MSys", 0) != 0; });
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, named) << "mdb-tables leaves out the tables named MSys";
  }
  if (auto lines = oracle::mdbReader(path)) {
    ASSERT_NE(lines->front(), "ERROR") << (lines->size() > 1 ? (*lines)[1] : "");
    for (const char* t : {"Renamed", "THIRD", "Every Type"})
      EXPECT_EQ(std::count(lines->begin(), lines->end(), "TABLE\t" + std::string(t) + "\t0"), t[0] == 'E' ? 0 : 1) << t;
    EXPECT_EQ(untouched(*lines), untouched(*readerBefore));
    EXPECT_EQ(aces(*lines), aces(*readerBefore) + 2 * jet::sys::newTableAces(0).size()) << "the dropped table's permission rows are gone";
  }
}

INSTANTIATE_TEST_SUITE_P(Files, SchemaChangeFiles, ::testing::Values("Jet3", "Jet4", "testV1997.mdb", "indexTestV2000.mdb"),
                         [](const auto& info) { std::string n = info.param;
                           return n.substr(0, n.find('.')); });

// A table whose definition spans several pages, and the limits of a definition.
class LargeDefinitions : public ::testing::TestWithParam<Format> {};

TEST_P(LargeDefinitions, ManyColumnsSpanPagesAndReadBack) {
  jettest::TempDir dir;
  const std::string path = (dir.path() / "wide.mdb").string();
  jet::NewTable t{"Wide", {}, {}};
  for (int i = 0; i < 255; ++i) {
    ColumnType type = i % 5 == 0 ? ColumnType::Memo : i % 3 == 0 ? ColumnType::Long : ColumnType::Text;
    t.columns.push_back({"Column number " + std::to_string(i), type, type == ColumnType::Text ? 100 : 0});
  }
  // Decimal exists in the newer format only.
  t.columns.push_back({"Amount", GetParam() == Format::Jet4Layout ? ColumnType::Numeric : ColumnType::Double, 0});
  t.columns.back().precision = 12;
  t.columns.back().scale = 4;
  {
    auto db = jet::Database::create(path, {GetParam(), 1252, 1033});
    EXPECT_EQ(errorOf([&] { db->createTable(t); }), 3190) << "256 fields are too many";
    t.columns.erase(t.columns.begin() + 200);
    db->createTable(t);
    auto info = db->table("Wide");
    ASSERT_EQ(info.columns.size(), 255u);
    EXPECT_EQ(info.columns[199].name, "Column number 199");
    EXPECT_EQ(info.columns[200].name, "Column number 201");
    if (GetParam() == Format::Jet4Layout) {
      EXPECT_EQ(info.columns.back().precision, 12);
      EXPECT_EQ(info.columns.back().scale, 4);
    } else {
      EXPECT_EQ(errorOf([&] { db->createTable({"Dec", {{"D", ColumnType::Numeric}}, {}}); }), 3259);
    }
    EXPECT_EQ(jettest::firstProblem(*db), "");
  }
  auto f = jet::SchemaFile::open(path, true);
  const std::vector<uint32_t> chain = f->definition(tdefOf(*f, "Wide")).pages;
  EXPECT_GE(chain.size(), GetParam() == Format::Jet4Layout ? 3u : 5u) << "the definition spans pages";
  if (auto lines = oracle::mdbReader(path)) {
    size_t cols = 0;
    for (const auto& l : *lines)
      if (l.rfind("COLUMN\tWide\t", 0) == 0) ++cols;
    EXPECT_EQ(cols, 255u);
  }
  f.reset();
  {
    auto db = jet::Database::open(path);
    db->dropTable("Wide");
    EXPECT_EQ(jettest::firstProblem(*db), "");
  }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, LargeDefinitions, ::testing::Values(Format::Jet3Layout, Format::Jet4Layout),
                         [](const auto& info) { return info.param == Format::Jet4Layout ? "Jet4" : "Jet3"; });


// A catalog that grows past what its inline usage map can describe: the map moves to bitmap
// pages and every reader still finds every table.
TEST(GrowingCatalog, MapBeyondItsInlineWindowStillFindsEveryTable) {
  for (Format f : {Format::Jet3Layout, Format::Jet4Layout}) {
    jettest::TempDir dir;
    const std::string path = (dir.path() / "grow.mdb").string();
    jet::createDatabaseFile(path, {f, 1252, 1033});
    {
      auto file = jet::SchemaFile::open(path);
      // Fill the file so that the catalog's next page lies past the inline map's reach.
      while (file->pageCount() < (f == Format::Jet4Layout ? 600u : 1100u)) file->allocatePage();
      for (int i = 0; i < 80; ++i) jet::createTable(*file, {"Table " + std::to_string(i), {{"A", ColumnType::Long}}, {}});
      auto def = file->definition(2);
      auto pages = file->usageMapPages(def.ownedPagesPointer);
      ASSERT_GE(pages.size(), 2u);
      EXPECT_GE(pages.back(), f == Format::Jet4Layout ? 600u : 1100u);
      EXPECT_EQ(catalogOf(*file).size(), 88u);
    }
    {
      auto db = jet::Database::open(path, {true, ""});
      EXPECT_EQ(jettest::firstProblem(*db), "");
      EXPECT_EQ(db->table("Table 79").columns.size(), 1u);
    }
    if (auto lines = oracle::mdbReader(path))
      EXPECT_NE(std::find(lines->begin(), lines->end(), "TABLE\tTable 79\t0"), lines->end());
  }
}


// Text and memo columns of new tables take Unicode compression as Access makes them: the column is
// marked, values of one-byte characters are stored one byte a character behind FF FE (mixed text in
// runs), and both independent readers read every value back as written; the check passes.
TEST(NewTextColumns, AreCompressedAndReadBackInBothReaders) {
  std::string longMemo;
  for (int i = 0; i < 900; ++i) longMemo += "memo line " + std::to_string(i) + ' ';
  std::vector<std::pair<std::string, std::string>> rows;  // title, body
  for (const std::string t : {"plain ascii text", "caf\xC3\xA9 cr\xC3\xA8me", "\xCF\x81\xCE\xB6 mixed run",
                              "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "ab", ""})
    rows.emplace_back(t, t + " / " + t);
  rows.emplace_back("long", longMemo);
  jettest::TempDir dir;
  for (const char* name : {"testV2000.mdb", "ace/testV2007.accdb"}) {
    const std::string path = dir.copy(name, "text" + std::string(name).substr(std::string(name).rfind('.')));
    {
      auto db = jet::Database::open(path);
      db->createTable({"Notes", {{"Title", ColumnType::Text, 60}, {"Body", ColumnType::Memo}}, {}});
      for (const auto& [title, body] : rows) db->insertRow("Notes", {title, body});
      for (const auto& c : db->table("Notes").columns) EXPECT_TRUE(c.compressedText) << name << " " << c.name;
      EXPECT_TRUE(db->check().ok()) << name;
    }
    const auto bytes = jettest::readFile(path);
    auto stored = [&](const std::vector<uint8_t>& want) {
      return std::search(bytes.begin(), bytes.end(), want.begin(), want.end()) != bytes.end();
    };
    EXPECT_TRUE(stored({0xFF, 0xFE, 'c', 'a', 'f', 0xE9, ' ', 'c', 'r', 0xE8, 'm', 'e'})) << name;
    EXPECT_TRUE(stored({0xFF, 0xFE, 0, 0xC1, 0x03, 0xB6, 0x03, 0, ' ', 'm', 'i', 'x', 'e', 'd'})) << name;
    EXPECT_TRUE(stored({0xFF, 0xFE, 'm', 'e', 'm', 'o', ' ', 'l', 'i', 'n', 'e', ' ', '0', ' '})) << name;

    // Each row as mdbtools exports it and as mdb-reader lists it.
    std::vector<std::string> want, json;
    for (const auto& [title, body] : rows) {
      want.push_back(title + "|" + body);
      json.push_back("{\"Title\":\"" + title + "\",\"Body\":\"" + body + "\"}");
    }
    std::sort(want.begin(), want.end());
    if (auto lines = oracle::mdbReader(path)) {
      std::vector<std::string> seen;
      for (const auto& l : *lines)
        if (l.rfind("ROW\tNotes\t", 0) == 0) seen.push_back(l.substr(10));
      std::sort(seen.begin(), seen.end());
      std::sort(json.begin(), json.end());
      EXPECT_EQ(seen, json) << name;
    }
    if (auto run = oracle::mdbtools("mdb-export", "-H -d '|' -q '' " + oracle::quote(path) + " Notes")) {
      std::vector<std::string> seen = testsupport::lines(run->out);
      std::sort(seen.begin(), seen.end());
      EXPECT_EQ(seen, want) << name;
    }
  }
}

// A Jet 3 file whose code page is not Windows-1252: the catalog's names are read and written in the
// file's own code page, so a table made there is found again to be renamed and dropped, and its name
// reads back unchanged.
TEST(CatalogCodePage, TablesAreFoundAgainByTheirNames) {
  const struct {
    uint16_t codePage;
    const char *created, *renamed;
  } cases[] = {{1251, "Клиенты", "Склад"}, {1253, "Πελάτες", "Αποθήκη"}};
  for (const auto& c : cases) {
    jettest::TempDir dir;
    const std::string path = (dir.path() / "cp.mdb").string();
    jet::Database::create(path, {Format::Jet3Layout, 1252, 1033})->close();
    std::vector<uint8_t> bytes = jettest::readFile(path);
    jet::maskHeaderBlock(Format::Jet3Layout, bytes.data(), 0x800);
    jet::le::put16(bytes.data() + 0x3C, c.codePage);
    jet::maskHeaderBlock(Format::Jet3Layout, bytes.data(), 0x800);
    jettest::writeFile(path, bytes);
    auto names = [](jet::Database& db) {
      std::set<std::string> out;
      for (const auto& o : db.objects()) out.insert(o.name);
      return out;
    };
    {
      auto db = jet::Database::open(path);
      ASSERT_EQ(db->codePage(), c.codePage);
      db->createTable({c.created, {{"Name", ColumnType::Text, 20}}});
      EXPECT_THROW(db->createTable({c.created, {{"Other", ColumnType::Long}}}), jet::Error);
      db->renameTable(c.created, c.renamed);
    }
    auto db = jet::Database::open(path);
    EXPECT_TRUE(names(*db).count(c.renamed) && !names(*db).count(c.created)) << c.codePage;
    db->dropTable(c.renamed);
    EXPECT_FALSE(names(*db).count(c.renamed));
    EXPECT_TRUE(db->check().ok());
  }
}

}  // namespace
