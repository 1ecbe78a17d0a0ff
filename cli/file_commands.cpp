// The commands over a whole database file: check it, write a compacted or repaired copy, migrate
// it to SQLite or PostgreSQL.
#include <unistd.h>

#include <iostream>

#include "cli/command.h"
#include "cli/migrate.h"
#include "jet/repair.h"

namespace cli {

int cmdCheck(const Args& a, Io& io) {
  need(a, 1, 1);
  auto db = openEngine(a, true);
  jet::CheckReport report = db->check();
  for (const std::string& p : report.problems) io.out << p << '\n';
  if (report.ok()) io.out << "ok\n";
  return report.ok() ? 0 : 1;
}

int cmdCompact(const Args& a, Io& io) {
  need(a, 2, 2);
  jet::Database::compact(a.positional[0], a.positional[1], a.password);
  io.out << "compacted " << a.positional[0] << " into " << a.positional[1] << '\n';
  return 0;
}

int cmdMigrate(const Args& a, Io& io) {
  need(a, 2, 2);
  migrate::Options o;
  o.file = a.positional[0];
  o.target = a.positional[1];
  o.schema = a.schema;
  o.password = a.password;
  o.verify = a.verify;
  o.quiet = a.quiet;
  o.progress = &io.err == &std::cerr && ::isatty(STDERR_FILENO);
  for (size_t from = 0; !a.tables.empty() && from <= a.tables.size();) {
    size_t comma = a.tables.find(',', from);
    if (comma == std::string::npos) comma = a.tables.size();
    if (comma > from) o.tables.push_back(a.tables.substr(from, comma - from));
    from = comma + 1;
  }
  migrate::run(o, io.out, io.err);
  return 0;
}

namespace {

void reportLine(std::ostream& out, const jet::RepairedTable& t) {
  out << t.name << ": " << t.rowsRecovered << " rows recovered, " << t.rowsLost << " rows lost, " << t.longValuesLost
      << " long values lost, " << t.pagesSkipped << " pages skipped";
  if (!t.note.empty()) out << " (" << t.note << ")";
  out << '\n';
}

}  // namespace

int cmdRepair(const Args& a, Io& io) {
  need(a, 2, 2);
  const jet::RepairReport report = jet::repairDatabase(a.positional[0], a.positional[1], a.password);
  io.out << "repaired " << a.positional[0] << " into " << a.positional[1] << '\n';
  if (report.formatInferred) io.out << "the header page is damaged: format and page size taken from the pages\n";
  if (report.catalogRebuilt) io.out << "the catalog's definition is damaged: a new catalog, every table found by scanning\n";
  for (const jet::RepairedTable& t : report.tables) reportLine(io.out, t);
  reportLine(io.out, report.total());
  if (report.problems.empty()) return 0;
  for (const std::string& p : report.problems) io.err << "tabulonix-cli: the repaired copy fails its check: " << p << '\n';
  return 1;
}

}  // namespace cli
