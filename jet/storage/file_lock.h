// The locking protocol between programs of this system on one database file, in the manner of
// SQLite's: byte-range locks on the database file itself, at offsets beyond 4 GiB where Jet, whose
// lock offsets are 32-bit, places none (so they never meet Access's own locks):
//
//   reserved  1 byte     exclusive: the one writer preparing a change
//   pending   1 byte     exclusive: a writer waits to commit; new readers wait for it
//   shared    510 bytes  shared by every reader; exclusive for the commit itself
//   open      1 byte     shared by every program that has the file open, for as long as it has
//
// A reader holds Shared for one read operation. It takes pending and shared in one call, which
// fails while a writer holds either, and lets go of pending at once (so a writer can take it while
// readers are still at work). A writer holds Shared and Reserved while it prepares its change
// (readers go on), and Exclusive only while the change goes to the file: it takes pending first, so
// that readers arriving then wait, and the shared range once the readers of the moment have
// finished. A writer waiting for its turn holds no lock between its tries, so that it never keeps
// the writer ahead of it from committing. Nothing here waits: each step succeeds or says that
// another program's lock is in the way, and the caller decides how long to retry.
#pragma once

#include <cstdint>

#include "jet/storage/env.h"

namespace jet {

class FileLock {
 public:
  enum class Level { None, Shared, Reserved, Exclusive };

  explicit FileLock(File& file) : file_(file) {}
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  Level level() const { return level_; }
  // One step up to `to` (from the level below it); false, with the level unchanged, when another
  // program's lock is in the way. A failed step to Exclusive keeps pending held, so that no new
  // reader starts while the writer retries; lowering drops it.
  bool raise(Level to);
  // Down to `to` (None or Shared or Reserved).
  void lower(Level to);

  // The open lock, held shared from open to close: whether nobody else has the file open (the
  // check leaves the lock exclusive, for a program about to close).
  bool holdOpen();
  bool alone();

 private:
  static constexpr uint64_t kBase = 0x100000000ull;
  static constexpr uint64_t kReserved = kBase;
  static constexpr uint64_t kPending = kBase + 1;
  static constexpr uint64_t kShared = kBase + 2;
  static constexpr uint64_t kSharedSize = 510;
  static constexpr uint64_t kOpen = kShared + kSharedSize;

  File& file_;
  Level level_ = Level::None;
  bool pending_ = false;
};

}  // namespace jet
