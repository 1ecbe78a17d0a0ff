// The command table of tabulonix-cli, the usage and help drawn from it, and the one entry point
// that reads a command line and runs its command.
#include "cli/commands.h"

#include <tabulonix_version.h>

#include <algorithm>
#include <ostream>

#include "cli/command.h"

namespace cli {

namespace {

std::string joined(const std::vector<std::string>& items, const char* between) {
  std::string s;
  for (const std::string& i : items) s += (s.empty() ? "" : between) + i;
  return s;
}

}  // namespace

const std::vector<Command>& commands() {
  static const std::vector<Command> kCommands = {
      {"tables", "FILE", "user tables, in catalog order", "One name a line; system tables are left out.",
       "tabulonix-cli tables Orders.mdb", cmdTables},
      {"columns", "FILE TABLE", "name, type, size, attributes of each field",
       "One field a line, tab-separated; the type and attributes as numbers.",
       "tabulonix-cli columns Orders.mdb Customers", cmdColumns},
      {"export", "FILE TABLE [--format csv|jsonl]", "every row, as CSV (the default) or JSON lines",
       "CSV starts with a header line of the field names. Multi-valued fields and attachments are\n"
       "written as lists.",
       "tabulonix-cli export Orders.mdb Customers --format jsonl > customers.jsonl", cmdExport},
      {"info", "FILE", "format, pages, and each table's row count", "", "tabulonix-cli info Orders.mdb", cmdInfo},
      {"create", "FILE [--format jet3|jet4|accdb2007|accdb2010|accdb2016|accdb2019]", "a new, empty database",
       "The format is jet4 unless --format names another. FILE must not exist.",
       "tabulonix-cli create Orders.mdb --format jet3", cmdCreate},
      {"create-table", "FILE TABLE NAME:TYPE[:SIZE][:FLAG...]...", "a new table with the given fields",
       "Each field is NAME:TYPE, then optionally :SIZE (Text and Binary) and flags.\n"
           "Types (any case): " + joined(createTableTypeNames(), ", ") + ".\n"
           "Flags: auto (an AutoNumber Long), required, allowzero (Text and Memo may be empty).\n"
           "Rules are Access expressions: --default, --rule and --rule-text FIELD=..., --table-rule and\n"
           "--table-rule-text for the whole table, --calculated FIELD=EXPR for a calculated field.",
       "tabulonix-cli create-table Orders.mdb Customers ID:Long::auto Name:Text:40:required Notes:Memo\n"
           "  tabulonix-cli create-table Orders.mdb Lines Qty:Long Price:Currency Total:Currency --default Qty=1 \\\n"
           "      --rule \"Qty=>0 And <1000\" --rule-text \"Qty=Between 1 and 999\" --calculated \"Total=[Qty]*[Price]\"",
       cmdCreateTable},
      {"import", "FILE TABLE [--format jsonl|csv]", "rows on standard input, added to TABLE",
       "JSON lines (the default): one object a line naming some of the fields; the others take their\n"
       "default values.\n"
       "CSV: a header line names the fields. Rows before a refused one are kept.",
       "tabulonix-cli import Orders.mdb Customers < customers.jsonl", cmdImport},
      {"update", "FILE TABLE POSITION", "the row at POSITION (0 is the first) gets the values on standard input",
       "Standard input holds one JSON object of the fields to change.",
       "echo '{\"Name\":\"Ann\"}' | tabulonix-cli update Orders.mdb Customers 0", cmdUpdate},
      {"delete", "FILE TABLE POSITION [LAST]", "the row at POSITION, or the rows from POSITION to LAST",
       "Positions count from 0 in the table's stored order.", "tabulonix-cli delete Orders.mdb Customers 10 19",
       cmdDelete},
      {"rename-table", "FILE OLD NEW", "gives table OLD the name NEW", "",
       "tabulonix-cli rename-table Orders.mdb Customers Clients", cmdRenameTable},
      {"drop-table", "FILE TABLE", "deletes a table and its rows", "", "tabulonix-cli drop-table Orders.mdb Scratch",
       cmdDropTable},
      {"check", "FILE", "checks the file's structures; prints ok or each problem",
       "Exit code 1 when a problem is found.", "tabulonix-cli check Orders.mdb", cmdCheck},
      {"compact", "FILE DESTINATION", "a compacted copy (the destination must not exist)", "",
       "tabulonix-cli compact Orders.mdb Orders-compact.mdb", cmdCompact},
      {"repair", "FILE DESTINATION", "a new database of every row a damaged file still holds",
       "Reports per table the rows recovered and lost; the damaged file is only read.",
       "tabulonix-cli repair Damaged.mdb Recovered.mdb", cmdRepair},
      {"migrate", "FILE TARGET [--tables T1,T2,...] [--schema NAME] [--verify] [--quiet]",
       "tables, keys, indexes, relationships and rows to SQLite or PostgreSQL",
       "TARGET: sqlite:PATH (a new file) or a postgresql:// connection URI. All or nothing.",
       "tabulonix-cli migrate Orders.mdb sqlite:orders.sqlite --verify", cmdMigrate},
      {"sql", "FILE [\"SQL\"] [--format csv|jsonl|table] [--query NAME] [--param NAME=VALUE]...",
       "SQL over the file's tables and saved queries (SQLite's dialect)",
       "Without SQL the statements come from standard input. Tables and saved select queries are\n"
       "tables and views under their Access names ([Order Details] or \"Order Details\"). Values:\n"
       "Currency and Decimal as REAL, Yes/No as 1/0, dates as 'YYYY-MM-DD HH:MM:SS'. A failed\n"
       "statement stops the run with SQLite's message and where it failed; it changes nothing.",
       "tabulonix-cli sql Orders.mdb \"SELECT Country, count(*) FROM Customers GROUP BY Country\" --format table",
       cmdSql},
      {"queries", "FILE [NAME]", "the saved queries with their types, or one query's SQL",
       "Each query a line: name, type, and whether it is a view in sql (or why not).",
       "tabulonix-cli queries Orders.mdb \"Order Subtotals\"", cmdQueries},
  };
  return kCommands;
}

namespace {

const Command* find(const std::string& name) {
  for (const Command& c : commands())
    if (name == c.name) return &c;
  return nullptr;
}

void printUsage(std::ostream& out) {
  out << "usage: tabulonix-cli COMMAND FILE [ARGS] [OPTIONS]\n"
         "       tabulonix-cli help [COMMAND]\n"
         "       tabulonix-cli --version\n"
         "\n"
         "Commands:\n";
  for (const Command& c : commands()) {
    std::string head = std::string(c.name) + " " + c.synopsis;
    out << "  " << head;
    if (head.size() < 36) out << std::string(37 - head.size(), ' ');
    else out << "\n" << std::string(39, ' ');
    out << c.summary << '\n';
  }
  out << "\nOptions:\n";
  for (const Option& o : options()) {
    std::string head = std::string(o.name) + (o.value ? std::string(" ") + o.value : "");
    out << "  " << head << std::string(head.size() < 20 ? 21 - head.size() : 1, ' ');
    for (char ch : std::string(o.help)) {
      out << ch;
      if (ch == '\n') out << std::string(23, ' ');
    }
    out << '\n';
  }
  out << "\nExit status: 0 done, 1 the database or the input refused, 2 a usage error.\n";
}

void printHelp(std::ostream& out, const Command& c) {
  out << "usage: tabulonix-cli " << c.name << ' ' << c.synopsis << " [--password PWD] [--no-sync]\n\n"
      << c.summary << ".\n";
  if (!c.details.empty()) out << c.details << '\n';
  out << "\nExample:\n  " << c.example << '\n';
}

}  // namespace

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
  std::string command;  // for the usage after a usage error
  try {
    Args a = parseArgs(args);
    command = a.command;
    if (a.version) {
      out << "tabulonix-cli " << TABULONIX_VERSION << '\n';
      return 0;
    }
    if (a.command == "help" || a.help) {
      const std::string topic = a.command == "help" ? (a.positional.empty() ? "" : a.positional[0]) : a.command;
      if (topic.empty()) {
        printUsage(out);
        return 0;
      }
      const Command* c = find(topic);
      if (!c) throw UsageError("no command " + topic);
      printHelp(out, *c);
      return 0;
    }
    if (a.command.empty()) throw UsageError("no command");
    const Command* c = find(a.command);
    if (!c) throw UsageError("unknown command " + a.command);
    // Writes are forced to the disk unless --no-sync says otherwise (or the environment turned
    // that off for the whole process).
    static const bool syncByDefault = jet::Database::syncToDisk();
    jet::Database::setSyncToDisk(!a.noSync && syncByDefault);
    if (!a.busyTimeout.empty()) dao::Engine().SetBusyTimeout(int(std::min<int64_t>(parsePosition(a.busyTimeout), 86400)));
    Io io{in, out, err};
    return c->run(a, io);
  } catch (const UsageError& e) {
    err << "tabulonix-cli: " << e.what() << '\n';
    if (const Command* c = find(command)) {
      err << "usage: tabulonix-cli " << c->name << ' ' << c->synopsis << "\n(tabulonix-cli help " << c->name
          << " says more)\n";
    } else {
      printUsage(err);
    }
    return 2;
  } catch (const jet::Error& e) {
    err << "tabulonix-cli: " << e.description() << " (error " << e.number() << ")\n";
    return 1;
  } catch (const std::exception& e) {
    err << "tabulonix-cli: " << e.what() << '\n';
    return 1;
  }
}

}  // namespace cli
