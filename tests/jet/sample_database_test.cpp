// The sample database the build puts beside the program, made afresh by its generator in a
// temporary folder: what it holds, that the whole-file check passes, and that both independent
// readers read it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
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

  jet::CheckReport report = db->check();
  EXPECT_TRUE(report.ok()) << report.problems.front();
  // Deleting a table in a relationship is refused, even on a writable copy.
  db.reset();
  auto writable = jet::Database::open(path_);
  EXPECT_EQ(errorOf([&] { writable->dropTable("Orders"); }), jet::err::kInRelationship);
}

TEST_F(SampleDatabase, IndependentReadersReadEveryRow) {
  std::map<std::string, uint32_t> counts;
  {
    auto db = jet::Database::open(path_, {true, ""});
    for (const char* t : {"Customers", "Products", "Orders"}) counts[t] = db->table(t).rowCount;
  }
  for (const auto& [table, rows] : counts) {
    SCOPED_TRACE(table);
    auto json = oracle::mdbtools("mdb-json", oracle::quote(path_) + " " + table);
    if (!json) GTEST_SKIP() << "mdbtools not installed";
    EXPECT_EQ(json->status, 0);
    EXPECT_EQ(size_t(std::count(json->out.begin(), json->out.end(), '\n')), rows);
  }
  auto schema = oracle::mdbtools("mdb-schema", oracle::quote(path_) + " postgres");
  ASSERT_TRUE(schema);
  EXPECT_NE(schema->out.find("Relationship from \"Orders\" (\"customerid\") to \"Customers\"(\"customerid\")"),
            std::string::npos)
      << schema->out;
  EXPECT_NE(schema->out.find("Relationship from \"Orders\" (\"productid\") to \"Products\"(\"productid\")"),
            std::string::npos);
  auto lines = oracle::mdbReader(path_);
  if (!lines) GTEST_SKIP() << "mdb-reader not installed";
  ASSERT_FALSE(lines->empty());
  ASSERT_NE(lines->front(), "ERROR") << (lines->size() > 1 ? (*lines)[1] : "");
  for (const auto& [table, rows] : counts) {
    EXPECT_NE(std::find(lines->begin(), lines->end(), "TABLE\t" + table + "\t" + std::to_string(rows)), lines->end())
        << table;
    EXPECT_EQ(size_t(std::count_if(lines->begin(), lines->end(),
                                   [&](const std::string& l) { return l.rfind("ROW\t" + table + "\t", 0) == 0; })),
              rows);
  }
  for (const std::string& l : *lines) EXPECT_NE(l.rfind("FAIL", 0), 0u) << l;
}

}  // namespace
