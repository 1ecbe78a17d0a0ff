// Complex fields through the object model: DAO's type codes, the values as text and as a whole,
// and records that keep their complex values through edits of other fields.
#include <gtest/gtest.h>


#include "db/dao.h"
#include "db/record_save.h"
#include "db/session.h"
#include "support/complex_fixture.h"
#include "support/error_of.h"
#include "support/files.h"

namespace {

class ComplexFields : public ::testing::Test {
 protected:
  void SetUp() override {
    complexfixture::build(path_);
    db_ = dao::Engine().OpenDatabase(path_);
  }
  void TearDown() override {
    if (db_.IsOpen()) db_.Close();
  }
  testsupport::TempDir dir_;
  const std::string path_ = dir_.file("complex.mdb");
  dao::Database db_;
};

TEST_F(ComplexFields, TypesAndValuesAsDaoGivesThem) {
  dao::Fields defs = db_.GetTableDefs().Item("Items").GetFields();
  for (const auto& [name, type] : {std::pair{"name", dao::dbText}, {"tags", dao::dbComplexText}, {"files", dao::dbAttachment},
                                   {"scores", dao::dbComplexLong}, {"history", dao::dbComplexText}})
    EXPECT_EQ(defs.Item(name).Type(), type) << name;
  EXPECT_EQ(defs.Item("files").Attributes() & dao::dbAutoIncrField, 0);

  dao::Recordset rs = db_.OpenRecordset("Items");
  dao::Fields f = rs.GetFields();
  EXPECT_EQ(f.Item("files").Attributes() & 32, 0);  // not updatable
  EXPECT_EQ(f.Item("name").Attributes() & 32, 32);
  EXPECT_EQ(std::get<std::string>(f.Item("tags").GetValue()), "red; green");
  EXPECT_EQ(std::get<std::string>(f.Item("files").GetValue()), "a.txt");
  const jet::ComplexValue files = f.Item("files").GetComplexValue();
  ASSERT_EQ(files.attachments.size(), 1u);
  EXPECT_EQ(files.attachments[0].data(), complexfixture::kFileA);
  EXPECT_EQ(errorOf([&] { f.Item("name").GetComplexValue(); }), jet::err::kInvalidOperation);
  rs.MoveNext();
  EXPECT_EQ(f.Item("history").GetComplexValue().versions.size(), 2u);
  EXPECT_EQ(std::get<std::string>(f.Item("scores").GetValue()), "");
  rs.Close();
}

TEST_F(ComplexFields, EditsOfOtherFieldsKeepTheValuesAndComplexFieldsRefuseWrites) {
  dao::Recordset rs = db_.OpenRecordset("Items");
  dao::Fields f = rs.GetFields();
  rs.Edit();
  EXPECT_EQ(errorOf([&] { f.Item("tags").SetValue(std::string("x")); }), jet::err::kCannotUpdateField);
  EXPECT_EQ(errorOf([&] { f.Item("files").SetValue(dao::Value{}); }), jet::err::kCannotUpdateField);
  // While the record is edited the values stay readable.
  EXPECT_EQ(std::get<std::string>(f.Item("tags").GetValue()), "red; green");
  f.Item("name").SetValue(std::string("uno"));
  rs.Update();
  rs.Close();

  // A new record saved by the record editor never writes the texts typed for complex fields.
  modDB::gDB = db_;
  int refused = -1;
  modDB::SaveRecord("Items", -1, {"four", "typed", "typed", "", "typed", "typed"}, {}, refused);
  modDB::gDB = dao::Database();

  rs = db_.OpenRecordset("Items");
  f = rs.GetFields();
  EXPECT_EQ(std::get<std::string>(f.Item("name").GetValue()), "uno");
  EXPECT_EQ(std::get<std::string>(f.Item("tags").GetValue()), "red; green");
  rs.Move(3);
  EXPECT_EQ(std::get<std::string>(f.Item("name").GetValue()), "four");
  EXPECT_EQ(std::get<std::string>(f.Item("tags").GetValue()), "");
  rs.Close();
}

}  // namespace
