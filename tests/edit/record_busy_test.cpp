// The record editor beside other programs: a save refused with 3260, because another program holds
// the writer's turn or a Jet program has opened the file since, shows the message in the usual error
// report, keeps the editor open with what was typed, and stores nothing; once the other program is
// gone the same save goes through.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "gui_test_env.h"
#include "jet/storage/lock_file.h"

namespace {

using Holder = std::shared_ptr<void>;

// Another program of ours in the middle of a transaction: it has the writer's turn.
Holder writerTurnElsewhere(const std::string& path) {
  std::shared_ptr<jet::Database> db = jet::Database::open(path);
  db->beginTransaction();
  db->insertRow("R", {std::string("Other")});
  return Holder(db, db.get());
}

// A Jet program (Access, say) that opened the file after us: an entry in lock-file slot 1 and its
// user lock, held on a descriptor of its own.
Holder jetUserElsewhere(const std::string& path) {
  const int fd = ::open(jet::lockFilePathOf(path).c_str(), O_RDWR);
  char entry[64] = {};
  std::strcpy(entry, "ACCESS-PC");
  std::strcpy(entry + 32, "Admin");
  struct flock fl = {.l_type = F_WRLCK, .l_whence = SEEK_SET, .l_start = 0x10000002, .l_len = 1, .l_pid = 0};
  if (fd < 0 || ::pwrite(fd, entry, 64, 64) != 64 || ::fcntl(fd, F_OFD_SETLK, &fl) != 0) return nullptr;
  return Holder(new int(fd), [](void* p) {
    ::close(*static_cast<int*>(p));
    delete static_cast<int*>(p);
  });
}

class RecordBusyTest : public testenv::MainWindowTest {
 protected:
  void TearDown() override {
    dao::Engine().SetBusyTimeout(10);
    MainWindowTest::TearDown();
  }
};

TEST_F(RecordBusyTest, ASaveRefusedWith3260KeepsTheEditorAsTyped) {
  struct Case {
    const char* what;
    std::function<Holder(const std::string&)> hold;
    const char* message;
  };
  const Case cases[] = {
      {"writer's turn elsewhere", writerTurnElsewhere, "Couldn't update; currently locked by user '"},
      {"Jet user elsewhere", jetUserElsewhere,
       "Couldn't update; currently locked by user 'Admin' on machine 'ACCESS-PC'."},
  };
  dao::Engine().SetBusyTimeout(0);  // the refusal at once rather than after ten seconds
  openNew(dao::dbVersion40);
  testenv::makeTable("R", {modDB::FieldDef{"Name", dao::dbText, 20, 0, false, true}}, {{"Ann"}});
  form->RefreshTables(1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Holder other = c.hold(path.toStdString());
    ASSERT_TRUE(other);
    run({{"row 1 edit 0=Zed", "nboxes=1; kept=Zed; stored R 0=Ann"}});
    EXPECT_EQ(dialogs.boxes.at(0).title, "Application Error");
    EXPECT_TRUE(dialogs.boxes.at(0).text.contains(QString::fromUtf8(c.message))) << dialogs.boxes.at(0).text.toStdString();
    // Once the other program is gone the same save goes through.
    other.reset();
    run({{"row 1 edit 0=Zed", "stored R 0=Zed"}, {"row 1 edit 0=Ann", "stored R 0=Ann"}});
  }
  modDB::CloseDB();
  EXPECT_EQ(testenv::checkFile(path), "");
}

}  // namespace
