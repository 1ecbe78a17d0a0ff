// Other processes and the operating system's permissions: a file open for changes here opens for
// changes in another process too (they take turns), and a file the user may only read opens
// read-only and refuses every write without touching the file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <filesystem>
#include <string>

#include "jet/database.h"
#include "jet/support/test_files.h"

namespace fs = std::filesystem;

namespace {

// What a child process reports through its exit status.
enum ChildResult { kOpenedForWriting = 10, kInUse = 11, kOtherError = 12, kOpenedReadOnly = 13, kWriteRefused = 14,
                   kWriteAccepted = 15, kNoPrivilegeDrop = 16 };

// Runs fn in a forked child and returns its exit status (fn's return value).
int inChild(const std::function<int()>& fn) {
  pid_t pid = fork();
  if (pid == 0) {
    int code = kOtherError;
    try {
      code = fn();
    } catch (...) {
    }
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int tryToOpenForWriting(const std::string& path) {
  try {
    auto db = jet::Database::open(path);
    return db->readOnly() ? kOpenedReadOnly : kOpenedForWriting;
  } catch (const jet::Error& e) {
    return e.number() == jet::err::kCannotOpenFile && e.description().find("in use") != std::string::npos ? kInUse
                                                                                                       : kOtherError;
  }
}

TEST(Processes, AWriterInAnotherProcessOpensTheFileForWritingToo) {
  jettest::TempDir dir;
  const std::string path = dir.copy("testV2000.mdb");
  {
    auto db = jet::Database::open(path);
    EXPECT_EQ(inChild([&] { return tryToOpenForWriting(path); }), kOpenedForWriting);
    // Readers are not locked out.
    EXPECT_EQ(inChild([&] {
                auto reader = jet::Database::open(path, {true, ""});
                return reader->openTable("Table1")->next() ? kOpenedReadOnly : kOtherError;
              }),
              kOpenedReadOnly);
  }
  // Closed here: the other process may write now.
  EXPECT_EQ(inChild([&] { return tryToOpenForWriting(path); }), kOpenedForWriting);
}

TEST(Processes, AFileHeldByAnotherProcessOpensForWritingHereToo) {
  jettest::TempDir dir;
  const std::string path = dir.copy("testV1997.mdb");
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t pid = fork();
  if (pid == 0) {
    auto db = jet::Database::open(path);
    char c = 1;
    if (write(ready[1], &c, 1) != 1) _exit(1);
    if (read(release[0], &c, 1) != 1) _exit(1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(tryToOpenForWriting(path), kOpenedForWriting);
  const auto before = jettest::readFile(path);
  ASSERT_EQ(write(release[1], &c, 1), 1);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(tryToOpenForWriting(path), kOpenedForWriting);
  EXPECT_EQ(jettest::readFile(path), before);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

// Opens a file the user may only read, tries every kind of write and says what happened.
int writeIntoReadOnlyFile(const std::string& path) {
  auto db = jet::Database::open(path);
  if (!db->readOnly()) return kOpenedForWriting;
  int refused = 0;
  auto attempt = [&](const std::function<void()>& write) {
    try {
      write();
    } catch (const jet::Error& e) {
      refused += e.number() == jet::err::kReadOnly;
    }
  };
  jet::NewTable t;
  t.name = "NotMade";
  t.columns = {{"A", jet::ColumnType::Long}};
  attempt([&] { db->createTable(t); });
  attempt([&] { db->renameTable("Table1", "Renamed"); });
  attempt([&] { db->dropTable("Table1"); });
  auto cursor = db->openTable("Table1");
  if (!cursor->next()) return kOtherError;
  const jet::RowId first = cursor->rowId();
  std::vector<jet::Value> row = cursor->values();
  attempt([&] { db->insertRow("Table1", row); });
  attempt([&] { db->updateRow("Table1", first, row); });
  attempt([&] { db->deleteRow("Table1", first); });
  db->close();
  return refused == 6 ? kWriteRefused : kWriteAccepted;
}

// Drops to an unprivileged user (the tests may run as the superuser, whom permissions do not bind).
bool becomeUnprivileged() {
  if (geteuid() != 0) return true;
  struct passwd* nobody = getpwnam("nobody");
  if (!nobody) return false;
  return setgid(nobody->pw_gid) == 0 && setuid(nobody->pw_uid) == 0 && geteuid() != 0;
}

TEST(Processes, AFileTheUserMayOnlyReadOpensReadOnlyAndRefusesWrites) {
  jettest::TempDir dir;
  for (const char* name : {"testV1997.mdb", "testV2000.mdb"}) {
    const std::string path = dir.copy(name);
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(path.c_str(), 0444);
    const auto before = jettest::readFile(path);
    const int result = inChild([&] { return becomeUnprivileged() ? writeIntoReadOnlyFile(path) : int(kNoPrivilegeDrop); });
    if (result == kNoPrivilegeDrop) GTEST_SKIP() << "cannot switch to an unprivileged user here";
    EXPECT_EQ(result, kWriteRefused) << name;
    EXPECT_EQ(jettest::readFile(path), before) << name;
  }
}

TEST(Processes, AFileTheUserMayNotReadIsReportedClearly) {
  jettest::TempDir dir;
  const std::string path = dir.copy("testV2000.mdb");
  ::chmod(dir.path().c_str(), 0755);
  ::chmod(path.c_str(), 0000);
  const int result = inChild([&] {
    if (!becomeUnprivileged()) return int(kNoPrivilegeDrop);
    try {
      jet::Database::open(path);
    } catch (const jet::Error& e) {
      return e.number() == jet::err::kCannotOpenFile && e.description().find("permission") != std::string::npos
                 ? int(kWriteRefused)
                 : int(kOtherError);
    }
    return int(kOpenedForWriting);
  });
  if (result == kNoPrivilegeDrop) GTEST_SKIP() << "cannot switch to an unprivileged user here";
  EXPECT_EQ(result, kWriteRefused);
}

}  // namespace
