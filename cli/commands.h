// tabulonix-cli: the command-line tool over the engine and the object model.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace cli {

// Runs one command line (without the program name). Exit codes: 0 done, 1 the engine (or the
// input) refused, 2 usage error. Errors go to `err`, results to `out`; stdin-reading commands
// read `in`.
int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace cli
