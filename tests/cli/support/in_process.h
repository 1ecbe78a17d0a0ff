// Running the command-line tool's commands inside the test process, and splitting their output.
#pragma once

#include <string>
#include <vector>

namespace clitest {

struct Result {
  int rc = -1;
  std::string out, err;
};

// Runs one command as `tabulonix-cli ARGS...` would, with `input` as its standard input.
Result run(std::vector<std::string> args, const std::string& input = "");

// The lines of a text, without their line ends.
std::vector<std::string> lines(const std::string& text);

}  // namespace clitest
