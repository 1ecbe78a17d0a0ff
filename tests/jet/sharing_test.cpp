// Several programs on one database file: readers see only committed states, writers take turns
// (or give up with 3260 once their busy timeout has passed, the file untouched), a writer killed at
// any moment of its commit loses nothing for the others, and a Jet program holding a user lock in
// the lock file keeps every write of ours out. A program that stays open sees the commits of
// writers that come and go. The operating system's permissions: a file the user may only read opens
// read-only and refuses every write without touching the file.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/storage/fault_env.h"
#include "jet/storage/file_lock.h"
#include "jet/storage/lock_file.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"
#include "support/processes.h"

namespace fs = std::filesystem;

namespace {

using namespace testsupport;

constexpr int kBatch = 10;  // rows per commit: every committed state holds a multiple of it
constexpr int kSeedRows = 10 * kBatch;
// Exit codes of children beyond any count they return.
enum { kWrongCount = 201, kCheckFailed = 202, kOtherError = kThrew };

jet::OpenOptions options(bool readOnly, int busyMs) { return {readOnly, "", busyMs}; }

void insertBatch(jet::Database& db, int from) {
  for (int i = 0; i < kBatch; ++i) db.queueInsert("T", {int64_t(from + i), std::string("row ") + std::to_string(from + i)});
  db.commitQueued();
}

std::string newDatabase(const jettest::TempDir& dir, const char* name = "shared.mdb") {
  const std::string path = dir.file(name);
  auto db = jet::Database::create(path);
  db->createTable({"T", {{"K", jet::ColumnType::Long}, {"V", jet::ColumnType::Text, 50}}, {}});
  for (int b = 0; b < kSeedRows / kBatch; ++b) insertBatch(*db, b * kBatch);
  db->close();
  return path;
}

size_t rowCount(jet::Database& db) {
  auto reading = db.readOperation();
  return jettest::rowsOf(db, "T").size();
}

// Runs `change` up to `times` times; returns how many went through. 3260 is a refusal to count,
// any other error ends the child.
int attempts(int times, const std::function<void()>& change) {
  int done = 0;
  for (int i = 0; i < times; ++i) {
    const int error = errorOf(change);
    if (error != 0 && error != jet::err::kLocked) return kOtherError;
    done += error == 0;
  }
  return done;
}

TEST(Sharing, ReadersSeeCommittedStatesWhileWritersTakeTurns) {
  jettest::TempDir dir;
  const std::string path = newDatabase(dir);
  enum Role { CheckReader, CountReader, Inserter, RangeDeleter, Updater };
  const std::vector<Role> roles = {CheckReader, CheckReader, CountReader, CountReader, Inserter, Inserter, RangeDeleter, Updater};
  std::vector<int> children;
  for (size_t n = 0; n < roles.size(); ++n) {
    const Role role = roles[n];
    children.push_back(spawn([&, role, n]() -> int {
      if (role == CheckReader || role == CountReader) {
        for (int i = 0; i < 12; ++i) {
          // Readers wait behind each commit under way, which waits for the other readers' checks;
          // under a sanitizer on a loaded machine that can add up to more than ten seconds.
          auto db = jet::Database::open(path, options(i % 2 == 0, 60000));
          auto reading = db->readOperation();
          if (rowCount(*db) % kBatch != 0) return kWrongCount;
          if (role == CheckReader && !db->check().ok()) return kCheckFailed;
        }
        return 0;
      }
      // Opening waits, as long as a change does, for a commit under way: a 3260 then is a refusal.
      std::unique_ptr<jet::Database> db;
      if (const int e = errorOf([&] { db = jet::Database::open(path, options(false, 3000)); }))
        return e == jet::err::kLocked ? 0 : int(kOtherError);
      if (role == Inserter)
        return attempts(8, [&] { insertBatch(*db, 1000 * int(n)); });
      if (role == RangeDeleter)
        return attempts(4, [&] {
          auto turn = db->writeOperation();
          std::vector<jet::RowId> first;
          auto cursor = db->openTable("T");
          while (first.size() < kBatch && cursor->next()) first.push_back(cursor->rowId());
          db->deleteRows("T", first);
        });
      return attempts(10, [&] {
        auto turn = db->writeOperation();
        auto cursor = db->openTable("T");
        if (!cursor->next()) return;
        std::vector<jet::Value> row = cursor->values();
        row[1] = std::string("updated");
        const jet::RowId id = cursor->rowId();
        cursor.reset();
        db->updateRow("T", id, row);
      });
    }));
  }
  int expected = kSeedRows;
  for (size_t n = 0; n < roles.size(); ++n) {
    const int code = waitFor(children[n]);
    ASSERT_GE(code, 0) << "child " << n;
    ASSERT_LT(code, 200) << "child " << n << " (role " << roles[n] << ")";
    if (roles[n] == Inserter) expected += code * kBatch;
    if (roles[n] == RangeDeleter) expected -= code * kBatch;
  }
  auto db = jet::Database::open(path);
  EXPECT_EQ(rowCount(*db), size_t(expected));
  EXPECT_TRUE(db->check().ok());
}

// What keeps a writer out: another's writer's turn (rows queued), or a reader's operation (the
// commit waits for it). Either way the writer gives up with 3260 and the file stays as it was.
TEST(Sharing, AWriterKeptOutGivesUpWith3260AndLeavesTheFileAlone) {
  jettest::TempDir dir;
  const std::string path = newDatabase(dir);
  using Hold = std::unique_ptr<jet::ReadOperation>;
  const std::vector<std::function<Hold(jet::Database&)>> holders = {
      [](jet::Database& db) {
        db.queueInsert("T", {int64_t(-1), std::string("queued")});
        return Hold();
      },
      [](jet::Database& db) { return db.readOperation(); },
  };
  for (size_t h = 0; h < holders.size(); ++h) {
    auto other = jet::Database::open(path);  // another program: its locks are its file's own
    Hold held = holders[h](*other);
    auto db = jet::Database::open(path, options(false, 200));
    const size_t rows = rowCount(*db);
    const auto before = jettest::readFile(path);
    const std::string refusal = jettest::failure([&] { db->insertRow("T", {int64_t(7), std::string("kept out")}); });
    EXPECT_EQ(refusal.rfind("3260: Couldn't update; currently locked by user '", 0), 0u) << h << ": " << refusal;
    EXPECT_EQ(jettest::readFile(path), before) << h;
    EXPECT_EQ(rowCount(*db), rows) << "a reader is not kept out, holder " << h;
    held.reset();
    other.reset();
    EXPECT_NO_THROW(db->insertRow("T", {int64_t(8), std::string("its turn")})) << h;
  }
}

// A writer waiting for its turn behind another keeps nothing from it: the one with the turn
// commits, then the waiting one gets its turn. Neither gives up.
TEST(Sharing, AWriterWaitingForItsTurnDoesNotHoldUpTheOneThatHasIt) {
  jettest::TempDir dir;
  const std::string path = newDatabase(dir);
  auto db = jet::Database::open(path, options(false, 20000));
  db->queueInsert("T", {int64_t(-1), std::string("first")});  // the writer's turn, held
  Signal waiting;
  const int child = spawn([&] {
    SignalOnRefusal env(waiting);
    jet::Env::install(&env);
    auto writer = jet::Database::open(path, options(false, 20000));
    writer->insertRow("T", {int64_t(-2), std::string("second")});
    return 0;
  });
  ASSERT_TRUE(waiting.wait());
  EXPECT_EQ(jettest::failure([&] { db->commitQueued(); }), "");
  EXPECT_EQ(waitFor(child), 0);
  EXPECT_EQ(rowCount(*db), size_t(kSeedRows + 2));
}

// A writer killed at each point of its commit while another program has the file open: the other
// sees the state before or after the change, never between (the first to read after the crash
// plays the journal back), and the file stays sound.
TEST(Sharing, AWriterKilledMidCommitLosesNothingForTheOthers) {
  jettest::TempDir dir;
  const std::string path = newDatabase(dir);
  auto db = jet::Database::open(path);
  size_t rows = rowCount(*db);
  for (int n = 1; n <= 12; ++n) {
    const int code = inChild([&] {
      jet::FaultEnv& env = jet::FaultEnv::install();
      auto writer = jet::Database::open(path);
      env.crashAt(n, jet::FaultEnv::Crash::Exit, 0);
      insertBatch(*writer, 5000 + n * kBatch);
    });
    ASSERT_TRUE(code == 0 || code == jet::FaultEnv::kCrashExitCode) << n;
    const size_t now = rowCount(*db);
    // Killed once the change was in the file (its journal cleared), the change stays.
    EXPECT_TRUE(now == rows + kBatch || (code != 0 && now == rows)) << "killed at operation " << n << ": " << now;
    EXPECT_TRUE(db->check().ok()) << n;
    rows = now;
  }
  EXPECT_NO_THROW(insertBatch(*db, 9000));
}

// Two programs that find a hot journal at once, while a third has the writer's turn: the one that
// waits for the other to play it back keeps nothing from it, and both open the file as it was
// before the crash.
TEST(Sharing, TwoProgramsFindingAHotJournalAtOnceBothOpenIt) {
  jettest::TempDir dir;
  const std::string path = newDatabase(dir);
  jettest::crashBeforeTheJournalIsCleared(path, [](jet::Database& db) { insertBatch(db, 5000); });
  int error = 0;
  auto file = jet::Env::posix().open(path, jet::OpenMode::ReadWrite, error);
  ASSERT_TRUE(file);
  jet::FileLock turn(*file);
  ASSERT_TRUE(turn.raise(jet::FileLock::Level::Shared) && turn.raise(jet::FileLock::Level::Reserved));
  std::vector<int> children;
  for (int n = 0; n < 2; ++n) {
    Signal waiting;
    children.push_back(spawn([&] {
      SignalOnRefusal env(waiting);
      jet::Env::install(&env);
      return int(rowCount(*jet::Database::open(path, options(false, 20000))) / kBatch);
    }));
    ASSERT_TRUE(waiting.wait());
  }
  turn.lower(jet::FileLock::Level::None);
  for (int child : children) EXPECT_EQ(waitFor(child), kSeedRows / kBatch);
  auto db = jet::Database::open(path);
  EXPECT_EQ(rowCount(*db), size_t(kSeedRows));
  EXPECT_TRUE(db->check().ok());
}

// Writers come and go beside a program that keeps the file open: the journal it watches stays
// until the last program closes, and it sees every commit.
TEST(Sharing, AProgramThatStaysOpenSeesTheCommitsOfWritersThatComeAndGo) {
  for (bool readOnly : {true, false}) {
    SCOPED_TRACE(readOnly ? "read-only" : "read-write");
    jettest::TempDir dir;
    const std::string path = newDatabase(dir);
    auto db = jet::Database::open(path, options(readOnly, 1000));
    for (int n = 1; n <= 3; ++n) {
      ASSERT_EQ(inChild([&] { insertBatch(*jet::Database::open(path), 5000 + n * kBatch); }), 0);
      EXPECT_TRUE(fs::exists(path + "-journal")) << "removed while another program has the file open";
      EXPECT_EQ(rowCount(*db), size_t(kSeedRows + n * kBatch));
    }
    db->close();
    db.reset();
    EXPECT_EQ(fs::exists(path + "-journal"), readOnly) << "only a program that writes removes it";
  }
}

TEST(Sharing, AJetUserInTheLockFileKeepsWritesOutUntilItLeaves) {
  for (const char* name : {"shared.mdb", "shared.accdb"}) {
    jettest::TempDir dir;
    const std::string path = newDatabase(dir, name);
    const std::string lockFile = jet::lockFilePathOf(path);
    EXPECT_EQ(fs::path(lockFile).extension(), fs::path(name).extension() == ".mdb" ? ".ldb" : ".laccdb");
    jet::Database::open(path, options(true, 0))->objects();
    EXPECT_FALSE(fs::exists(lockFile)) << "a read-only open leaves no trace";
    auto access = jetUser(lockFile, 0);
    ASSERT_TRUE(access);
    const auto before = jettest::readFile(path);
    {
      auto db = jet::Database::open(path);
      const auto other = db->otherJetUser();
      ASSERT_TRUE(other) << name;
      EXPECT_EQ(other->machine, "ACCESS-PC");
      EXPECT_EQ(other->user, "Admin");
      EXPECT_EQ(rowCount(*db), size_t(kSeedRows));
      EXPECT_EQ(jettest::failure([&] { db->insertRow("T", {int64_t(1), std::string("beside Access")}); }),
                "3260: Couldn't update; currently locked by user 'Admin' on machine 'ACCESS-PC'.");
      access.reset();
      // Its entry stays behind without a lock: a stale one, which means nothing.
      EXPECT_FALSE(db->otherJetUser());
      EXPECT_NO_THROW(db->insertRow("T", {int64_t(2), std::string("after Access")}));
      // Our own other programs are users too, but not Jet programs to keep out.
      EXPECT_EQ(waitFor(spawn([&] {
                  auto other = jet::Database::open(path);
                  other->insertRow("T", {int64_t(3), std::string("beside us")});
                  return other->otherJetUser() ? 1 : 0;
                })), 0);
      EXPECT_NE(jettest::readFile(path), before);
    }
    EXPECT_FALSE(fs::exists(lockFile)) << "the last user out removes the lock file";
  }
}

// Drops to an unprivileged user (the tests may run as the superuser, whom permissions do not bind).
bool becomeUnprivileged() {
  if (geteuid() != 0) return true;
  struct passwd* nobody = getpwnam("nobody");
  return nobody && setgid(nobody->pw_gid) == 0 && setuid(nobody->pw_uid) == 0 && geteuid() != 0;
}
enum { kNoPrivilegeDrop = 204 };

// Every kind of write into a file the user may only read is refused with 3027, and the file stays as
// it was; a file the user may not read at all is reported as such.
TEST(Permissions, AReadOnlyFileRefusesEveryWriteAndAnUnreadableOneIsNamed) {
  jettest::TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  for (const char* name : {"testV1997.mdb", "testV2000.mdb"}) {
    const std::string path = dir.copy(name);
    ::chmod(path.c_str(), 0444);
    const auto before = jettest::readFile(path);
    const int refused = waitFor(spawn([&] {
      if (!becomeUnprivileged()) return int(kNoPrivilegeDrop);
      auto db = jet::Database::open(path);
      auto cursor = db->openTable("Table1");
      if (!db->readOnly() || !cursor->next()) return int(kOtherError);
      const jet::RowId first = cursor->rowId();
      const std::vector<jet::Value> row = cursor->values();
      const std::vector<std::function<void()>> writes = {
          [&] { db->createTable({"NotMade", {{"A", jet::ColumnType::Long}}, {}}); },
          [&] { db->renameTable("Table1", "Renamed"); },
          [&] { db->dropTable("Table1"); },
          [&] { db->insertRow("Table1", row); },
          [&] { db->updateRow("Table1", first, row); },
          [&] { db->deleteRow("Table1", first); }};
      int n = 0;
      for (const auto& write : writes) n += errorOf(write) == jet::err::kReadOnly;
      return n;
    }));
    if (refused == kNoPrivilegeDrop) GTEST_SKIP() << "cannot switch to an unprivileged user here";
    EXPECT_EQ(refused, 6) << name;
    EXPECT_EQ(jettest::readFile(path), before) << name;
  }
  const std::string path = dir.copy("testV2000.mdb", "unreadable.mdb");
  ::chmod(path.c_str(), 0000);
  EXPECT_EQ(waitFor(spawn([&] {
              if (!becomeUnprivileged()) return int(kNoPrivilegeDrop);
              const std::string f = jettest::failure([&] { jet::Database::open(path); });
              return f.rfind(std::to_string(jet::err::kCannotOpenFile) + ":", 0) == 0 && f.find("permission") != std::string::npos ? 0 : 1;
            })), 0);
}

}  // namespace
