// The sample database the build puts beside the program, made afresh by its generator in a
// temporary folder: what it holds, that the whole-file check passes, and that both independent
// readers read it.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "jet/database.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"

namespace {

class SampleDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (dir_.path() / "Sample.mdb").string();
    const std::string tool = std::string(TABULONIX_BIN_DIR) + "/../tools/make_sample";
    oracle::Run r = oracle::run(oracle::quote(tool) + " " + oracle::quote(path_) + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
  }

  jettest::TempDir dir_;
  std::string path_;
};

TEST_F(SampleDatabase, HoldsWhatItPromises) {
  auto db = jet::Database::open(path_, {true, ""});
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
    auto cursor = db->openTable(name);
    while (cursor->next()) {
      const auto& v = cursor->values();
      for (size_t i = 0; i < v.size(); ++i) {
        nulls += jet::isNull(v[i]);
        if (t.columns[i].type == jet::ColumnType::Memo)
          if (auto s = std::get_if<std::string>(&v[i])) longestMemo = std::max(longestMemo, s->size());
      }
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
  auto rel = db->openTable("MSysRelationships");
  while (rel->next()) relationships.push_back(jet::toText(rel->values()[0]));
  std::sort(relationships.begin(), relationships.end());
  EXPECT_EQ(relationships, (std::vector<std::string>{"CustomersOrders", "ProductsOrders"}));
  rel.reset();

  EXPECT_EQ(jettest::firstProblem(*db), "");
  // Deleting a table in a relationship is refused, even on a writable copy.
  db.reset();
  auto writable = jet::Database::open(path_);
  EXPECT_EQ(errorOf([&] { writable->dropTable("Orders"); }), jet::err::kInRelationship);
}

}  // namespace
