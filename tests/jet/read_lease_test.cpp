// The shared lock a read operation keeps for a moment after it ends: a writer in another program
// still gets its turn while the reader sits idle or reads without pause, the reader's next
// operation sees that commit, a child forked meanwhile does not inherit the lease, and threads that
// open, read, write and close files of their own beside the releaser keep every rule.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "jet/database.h"
#include "jet/storage/read_lease.h"
#include "jet/support/test_files.h"
#include "support/processes.h"

namespace {

constexpr int kSeed = 3;

std::string newDatabase(const jettest::TempDir& dir) {
  const std::string path = dir.file("lease.mdb");
  auto db = jet::Database::create(path);
  db->createTable({"T", {{"K", jet::ColumnType::Long}}, {}});
  for (int i = 0; i < kSeed; ++i) db->insertRow("T", {int64_t(i)});
  return path;
}

int rowCount(jet::Database& db) {
  auto reading = db.readOperation();
  return int(jettest::rowsOf(db, "T").size());
}

TEST(ReadLease, AReaderLetsAWriterInAndSeesItsCommitNext) {
  struct Case {
    const char* what;
    bool readOnly, lastWrote, inForkedChild, neverIdle;
  };
  for (const Case& c : {Case{"idle, read-only, after a read", true, false, false, false},
                        Case{"idle, read-write, after a write", false, true, false, false},
                        Case{"a child forked while the lease is held", false, false, true, false},
                        Case{"reading in a loop that never pauses", true, false, false, true}}) {
    SCOPED_TRACE(c.what);
    jettest::TempDir dir;
    const std::string path = newDatabase(dir);
    // Forked first: a fork gives back the leases of the process that forks. The writer's busy
    // timeout is short: a lease that is used without pause is still given back within kLongest.
    testsupport::Signal write, read, reading;
    const int writer = testsupport::spawn([&] {
      auto db = jet::Database::open(path, {false, "", 1000});
      if (!write.wait()) return 1;
      db->insertRow("T", {int64_t(200)});
      return 0;
    });
    auto db = jet::Database::open(path, {c.readOnly, "", 30000});
    int rows = kSeed;
    if (c.lastWrote) db->insertRow("T", {int64_t(100)}), ++rows;
    else ASSERT_EQ(rowCount(*db), rows);
    // The lease is held now. A forked child shares the open file, and reads only when told to.
    const int reader = c.inForkedChild ? testsupport::spawn([&] { return read.wait() ? rowCount(*db) : -1; }) : 0;
    // Readers that never pause, each with a file of its own and each read its own operation: the
    // writer gets in only if every one of their leases ends, not just those a busy machine
    // interrupts for longer than kIdle. Their reads after the commit show it.
    std::atomic<bool> writerDone{false};
    std::atomic<int> sawIt{0};
    std::vector<std::thread> loops;
    for (int n = 0; c.neverIdle && n < 3; ++n, reading.wait())
      loops.emplace_back([&] {
        auto mine = jet::Database::open(path, {true, "", 30000});
        for (bool told = false; !writerDone && rowCount(*mine) == rows;) told = told || reading.send();
        sawIt += rowCount(*mine) == rows + 1;
      });
    write.send();
    EXPECT_EQ(testsupport::waitFor(writer), 0) << "the writer never got its turn";
    writerDone = true;
    for (auto& t : loops) t.join();
    EXPECT_EQ(sawIt, int(loops.size()));
    if (c.inForkedChild) {
      read.send();
      EXPECT_EQ(testsupport::waitFor(reader), rows + 1);
    }
    EXPECT_EQ(rowCount(*db), rows + 1);
  }
}

// Readers open, read and close their own files in loops (leases given back by the releaser, or
// dropped with the file) while a writer in the same process commits batches through another.
TEST(ReadLease, ThreadsWithFilesOfTheirOwnKeepEveryRule) {
  jettest::TempDir dir;
  const std::string path = newDatabase(dir);
  constexpr int kBatches = 20, kBatch = 5;
  std::vector<int> odd(2, 0);
  std::vector<std::thread> readers;
  std::thread writer([&] {
    auto db = jet::Database::open(path, {false, "", 30000});
    for (int b = 0; b < kBatches; ++b) {
      for (int i = 0; i < kBatch; ++i) db->queueInsert("T", {int64_t(1000 + b * kBatch + i)});
      db->commitQueued();
    }
  });
  for (size_t r = 0; r < odd.size(); ++r)
    readers.emplace_back([&, r] {
      for (int i = 0; i < 200; ++i) {
        auto db = jet::Database::open(path, {r == 0, "", 30000});
        for (int n = 0; n < 5; ++n) odd[r] += (rowCount(*db) - kSeed) % kBatch != 0;
      }
    });
  writer.join();
  for (auto& t : readers) t.join();
  EXPECT_EQ(odd, std::vector<int>(2, 0)) << "a reader saw a batch half committed";
  // A read after the open's lease, with a fresh lock: the journal this open made is no change.
  auto db = jet::Database::open(path);
  jet::ReadLease::dropAll();
  EXPECT_EQ(rowCount(*db), kSeed + kBatches * kBatch);
  EXPECT_EQ(db->generation(), 0u) << "caches dropped for nothing";
}

}  // namespace
