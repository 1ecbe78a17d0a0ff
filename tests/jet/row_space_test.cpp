#include "jet/table/row_space.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "jet/base/bytes.h"
#include "jet/catalog/schema_file.h"
#include "jet/file_database.h"
#include "jet/storage/data_page.h"
#include "jet/storage/usage_map.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"

namespace {

using jet::Bytes;
using jet::ColumnType;
using jet::Format;

// A long value's rows come off their pages and pages left without rows go back; a reference that
// does not lead to a live long-value row frees nothing, so a damaged row cannot take another's.
TEST(RowSpace, FreeingALongValueTakesItsRowsAndNothingElse) {
  struct Case {
    const char* name;
    Format format;
    size_t length;
    std::function<void(Bytes& field, uint32_t tablePage)> damage;
    bool frees;
  };
  const Case cases[] = {
      {"one row", Format::Jet4Layout, 1500, nullptr, true},
      {"a chain of rows", Format::Jet3Layout, 9000, nullptr, true},
      {"a pointer to the table's own page", Format::Jet4Layout, 9000,
       [](Bytes& f, uint32_t tablePage) { jet::put32(&f[4], jet::makePointer(tablePage, 0)); }, false},
      {"a pointer past the file", Format::Jet4Layout, 9000,
       [](Bytes& f, uint32_t) { jet::put32(&f[4], jet::makePointer(0xFFFFFF, 0)); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    jettest::TempDir dir;
    const std::string path = dir.file("lv.mdb");
    {
      auto db = jet::Database::create(path, {c.format, 1252, 1033});
      jet::NewTable t;
      t.name = "T";
      t.columns.emplace_back();
      t.columns[0].name = "M";
      t.columns[0].type = ColumnType::Memo;
      db->createTable(t);
      std::string text;
      for (size_t i = 0; text.size() < c.length; ++i) {
        text += std::to_string(i * 7919 % 10007);
        text += ' ';
      }
      db->insertRow("T", {text});
    }
    jet::FileDatabase db(path, {});
    const jet::Tdef def = db.tableDef("T");
    auto file = jet::SchemaFile::over(db.pageFile(), def.format, db.codePage());
    const auto rows = jet::readPlainRows(*file, def.tdefPage, def);
    ASSERT_EQ(rows.size(), 1u);
    Bytes field = std::get<Bytes>(rows[0].second[0]);
    if (c.damage) c.damage(field, rows[0].first.page);

    std::set<uint32_t> touched, released;
    auto freeIt = [&] {
      jet::PageTransaction tx(db.pageFile());
      tx.useFreePageMap(def.format);
      jet::freeLongValue(tx, def.format, field.data(), field.size(), {}, [&](uint32_t page, bool gone) {
        touched.insert(page);
        if (gone) released.insert(page);
      });
      for (uint32_t p : released) EXPECT_TRUE(tx.isFree(p)) << "page " << p;
      tx.commit();
    };
    freeIt();
    EXPECT_EQ(!touched.empty(), c.frees);
    EXPECT_EQ(released, touched) << "the value was alone on its pages";
    EXPECT_EQ(jet::readPlainRows(*file, def.tdefPage, def).size(), 1u) << "the table's row stays";
    touched.clear();
    freeIt();
    EXPECT_TRUE(touched.empty()) << "a value freed once has nothing left to free";
  }
}

// Files made by Access whose long-value columns keep maps of their pages: deleting rows gives pages
// back, and a page given back leaves the column's maps, so that no map lists a page the free-page
// map offers for reuse. The file stays sound, and both independent readers see exactly the rows
// left.
TEST(RowSpace, PagesGivenBackLeaveTheColumnsMaps) {
  struct Case {
    const char* file;
    const char* table;
    size_t every;  // the rows at positions divisible by it are deleted
  };
  const Case cases[] = {
      {"test2V1997.mdb", "MSP_PROJECTS", 1},
      {"test2V2000.mdb", "MSP_PROJECTS", 1},
      {"ace/test2V2007.accdb", "MSP_PROJECTS", 1},
      {"generated/longValuesV2000.mdb", "Blobs", 2},
  };
  // The pages each long-value column's maps list, and how many of them are free.
  struct Listed {
    std::set<uint32_t> pages;
    size_t free = 0;
  };
  auto listed = [](const std::string& path, const std::string& table) {
    jet::FileDatabase db(path, {true, ""});
    const jet::Tdef& def = db.tableDef(table);
    jet::PageTransaction tx(db.pageFile());
    tx.useFreePageMap(def.format);
    Listed out;
    for (const jet::ColumnDef& c : def.columns)
      for (uint32_t map : {c.lvOwnedPointer, c.lvFreePointer}) {
        if (!map) continue;
        for (uint32_t p : jet::markedPages(tx, def.format, map))
          if (out.pages.insert(p).second && tx.isFree(p)) ++out.free;
      }
    return out;
  };
  auto exported = [](const std::string& path, const std::string& table) {
    auto out = oracle::mdbtools("mdb-export", "-H -e -b hex " + oracle::quote(path) + " " + oracle::quote(table));
    return out ? std::optional(testsupport::lines(out->out)) : std::nullopt;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    jettest::TempDir dir;
    const std::string path = dir.copy(c.file);
    const Listed before = listed(path, c.table);
    ASSERT_FALSE(before.pages.empty()) << "the table's long-value columns keep maps";
    ASSERT_EQ(before.free, 0u);
    auto readerBefore = oracle::mdbReader(path);
    auto exportBefore = exported(path, c.table);
    size_t rows = 0;
    {
      auto db = jet::Database::open(path, {});
      std::vector<jet::RowId> doomed;
      for (auto cur = db->openTable(c.table); cur->next(); ++rows)
        if (rows % c.every == 0) doomed.push_back(cur->rowId());
      db->deleteRows(c.table, doomed);
      EXPECT_EQ(jettest::firstProblem(*db), "");
    }
    const Listed after = listed(path, c.table);
    EXPECT_LT(after.pages.size(), before.pages.size()) << "pages were given back";
    EXPECT_EQ(after.free, 0u) << "no map lists a free page";

    // What each reader saw before, less the deleted rows (both list rows in stored order).
    auto without = [&](std::vector<std::string> lines, const std::string& rowPrefix) {
      std::vector<std::string> kept;
      size_t at = 0;
      for (auto& l : lines)
        if (l.rfind(rowPrefix, 0) != 0 || at++ % c.every != 0) kept.push_back(std::move(l));
      return kept;
    };
    if (auto lines = oracle::mdbReader(path)) {
      std::vector<std::string> want = without(*readerBefore, "ROW\t" + std::string(c.table) + "\t");
      const std::string count = "TABLE\t" + std::string(c.table) + "\t";
      for (auto& l : want)
        if (l.rfind(count, 0) == 0) l = count + std::to_string(rows - (rows + c.every - 1) / c.every);
      EXPECT_EQ(*lines, want);
    }
    if (auto lines = exported(path, c.table)) {
      EXPECT_EQ(*lines, without(*exportBefore, ""));
    }
  }
}

}  // namespace
