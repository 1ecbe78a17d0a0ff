#include "jet/table/row_space.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "jet/base/bytes.h"
#include "jet/catalog/schema_file.h"
#include "jet/file_database.h"
#include "jet/storage/data_page.h"
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
      jet::freeLongValue(tx, def.format, field.data(), field.size(), 0, [&](uint32_t page, bool gone) {
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

}  // namespace
