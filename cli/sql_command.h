// The tool's SQL commands over the SQL bridge:
//   sql FILE ["SQL"] [--format csv|jsonl|table] [--query NAME] [--param NAME=VALUE]...
//   queries FILE [NAME]
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace cli {

// Whether the command line names one of these commands.
bool isSqlCommand(const std::vector<std::string>& args);

// Runs `sql` or `queries`. Exit codes as every command's: 0 done, 1 refused (a failed statement:
// SQLite's message and where in the statement it failed), 2 usage.
int runSqlCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace cli
