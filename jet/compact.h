// Compaction: writing a fresh copy of a database that holds everything the source holds and
// nothing it no longer uses (freed pages, deleted rows, dead long values, half-empty pages).
// Database::compact (in jet/database.h) is the entry point; this header adds what the session's
// Compact command needs to decide whether a compacted copy may replace its source.
#pragma once

#include <string>

namespace jet {

// Verifies that `copy` is a faithful compacted copy of `source`: the copy passes the consistency
// check, has the same format, code page and sort order, and the same tables with the same row
// counts. Throws jet::Error naming the first difference; both files are opened read-only.
void verifyCompactedCopy(const std::string& source, const std::string& copy);

}  // namespace jet
