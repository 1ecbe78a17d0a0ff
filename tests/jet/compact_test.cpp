// Compaction: every real test file compacts into a verified copy that reads the same in the engine
// and in an independent reader, is no larger, and leaves its source untouched; compaction refuses
// to overwrite, cleans up after itself, and really reclaims the space of deleted rows.
#include <gtest/gtest.h>
#include <strings.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <regex>
#include <tuple>
#include <string>
#include <vector>

#include "jet/catalog/catalog.h"
#include "jet/catalog/schema_writer.h"
#include "jet/compact.h"
#include "jet/database.h"
#include "jet/index/index.h"
#include "jet/support/test_files.h"
#include "jet/table/table_def.h"
#include "support/oracles.h"
#include "support/error_of.h"

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) { return testsupport::readText(p.string()); }

class CompactTest : public ::testing::Test {
 protected:
  jettest::TempDir tmp_;
  const fs::path dir_ = tmp_.path();
};

// Rows of the orders table, most of them deleted before compaction.
#ifdef TABULONIX_SANITIZED
constexpr int kItems = 1500;
#else
constexpr int kItems = 4000;
#endif

#ifdef TABULONIX_SANITIZED
// The independent readers check the files, not the engine's memory use: the sanitizer build, which
// runs the same tests again much slower, leaves them out.
constexpr bool kWithReaders = false;
#else
constexpr bool kWithReaders = true;
#endif

// Columns of the catalog and of the tables that point into it which name an object by its id: ids
// of tables are their definitions' pages, so they follow the definitions into the copy.
bool namesCatalogObject(const std::string& table, const std::string& column) {
  auto is = [](const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; };
  if (is(table, "MSysObjects")) return is(column, "Id") || is(column, "ParentId");
  if (is(table, "MSysComplexColumns"))
    return is(column, "ConceptualTableID") || is(column, "FlatTableID") || is(column, "ComplexTypeObjectID");
  return (is(table, "MSysACEs") || is(table, "MSysQueries") || is(table, "MSysNavPaneGroupToObjects")) &&
         is(column, "ObjectId");
}

// mdb-reader's view as table name -> that table's lines, sorted, with the catalog ids left out of
// the engine's own tables. (A reader that lists a moved row where its body lies sees the source's
// moved rows in another order than the engine does, and the copy holds none; the order of rows and
// tables is verification's to compare.)
std::map<std::string, std::vector<std::string>> readerView(const std::vector<std::string>& view) {
  static const std::regex number("\"([A-Za-z]+)\":-?[0-9]+,?");
  std::map<std::string, std::vector<std::string>> tables;
  for (std::string line : view) {
    const size_t a = line.find('\t'), b = line.find('\t', a + 1);
    if (a == std::string::npos) continue;
    const std::string table = line.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
    if (line.rfind("ROW\tMSys", 0) == 0) {
      // Ids of objects follow the tables' new pages: those values are left out of the comparison.
      std::string kept;
      auto from = line.cbegin();
      for (std::sregex_iterator m(line.begin(), line.end(), number), end; m != end; ++m) {
        if (!namesCatalogObject(table, (*m)[1].str())) continue;
        kept.append(from, (*m)[0].first);
        from = (*m)[0].second;
      }
      kept.append(from, line.cend());
      line = kept;
    }
    tables[table].push_back(line);
  }
  for (auto& [name, lines] : tables) std::sort(lines.begin(), lines.end());
  return tables;
}

struct TableKeys {
  std::vector<std::vector<jet::Bytes>> keys;       // per real index, in key order
  std::vector<std::string> relatedTables;          // per logical index: the table it refers to
};

// Every index key of every table, read straight from the index trees, and the tables that the
// relationship indexes name, by table name.
std::map<std::string, TableKeys> indexKeys(const fs::path& file) {
  auto pages = jet::SchemaFile::open(file.string(), true);
  const jet::Catalog catalog = jet::Catalog::read(pages->pageFile(), pages->format(), jettest::cp1252());
  std::map<uint32_t, std::string> nameOfPage;
  for (const auto& e : catalog.entries())
    if (e.type == jet::sys::kTypeTable) nameOfPage[e.object.tdefPage] = e.object.name;
  std::map<std::string, TableKeys> out;
  for (const auto& [page, name] : nameOfPage) {
    jet::Tdef def = pages->definition(page);
    TableKeys& t = out[name];
    for (const auto& real : def.realIndexes) {
      std::vector<jet::Bytes> keys;
      jet::IndexTree tree(*pages, real.rootPage, page);
      for (const auto& e : tree.entries()) keys.push_back(e.key);
      t.keys.push_back(std::move(keys));
    }
    for (const auto& l : def.indexes) {
      auto it = nameOfPage.find(l.relTable);
      t.relatedTables.push_back(l.relTable == 0 ? "" : it == nameOfPage.end() ? "(no table)" : it->second);
    }
  }
  return out;
}

}  // namespace

// Every test file compacts once into a copy that passes verification (the check, and in every table,
// system tables included, the same rows in the same order with every value unchanged but the
// catalog ids of tables, which follow their new pages), is no larger, keeps the version, the
// password and the definitions, and leaves its source untouched. Index keys are rebuilt
// identically and the independent reader sees the same file.
TEST_F(CompactTest, EveryTestFileGivesAVerifiedCopyThatKeepsEveryValue) {
  for (const std::string& name : jettest::allTestFiles()) {
    const fs::path original = jettest::testdata(name), src = tmp_.copy(name);
    SCOPED_TRACE(name);
    fs::permissions(src, fs::perms::owner_read);  // compaction must not need to write its source
    const std::string before = readFile(src);
    fs::path dst = dir_ / ("compacted-" + original.filename().string());

    const std::string password = jettest::passwordOf(src.string());
    ASSERT_NO_THROW(jet::Database::compact(src.string(), dst.string(), password));
    EXPECT_EQ(readFile(src), before) << "the source changed";
    EXPECT_NO_THROW(jet::verifyCompactedCopy(src.string(), dst.string(), password));
    EXPECT_LE(fs::file_size(dst), fs::file_size(src));

    // Verification compares the check, the format, the objects and every value of every table (ids
    // of tables following their new pages); beyond it: the version, the password and the definitions
    // (each column's name, type and auto-number, each index's name, width and kind).
    auto a = jet::Database::open(src.string(), {true, password});
    auto b = jet::Database::open(dst.string(), {true, password});
    EXPECT_TRUE(password.empty() || !jettest::failure([&] { jet::Database::open(dst.string(), {true, ""}); }).empty());
    EXPECT_EQ(b->version(), a->version());
    auto outline = [](const jet::TableInfo& t) {
      std::vector<std::tuple<std::string, jet::ColumnType, bool>> columns;
      std::vector<std::tuple<std::string, size_t, bool, bool>> indexes;
      for (const auto& c : t.columns) columns.emplace_back(c.name, c.type, c.autoNumber);
      for (const auto& i : t.indexes) indexes.emplace_back(i.name, i.columns.size(), i.unique, i.primaryKey);
      return std::make_pair(columns, indexes);
    };
    for (const jet::CatalogObject& o : a->objects()) {
      if (o.kind != jet::ObjectKind::Table && o.kind != jet::ObjectKind::SystemTable) continue;
      EXPECT_EQ(outline(b->table(o.name)), outline(a->table(o.name))) << o.name;
    }

    // The two runs of the reader are independent processes: run them side by side.
    using View = std::optional<std::vector<std::string>>;
    auto pending = std::async(std::launch::async, [&]() -> View {
      if (!kWithReaders) return std::nullopt;
      return oracle::mdbReader(dst.string());
    });
    View readerBefore = kWithReaders ? oracle::mdbReader(src.string()) : std::nullopt;
    View readerAfter = pending.get();
    if (readerBefore) {
      ASSERT_TRUE(readerAfter.has_value());
      EXPECT_EQ(readerView(*readerAfter), readerView(*readerBefore));
    }
    // Keys are computed anew from the rows, so they equal the source's wherever the source's
    // indexes agree with its rows (its check passes).
    const bool sourceConsistent = a->check().ok();
    auto keysBefore = indexKeys(src), keysAfter = indexKeys(dst);
    ASSERT_EQ(keysAfter.size(), keysBefore.size());
    for (const auto& [name, k] : keysBefore) {
      SCOPED_TRACE(name);
      ASSERT_TRUE(keysAfter.count(name));
      EXPECT_EQ(keysAfter[name].relatedTables, k.relatedTables);
      ASSERT_EQ(keysAfter[name].keys.size(), k.keys.size());
      for (size_t i = 0; i < k.keys.size(); ++i) {
        EXPECT_EQ(keysAfter[name].keys[i].size(), k.keys[i].size()) << "index " << i;
        // The engine's own tables index object ids, which follow the tables' new pages.
        if (sourceConsistent && name.rfind("MSys", 0) != 0) {
          EXPECT_TRUE(keysAfter[name].keys[i] == k.keys[i]) << "index " << i;
        }
      }
    }
  }
}

TEST_F(CompactTest, RefusesAnExistingDestinationAndAMissingSource) {
  const fs::path src = tmp_.copy("testV2000.mdb");

  fs::path existing = dir_ / "existing.mdb";
  std::ofstream(existing) << "someone's file";
  EXPECT_EQ(errorOf([&] { jet::Database::compact(src.string(), existing.string()); }), 3204);
  EXPECT_EQ(readFile(existing), "someone's file");

  // Compacting a file onto itself is the same refusal.
  EXPECT_EQ(errorOf([&] { jet::Database::compact(src.string(), src.string()); }), 3204);

  // A missing source: no destination either. (A compaction that fails part-way leaves nothing:
  // the write-fault matrix.)
  fs::path out = dir_ / "out.mdb";
  EXPECT_EQ(errorOf([&] { jet::Database::compact((dir_ / "missing.mdb").string(), out.string()); }), 3024);
  EXPECT_FALSE(fs::exists(out));
}

// The space of deleted rows is reclaimed, auto-numbers go on after the last one given (deleted or
// not), and the copy is a database the engine goes on working with: its relationships still hold
// their tables, rows can be added, changed and deleted, tables created, and the file stays sound.
TEST_F(CompactTest, ReclaimsDeletedRowsAndTheCopyKeepsNumbersRelationshipsAndTakesWrites) {
  for (jet::Format format : {jet::Format::Jet3Layout, jet::Format::Jet4Layout}) {
    SCOPED_TRACE(format == jet::Format::Jet3Layout ? "Jet3" : "Jet4");
    const std::string tag = format == jet::Format::Jet3Layout ? "3" : "4";
    fs::path src = dir_ / ("orders" + tag + ".mdb"), dst = dir_ / ("orders" + tag + "-compacted.mdb");
    {
      auto db = jet::Database::create(src.string(), {format});
      db->createTable({"Customers", {{"ID", jet::ColumnType::Long, 0, true}, {"Name", jet::ColumnType::Text, 50}},
                       {{"PrimaryKey", {{0, true}}, true, true}}});
      db->createTable({"Orders", {{"ID", jet::ColumnType::Long, 0, true}, {"Customer", jet::ColumnType::Long},
                                  {"Note", jet::ColumnType::Memo}},
                       {{"PrimaryKey", {{0, true}}, true, true}, {"ByCustomer", {{1, true}}}}});
      for (int i = 0; i < 50; ++i) db->insertRow("Customers", {jet::Null{}, "customer " + std::to_string(i)});
      std::vector<jet::RowId> orders;
      for (int i = 0; i < kItems; ++i)
        orders.push_back(db->insertRow("Orders", {jet::Null{}, int64_t(i % 50 + 1), std::string(300 + i % 200, 'o')}));
      for (int i = 0; i < kItems; ++i)
        if (i % 10 != 7) db->deleteRow("Orders", orders[i]);
      db->createRelationship({"CustomersOrders", "Customers", "Orders", {{"ID", "Customer"}}});
      db->close();
    }
    jet::Database::compact(src.string(), dst.string());
    ASSERT_NO_THROW(jet::verifyCompactedCopy(src.string(), dst.string()));
    EXPECT_LE(fs::file_size(dst) * 2, fs::file_size(src));

    auto db = jet::Database::open(dst.string());
    std::vector<int64_t> ids;
    for (auto cursor = db->openTable("Orders"); cursor->next();) ids.push_back(std::get<int64_t>(cursor->values()[0]));
    // Every tenth row is left, each with its own number; the last number given was deleted, and
    // the next one still follows it.
    ASSERT_EQ(ids.size(), size_t(kItems / 10));
    EXPECT_EQ(ids.front(), 8);
    EXPECT_EQ(ids.back(), kItems - 2);
    EXPECT_EQ(db->nextAutoNumber("Orders"), kItems + 1);
    EXPECT_EQ(errorOf([&] { db->dropTable("Customers"); }), 3303);
    std::vector<jet::RowId> added;
    for (int i = 0; i < 200; ++i)
      added.push_back(db->insertRow("Orders", {jet::Null{}, int64_t(7), std::string(1000 + i, 'n')}));
    db->updateRow("Orders", added[5], {jet::Null{}, int64_t(8), std::string("short")});
    db->deleteRow("Orders", added[6]);
    db->createTable({"Later", {{"X", jet::ColumnType::Text, 10}}, {}});
    db->insertRow("Later", {std::string("x")});
    db->renameTable("Orders", "Sales");
    EXPECT_EQ(jettest::firstProblem(*db), "");
    int rows = 0, last = 0;
    for (auto cursor = db->openTable("Sales"); cursor->next(); ++rows) last = int(std::get<int64_t>(cursor->values()[0]));
    EXPECT_EQ(rows, kItems / 10 + 199);
    EXPECT_EQ(last, kItems + 200);
  }
}

