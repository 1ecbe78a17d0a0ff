#include "jet/storage/file_lock.h"

namespace jet {

bool FileLock::raise(Level to) {
  switch (to) {
    case Level::None:
      return true;
    case Level::Shared: {
      if (level_ >= Level::Shared) return true;
      // A writer holding pending keeps new readers out until it has committed.
      if (!file_.lock(kPending, 1, LockKind::Shared)) return false;
      const bool got = file_.lock(kShared, kSharedSize, LockKind::Shared);
      file_.unlock(kPending, 1);
      if (got) level_ = Level::Shared;
      return got;
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
    file_.unlock(kBase, 2 + kSharedSize);
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

}  // namespace jet
