// Linked tables whose source is another Access file: found from the path the link keeps (also one
// written on another system), read through the linking database under the link's name, refused
// clearly when the source is missing, the link is not to an Access file or links go round in a
// circle.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "jet/base/error.h"
#include "jet/base/value.h"
#include "jet/database.h"
#include "jet/linked_table.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"

namespace {

// Adds a catalog row for a linked table (type 6: an Access file; 4: ODBC) as Access writes one.
void addLink(jet::Database& db, int32_t id, const std::string& name, const std::string& sourcePath, const std::string& foreignName,
             int16_t type = 6) {
  const jet::TableInfo catalog = db.table("MSysObjects");
  std::map<std::string, jet::Value> v{{"Id", int64_t(id)},
                                      {"ParentId", int64_t(0x0F000001)},
                                      {"Name", name},
                                      {"Type", int64_t(type)},
                                      {"DateCreate", jet::DateTime{45000.5}},
                                      {"DateUpdate", jet::DateTime{45000.5}},
                                      {"Flags", int64_t(type == 6 ? 0x00100000 : 0x00080000)},
                                      {"Database", sourcePath},
                                      {"ForeignName", foreignName}};
  if (type == 4) v["Connect"] = std::string("ODBC;DSN=Orders;");
  std::vector<jet::Value> row;
  for (const jet::ColumnInfo& c : catalog.columns) row.push_back(v.count(c.name) ? v[c.name] : jet::Value{});
  db.insertRow("MSysObjects", row);
}

using jettest::rowsOf;

TEST(LinkedTables, ReadThroughTheLinkUnderItsOwnName) {
  jettest::TempDir dir;
  const std::string front = dir.copy("emptyJet4.mdb", "front.mdb");
  const std::string data4 = dir.copy("testV2000.mdb", "Orders Data.mdb");
  const std::string data3 = dir.copy("testV1997.mdb", "old.mdb");
  {
    auto db = jet::Database::open(front, {false, ""});
    // A path written on Windows whose file now lies beside the database, in other letter case.
    addLink(*db, 0x7F0001, "Remote", "C:\\Users\\someone\\Documents\\ORDERS DATA.MDB", "Table1");
    addLink(*db, 0x7F0002, "Old", data3, "table1");  // an absolute path; the source name in other case
    addLink(*db, 0x7F0003, "Gone", "\\\\server\\share\\gone.mdb", "Table1");
    addLink(*db, 0x7F0004, "Circle", front, "Circle");  // a link to itself
    addLink(*db, 0x7F0005, "Odbc", "", "dbo.Orders", 4);
    addLink(*db, 0x7F0006, "NoSuchTable", data4, "Table9");
    db->close();
  }
  auto db = jet::Database::open(front, {false, ""});
  const auto objects = db->objects();
  EXPECT_EQ(std::count_if(objects.begin(), objects.end(), [](const auto& o) { return o.kind == jet::ObjectKind::LinkedTable; }), 6);

  auto source4 = jet::Database::open(data4, {true, ""});
  const jet::TableInfo remote = db->table("remote");
  EXPECT_EQ(remote.name, "Remote");
  const jet::TableInfo original = source4->table("Table1");
  auto fields = [](const jet::TableInfo& t) {
    std::vector<std::pair<std::string, jet::ColumnType>> out;
    for (const auto& c : t.columns) out.emplace_back(c.name, c.type);
    return out;
  };
  EXPECT_EQ(fields(remote), fields(original));
  EXPECT_EQ(remote.rowCount, original.rowCount);
  EXPECT_EQ(db->openTable("Remote")->table().name, "Remote");
  std::vector<std::string> rows = rowsOf(*db, "Remote");
  EXPECT_FALSE(rows.empty());
  EXPECT_EQ(rows, rowsOf(*source4, "Table1"));

  auto source3 = jet::Database::open(data3, {true, ""});
  EXPECT_EQ(rowsOf(*db, "Old"), rowsOf(*source3, "Table1"));

  EXPECT_EQ(errorOf([&] { db->table("Gone"); }), jet::err::kFileNotFound);
  EXPECT_EQ(errorOf([&] { db->openTable("Gone"); }), jet::err::kFileNotFound);
  EXPECT_EQ(errorOf([&] { db->table("Circle"); }), jet::err::kTableNotFound);
  EXPECT_EQ(errorOf([&] { db->table("Odbc"); }), jet::err::kTableNotFound);
  EXPECT_EQ(errorOf([&] { db->table("NoSuchTable"); }), jet::err::kTableNotFound);
  // A row written through the link is refused; the source keeps its rows and the database itself
  // stays usable after those refusals.
  EXPECT_NE(errorOf([&] { db->insertRow("Remote", jettest::valuesOf(*db, "Remote").at(0)); }), 0);
  EXPECT_EQ(rowsOf(*db, "Remote"), rows);
  EXPECT_TRUE(db->check().ok());
  db->close();
  EXPECT_EQ(rowsOf(*jet::Database::open(data4, {true, ""}), "Table1"), rows);
}

TEST(LinkedTables, SourcePathsFromOtherSystemsAreFoundBesideTheDatabase) {
  jettest::TempDir dir;
  const std::string front = (dir.path() / "front.mdb").string();
  const std::string data = dir.copy("testV1997.mdb", "Sales.mdb");
  EXPECT_EQ(jet::resolveLinkedSource(data, front), data);
  EXPECT_EQ(jet::resolveLinkedSource("Sales.mdb", front), data);  // relative to the database, not the working folder
  EXPECT_EQ(jet::resolveLinkedSource("D:\\Shared\\Sales.mdb", front), data);
  EXPECT_EQ(jet::resolveLinkedSource("\\\\server\\share\\SALES.MDB", front), data);
  EXPECT_EQ(jet::resolveLinkedSource("/elsewhere/sales.mdb", front), data);
  EXPECT_EQ(jet::resolveLinkedSource("D:\\Shared\\Other.mdb", front), "");
  EXPECT_EQ(jet::resolveLinkedSource("D:\\Shared\\", front), "");
  EXPECT_EQ(jet::resolveLinkedSource("", front), "");
}

}  // namespace
