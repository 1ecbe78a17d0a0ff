// New databases of every layout (Jet 3, Jet 4, each .accdb version): the header, the page layout
// and the definitions of the engine's own tables against the empty databases the engines made
// themselves, the catalog, and what mdbtools and mdb-reader see; and the sample database the build
// makes. (The whole-file check of new databases is in check_test.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <tuple>

#include "jet/base/bytes.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/schema_writer.h"
#include "jet/catalog/system_tables.h"
#include "jet/catalog/create_database.h"
#include "jet/database.h"
#include "jet/storage/header.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"
#include "jet/table/table_def.h"
#include "support/error_of.h"

namespace {

using jet::FileVersion;
using jet::Format;

struct Layout {
  const char* name;
  Format format;
  FileVersion version;
  const char* reference;  // the engine's own empty database (Jet 3: a file whose first pages are its system tables)
  const char* mdbVer;     // what mdbtools calls the version
  uint32_t pages;         // pages of a new file; 0: not compared page for page
  size_t definitions;     // definition pages compared
  size_t catalogRows;
};

const Layout kLayouts[] = {
    {"Jet3", Format::Jet3Layout, FileVersion::Jet3, "testV1997.mdb", "JET3", 0, 4, 8},
    {"Jet4", Format::Jet4Layout, FileVersion::Jet4, "adox_jet4.mdb", "JET4", 16, 4, 8},
    {"Access2007", Format::Jet4Layout, FileVersion::Access2007, "ace/empty2007.accdb", "ACE12", 42, 14, 18},
    {"Access2010", Format::Jet4Layout, FileVersion::Access2010, "ace/empty2010.accdb", "ACE14", 42, 14, 18},
    {"Access2016", Format::Jet4Layout, FileVersion::Access2016, "ace/empty2016.accdb", "ACE16", 42, 14, 18},
    {"Access2019", Format::Jet4Layout, FileVersion::Access2019, "ace/empty2019.accdb", "ACE17", 42, 14, 18},
};

bool accdb(const Layout& l) { return l.version >= FileVersion::Access2007; }

jet::CreateOptions optionsOf(const Layout& l) { return {l.format, 1252, 1033, l.version}; }

jet::Bytes plainHeader(jet::SchemaFile& f) {
  jet::Bytes h = f.page(0);
  jet::maskHeaderBlock(f.format(), h.data(), h.size());
  return h;
}

class NewDatabase : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    path_ = (dir_.path() / (accdb(GetParam()) ? "new.accdb" : "new.mdb")).string();
    jet::createDatabaseFile(path_, optionsOf(GetParam()));
  }
  jettest::TempDir dir_;
  std::string path_;
};

TEST_P(NewDatabase, HeaderCarriesVersionCodePageSortOrderAndNoPassword) {
  const Layout& l = GetParam();
  auto file = jet::SchemaFile::open(path_, true);
  EXPECT_EQ(file->format(), l.format);
  const jet::Bytes raw = file->page(0);
  EXPECT_EQ(0, std::memcmp(raw.data() + 4, accdb(l) ? "Standard ACE DB" : "Standard Jet DB", 15));
  if (accdb(l)) EXPECT_EQ(raw[0x14], jet::versionByteOf(l.version));
  const jet::Bytes h = plainHeader(*file);
  EXPECT_EQ(jet::le::get16(&h[0x3C]), 1252);
  EXPECT_EQ(jet::le::get32(&h[0x3E]), 0u) << "no database key";
  if (l.format == Format::Jet3Layout) {
    EXPECT_EQ(jet::le::get16(&h[0x3A]), 1033);
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(h[0x42 + i], 0) << "password byte " << i;
    return;
  }
  EXPECT_EQ(jet::le::get16(&h[0x6E]), 1033);
  // Access 2007 knows only the legacy sort order; later versions make files in the newer one.
  EXPECT_EQ(h[0x71], l.version >= FileVersion::Access2010 ? 1 : 0);
  double created;
  std::memcpy(&created, &h[0x72], 8);
  EXPECT_NEAR(created, jet::sys::oleNow(), 1.0);
  // No password: the password field holds exactly its date mask.
  const uint32_t mask = uint32_t(int32_t(created));
  for (size_t i = 0; i < 40; i += 4) EXPECT_EQ(jet::le::get32(&h[0x42 + i]), mask) << "password bytes " << i;
  EXPECT_EQ(jet::parseHeader(std::vector<uint8_t>(raw.begin(), raw.begin() + 0x100), path_).format, Format::Jet4Layout);
}

// The same pages in the same places as the engine's own empty file (header, global map,
// definitions, maps, index roots, catalog rows), of the same kinds and owners; the global map marks
// only pages past the end free.
TEST_P(NewDatabase, LayoutIsPageForPageTheEnginesOwn) {
  const Layout& l = GetParam();
  auto ours = jet::SchemaFile::open(path_, true);
  for (uint32_t p = 0; p < ours->pageCount(); ++p) EXPECT_FALSE(ours->globalFree(p)) << "page " << p;
  EXPECT_TRUE(ours->globalFree(ours->pageCount() + 40));
  if (!l.pages) return;
  auto ref = jet::SchemaFile::open(jettest::testdata(l.reference), true);
  ASSERT_EQ(ours->pageCount(), l.pages);
  // The last page of a new .accdb holds the permissions' rows, where Access's own tables follow;
  // a new .mdb has pages past the engine's own empty file.
  const uint32_t compared = accdb(l) ? l.pages - 1 : ref->pageCount();
  for (uint32_t p = 1; p < compared; ++p) {
    jet::Bytes a = ours->page(p), b = ref->page(p);
    EXPECT_EQ(a[0], b[0]) << "page type of page " << p;
    EXPECT_EQ(jet::le::get32(&a[4]), jet::le::get32(&b[4])) << "owner of page " << p;
  }
  if (!accdb(l)) {
    // Usage maps and index pages carry no dates: they are byte for byte the same.
    for (uint32_t p : {1u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u}) EXPECT_EQ(ours->page(p), ref->page(p)) << "page " << p;
  }
}

// Definition by definition, the engine's tables as the engine itself wrote them: columns, their
// order, types, flags, lengths and sort order, indexes and their flags.
TEST_P(NewDatabase, DefinitionsMatchTheEnginesOwn) {
  const Layout& l = GetParam();
  auto ref = jet::SchemaFile::open(jettest::testdata(l.reference), true);
  jet::CreateOptions o = optionsOf(l);
  // Access's empty 2019 file was made in the legacy order: compare like with like.
  if (accdb(l)) o.sortVersion = plainHeader(*ref)[0x71];
  auto ours = jet::buildNewDatabase(o, 45000.5);
  jet::TextCodec codec(1252);
  size_t compared = 0;
  for (uint32_t page = 2; page < ours.size() && compared < l.definitions; ++page) {
    if (ours[page][0] != 0x02) continue;
    SCOPED_TRACE("definition page " + std::to_string(page));
    jet::Bytes mine(ours[page].begin(), ours[page].end());
    mine.resize(jet::le::get32(&mine[8]));
    const jet::Tdef b = jet::parseTdef(l.format, mine, codec);
    const jet::Tdef a = ref->definition(page);
    ++compared;
    EXPECT_EQ(a.tableType, b.tableType);
    EXPECT_EQ(a.storedOrder, b.storedOrder);
    EXPECT_EQ(a.ownedPagesPointer != 0, b.ownedPagesPointer != 0);
    ASSERT_EQ(a.columns.size(), b.columns.size());
    for (size_t i = 0; i < a.columns.size(); ++i) {
      const auto &x = a.columns[i], &y = b.columns[i];
      EXPECT_EQ(std::tie(x.name, x.type, x.number, x.varIndex, x.flags, x.length),
                std::tie(y.name, y.type, y.number, y.varIndex, y.flags, y.length));
      if (x.fixed()) EXPECT_EQ(x.fixedOffset, y.fixedOffset) << x.name;
      if (accdb(l)) EXPECT_EQ(x.extFlags, y.extFlags) << x.name;
      if (x.type == jet::ColumnType::Numeric) EXPECT_EQ(x.precision, y.precision) << x.name;
      else EXPECT_EQ(std::tie(x.sortOrder, x.sortVersion), std::tie(y.sortOrder, y.sortVersion)) << x.name;
    }
    // Real indexes: flags and key columns, and in an .accdb their maps and roots too.
    auto realIndexes = [&](const jet::Tdef& d) {
      std::vector<std::tuple<int, std::vector<std::pair<int, bool>>, uint32_t, uint32_t>> out;
      for (const auto& r : d.realIndexes) {
        std::vector<std::pair<int, bool>> keys;
        for (const auto& k : r.columns) keys.emplace_back(int(k.columnNumber), bool(k.ascending));
        out.emplace_back(int(r.flags), keys, accdb(l) ? uint32_t(r.usedPagesPointer) : 0u, accdb(l) ? r.rootPage : 0u);
      }
      return out;
    };
    EXPECT_EQ(realIndexes(a), realIndexes(b));
    ASSERT_EQ(a.indexes.size(), b.indexes.size());
    for (size_t i = 0; i < a.indexes.size(); ++i)
      EXPECT_EQ(std::tie(a.indexes[i].name, a.indexes[i].number, a.indexes[i].realIndex, a.indexes[i].kind),
                std::tie(b.indexes[i].name, b.indexes[i].number, b.indexes[i].realIndex, b.indexes[i].kind));
    if (accdb(l)) EXPECT_EQ(std::tie(a.ownedPagesPointer, a.freeSpacePointer), std::tie(b.ownedPagesPointer, b.freeSpacePointer));
  }
  EXPECT_EQ(compared, l.definitions);
}

// The catalog: the containers and system tables; in an .accdb, the complex-column tables without
// an owner, the templates flagged as system templates.
TEST_P(NewDatabase, CatalogAndIndependentReaders) {
  const Layout& l = GetParam();
  {
    auto file = jet::SchemaFile::open(path_, true);
    const jet::Catalog catalog = jet::Catalog::read(file->pageFile(), l.format, jettest::cp1252());
    size_t templates = 0;
    for (const auto& e : catalog.entries()) {
      if (e.object.name == "MSysComplexColumns") EXPECT_EQ(std::make_pair(e.object.flags, e.object.id), std::make_pair(0x80000000u, 18));
      if (e.object.name.rfind("MSysComplexType_", 0) == 0) {
        ++templates;
        EXPECT_EQ(e.object.flags, 0x80030000u) << e.object.name;
      }
    }
    EXPECT_EQ(templates, accdb(l) ? 9u : 0u);
    EXPECT_EQ(catalog.entries().size(), l.catalogRows);
  }
  if (auto ver = oracle::mdbtools("mdb-ver", oracle::quote(path_))) {
    EXPECT_EQ(ver->out, std::string(l.mdbVer) + "\n");
    const std::string tables = oracle::mdbtools("mdb-tables", "-S -1 " + oracle::quote(path_))->out;
    EXPECT_EQ(tables.rfind("MSysObjects\nMSysACEs\n", 0), 0u) << tables;
    EXPECT_EQ(tables.find("MSysComplexType_Attachment\n") != std::string::npos, accdb(l)) << tables;
    EXPECT_EQ(oracle::mdbtools("mdb-tables", "-1 " + oracle::quote(path_))->out, "") << "no user tables";
    auto catalog = oracle::mdbtools("mdb-export", "-H " + oracle::quote(path_) + " MSysObjects");
    EXPECT_NE(catalog->out.find("251658241,251658240,\"Tables\",3,"), std::string::npos) << catalog->out;
  }
  if (auto lines = oracle::mdbReader(path_)) {
    ASSERT_NE(lines->front(), "ERROR") << (lines->size() > 1 ? (*lines)[1] : "");
    std::vector<std::string> tables;
    for (const auto& line : *lines) {
      EXPECT_NE(line.rfind("FAIL", 0), 0u) << line;
      if (line.rfind("TABLE\t", 0) == 0) tables.push_back(line);
    }
    ASSERT_EQ(tables.size(), accdb(l) ? 14u : 4u);
    EXPECT_EQ(tables[0], "TABLE\tMSysObjects\t" + std::to_string(l.catalogRows));
    if (accdb(l)) EXPECT_EQ(tables[4], "TABLE\tMSysComplexColumns\t0");
    else EXPECT_EQ(tables[1], "TABLE\tMSysACEs\t16");
  }
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, NewDatabase, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

// An existing file is left alone, a missing folder is named, a sort order the version lacks is
// refused (the legacy order stays possible in later versions).
TEST(NewDatabaseRefusals, ExistingFileMissingFolderAndSortOrder) {
  jettest::TempDir tmp;
  const std::string dir = tmp.path().string(), path = dir + "/new.mdb";
  jet::createDatabaseFile(path, {});
  const auto original = jettest::readFile(path);
  EXPECT_EQ(jettest::failure([&] { jet::createDatabaseFile(path, {}); }), "3204: Database already exists.");
  EXPECT_EQ(jettest::readFile(path), original);
  const std::string missing = jettest::failure([&] { jet::createDatabaseFile(dir + "/no such folder/new.mdb", {}); });
  EXPECT_EQ(missing.rfind("3044: ", 0), 0u) << missing;
  EXPECT_NE(missing.find("'" + dir + "/no such folder' is not a valid path."), std::string::npos) << missing;
  jet::CreateOptions o{Format::Jet4Layout, 1252, 1033, FileVersion::Access2007, 1};
  EXPECT_EQ(errorOf([&] { jet::createDatabaseFile(dir + "/a.accdb", o); }), 3001);
  o.version = FileVersion::Access2019;
  o.sortVersion = 0;
  jet::createDatabaseFile(dir + "/b.accdb", o);
  EXPECT_EQ(plainHeader(*jet::SchemaFile::open(dir + "/b.accdb", true))[0x71], 0);
}

// The sample database the build puts beside the program, made afresh by its generator in a
// temporary folder: what it holds, and that the whole-file check passes.
TEST(SampleDatabase, HoldsWhatItPromises) {
  jettest::TempDir dir;
  const std::string path = dir.file("Sample.mdb"), tool = std::string(TABULONIX_BIN_DIR) + "/../tools/make_sample";
  const oracle::Run made = oracle::run(oracle::quote(tool) + " " + oracle::quote(path) + " 2>&1");
  ASSERT_EQ(made.status, 0) << made.out;
  auto db = jet::Database::open(path, {true, ""});
  std::vector<std::string> tables;
  for (const jet::CatalogObject& o : db->objects())
    if (o.kind == jet::ObjectKind::Table && (o.flags & 0x80000002u) == 0) tables.push_back(o.name);
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(tables, (std::vector<std::string>{"Customers", "Orders", "Products"}));

  std::set<jet::ColumnType> types;
  size_t nulls = 0, longestMemo = 0, indexes = 0, autoNumbers = 0;
  for (const std::string& name : tables) {
    jet::TableInfo t = db->table(name);
    indexes += t.indexes.size();
    for (const auto& c : t.columns) {
      types.insert(c.type);
      autoNumbers += c.autoNumber;
    }
    EXPECT_GT(t.rowCount, 3u) << name;
    for (const auto& v : jettest::valuesOf(*db, name))
      for (size_t i = 0; i < v.size(); ++i) {
        nulls += jet::isNull(v[i]);
        if (t.columns[i].type == jet::ColumnType::Memo)
          if (auto s = std::get_if<std::string>(&v[i])) longestMemo = std::max(longestMemo, s->size());
      }
  }
  // The ten field types the application offers.
  for (jet::ColumnType type : {jet::ColumnType::Boolean, jet::ColumnType::Byte, jet::ColumnType::Integer,
                               jet::ColumnType::Long, jet::ColumnType::Currency, jet::ColumnType::Single,
                               jet::ColumnType::Double, jet::ColumnType::DateTime, jet::ColumnType::Text,
                               jet::ColumnType::Memo})
    EXPECT_TRUE(types.count(type)) << "no field of type " << int(type);
  EXPECT_EQ(autoNumbers, 3u);
  EXPECT_GT(nulls, 0u);
  EXPECT_GT(longestMemo, 2 * size_t(db->pageSize())) << "a memo long enough to take several pages";
  EXPECT_GE(indexes, 4u);

  std::vector<std::string> relationships;
  for (const auto& r : jettest::valuesOf(*db, "MSysRelationships")) relationships.push_back(jet::toText(r[0]));
  std::sort(relationships.begin(), relationships.end());
  EXPECT_EQ(relationships, (std::vector<std::string>{"CustomersOrders", "ProductsOrders"}));

  EXPECT_EQ(jettest::firstProblem(*db), "");
  // Deleting a table in a relationship is refused, even on a writable copy.
  db.reset();
  auto writable = jet::Database::open(path);
  EXPECT_EQ(errorOf([&] { writable->dropTable("Orders"); }), jet::err::kInRelationship);
}

}  // namespace
