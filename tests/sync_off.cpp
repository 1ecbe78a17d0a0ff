// Test processes do not wait for their writes to reach the disk. Every force is still counted and
// passes the fault and crash hooks at the same points; only the waiting is left out.
#include "jet/storage/page_file.h"

namespace {

const bool kSyncOff = (jet::PageFile::setSyncToDisk(false), true);

}  // namespace
