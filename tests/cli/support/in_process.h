// Running the command-line tool's commands inside the test process, and splitting their output.
#pragma once

#include "support/files.h"

namespace clitest {

struct Result {
  int rc = -1;
  std::string out, err;
};

// Runs one command as `tabulonix-cli ARGS...` would, with `input` as its standard input.
Result run(std::vector<std::string> args, const std::string& input = "");

using testsupport::lines;

}  // namespace clitest
