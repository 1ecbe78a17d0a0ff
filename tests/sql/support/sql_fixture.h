// Shared by the SQL bridge's tests: running a query into rows of text, copies of test files in a
// private folder, and running the command-line tool in the test process.
#pragma once

#include "cli/support/in_process.h"
#include "support/files.h"
#include "support/sqlite_rows.h"

namespace sqltest {

using testsupport::query;
using testsupport::Rows;

// A private folder removed when the object goes; copy() puts a shared test file in it.
using Folder = testsupport::TempDir;

// Runs `tabulonix-cli ARGS...` in this process with `input` on its standard input.
using Run = clitest::Result;
using clitest::run;

using testsupport::readFile;

}  // namespace sqltest
