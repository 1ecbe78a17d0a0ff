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

}  // namespace clitest
