// Compaction: writing a fresh copy of a database that holds everything the source holds and
// nothing it no longer uses (freed pages, deleted rows, dead long values, half-empty pages).
// Database::compact (in jet/database.h) is the entry point and calls compactDatabase; this header
// adds what the session's Compact command needs to decide whether a compacted copy may replace
// its source.
#pragma once

#include <string>

#include "jet/storage/page_file.h"

namespace jet {

// Writes the compacted copy of `source` (opened with `password`) to `destination`, which must not
// exist yet; the copy keeps the source's header, its password included.
void compactDatabase(const std::string& source, const std::string& destination, const std::string& password = "");

// Verifies that `copy` is a faithful compacted copy of `source`: the copy passes the consistency
// check, has the same format, code page and sort order, the same catalog objects, and every table
// with the same rows in the same order. Throws jet::Error naming the first difference; both files
// are opened read-only, with the source's password.
void verifyCompactedCopy(const std::string& source, const std::string& copy, const std::string& password = "");

}  // namespace jet
