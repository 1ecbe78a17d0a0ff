// The whole-file check: silent on sound files (ours and Access's). Then one table of damage planted
// in copies: the check names each, a write into a file whose structure the damage breaks is refused
// and leaves the file as it was, and repair makes a sound copy that holds rows of the original only
// (all of them where no row was lost with the damage).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <stdexcept>

#include "jet/base/bytes.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/catalog_writer.h"
#include "jet/catalog/schema_file.h"
#include "jet/database.h"
#include "jet/index/index_page.h"
#include "jet/repair.h"
#include "jet/storage/data_page.h"
#include "jet/storage/page_transaction.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"

namespace {

using jet::ColumnType;
using jet::Format;
using Named = std::vector<std::string>;
constexpr uint32_t kLongValues = 0x4C41564C;  // "LVAL", the owner long-value pages name

std::string joined(const std::vector<std::string>& problems) {
  std::string s;
  for (const auto& p : problems) s += p + "\n";
  return s;
}

// People: a primary key, an index on long names (several index pages under an intermediate root)
// and a memo stored as a chain of long-value rows; Delta, renamed, beside a dropped table.
void make(const std::string& path, Format format) {
  auto db = jet::Database::create(path, {format});
  db->createTable({"People", {{"ID", ColumnType::Long, 0, true}, {"Name", ColumnType::Text, 200}, {"Note", ColumnType::Memo}},
                   {{"PrimaryKey", {{0, true}}, true, true}, {"ByName", {{1, true}}}}});
  for (int i = 0; i < 60; ++i)
    db->insertRow("People", {jet::Value{}, "name " + std::to_string(1000 + i) + " " + std::string(170, char('a' + i % 26)),
                             i == 7 ? jet::Value{std::string(9000, 'n')} : jet::Value{}});
  db->createTable({"Beta", {{"Note", ColumnType::Memo}}, {}});
  db->createTable({"Gamma", {{"X", ColumnType::Double}}, {}});
  db->renameTable("Gamma", "Delta");
  db->dropTable("Beta");
}

// A copy opened as pages, for planting damage: the damaged table (People, or Table1 of an Access
// file) and a second one (Delta, or Table2).
struct Target {
  jet::SchemaFile& f;
  std::string name;
  uint32_t tdef, other;
  bool jet3 = f.format() == Format::Jet3Layout;

  void patch(uint32_t n, const std::function<void(uint8_t*)>& edit) {
    jet::Bytes b = f.page(n);
    edit(b.data());
    f.writePage(n, b.data());
  }
  // The pages of a type whose header names `owner` (0: any); throws when there is none.
  std::vector<uint32_t> pages(uint8_t type, uint32_t owner) {
    std::vector<uint32_t> out;
    for (uint32_t p = 2; p < f.pageCount(); ++p)
      if (f.page(p)[0] == type && (owner == 0 || jet::le32(f.page(p).data() + 4) == owner)) out.push_back(p);
    if (out.empty()) throw std::runtime_error("no page of type " + std::to_string(type));
    return out;
  }
  uint32_t map() { return f.definition(tdef).ownedPagesPointer; }
  // The last data page of the table's map that holds its rows.
  uint32_t dataPage() {
    uint32_t found = 0;
    for (uint32_t p : f.usageMapPages(map()))
      if (f.page(p)[0] == jet::kDataPageType && jet::le32(f.page(p).data() + 4) == tdef) found = p;
    if (!found) throw std::runtime_error("no data page");
    return found;
  }
  // A used page the global page map offers as free.
  void offer(uint32_t page) {
    jet::PageTransaction tx(f.pageFile());
    tx.useFreePageMap(f.format());
    tx.release(page);
    tx.commit();
  }
  // A new page holding a copy of a data page: what Access leaves of a superseded page.
  uint32_t supersede(uint32_t page) {
    const uint32_t copy = f.allocatePage();
    f.writePage(copy, f.page(page).data());
    return copy;
  }
  // The long-value pages of the memo (the catalog keeps its property blobs on such pages too).
  std::vector<uint32_t> memoPages() {
    const std::string narrow(16, 'n'), wide = [] { std::string w; for (int i = 0; i < 16; ++i) w += std::string("n\0", 2); return w; }();
    std::vector<uint32_t> out;
    for (uint32_t n : pages(jet::kDataPageType, kLongValues)) {
      const jet::Bytes b = f.page(n);
      const std::string body(b.begin(), b.end());
      if (body.find(narrow) != std::string::npos || body.find(wide) != std::string::npos) out.push_back(n);
    }
    if (out.size() < 2) throw std::runtime_error("the memo is no chain");
    return out;
  }
  std::string outsideItsMap(uint32_t page) {
    return "Page " + std::to_string(page) + " holds rows of table '" + name + "' but its usage map";
  }
};

// What repair's copy holds of the original's rows: all of them, only some, or all and more (rows
// the damage left outside every map, or tables it found by scanning, may come back twice).
enum Salvage { kWhole, kSome, kAll };

struct Damage {
  const char* what;
  const char* file;  // an Access file; nullptr: the database made here, in both formats
  bool structural;   // writes are refused (the first write checks the structure, not index keys)
  Salvage repair;
  std::function<Named(Target&)> plant;  // returns what the check names (nothing: it stays silent)
};

std::vector<Damage> damages() {
  std::vector<Damage> out = {
      {"definition marked as a data page", nullptr, true, kSome,
       [](Target& t) { t.patch(t.tdef, [](uint8_t* p) { p[0] = jet::kDataPageType; }); return Named{"People"}; }},
      {"index leaf marked as a definition", nullptr, true, kWhole,
       [](Target& t) { t.patch(t.pages(0x04, t.tdef).front(), [](uint8_t* p) { p[0] = 0x02; }); return Named{"People"}; }},
      {"memo pages marked as index pages", nullptr, true, kWhole,
       [](Target& t) {
         for (uint32_t n : t.memoPages()) t.patch(n, [](uint8_t* p) { p[0] = 0x03; });
         return Named{"People"};
       }},
      {"long-value chains that loop", nullptr, true, kWhole,
       [](Target& t) {
         const size_t countAt = t.jet3 ? 8 : 12;
         for (uint32_t n : t.pages(jet::kDataPageType, kLongValues))
           t.patch(n, [&](uint8_t* p) {
             for (uint16_t r = 0, rows = jet::le16(p + countAt); r < rows; ++r) {
               const uint16_t start = jet::le16(p + countAt + 2 + 2 * r) & 0x1FFF;
               if (start + 4u <= t.f.pageSize()) jet::put32(p + start, n << 8 | r);
             }
           });
         return Named{"loops"};
       }},
      {"memo rows past their page", nullptr, true, kWhole,
       [](Target& t) {
         const size_t countAt = t.jet3 ? 8 : 12;
         for (uint32_t n : t.memoPages())
           t.patch(n, [&](uint8_t* p) {
             for (uint16_t r = 0, rows = jet::le16(p + countAt); r < rows; ++r) jet::put16(p + countAt + 2 + 2 * r, 0x1FFF);
           });
         return Named{"cannot be read"};
       }},
      {"index tree that loops", nullptr, true, kWhole,
       [](Target& t) {
         const uint32_t n = t.pages(0x03, t.tdef).front();
         t.patch(n, [&](uint8_t* p) {
           jet::IndexPage node = jet::parseIndexPage(t.f.format(), p, t.f.pageSize());
           node.entries.at(0).child = n;
           if (!jet::writeIndexPage(t.f.format(), node, p)) throw std::runtime_error("index page not written");
         });
         return Named{"index"};
       }},
      {"index leaves chained to themselves", nullptr, true, kWhole,
       [](Target& t) {
         const auto layout = jet::IndexPageLayout::of(t.f.format());
         for (uint32_t n : t.pages(0x04, 0))
           t.patch(n, [&](uint8_t* p) { jet::put32(p + layout.prevOffset, n), jet::put32(p + layout.nextOffset, n); });
         return Named{"index"};
       }},
      {"definition continued on itself", nullptr, true, kSome,
       [](Target& t) { t.patch(t.tdef, [&](uint8_t* p) { jet::put32(p + 4, t.tdef); }); return Named{"People"}; }},
      {"definition continued past the end", nullptr, true, kSome,
       [](Target& t) { t.patch(t.tdef, [&](uint8_t* p) { jet::put32(p + 4, t.f.pageCount() + 40); }); return Named{"People"}; }},
      {"data page row count out of range", nullptr, true, kSome,
       [](Target& t) { t.patch(t.dataPage(), [&](uint8_t* p) { jet::put16(p + (t.jet3 ? 8 : 12), 0xFFFF); }); return Named{"People"}; }},
      {"row offset past the page", nullptr, true, kSome,
       [](Target& t) {
         t.patch(t.dataPage(), [&](uint8_t* p) { jet::put16(p + (t.jet3 ? 10 : 14), uint16_t(t.f.pageSize() + 100)); });
         return Named{"People"};
       }},
      // Counts writers trust: the definition's row count and a data page's free space.
      {"row count two too high", nullptr, true, kWhole,
       [](Target& t) {
         t.patch(t.tdef, [&](uint8_t* p) { jet::put32(p + (t.jet3 ? 0x0C : 0x10), jet::le32(p + (t.jet3 ? 0x0C : 0x10)) + 2); });
         return Named{"Table 'People' records"};
       }},
      {"free space two too high", nullptr, true, kWhole,
       [](Target& t) {
         const uint32_t n = t.dataPage();
         t.patch(n, [](uint8_t* p) { jet::put16(p + 2, uint16_t(jet::le16(p + 2) + 2)); });
         return Named{"Page " + std::to_string(n) + " of table 'People' records"};
       }},
      {"catalog index entry missing", nullptr, false, kWhole,
       [](Target& t) {
         jet::IndexTree tree(t.f, t.f.definition(2).realIndexes[1].rootPage, 2);
         if (!tree.erase(tree.entries().back())) throw std::runtime_error("no entry erased");
         return Named{"Table 'MSysObjects': index 'Id'"};
       }},
      {"definition page offered as free", nullptr, true, kWhole,
       [](Target& t) {
         t.offer(t.tdef);
         return Named{"Page " + std::to_string(t.tdef) + " is used by the definition of table 'People'"};
       }},
      {"index page below the root offered as free", nullptr, true, kWhole,
       [](Target& t) {
         const jet::Tdef def = t.f.definition(t.tdef);
         uint32_t leaf = 0;
         for (uint32_t n : t.pages(0x04, t.tdef))
           if (std::none_of(def.realIndexes.begin(), def.realIndexes.end(), [&](const auto& r) { return r.rootPage == n; })) leaf = n;
         t.offer(leaf);
         return Named{"Page " + std::to_string(leaf) + " is used by index 'ByName'"};
       }},
      {"catalog row without definition", nullptr, true, kWhole,
       [](Target& t) {
         t.patch(t.other, [&](uint8_t* p) { std::fill_n(p, t.f.pageSize(), 0); });
         return Named{"Table 'Delta' points to page " + std::to_string(t.other) + ", which is not a table definition"};
       }},
      {"a page in the maps of two tables", nullptr, true, kWhole,
       [](Target& t) {
         const uint32_t n = t.dataPage();
         t.f.usageMapMark(t.f.definition(t.other).ownedPagesPointer, n, true);
         return Named{"Page " + std::to_string(n) + " is listed by the usage maps of both"};
       }},
      {"two tables of one name", nullptr, true, kWhole,
       [](Target& t) {
         const jet::Tdef def = t.f.definition(2);
         const size_t name = def.findColumn(jet::sys::kObjName);
         for (auto [row, values] : jet::readPlainRows(t.f, 2, def)) {
           if (values[name] != jet::Value(std::string("Delta"))) continue;
           values[name] = std::string("PEOPLE");
           t.f.insertRow(def, jet::encodeSystemRow(def, values, t.f.codec(), true));
           t.f.deleteRow(row.page, row.row);
         }
         // The catalog's own index no longer agrees with its rows either.
         return Named{"Two catalog objects are named 'PEOPLE'", "Table 'MSysObjects': index 'ParentIdName'"};
       }},
  };
  // Counts of the definition out of range: rows, columns, indexes, real indexes.
  const struct { size_t jet3, jet4; int width; } counts[] = {{0x0C, 0x10, 4}, {0x19, 0x2D, 2}, {0x1B, 0x2F, 4}, {0x1F, 0x33, 4}};
  for (const auto& c : counts)
    for (uint32_t value : {0xFFFFFFFFu, 0x7FFFu, 0u})
      out.push_back({"a definition's count out of range", nullptr, true, kSome, [c, value](Target& t) {
                       t.patch(t.tdef, [&](uint8_t* p) {
                         uint8_t* at = p + (t.jet3 ? c.jet3 : c.jet4);
                         c.width == 2 ? jet::put16(at, uint16_t(value)) : jet::put32(at, value);
                       });
                       return Named{"People"};
                     }});
  // Access leaves superseded copies of a table's pages that still name the table, in use until
  // compaction: the rows are read through the map alone and the check is silent, unless the map
  // gives up the current page too and rows the definition counts are missing.
  for (const char* file : {"testV2000.mdb", "ace/testV2007.accdb"}) {
    out.push_back({"a superseded copy of a data page", file, false, kWhole, [](Target& t) { t.supersede(t.dataPage()); return Named{}; }});
    out.push_back({"a superseded page and the current one left out of the map", file, true, kAll, [](Target& t) {
                     const uint32_t n = t.dataPage(), copy = t.supersede(n);
                     t.f.usageMapMark(t.map(), n, false);
                     return Named{t.outsideItsMap(n), t.outsideItsMap(copy)};
                   }});
  }
  // Found by fuzzing repair: the catalog's definition damaged where its rows are read (the Id, Name
  // and Type columns' descriptors) read every catalog row wrongly, one id for every object.
  for (const char* file : {"ace/empty2010.accdb", "testV2000.mdb"})
    out.push_back({"catalog column descriptors zeroed", file, true, kAll, [](Target& t) {
                     t.patch(2, [](uint8_t* p) { std::fill(p + 190, p + 320, uint8_t(0)); });
                     return Named{"Catalog objects 'Tables' and 'MSysObjects' share the id 0"};
                   }});
  return out;
}

// Every row of every user table as text, long values left out (repair makes the ones it cannot read
// Null), as a multiset: repair may find tables under new names.
std::multiset<std::string> allRows(const std::string& path) {
  std::multiset<std::string> rows;
  auto db = jet::Database::open(path, {true, ""});
  for (const jet::CatalogObject& o : db->objects()) {
    if (o.kind != jet::ObjectKind::Table) continue;
    for (auto cursor = db->openTable(o.name); cursor->next();) {
      std::string row;
      for (size_t i = 0; i < cursor->values().size(); ++i)
        if (cursor->table().columns[i].type != ColumnType::Memo && cursor->table().columns[i].type != ColumnType::Ole)
          row += jet::toText(cursor->values()[i]) + "|";
      rows.insert(row);
    }
  }
  return rows;
}

TEST(Check, SoundFilesHaveNoProblems) {
  jettest::TempDir dir;
  for (Format f : {Format::Jet3Layout, Format::Jet4Layout}) {
    make(dir.file("made.mdb"), f);
    EXPECT_EQ(joined(jet::Database::open(dir.file("made.mdb"), {true, ""})->check().problems), "");
    std::filesystem::remove(dir.file("made.mdb"));
  }
  // Every file of the test collection: Access-made files with deleted and moved rows, long values,
  // several index levels, and a key for every Jet 3 character (code-page bytes included); and
  // Access's encrypted file, which keeps a superseded copy of a page of MSysNavPaneObjectIDs.
  std::vector<std::string> files = jettest::allTestFiles();
  EXPECT_GE(files.size(), 32u);
  files.push_back("ace/passwordV2010.accdb");
  for (const std::string& name : files) {
    auto db = jet::Database::open(jettest::testdata(name), {true, jettest::passwordOf(name)});
    EXPECT_EQ(joined(db->check().problems), "") << name;
  }
}

TEST(Check, NamesPlantedDamageKeepsWritesOutOfItAndRepairSalvages) {
  jettest::TempDir dir;
  for (Format f : {Format::Jet3Layout, Format::Jet4Layout}) make(dir.file(f == Format::Jet3Layout ? "made3.mdb" : "made4.mdb"), f);
  for (const Damage& d : damages()) {
    for (Format f : {Format::Jet3Layout, Format::Jet4Layout}) {
      if (d.file && f == Format::Jet3Layout) continue;
      const std::string source = d.file ? jettest::testdata(d.file) : dir.file(f == Format::Jet3Layout ? "made3.mdb" : "made4.mdb");
      const std::string path = dir.file("damaged.mdb"), repaired = dir.file("repaired.mdb");
      SCOPED_TRACE(std::string(d.what) + " in " + (d.file ? d.file : f == Format::Jet3Layout ? "Jet 3" : "Jet 4"));
      jettest::writeFile(path, jettest::readFile(source));
      std::filesystem::remove(repaired);
      const std::multiset<std::string> before = allRows(path);
      Named named;
      try {
        auto file = jet::SchemaFile::open(path);
        const jet::Catalog catalog = jet::Catalog::read(file->pageFile(), file->format(), jettest::cp1252());
        auto tdef = [&](const char* table) { const auto* e = catalog.findTable(table); return e ? uint32_t(e->object.id) : 0u; };
        Target t{*file, d.file ? "Table1" : "People", tdef(d.file ? "Table1" : "People"), tdef(d.file ? "Table2" : "Delta")};
        named = d.plant(t);
      } catch (const std::exception& e) {
        ADD_FAILURE() << "not planted: " << e.what();
        continue;
      }
      const std::vector<uint8_t> damaged = jettest::readFile(path);
      std::vector<std::string> problems;
      EXPECT_EQ(jettest::readEverything(path, &problems), "");
      if (named.empty()) {
        EXPECT_EQ(joined(problems), "");
        EXPECT_EQ(allRows(path), before);
      }
      for (const std::string& text : named)
        EXPECT_NE(joined(problems).find(text), std::string::npos) << "no '" << text << "' in:\n" << joined(problems);
      EXPECT_EQ(errorOf([&] { jet::Database::open(path)->createTable({"Added", {{"A", ColumnType::Long}}, {}}); }) != 0, d.structural);
      EXPECT_TRUE(!d.structural || jettest::readFile(path) == damaged) << "the refused write changed the file";
      std::multiset<std::string> salvaged;
      const std::string refused = jettest::failure([&] {
        EXPECT_EQ(joined(jet::repairDatabase(path, repaired).problems), "");
        salvaged = allRows(repaired);
      });
      EXPECT_EQ(refused, "");
      EXPECT_TRUE(d.repair == kAll || std::includes(before.begin(), before.end(), salvaged.begin(), salvaged.end()))
          << "rows the original does not hold";
      EXPECT_TRUE(d.repair == kSome || std::includes(salvaged.begin(), salvaged.end(), before.begin(), before.end())) << "rows lost";
    }
  }
}

}  // namespace
