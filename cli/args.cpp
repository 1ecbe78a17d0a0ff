#include "cli/args.h"

namespace cli {

const std::vector<Option>& options() {
  static const std::vector<Option> kOptions = {
      {"--password", "PWD", &Args::password, "the database password of a protected file"},
      {"--format", "NAME", &Args::format, "the file format (create) or the row format (export, import)"},
      {"--tables", "T1,T2,...", &Args::tables, "migrate only these tables"},
      {"--schema", "NAME", &Args::schema, "migrate into this PostgreSQL schema"},
      {"--query", "NAME", &Args::query, "sql: run this saved query"},
      {"--param", "NAME=VALUE", &Args::params, "sql: a value for a parameter of the saved query (repeatable)"},
      {"--default", "FIELD=EXPR", &Args::defaults, "create-table: the field's default value (repeatable)"},
      {"--rule", "FIELD=EXPR", &Args::rules, "create-table: the field's validation rule (repeatable)"},
      {"--rule-text", "FIELD=TEXT", &Args::ruleTexts, "create-table: the message when the field's rule is broken (repeatable)"},
      {"--table-rule", "EXPR", &Args::tableRule, "create-table: the table's validation rule over its fields"},
      {"--table-rule-text", "TEXT", &Args::tableRuleText, "create-table: the message when the table's rule is broken"},
      {"--calculated", "FIELD=EXPR", &Args::calculated,
       "create-table: the field holds the expression's result (Access 2010 files and later; repeatable)"},
      {"--verify", nullptr, &Args::verify, "migrate, then read every row back and compare"},
      {"--quiet", nullptr, &Args::quiet, "migrate without the per-table report"},
      {"--no-sync", nullptr, &Args::noSync,
       "do not force writes to the disk: faster, and a killed program still leaves a sound file,\n"
       "but a power cut or system crash may damage it (for throwaway work)"},
      {"--busy-timeout", "SECONDS", &Args::busyTimeout,
       "how long a change waits while another program writes the file, then fails with 3260\n"
       "(default 10)"},
      {"--help", nullptr, &Args::help, "this usage, or with a command that command's help"},
      {"--version", nullptr, &Args::version, "the program's version"},
  };
  return kOptions;
}

Args parseArgs(const std::vector<std::string>& args) {
  Args a;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& s = args[i];
    if (s == "-h") {
      a.help = true;
      continue;
    }
    const Option* match = nullptr;
    std::string inlineValue;
    bool hasInline = false;
    if (s.size() > 2 && s.rfind("--", 0) == 0) {
      const size_t eq = s.find('=');
      const std::string name = s.substr(0, eq);
      for (const Option& o : options())
        if (name == o.name) match = &o;
      if (!match) throw UsageError("unknown option " + name);
      if (eq != std::string::npos) {
        if (!match->value) throw UsageError(name + " takes no value");
        inlineValue = s.substr(eq + 1);
        hasInline = true;
      }
    }
    if (!match) {
      (a.command.empty() ? a.command : a.positional.emplace_back()) = s;
      continue;
    }
    if (auto* flag = std::get_if<bool Args::*>(&match->into)) {
      a.*(*flag) = true;
      continue;
    }
    if (!hasInline) {
      if (i + 1 >= args.size()) throw UsageError(std::string(match->name) + " needs a value");
      inlineValue = args[++i];
    }
    if (auto* list = std::get_if<std::vector<std::string> Args::*>(&match->into)) {
      (a.*(*list)).push_back(inlineValue);
    } else {
      a.*std::get<std::string Args::*>(match->into) = inlineValue;
    }
  }
  return a;
}

void need(const Args& a, size_t min, size_t max) {
  if (a.positional.size() < min || a.positional.size() > max)
    throw UsageError("wrong number of arguments for " + a.command);
}

int64_t parsePosition(const std::string& s) {
  int64_t v = 0;
  if (s.empty() || s.size() > 12) throw UsageError("not a position: " + s);
  for (char c : s) {
    if (c < '0' || c > '9') throw UsageError("not a position: " + s);
    v = v * 10 + (c - '0');
  }
  return v;
}

std::unique_ptr<jet::Database> openEngine(const Args& a, bool readOnly) {
  jet::OpenOptions o;
  o.readOnly = readOnly;
  o.password = a.password;
  o.busyTimeoutMs = dao::Engine().BusyTimeout() * 1000;
  return jet::Database::open(a.positional.at(0), o);
}

dao::Database openDao(const Args& a, bool readOnly) {
  return dao::Engine().OpenDatabase(a.positional.at(0), false, readOnly,
                                    a.password.empty() ? "" : ";PWD=" + a.password);
}

}  // namespace cli
