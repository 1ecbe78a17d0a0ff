// The shared lock a read operation keeps for a moment after it ends: a writer in another program
// still gets its turn while the reader sits idle, the reader's next operation sees that commit, a
// child forked meanwhile does not inherit the lease, and threads that open, read, write and close
// files of their own beside the releaser keep every rule.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "jet/database.h"
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

TEST(ReadLease, AnIdleReaderLetsAWriterInAndSeesItsCommitNext) {
  struct Case {
    const char* what;
    bool readOnly, lastWrote, inForkedChild;
  };
  for (const Case& c : {Case{"read-only, after a read", true, false, false},
                        Case{"read-write, after a write", false, true, false},
                        Case{"a child forked while the lease is held", false, false, true}}) {
    SCOPED_TRACE(c.what);
    jettest::TempDir dir;
    const std::string path = newDatabase(dir);
    // Forked first: a fork gives back the leases of the process that forks.
    testsupport::Signal write, read;
    const int writer = testsupport::spawn([&] {
      auto db = jet::Database::open(path, {false, "", 30000});
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
    write.send();
    EXPECT_EQ(testsupport::waitFor(writer), 0) << "the writer never got its turn";
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
  auto db = jet::Database::open(path);
  EXPECT_EQ(rowCount(*db), kSeed + kBatches * kBatch);
}

}  // namespace
