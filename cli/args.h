// The command line as the commands see it: the command word, its operands, and the options, read
// from one table of options so that a new option is one row.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "db/dao.h"
#include "jet/database.h"

namespace cli {

// A command line that does not say what to do: reported with the usage, exit code 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Args {
  std::string command;
  std::vector<std::string> positional;  // FILE first, then the command's other operands
  std::string format;
  std::string password;
  std::string tables;
  std::string schema;
  bool verify = false;
  bool quiet = false;
  bool noSync = false;
  std::string busyTimeout;  // seconds
  std::string query;                 // sql: a saved query to run
  std::vector<std::string> params;   // sql: NAME=VALUE of the query's parameters, in the order given
  // create-table: FIELD=EXPRESSION (or FIELD=TEXT) of the fields' rules, and the table's own rule.
  std::vector<std::string> defaults, rules, ruleTexts, calculated;
  std::string tableRule, tableRuleText;
  bool help = false;     // --help or -h anywhere on the line
  bool version = false;  // --version
};

// One option: `--name VALUE` or `--name=VALUE` fills a text member (or adds to a list member, when
// the option may be given more than once), a flag sets a bool member.
struct Option {
  const char* name;
  const char* value;  // the value's placeholder in the help; nullptr for a flag
  std::variant<std::string Args::*, bool Args::*, std::vector<std::string> Args::*> into;
  const char* help;
};

const std::vector<Option>& options();

// Throws UsageError for an unknown option or an option without its value. An empty command is
// left for the caller (with --help or --version it is no error).
Args parseArgs(const std::vector<std::string>& args);

// The operand count (FILE included) must lie in [min, max].
void need(const Args& a, size_t min, size_t max);

// A row position or size: decimal digits only.
int64_t parsePosition(const std::string& s);

std::unique_ptr<jet::Database> openEngine(const Args& a, bool readOnly);

// Commands that only read open the file read-only, which takes no lock: they work beside a program
// that has the file open for changes.
dao::Database openDao(const Args& a, bool readOnly);

}  // namespace cli
