// Running the independent readers (mdbtools' command-line tools and mdb-reader under node) on a
// file, for tests that compare what they see with what the engine wrote. Each returns nothing
// when the reader is not installed, so that tests can skip cleanly.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/files.h"

namespace oracle {

using testsupport::quote;
using testsupport::run;
using testsupport::Run;

// Output of an mdbtools program ("mdb-tables", "mdb-export", ...) with arguments; nothing when the
// program is missing.
std::optional<Run> mdbtools(const std::string& program, const std::string& arguments);

// mdb-reader's view of the file (see mdb_reader_dump.cjs), split into lines; nothing when node or
// mdb-reader is missing. `password` opens an encrypted file.
std::optional<std::vector<std::string>> mdbReader(const std::string& path, const std::string& password = "");

}  // namespace oracle
