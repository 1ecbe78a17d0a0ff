#include "jet/storage/file_lock.h"

namespace jet {

bool FileLock::raise(Level to) {
  switch (to) {
    case Level::None:
      return true;
    case Level::Shared: {
      if (level_ >= Level::Shared) return true;
      // A writer holding pending keeps new readers out until it has committed; pending and the
      // shared range are adjacent, so one call asks for both.
      if (!file_.lock(kPending, 1 + kSharedSize, LockKind::Shared)) return false;
      file_.unlock(kPending, 1);
      level_ = Level::Shared;
      return true;
    }
    case Level::Reserved:
      if (level_ >= Level::Reserved) return true;
      if (level_ < Level::Shared || !file_.lock(kReserved, 1, LockKind::Exclusive)) return false;
      level_ = Level::Reserved;
      return true;
    case Level::Exclusive:
      if (level_ >= Level::Exclusive) return true;
      if (level_ < Level::Reserved) return false;
      if (!pending_) {
        if (!file_.lock(kPending, 1, LockKind::Exclusive)) return false;
        pending_ = true;
      }
      if (!file_.lock(kShared, kSharedSize, LockKind::Exclusive)) return false;
      level_ = Level::Exclusive;
      return true;
  }
  return false;
}

void FileLock::lower(Level to) {
  if (to >= level_ && !(pending_ && to < Level::Exclusive)) return;
  if (to == Level::None) {
    file_.unlock(kReserved, 2 + kSharedSize);
    level_ = Level::None;
    pending_ = false;
    return;
  }
  if (level_ == Level::Exclusive) file_.lock(kShared, kSharedSize, LockKind::Shared);  // converts; never blocked
  if (to < Level::Reserved && level_ >= Level::Reserved) file_.unlock(kReserved, 1);
  if (pending_) file_.unlock(kPending, 1);
  pending_ = false;
  if (to < level_) level_ = to;
}

bool FileLock::holdOpen() { return file_.lock(kOpen, 1, LockKind::Shared); }

bool FileLock::alone() { return file_.lock(kOpen, 1, LockKind::Exclusive); }

}  // namespace jet
