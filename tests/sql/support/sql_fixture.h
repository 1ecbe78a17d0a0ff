// Shared by the SQL bridge's tests: running a query into rows of text, copies of test files in a
// private folder, and running the command-line tool in the test process.
#pragma once

#include <string>
#include <vector>

#include "cli/support/in_process.h"
#include "support/files.h"

struct sqlite3;

namespace sqltest {

// The rows of a query, each value as text: NULL as "NULL", reals in their shortest exact form,
// blobs as "x'..'" hex. Fails the test (and returns nothing) when the statement fails.
using Rows = std::vector<std::vector<std::string>>;
Rows query(sqlite3* db, const std::string& sql);

// A private folder removed when the object goes; copy() puts a shared test file in it.
using Folder = testsupport::TempDir;

// Runs `tabulonix-cli ARGS...` in this process with `input` on its standard input.
using Run = clitest::Result;
using clitest::run;

using testsupport::readFile;

}  // namespace sqltest
