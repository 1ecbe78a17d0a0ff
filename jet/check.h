// The whole-file consistency check: the catalog, every table's definition, rows, long values,
// usage maps and indexes, and the global page map. Reads only; names every problem it finds.
#pragma once

#include "jet/check_report.h"
#include "jet/header.h"
#include "jet/page_file.h"
#include "jet/text_codec.h"

namespace jet {

// Checks the open file. Each problem is one sentence naming the table, page or row concerned.
// With `structureOnly` the indexes' trees are checked but not compared key by key with the rows:
// what decides whether the file may be written to, where a key this engine computes differently
// from the file's maker (a character the code page leaves undefined) is no damage.
CheckReport checkDatabase(PageFile& file, const Header& header, TextCodec& codec, bool structureOnly = false);

}  // namespace jet
