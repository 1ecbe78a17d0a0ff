// The object model over a real file: DAO's codes and sizes, the collection walk, the recordset's
// positions, and the rules and error numbers of AddNew/Edit/Update/Delete; relations; complex
// fields; the recordset beside another program; the session routines that create, open and close
// files.
#include <gtest/gtest.h>

#include <functional>

#include "db/dao_impl.h"
#include "db/field_rules.h"
#include "db/record_save.h"
#include "db/session.h"
#include "support/complex_fixture.h"
#include "support/error_of.h"
#include "support/files.h"
#include "support/processes.h"

using jet::ColumnType;
using jet::Value;

namespace {

// A new Jet 4 file holding `tables` (name, columns, rows), open through the object model.
struct FileFixture {
  testsupport::TempDir dir;
  std::string path = dir.file("model.mdb");
  dao::Database open(const std::vector<std::tuple<std::string, std::vector<jet::NewColumn>, std::vector<std::vector<Value>>>>& tables) {
    {
      auto engine = jet::Database::create(path, {jet::Format::Jet4Layout, 1252, 1033});
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

  // Steps on one recordset: an action, then what it gives ("" nothing, an error number for a
  // refusal). Actions: open T, count, ends (EOF and BOF), first, next, move N, get F (a field by
  // number or name: 'text', <null> or the value's text), set F TEXT (<null>: Null), long F N (a
  // number), addnew, edit, update, cancel, delete, close, column T F (a field of every row).
  dao::Recordset rs;
  struct Step {
    std::string act, expect;
  };
  void run(std::initializer_list<Step> steps) {
    for (const Step& s : steps) {
      std::string got;
      const int error = errorOf([&] { got = act(s.act); });
      EXPECT_EQ(error ? std::to_string(error) : got, s.expect) << s.act;
    }
  }
  static std::string text(const Value& v) {
    return jet::isNull(v) ? "<null>" : std::holds_alternative<std::string>(v) ? "'" + jet::toText(v) + "'" : jet::toText(v);
  }
  std::string act(const std::string& step) {
    const std::string verb = step.substr(0, step.find(' ')), a = step.substr(std::min(step.size(), verb.size() + 1));
    const std::string first = a.substr(0, a.find(' ')), rest = a.substr(std::min(a.size(), first.size() + 1));
    auto field = [&] { return std::isdigit(static_cast<unsigned char>(first[0])) ? rs.GetFields().Item(std::stoi(first)) : rs.GetFields().Item(first); };
    if (verb == "open") rs = db.OpenRecordset(a);
    else if (verb == "count") return std::to_string(rs.RecordCount());
    else if (verb == "ends") return std::to_string(rs.EOF_()) + std::to_string(rs.BOF_());
    else if (verb == "first") rs.MoveFirst();
    else if (verb == "next") rs.MoveNext();
    else if (verb == "move") rs.Move(std::stoi(a));
    else if (verb == "get") return text(field().GetValue());
    else if (verb == "set" && rest == "<null>") field().SetValue(Value(jet::Null{}));
    else if (verb == "set") field().SetValue(rest);  // as text
    else if (verb == "long") field().SetValue(Value(int64_t{std::stoll(rest)}));
    else if (verb == "addnew") rs.AddNew();
    else if (verb == "edit") rs.Edit();
    else if (verb == "update") rs.Update();
    else if (verb == "cancel") rs.CancelUpdate();
    else if (verb == "delete") rs.Delete();
    else if (verb == "close") rs.Close();
    else if (verb == "column") {
      std::string out;
      for (dao::Recordset all = db.OpenRecordset(first); !all.EOF_(); all.MoveNext())
        out += (out.empty() ? "" : "|") + text(all.GetFields().Item(std::stoi(rest)).GetValue());
      return out;
    } else ADD_FAILURE() << "no such action: " << step;
    return "";
  }
};

// The complex fields' test file, open through the object model.
struct ComplexFields : ::testing::Test {
  testsupport::TempDir dir_;
  const std::string path_ = dir_.file("complex.mdb");
  dao::Database db_ = (complexfixture::build(path_), dao::Engine().OpenDatabase(path_));
};

// Another program on the same file: a commit made elsewhere shows at the recordset's next move
// (counts and rows current), and an edit begun before it is not saved over a record that changed
// or went meanwhile (3197); an edit of a record left alone saves.
using Rows = std::vector<jet::RowId>;

struct Case {
  const char* what;
  std::function<void(jet::Database&, const Rows&)> other;  // the other program's change
  int32_t count;     // rows the recordset then sees
  int saveError;     // saving the edit of the first record begun before the change
  const char* first;  // the first record's text afterwards
};

const Case kCases[] = {
    {"deletes the edited record", [](jet::Database& db, const Rows& r) { db.deleteRow("T", r[0]); }, 2, 3197, "b"},
    {"changes the edited record",
     [](jet::Database& db, const Rows& r) { db.updateRow("T", r[0], {int64_t{1}, std::string("theirs")}); }, 3, 3197,
     "theirs"},
    {"changes another record",
     [](jet::Database& db, const Rows& r) { db.updateRow("T", r[2], {int64_t{3}, std::string("theirs")}); }, 3, 0,
     "mine"},
    {"adds a record", [](jet::Database& db, const Rows&) { db.insertRow("T", {int64_t{4}, std::string("d")}); }, 4, 0,
     "mine"},
};

// Runs `change` in a child process with a database of its own, as another program would.
int inOtherProcess(const std::string& path, const std::function<void(jet::Database&, const Rows&)>& change) {
  return testsupport::inChild([&] {
    auto db = jet::Database::open(path);
    Rows rows;
    for (auto c = db->openTable("T"); c->next();) rows.push_back(c->rowId());
    change(*db, rows);
    db->close();
  });
}

// A file whose table T holds the records 1 "a", 2 "b" and 3 "c".
std::string threeRecords(const testsupport::TempDir& dir) {
  const std::string path = dir.file("shared.mdb");
  auto db = jet::Database::create(path);
  db->createTable({"T", {{"K", jet::ColumnType::Long}, {"V", jet::ColumnType::Text, 20}}});
  for (int64_t k = 1; k <= 3; ++k) db->insertRow("T", {k, std::string(1, char('a' + k - 1))});
  db->close();
  return path;
}

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
  EXPECT_EQ(fields.Item(0).Attributes(), 17);  // (each field's type, size and rules: the design windows' tests)
  EXPECT_EQ(errorOf([&] { fields.Item("Nope"); }), 3265);
}

TEST_F(ObjectModel, RecordsetMovesByPosition) {
  // Backwards re-reads from the start; past the end there is no current record.
  run({{"open People", ""}, {"count", "3"}, {"ends", "00"}, {"get 1", "'Ann'"}, {"get 2", "<null>"}, {"move 2", ""},
       {"get 1", "'Cy'"}, {"move -1", ""}, {"get Notes", "'note'"}, {"move 5", ""}, {"ends", "10"}, {"get 0", "3021"},
       {"next", "3021"}, {"first", ""}, {"get 0", "1"}, {"close", ""}, {"first", "3420"},
       {"open Empty", ""}, {"ends", "11"}, {"count", "0"}, {"edit", "3021"}, {"delete", "3021"}, {"move -1", "3021"}, {"open Missing", "3078"}});
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
  run({{"open People", ""}, {"move 1", ""}, {"addnew", ""}, {"get 0", "4"}, {"set 0 9", "3164"}, {"set 1 Dee", ""},
       {"set 3 12.5", ""}, {"update", ""}, {"count", "4"}, {"get 1", "'Bob'"}, {"column People 1", "'Ann'|'Bob'|'Cy'|'Dee'"},
       {"column People 3", "12.5|<null>|0|12.5"}});
}

TEST_F(ObjectModel, ValueRulesRaiseDaosErrorsWhereDaoDoes) {
  // Conversions and lengths are refused at assignment (characters, not bytes), Required and zero
  // length at Update; a number of another type converts.
  run({{"open People", ""}, {"set 1 x", "3020"}, {"update", "3020"}, {"cancel", "3020"}, {"addnew", ""}, {"set 3 abc", "3421"},
       {"set 3 ", "3421"}, {"set 1 eleven chrs", "3163"}, {"set 1 ten chars!", ""}, {"set 1 äöüäöüäöüä", ""},
       {"set 1 <null>", ""}, {"update", "3314"}, {"set 1 ", ""}, {"update", "3315"}});
  // Refusals of one field name it, so that a window can select it without reading the text.
  dao::Fields f = rs.GetFields();
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
  run({{"column People 1", "'Ann'|'Bob'|'Cy'"}, {"set 1 Eve", ""}, {"long 3 2", ""}, {"update", ""},
       {"column People 3", "12.5|<null>|0|2"}});
}

TEST_F(ObjectModel, EditWritesOnlyWhatChanged) {
  rs = db.OpenRecordset("People");
  dao::Fields f = rs.GetFields();
  const std::vector<uint8_t> before = bytes();
  rs.Edit();
  // Every field written back with its own text form (Nulls as Null): nothing to store.
  for (int i = 1; i < f.Count(); ++i) {
    Value v = f.Item(i).GetValue();
    jet::isNull(v) ? f.Item(i).SetValue(v) : f.Item(i).SetValue(jet::toText(v));
  }
  rs.Update();
  EXPECT_TRUE(bytes() == before) << "an unchanged record was written";
  // The edit buffer until Update or CancelUpdate.
  run({{"edit", ""}, {"set 2 new note", ""}, {"get 2", "'new note'"}, {"cancel", ""}, {"get 2", "<null>"}, {"edit", ""},
       {"set 2 new note", ""}, {"update", ""}, {"column People 2", "'new note'|'note'|<null>"}, {"get 2", "'new note'"},
       {"get 1", "'Ann'"}});
}

TEST_F(ObjectModel, DeleteByPositionAndStoredOrderAfterwards) {
  // Moving on from a deleted record reaches the one after it; a new row goes where the file stores
  // it, the current record staying; deleting the last record and moving on reaches the end.
  run({{"open People", ""}, {"move 1", ""}, {"delete", ""}, {"get 1", "3167"}, {"next", ""}, {"get 1", "'Cy'"},
       {"count", "2"}, {"addnew", ""}, {"set 1 Dee", ""}, {"update", ""}, {"get 1", "'Cy'"},
       {"column People 1", "'Ann'|'Cy'|'Dee'"}, {"first", ""}, {"move 1", ""}, {"get 1", "'Cy'"}, {"move 1", ""},
       {"delete", ""}, {"next", ""}, {"ends", "10"}});
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
  // (The other types and the rules as the file keeps them: the design windows' tests.)
  const jet::TableInfo made = jet::Database::open(path, {true, ""})->table("Orders");
  ASSERT_EQ(made.columns.size(), 3u);
  EXPECT_EQ(made.columns[2].type, ColumnType::Numeric);
  EXPECT_EQ(db.GetTableDefs().Count(), count + 1);
  EXPECT_EQ(errorOf([&] { t.GetFields().Item(1).SetRequired(false); }), 3219);  // in the file now

  dao::TableDef bad = db.CreateTableDef("Bad");
  bad.GetFields().Append(bad.CreateField("X", 13, 0));
  EXPECT_EQ(errorOf([&] { db.GetTableDefs().Append(bad); }), 3259);
}

// Renaming and deleting tables: the design windows' tests. A closed database ends its collections.
TEST_F(ObjectModel, CloseEndsTheCollections) {
  dao::TableDefs defs = db.GetTableDefs();
  db.Close();
  EXPECT_FALSE(db.IsOpen());
  EXPECT_EQ(errorOf([&] { defs.Count(); }), 3420);
  EXPECT_EQ(errorOf([&] { db.OpenRecordset("Empty"); }), 3420);
}

// The session routines: a new file (not over an existing one), a failed open that leaves the open
// database alone, closing twice. (Each version's name: the command line's info.)
TEST(SessionFiles, CreateOpenAndClose) {
  testsupport::TempDir temp;
  const std::string path = temp.file("new.mdb");
  modDB::bDBOpen = false;
  EXPECT_EQ(modDB::CreateDB(path, dao::dbVersion40), 1);
  EXPECT_EQ(modDB::CreateDB(path, dao::dbVersion40), 0);  // exists
  modDB::bDBOpen = modDB::OpenDB(path);
  ASSERT_TRUE(modDB::bDBOpen);
  EXPECT_TRUE(modDB::FillTabs().empty());
  dao::Database before = modDB::gDB;
  EXPECT_FALSE(modDB::OpenDB(temp.file("missing.mdb")));
  EXPECT_EQ(modDB::gDB.impl(), before.impl());  // unchanged by a failed open
  modDB::CloseDB();
  EXPECT_FALSE(modDB::bDBOpen);
  EXPECT_FALSE(modDB::gDB.IsOpen());
  modDB::CloseDB();  // closed already: nothing happens
}

// Relations: CreateRelation, its fields, Append, and the refusal to delete a table that takes part
// in one.
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

// Complex fields: DAO's type codes, the values as text and as a whole, and records that keep their
// complex values through edits of other fields.
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

// EOF and the current values are answered from what the last move read, so they answer even while
// another program's commit keeps new read operations out; the next move waits for the commit (here
// it gives up at once) and then follows it.
TEST(OtherProgram, OnlyMovesReadTheFile) {
  testsupport::TempDir dir;
  const std::string path = threeRecords(dir);
  dao::Engine().SetBusyTimeout(0);
  dao::Database db = dao::Engine().OpenDatabase(path, false, false, "");
  dao::Recordset rs = db.OpenRecordset("T");
  rs.MoveFirst();
  auto reader = jet::Database::open(path, {true, ""});
  auto reading = reader->readOperation();
  testsupport::Signal committing;
  const pid_t writer = testsupport::spawn([&] {
    testsupport::SignalOnRefusal env(committing);
    jet::Env::install(&env);
    jet::Database::open(path, {false, "", 60000})->insertRow("T", {int64_t{4}, std::string("d")});  // waits for the reader
    return 0;
  });
  ASSERT_TRUE(committing.wait());
  bool eof = true;
  std::string first;
  const int answered = errorOf([&] { eof = rs.EOF_(), first = jet::toText(rs.CurrentValues().at(1)); });
  const int moved = errorOf([&] { rs.MoveNext(); });
  reading.reset();
  EXPECT_EQ(answered, 0);
  EXPECT_FALSE(eof);
  EXPECT_EQ(first, "a");
  EXPECT_EQ(moved, jet::err::kLocked);
  EXPECT_EQ(testsupport::waitFor(writer), 0);
  rs.MoveNext();
  EXPECT_EQ(jet::toText(rs.CurrentValues().at(1)), "b");
  EXPECT_EQ(rs.RecordCount(), 4);
  db.Close();
  dao::Engine().SetBusyTimeout(10);
}

TEST(OtherProgram, RecordsetFollowsCommitsMadeElsewhere) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    testsupport::TempDir dir;
    const std::string path = threeRecords(dir);
    dao::Database db = dao::Engine().OpenDatabase(path, false, false, "");
    dao::Recordset rs = db.OpenRecordset("T");
    ASSERT_EQ(rs.RecordCount(), 3);
    rs.MoveFirst();
    rs.Edit();
    rs.GetFields().Item(1).SetValue(std::string("mine"));
    ASSERT_EQ(inOtherProcess(path, c.other), 0);
    EXPECT_EQ(errorOf([&] { rs.Update(); }), c.saveError);
    if (c.saveError) rs.CancelUpdate();
    rs.MoveFirst();
    EXPECT_EQ(rs.RecordCount(), c.count);
    EXPECT_EQ(jet::toText(rs.GetFields().Item(1).GetValue()), c.first);
    db.Close();
  }
}
