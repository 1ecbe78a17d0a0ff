// Test processes do not wait for their writes to reach the disk. Every force is still counted and
// passes the fault and crash simulation at the same points; only the waiting is left out.
#include "jet/storage/env.h"

namespace {

const bool kSyncOff = (jet::Env::setSyncToDisk(false), true);

}  // namespace
