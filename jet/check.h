// The whole-file consistency check: the catalog, every table's definition, rows, long values,
// usage maps and indexes, and the global page map. Reads only; names every problem it finds.
#pragma once

#include "jet/base/check_report.h"
#include "jet/base/text_codec.h"
#include "jet/storage/header.h"
#include "jet/storage/page_file.h"

namespace jet {

// Checks the open file. Each problem is one sentence naming the table, page or row concerned.
// With `structureOnly` the indexes' trees are checked but not compared key by key with the rows:
// what decides whether the file may be written to, where a key this engine computes differently
// from the file's maker (a character the code page leaves undefined) is no damage.
CheckReport checkDatabase(PageFile& file, const Header& header, TextCodec& codec, bool structureOnly = false);

}  // namespace jet
