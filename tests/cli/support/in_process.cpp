#include "in_process.h"

#include <sstream>

#include "cli/commands.h"

namespace clitest {

Result run(std::vector<std::string> args, const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out, err;
  int rc = cli::run(args, in, out, err);
  return {rc, out.str(), err.str()};
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

}  // namespace clitest
