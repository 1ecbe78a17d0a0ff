// The object model beside another program on the same file: a commit made elsewhere shows at the
// recordset's next move (counts and rows current), and an edit begun before it is not saved over a
// record that changed or went meanwhile (3197); an edit of a record left alone saves. Only moves
// read the file.
#include <gtest/gtest.h>

#include <functional>

#include "db/dao.h"
#include "jet/database.h"
#include "support/error_of.h"
#include "support/files.h"
#include "support/processes.h"

namespace {

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
