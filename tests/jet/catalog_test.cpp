#include "jet/catalog/catalog.h"

#include <gtest/gtest.h>

#include "jet/database.h"
#include "jet/support/test_files.h"

namespace {

std::vector<jet::CatalogObject> objectsOf(const std::string& file, jet::ObjectKind kind) {
  auto db = jet::Database::open(jettest::testdata(file), {true, ""});
  std::vector<jet::CatalogObject> out;
  for (auto& o : db->objects())
    if (o.kind == kind) out.push_back(o);
  return out;
}

std::vector<std::string> names(const std::vector<jet::CatalogObject>& objs) {
  std::vector<std::string> out;
  for (auto& o : objs) out.push_back(o.name);
  return out;
}

TEST(Catalog, UserAndSystemTablesInNameOrder) {
  for (const char* file : {"testV1997.mdb", "testV2000.mdb"}) {
    EXPECT_EQ(names(objectsOf(file, jet::ObjectKind::Table)),
              (std::vector<std::string>{"Table1", "Table2", "Table3", "Table4"}))
        << file;
    auto sys = objectsOf(file, jet::ObjectKind::SystemTable);
    std::vector<std::string> sysNames = names(sys);
    for (const char* n : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"})
      EXPECT_NE(std::find(sysNames.begin(), sysNames.end(), n), sysNames.end()) << n;
    for (auto& o : sys) EXPECT_NE(o.flags & jet::sys::kSystemObjectFlags, 0u);
    for (auto& o : objectsOf(file, jet::ObjectKind::Table)) EXPECT_EQ(o.flags & jet::sys::kSystemObjectFlags, 0u);
  }
}

TEST(Catalog, SavedQueriesAreListed) {
  for (const char* file : {"queryTestV1997.mdb", "queryTestV2000.mdb"}) {
    auto q = names(objectsOf(file, jet::ObjectKind::Query));
    for (const char* n : {"SelectQuery", "UnionQuery", "CrosstabQuery", "AppendQuery", "DeleteQuery"})
      EXPECT_NE(std::find(q.begin(), q.end(), n), q.end()) << file << " " << n;
  }
}

TEST(Catalog, TablesFoundCaseInsensitivelyMissingOnesReport3078) {
  auto db = jet::Database::open(jettest::testdata("testV2000.mdb"), {true, ""});
  EXPECT_EQ(db->table("TABLE1").name, "Table1");
  try {
    db->table("NoSuchTable");
    FAIL();
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.number(), jet::err::kTableNotFound);
    EXPECT_NE(std::string(e.what()).find("NoSuchTable"), std::string::npos);
  }
  EXPECT_THROW(db->openTable("SelectQuery"), jet::Error);
  EXPECT_TRUE(jet::sameName("msysobjects", "MSysObjects"));
  EXPECT_FALSE(jet::sameName("Table1", "Table10"));
}

}  // namespace
