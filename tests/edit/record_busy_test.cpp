// The record actions beside other programs: an edit, a new record or a deletion refused with 3260,
// because another program holds the writer's turn or a Jet program has opened the file since,
// shows the message in the usual error report, keeps the editor open with what was typed, and
// stores nothing; once the other program is gone the same action goes through.
#include <functional>

#include "gui_test_env.h"
#include "jet/storage/lock_file.h"
#include "support/processes.h"

namespace {

using Holder = std::shared_ptr<void>;

// Another program of ours in the middle of a transaction: it has the writer's turn.
Holder writerTurnElsewhere(const std::string& path) {
  std::shared_ptr<jet::Database> db = jet::Database::open(path);
  db->beginTransaction();
  db->insertRow("R", {std::string("Other")});
  return Holder(db, db.get());
}

// A Jet program (Access, say) that opened the file after us: in lock-file slot 1.
Holder jetUserElsewhere(const std::string& path) { return testsupport::jetUser(jet::lockFilePathOf(path), 1); }

class RecordBusyTest : public testenv::MainWindowTest {
 protected:
  void TearDown() override {
    dao::Engine().SetBusyTimeout(10);
    MainWindowTest::TearDown();
  }
};

// Each action refused while another program holds the file, then done once it is gone, and put
// back so that the next action starts from the one record "Ann".
TEST_F(RecordBusyTest, AnActionRefusedWith3260ShowsTheMessageAndLosesNothing) {
  struct Other {
    const char* what;
    std::function<Holder(const std::string&)> hold;
    const char* message;
  };
  const Other others[] = {
      {"writer's turn elsewhere", writerTurnElsewhere, "Couldn't update; currently locked by user '"},
      {"Jet user elsewhere", jetUserElsewhere,
       "Couldn't update; currently locked by user 'Admin' on machine 'ACCESS-PC'."},
  };
  struct Action {
    Step refused;              // the editor's box is its first, a deletion's comes after the question
    std::vector<Step> done;    // once the other program is gone, and back to "Ann"
  };
  const Action actions[] = {
      {{"row 1 edit 0=Zed", "nboxes=1; kept=Zed; stored R 0=Ann"},
       {{"row 1 edit 0=Zed", "stored R 0=Zed"}, {"row 1 edit 0=Ann", "stored R 0=Ann"}}},
      {{"add 0=Bob", "nboxes=1; kept=Bob; records R=1"},
       {{"add 0=Bob", "records R=2"}, {"row 2 yes click 16", "nboxes=1; records R=1; stored R 0=Ann"}}},
      {{"row 1 yes click 16", "nboxes=2; records R=1"}, {{"row 1 yes click 16", "nboxes=1; records R=0"}, {"add 0=Ann", "records R=1"}}},
  };
  dao::Engine().SetBusyTimeout(0);  // the refusal at once rather than after ten seconds
  openNew(dao::dbVersion40);
  testenv::makeTable("R", {modDB::FieldDef{"Name", dao::dbText, 20, 0, false, true}}, {{"Ann"}});
  form->RefreshTables(1);
  for (const Other& h : others)
    for (const Action& a : actions) {
      SCOPED_TRACE(std::string(h.what) + ", " + a.refused.act);
      Holder other = h.hold(path.toStdString());
      ASSERT_TRUE(other);
      run({a.refused});
      const QString report = dialogs.boxes.empty() ? QString() : dialogs.boxes.back().text;
      EXPECT_TRUE(report.contains(QString::fromUtf8(h.message))) << report.toStdString();
      other.reset();
      run(a.done);
    }
  modDB::CloseDB();
  EXPECT_EQ(testenv::checkFile(path), "");
}

}  // namespace
