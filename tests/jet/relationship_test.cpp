// Relationships between tables: the rows written to MSysRelationships and the catalog, what the
// independent readers make of them, and what they forbid (deleting a table in one) or follow
// (renaming it).
#include <gtest/gtest.h>

#include <algorithm>

#include "jet/database.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"

namespace {

using jet::Format;

jet::NewTable table(const std::string& name, std::vector<std::pair<std::string, jet::ColumnType>> columns) {
  jet::NewTable t{name, {}, {}};
  for (auto& [n, type] : columns) t.columns.push_back({.name = n, .type = type, .size = type == jet::ColumnType::Text ? 30 : 0});
  return t;
}

// Names are found without regard to case.
jet::NewRelationship ordersOfCustomers() { return {"CustomersOrders", "Customers", "orders", {{"ID", "customerid"}}}; }

// MSysRelationships as the engine reads it, one line per row (szRelationship, grbit, ccolumn,
// icolumn, szObject, szColumn, szReferencedObject, szReferencedColumn), sorted.
std::vector<std::string> relationshipRows(jet::Database& db) {
  std::vector<std::string> rows = jettest::rowsOf(db, "MSysRelationships");
  std::sort(rows.begin(), rows.end());
  return rows;
}

class Relationships : public ::testing::TestWithParam<Format> {
 protected:
  void SetUp() override {
    path_ = (dir_.path() / "rel.mdb").string();
    auto db = jet::Database::create(path_, {GetParam(), 1252, 1033});
    jet::NewTable customers = table("Customers", {{"ID", jet::ColumnType::Long}, {"Name", jet::ColumnType::Text}});
    customers.indexes.push_back({"PrimaryKey", {{0, true}}, true, true, false, true});
    db->createTable(customers);
    db->createTable(table("Orders", {{"OrderID", jet::ColumnType::Long},
                                     {"CustomerID", jet::ColumnType::Long},
                                     {"Note", jet::ColumnType::Text}}));
    db->createTable(table("Other", {{"X", jet::ColumnType::Long}}));
  }

  jettest::TempDir dir_;
  std::string path_;
};

TEST_P(Relationships, RowsCatalogAndReaders) {
  {
    auto db = jet::Database::open(path_);
    db->createRelationship(ordersOfCustomers());
    EXPECT_EQ(relationshipRows(*db),
              (std::vector<std::string>{"CustomersOrders|2|1|0|Orders|CustomerID|Customers|ID|"}));
    // Two fields at once, and a relationship naming the same tables under another name.
    db->createRelationship({"Pair", "Orders", "Customers", {{"OrderID", "ID"}, {"Note", "Name"}}});
    std::vector<std::string> rows = relationshipRows(*db);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1], "Pair|2|2|0|Customers|ID|Orders|OrderID|");
    EXPECT_EQ(rows[2], "Pair|2|2|1|Customers|Name|Orders|Note|");
    EXPECT_EQ(jettest::firstProblem(*db), "");
  }
  if (auto schema = oracle::mdbtools("mdb-schema", oracle::quote(path_) + " postgres")) {
    EXPECT_NE(schema->out.find("Relationship from \"Orders\" (\"customerid\") to \"Customers\"(\"id\") does not enforce integrity"),
              std::string::npos)
        << schema->out;
  }
  if (auto lines = oracle::mdbReader(path_)) {
    ASSERT_FALSE(lines->empty());
    ASSERT_NE(lines->front(), "ERROR") << (lines->size() > 1 ? (*lines)[1] : "");
    EXPECT_NE(std::find(lines->begin(), lines->end(), "TABLE\tMSysRelationships\t3"), lines->end());
    // Each one's catalog object: type 8 in the Relationships container, with a negative id.
    for (const std::string name : {"CustomersOrders", "Pair"})
      EXPECT_EQ(std::count_if(lines->begin(), lines->end(), [&](const std::string& l) {
                  return l.rfind("ROW\tMSysObjects\t{\"Id\":-", 0) == 0 &&
                         l.find("\"ParentId\":251658243,\"Name\":\"" + name + "\",\"Type\":8,") != std::string::npos;
                }),
                1) << name;
  }
}

TEST_P(Relationships, TablesInARelationshipStayAndFollowARename) {
  auto db = jet::Database::open(path_);
  db->createRelationship(ordersOfCustomers());
  EXPECT_EQ(errorOf([&] { db->dropTable("Orders"); }), jet::err::kInRelationship);
  EXPECT_EQ(errorOf([&] { db->dropTable("customers"); }), jet::err::kInRelationship);
  db->dropTable("Other");  // a table outside it goes

  db->renameTable("Customers", "Clients");
  EXPECT_EQ(relationshipRows(*db),
            (std::vector<std::string>{"CustomersOrders|2|1|0|Orders|CustomerID|Clients|ID|"}));
  EXPECT_EQ(errorOf([&] { db->dropTable("Clients"); }), jet::err::kInRelationship);
  db->renameTable("Orders", "Sales");
  EXPECT_EQ(errorOf([&] { db->dropTable("Sales"); }), jet::err::kInRelationship);
  EXPECT_EQ(jettest::firstProblem(*db), "");
  db->close();
  if (auto schema = oracle::mdbtools("mdb-schema", oracle::quote(path_) + " postgres")) {
    EXPECT_NE(schema->out.find("Relationship from \"Sales\" (\"customerid\") to \"Clients\"(\"id\")"), std::string::npos)
        << schema->out;
  }
}

TEST_P(Relationships, RefusalsChangeNothing) {
  {
    auto db = jet::Database::open(path_);
    db->insertRow("Orders", {int64_t(1), int64_t(99), jet::Null{}});  // no customer 99
    db->createRelationship(ordersOfCustomers());
  }
  const std::vector<uint8_t> before = jettest::readFile(path_);
  auto db = jet::Database::open(path_);
  auto with = [](std::function<void(jet::NewRelationship&)> change) {
    jet::NewRelationship r = ordersOfCustomers();
    r.name = "Another";
    change(r);
    return r;
  };
  struct Case {
    const char* what;
    jet::NewRelationship outline;
    int error;
  };
  const Case cases[] = {
      {"taken name", with([](auto& r) { r.name = "customersorders"; }), jet::err::kObjectExists},
      {"invalid name", with([](auto& r) { r.name = "a.b"; }), jet::err::kInvalidName},
      {"no table", with([](auto& r) { r.table = "Nope"; }), jet::err::kObjectNotFound},
      {"no foreign table", with([](auto& r) { r.foreignTable = "Nope"; }), jet::err::kObjectNotFound},
      {"a system table", with([](auto& r) { r.foreignTable = "MSysObjects"; }), jet::err::kReadOnly},
      {"no field", with([](auto& r) { r.columns[0].name = "Nope"; }), jet::err::kUnknownField},
      {"no foreign field", with([](auto& r) { r.columns[0].foreignName = "Nope"; }), jet::err::kUnknownField},
      {"types differ", with([](auto& r) { r.columns[0].foreignName = "Note"; }), jet::err::kRelationFieldsDiffer},
      {"no fields", with([](auto& r) { r.columns.clear(); }), jet::err::kNoFields},
      {"enforced without a unique key", with([](auto& r) { r.attributes = 0; r.columns[0] = {"Name", "Note"}; }), 3609},
      {"enforced over a row without its customer", with([](auto& r) { r.attributes = 0; }), 3379},
  };
  for (const Case& c : cases) EXPECT_EQ(errorOf([&] { db->createRelationship(c.outline); }), c.error) << c.what;
  db->close();
  EXPECT_TRUE(jettest::readFile(path_) == before) << "a refused relationship changed the file";
}

INSTANTIATE_TEST_SUITE_P(BothFormats, Relationships, ::testing::Values(Format::Jet3Layout, Format::Jet4Layout),
                         [](const auto& info) { return info.param == Format::Jet4Layout ? "Jet4" : "Jet3"; });

}  // namespace
