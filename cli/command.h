// One command of tabulonix-cli: its name, its help, and the function that runs it. The program's
// commands are the rows of one table (commands.cpp); a new command is a function here and a row
// there.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/args.h"

namespace cli {

struct Io {
  std::istream& in;
  std::ostream& out;  // results
  std::ostream& err;  // errors and progress
};

// Exit codes: 0 done, 1 the engine (or the input) refused, 2 usage error (throw UsageError).
using Handler = int (*)(const Args&, Io&);

struct Command {
  const char* name;
  const char* synopsis;  // operands and options after the command word
  const char* summary;   // one line for the usage
  std::string details;    // more for `help COMMAND`, or ""
  const char* example;   // a whole command line
  Handler run;
};

// The table of commands, in the order the usage lists them.
const std::vector<Command>& commands();

// The commands, by the file that holds them.
// schema_commands.cpp
int cmdTables(const Args&, Io&);
int cmdColumns(const Args&, Io&);
int cmdInfo(const Args&, Io&);
int cmdCreate(const Args&, Io&);
int cmdCreateTable(const Args&, Io&);
int cmdRenameTable(const Args&, Io&);
int cmdDropTable(const Args&, Io&);
// file_commands.cpp
int cmdCheck(const Args&, Io&);
int cmdCompact(const Args&, Io&);
int cmdRepair(const Args&, Io&);
int cmdMigrate(const Args&, Io&);
// row_commands.cpp, import_command.cpp
int cmdExport(const Args&, Io&);
int cmdUpdate(const Args&, Io&);
int cmdDelete(const Args&, Io&);
int cmdImport(const Args&, Io&);
// sql_command.cpp
int cmdSql(const Args&, Io&);
int cmdQueries(const Args&, Io&);

// The type names create-table takes (matched in any case), in the order its help lists them.
const std::vector<std::string>& createTableTypeNames();

}  // namespace cli
