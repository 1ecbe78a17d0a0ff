// Relations through the object model on a real file: CreateRelation, its fields, Append, and the
// refusal to delete a table that takes part in one.
#include <gtest/gtest.h>

#include "db/dao.h"
#include "support/error_of.h"
#include "support/files.h"

namespace {

TEST(Relations, AppendedRelationKeepsItsTables) {
  testsupport::TempDir dir;
  const std::string path = dir.file("r.mdb");
  for (int32_t version : {dao::dbVersion30, dao::dbVersion40}) {
    std::filesystem::remove(path);
    dao::Engine().CreateDatabase(path, ";LANGID=0x0409;CP=1252;COUNTRY=0", version).Close();
    dao::Database db = dao::Engine().OpenDatabase(path);
    dao::TableDef customers = db.CreateTableDef("Customers");
    customers.GetFields().Append(customers.CreateField("ID", dao::dbLong, 4));
    db.GetTableDefs().Append(customers);
    dao::TableDef orders = db.CreateTableDef("Orders");
    orders.GetFields().Append(orders.CreateField("CustomerID", dao::dbLong, 4));
    orders.GetFields().Append(orders.CreateField("Text", dao::dbText, 10));
    db.GetTableDefs().Append(orders);

    dao::Relation rel = db.CreateRelation("CustomersOrders", "Customers", "Orders", dao::dbRelationDontEnforce);
    EXPECT_EQ(errorOf([&] { db.AppendRelation(rel); }), 3264) << "a relation needs a field";
    rel.AppendField("ID", "CustomerID");
    EXPECT_EQ(errorOf([&] { rel.AppendField("id", "Text"); }), 3367);
    EXPECT_EQ(rel.FieldCount(), 1);
    db.AppendRelation(rel);
    EXPECT_EQ(errorOf([&] { db.AppendRelation(rel); }), 3012);
    dao::Relation enforced = db.CreateRelation("Enforced", "Customers", "Orders", dao::dbRelationDeleteCascade);
    enforced.AppendField("ID", "CustomerID");
    EXPECT_EQ(errorOf([&] { db.AppendRelation(enforced); }), 3609);  // no unique index on ID

    EXPECT_EQ(errorOf([&] { db.GetTableDefs().Delete("Orders"); }), 3303);
    EXPECT_EQ(errorOf([&] { db.GetTableDefs().Delete("Customers"); }), 3303);
    db.GetTableDefs().Refresh();
    EXPECT_EQ(db.GetTableDefs().Item("Customers").Name(), "Customers");  // both are still there
    EXPECT_EQ(db.GetTableDefs().Item("Orders").Name(), "Orders");
    db.Close();
  }
}

}  // namespace
