// The object model over a real file: DAO's codes and sizes, the collection walk, the recordset's
// positions, and the rules and error numbers of AddNew/Edit/Update/Delete; the session routines
// that create, open and close files and name their version.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "db/dao_impl.h"
#include "db/field_rules.h"
#include "db/session.h"
#include "support/error_of.h"
#include "support/files.h"

namespace fs = std::filesystem;
using jet::ColumnType;
using jet::Value;

namespace {

// A new Jet 4 file holding `tables` (name, columns, rows), open through the object model.
struct FileFixture {
  testsupport::TempDir dir;
  std::string path = dir.file("model.mdb");
  dao::Database open(const std::vector<std::tuple<std::string, std::vector<jet::NewColumn>, std::vector<std::vector<Value>>>>& tables) {
    {
      auto engine = jet::Database::create(path, {jet::Format::Jet4, 1252, 1033});
      for (const auto& [name, columns, rows] : tables) {
        engine->createTable({name, columns, {}});
        for (const auto& row : rows) engine->insertRow(name, row);
      }
    }
    return dao::Database(std::make_shared<dao::DatabaseImpl>(jet::Database::open(path), path));
  }
  std::vector<uint8_t> bytes() const { return testsupport::readFile(path); }
};

struct ObjectModel : ::testing::Test, FileFixture {
  dao::Database db;

  void SetUp() override {
    db = open({{"People",
                {{"ID", ColumnType::Long, 0, true}, {"Name", ColumnType::Text, 10, false, true}, {"Notes", ColumnType::Memo},
                 {"Amount", ColumnType::Currency}},
                {{jet::Null{}, std::string("Ann"), jet::Null{}, jet::Currency{125000}},
                 {jet::Null{}, std::string("Bob"), std::string("note"), jet::Null{}},
                 {jet::Null{}, std::string("Cy"), jet::Null{}, jet::Currency{0}}}},
               {"Empty", {{"X", ColumnType::Long}}, {}}});
  }

  std::vector<std::string> names(const std::string& table, int field = 1) {
    std::vector<std::string> out;
    dao::Recordset rs = db.OpenRecordset(table);
    for (; !rs.EOF_(); rs.MoveNext()) out.push_back(jet::toText(rs.GetFields().Item(field).GetValue()));
    return out;
  }
};

}  // namespace

TEST_F(ObjectModel, TableDefsWalkTablesInCatalogOrder) {
  dao::TableDefs defs = db.GetTableDefs();
  std::vector<std::string> user;
  for (int i = 0; i < defs.Count(); ++i) {
    if (defs.Item(i).Attributes() == 0) user.push_back(defs.Item(i).Name());
    else EXPECT_EQ(defs.Item(i).Attributes(), dao::dbSystemObject) << defs.Item(i).Name();
  }
  EXPECT_EQ(user, (std::vector<std::string>{"Empty", "People"}));  // by name
  EXPECT_EQ(defs.Item("people").Name(), "People");
  EXPECT_EQ(errorOf([&] { defs.Item("Nope"); }), 3265);
  EXPECT_EQ(errorOf([&] { defs.Item(defs.Count()); }), 3265);
  dao::Fields fields = defs.Item("People").GetFields();
  ASSERT_EQ(fields.Count(), 4);
  EXPECT_EQ(fields.Item(0).Attributes(), 17);
  EXPECT_EQ(fields.Item("name").Size(), 10);
  EXPECT_TRUE(fields.Item(1).Required());
  EXPECT_EQ(fields.Item(2).Type(), dao::dbMemo);
  EXPECT_EQ(errorOf([&] { fields.Item("Nope"); }), 3265);
}

TEST_F(ObjectModel, RecordsetMovesByPosition) {
  dao::Recordset rs = db.OpenRecordset("People");
  EXPECT_EQ(rs.RecordCount(), 3);
  EXPECT_FALSE(rs.EOF_());
  EXPECT_EQ(rs.GetFields().Item(1).GetValue(), Value(std::string("Ann")));
  EXPECT_TRUE(jet::isNull(rs.GetFields().Item(2).GetValue()));
  rs.Move(2);
  EXPECT_EQ(rs.GetFields().Item(1).GetValue(), Value(std::string("Cy")));
  rs.Move(-1);  // backwards re-reads from the start
  EXPECT_EQ(rs.GetFields().Item("Notes").GetValue(), Value(std::string("note")));
  rs.Move(5);
  EXPECT_TRUE(rs.EOF_());
  EXPECT_EQ(errorOf([&] { rs.GetFields().Item(0).GetValue(); }), 3021);
  EXPECT_EQ(errorOf([&] { rs.MoveNext(); }), 3021);
  rs.MoveFirst();
  EXPECT_EQ(rs.GetFields().Item(0).GetValue(), Value(int64_t{1}));
  rs.Close();
  EXPECT_EQ(errorOf([&] { rs.MoveFirst(); }), 3420);

  dao::Recordset empty = db.OpenRecordset("Empty");
  EXPECT_TRUE(empty.EOF_());
  EXPECT_TRUE(empty.BOF_());
  EXPECT_EQ(empty.RecordCount(), 0);
  EXPECT_EQ(errorOf([&] { empty.Edit(); }), 3021);
  EXPECT_EQ(errorOf([&] { empty.Delete(); }), 3021);
  EXPECT_EQ(errorOf([&] { db.OpenRecordset("Missing"); }), 3078);
}

// A recordset collects its row addresses as it walks; whatever it is asked, in whatever order,
// it answers as one that counted every row first: values, ends, errors, and the rows left after
// deletes and additions made before the walk reached the end.
TEST(RecordsetWalk, AWalkBeforeTheCountAnswersAsACountedRecordset) {
  auto walk = [](bool countFirst, uint32_t seed) {
    FileFixture file;
    std::vector<std::vector<Value>> rows;
    for (int i = 0; i < 40; ++i) rows.push_back({jet::Null{}, std::string("r") + std::to_string(i + 1)});
    dao::Database db = file.open({{"Many", {{"ID", ColumnType::Long, 0, true}, {"Name", ColumnType::Text, 20}}, rows}});
    {
      dao::Recordset gaps = db.OpenRecordset("Many");  // deleted rows among the others
      for (int at : {0, 6, 6, 20, 35}) {
        gaps.MoveFirst();
        gaps.Move(at);
        gaps.Delete();
      }
    }
    dao::Recordset rs = db.OpenRecordset("Many");
    if (countFirst) rs.RecordCount();
    std::mt19937 rng(seed);
    std::vector<std::string> log;
    for (int step = 0; step < 120; ++step) {
      const unsigned op = rng() % 12;
      std::string seen;
      int error = errorOf([&] {
        switch (op) {
          case 0: case 1: case 2: rs.MoveNext(); break;
          case 3: case 4: rs.Move(static_cast<int32_t>(rng() % 14) - 5); break;
          case 5: rs.MoveFirst(); break;
          case 6: seen = std::to_string(rs.EOF_()) + std::to_string(rs.BOF_()); break;
          case 7: case 8: seen = jet::toText(rs.GetFields().Item(1).GetValue()); break;
          case 9: if (rng() % 3 == 0) rs.Delete(); break;
          case 10:
            if (rng() % 3 == 0) {
              rs.AddNew();
              rs.GetFields().Item(1).SetValue(std::string("new") + std::to_string(step));
              rs.Update();
            }
            break;
          default: if (rng() % 4 == 0) seen = std::to_string(rs.RecordCount()); break;
        }
      });
      log.push_back(std::to_string(op) + ":" + seen + ":" + std::to_string(error));
    }
    dao::Recordset after = db.OpenRecordset("Many");
    for (; !after.EOF_(); after.MoveNext()) log.push_back(jet::toText(after.GetFields().Item(1).GetValue()));
    return log;
  };
  for (uint32_t seed = 1; seed <= 30; ++seed) ASSERT_EQ(walk(false, seed), walk(true, seed)) << "seed " << seed;
}

TEST_F(ObjectModel, AddNewAssignsTheAutoNumberAndKeepsTheCurrentRecord) {
  dao::Recordset rs = db.OpenRecordset("People");
  rs.Move(1);
  rs.AddNew();
  dao::Fields f = rs.GetFields();
  EXPECT_EQ(f.Item(0).GetValue(), Value(int64_t{4}));
  EXPECT_EQ(errorOf([&] { f.Item(0).SetValue(std::string("9")); }), 3164);
  f.Item(1).SetValue(std::string("Dee"));
  f.Item(3).SetValue(std::string("12.5"));
  rs.Update();
  EXPECT_EQ(rs.RecordCount(), 4);
  EXPECT_EQ(f.Item(1).GetValue(), Value(std::string("Bob")));
  EXPECT_EQ(names("People"), (std::vector<std::string>{"Ann", "Bob", "Cy", "Dee"}));
  EXPECT_EQ(names("People", 3).back(), "12.5");
}

TEST_F(ObjectModel, ValueRulesRaiseDaosErrorsWhereDaoDoes) {
  dao::Recordset rs = db.OpenRecordset("People");
  dao::Fields f = rs.GetFields();
  EXPECT_EQ(errorOf([&] { f.Item(1).SetValue(std::string("x")); }), 3020);
  EXPECT_EQ(errorOf([&] { rs.Update(); }), 3020);
  EXPECT_EQ(errorOf([&] { rs.CancelUpdate(); }), 3020);

  rs.AddNew();
  EXPECT_EQ(errorOf([&] { f.Item(3).SetValue(std::string("abc")); }), 3421);  // at assignment
  EXPECT_EQ(errorOf([&] { f.Item(3).SetValue(std::string("")); }), 3421);
  EXPECT_EQ(errorOf([&] { f.Item(1).SetValue(std::string("eleven chrs")); }), 3163);
  EXPECT_EQ(errorOf([&] { f.Item(1).SetValue(std::string("ten chars!")); }), 0);
  EXPECT_EQ(errorOf([&] { f.Item(1).SetValue(std::string("äöüäöüäöüä")); }), 0);  // characters, not bytes
  f.Item(1).SetValue(Value(jet::Null{}));
  EXPECT_EQ(errorOf([&] { rs.Update(); }), 3314);  // Required, at Update
  f.Item(1).SetValue(std::string(""));
  EXPECT_EQ(errorOf([&] { rs.Update(); }), 3315);  // zero length not allowed
  // Refusals of one field name it, so that a window can select it without reading the text.
  for (auto refused : {std::function<void()>([&] { rs.Update(); }),
                       std::function<void()>([&] { f.Item(1).SetValue(std::string("eleven chrs")); })}) {
    try {
      refused();
      ADD_FAILURE() << "accepted";
    } catch (const jet::Error& e) {
      EXPECT_EQ(e.table(), "People");
      EXPECT_EQ(e.field(), "Name");
    }
  }
  EXPECT_EQ(names("People"), (std::vector<std::string>{"Ann", "Bob", "Cy"}));
  f.Item(1).SetValue(std::string("Eve"));
  f.Item(3).SetValue(Value(int64_t{2}));  // a number of another type converts
  rs.Update();
  EXPECT_EQ(names("People", 3).back(), "2");
}

TEST_F(ObjectModel, EditWritesOnlyWhatChanged) {
  dao::Recordset rs = db.OpenRecordset("People");
  dao::Fields f = rs.GetFields();
  const std::vector<uint8_t> before = bytes();
  rs.Edit();
  // Every field written back with its own text form (Nulls as Null): nothing to store.
  for (int i = 1; i < f.Count(); ++i) {
    Value v = f.Item(i).GetValue();
    if (jet::isNull(v)) {
      f.Item(i).SetValue(v);
    } else {
      f.Item(i).SetValue(jet::toText(v));
    }
  }
  rs.Update();
  EXPECT_TRUE(bytes() == before) << "an unchanged record was written";
  rs.Edit();
  f.Item(2).SetValue(std::string("new note"));
  EXPECT_EQ(f.Item(2).GetValue(), Value(std::string("new note")));  // the edit buffer
  rs.CancelUpdate();
  EXPECT_TRUE(jet::isNull(f.Item(2).GetValue()));
  rs.Edit();
  f.Item(2).SetValue(std::string("new note"));
  rs.Update();
  EXPECT_EQ(names("People", 2).front(), "new note");
  EXPECT_EQ(f.Item(2).GetValue(), Value(std::string("new note")));
  EXPECT_EQ(f.Item(1).GetValue(), Value(std::string("Ann")));
}

TEST_F(ObjectModel, DeleteByPositionAndStoredOrderAfterwards) {
  dao::Recordset rs = db.OpenRecordset("People");
  rs.Move(1);
  rs.Delete();
  EXPECT_EQ(errorOf([&] { rs.GetFields().Item(1).GetValue(); }), 3167);
  rs.MoveNext();  // to the record after the deleted one
  EXPECT_EQ(rs.GetFields().Item(1).GetValue(), Value(std::string("Cy")));
  EXPECT_EQ(rs.RecordCount(), 2);
  // A new row goes where the file stores it; the current record stays.
  rs.AddNew();
  rs.GetFields().Item(1).SetValue(std::string("Dee"));
  rs.Update();
  EXPECT_EQ(rs.GetFields().Item(1).GetValue(), Value(std::string("Cy")));
  EXPECT_EQ(names("People"), (std::vector<std::string>{"Ann", "Cy", "Dee"}));
  rs.MoveFirst();
  rs.Move(1);
  EXPECT_EQ(rs.GetFields().Item(1).GetValue(), Value(std::string("Cy")));
  // Deleting the last record and moving on reaches the end without an error.
  rs.Move(1);
  rs.Delete();
  rs.MoveNext();
  EXPECT_TRUE(rs.EOF_());
}

TEST_F(ObjectModel, NewTablesCarryTheirFieldProperties) {
  dao::TableDef t = db.CreateTableDef("Orders");
  EXPECT_EQ(errorOf([&] { db.GetTableDefs().Append(t); }), 3264);
  t.GetFields().Append(t.CreateField("No", dao::dbLong, 4));
  t.GetFields().Append(t.CreateField("Item", dao::dbText, 30));
  t.GetFields().Append(t.CreateField("Price", dao::dbDecimal, 16));
  EXPECT_EQ(errorOf([&] { t.GetFields().Append(t.CreateField("item", dao::dbText, 5)); }), 3367);
  t.GetFields().Item(0).SetAttributes(dao::dbAutoIncrField);
  t.GetFields().Item(1).SetRequired(true);
  t.GetFields().Item(1).SetAllowZeroLength(true);
  EXPECT_EQ(t.GetFields().Item(0).Attributes(), 17);
  const int count = db.GetTableDefs().Count();
  db.GetTableDefs().Append(t);
  const jet::TableInfo made = jet::Database::open(path, {true, ""})->table("Orders");
  ASSERT_EQ(made.columns.size(), 3u);
  EXPECT_TRUE(made.columns[0].autoNumber);
  EXPECT_TRUE(made.columns[1].required);
  EXPECT_TRUE(made.columns[1].allowZeroLength);
  EXPECT_EQ(made.columns[1].length, 60);
  EXPECT_EQ(made.columns[2].type, ColumnType::Numeric);
  EXPECT_EQ(db.GetTableDefs().Count(), count + 1);
  EXPECT_EQ(errorOf([&] { t.GetFields().Item(1).SetRequired(false); }), 3219);  // in the file now

  dao::TableDef bad = db.CreateTableDef("Bad");
  bad.GetFields().Append(bad.CreateField("X", 13, 0));
  EXPECT_EQ(errorOf([&] { db.GetTableDefs().Append(bad); }), 3259);
}

TEST_F(ObjectModel, RenameDeleteAndClose) {
  dao::TableDefs defs = db.GetTableDefs();
  EXPECT_EQ(errorOf([&] { defs.Item("People").SetName("Empty"); }), 3010);
  const int count = defs.Count();
  defs.Item("People").SetName("Persons");
  EXPECT_EQ(defs.Item("persons").Name(), "Persons");
  defs.Delete("Persons");
  defs.Refresh();
  EXPECT_EQ(defs.Count(), count - 1);
  EXPECT_NE(errorOf([&] { defs.Delete("Persons"); }), 0);
  db.Close();
  EXPECT_FALSE(db.IsOpen());
  EXPECT_EQ(errorOf([&] { defs.Count(); }), 3420);
  EXPECT_EQ(errorOf([&] { db.OpenRecordset("Empty"); }), 3420);
}

TEST(SessionFiles, CreateOpenAndClose) {
  testsupport::TempDir temp;
  const fs::path& dir = temp.path();
  const std::string path = (dir / "new.mdb").string();
  modDB::bDBOpen = false;
  EXPECT_EQ(modDB::CreateDB(path, dao::dbVersion40), 1);
  EXPECT_EQ(modDB::CreateDB(path, dao::dbVersion40), 0);  // exists
  modDB::bDBOpen = modDB::OpenDB(path);
  ASSERT_TRUE(modDB::bDBOpen);
  EXPECT_TRUE(modDB::FillTabs().empty());
  dao::Database before = modDB::gDB;
  EXPECT_FALSE(modDB::OpenDB((dir / "missing.mdb").string()));
  EXPECT_EQ(modDB::gDB.impl(), before.impl());  // unchanged by a failed open
  modDB::CloseDB();
  EXPECT_FALSE(modDB::bDBOpen);
  EXPECT_FALSE(modDB::gDB.IsOpen());
  modDB::CloseDB();  // closed already: nothing happens

  fs::copy_file(std::string(TABULONIX_TESTDATA_DIR) + "/testV1997.mdb", dir / "copy.mdb");
  modDB::bDBOpen = modDB::OpenDB((dir / "copy.mdb").string());
  ASSERT_TRUE(modDB::bDBOpen);
  EXPECT_EQ(modDB::FillTabs().front(), "Table1");
  modDB::CloseDB();
}

TEST(SessionFiles, AccdbFilesOpenAndNameTheirVersion) {
  testsupport::TempDir temp;
  const fs::path& dir = temp.path();
  const std::pair<const char*, const char*> files[] = {{"testV1997.mdb", "3.0"},       {"testV2000.mdb", "4.0"},
                                                       {"ace/empty2007.accdb", "12.0"}, {"ace/empty2010.accdb", "14.0"},
                                                       {"ace/empty2016.accdb", "16.0"}, {"ace/empty2019.accdb", "17.0"},
                                                       {"ace/testV2007.accdb", "12.0"}};
  for (const auto& [name, version] : files) {
    const fs::path copy = dir / fs::path(name).filename();
    fs::copy_file(std::string(TABULONIX_TESTDATA_DIR) + "/" + name, copy);
    modDB::bDBOpen = modDB::OpenDB(copy.string());
    ASSERT_TRUE(modDB::bDBOpen) << name;
    EXPECT_EQ(modDB::gDB.Version(), version) << name;
    modDB::CloseDB();
    EXPECT_EQ(errorOf([&] { modDB::gDB.Version(); }), jet::err::kObjectInvalid) << name;
  }
}
