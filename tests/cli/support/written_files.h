// New database files of every .accdb version written through the command-line tool as a user
// would: created empty, a table of every type the version has, thousands of rows imported (long
// texts among them), rows updated and deleted, tables renamed and dropped. For the tests that read
// them back with independent readers.
#pragma once

#include <string>
#include <vector>

namespace clitest {

// The files, written once per test program into a temporary folder removed at exit. Each step
// that fails is reported as a test failure naming the file and the command.
const std::vector<std::string>& writtenAccdbFiles();

// Rows each written file's table holds.
constexpr int kWrittenRows = 3000;

}  // namespace clitest
