#include "jet/repair.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "jet/base/error.h"
#include "jet/compact_source.h"
#include "jet/database.h"
#include "jet/salvage_source.h"

namespace jet {

namespace {

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

RepairedTable RepairReport::total() const {
  RepairedTable t;
  t.name = "Total";
  for (const RepairedTable& r : tables) {
    t.rowsRecovered += r.rowsRecovered;
    t.rowsLost += r.rowsLost;
    t.longValuesLost += r.longValuesLost;
    t.pagesSkipped += r.pagesSkipped;
  }
  return t;
}

RepairReport repairDatabase(const std::string& source, const std::string& destination, const std::string& password) {
  if (exists(destination)) throw Error(err::kDatabaseExists, "Database already exists.");
  if (!exists(source)) throw Error(err::kFileNotFound, "Could not find file '" + source + "'.");

  RepairReport report;
  {
    SalvageSource from(source, password);
    report.formatInferred = from.headerInferred();
    const std::vector<CopiedTable> copied = copyDatabase(from, destination);
    for (const CopiedTable& c : copied) {
      RepairedTable t;
      t.name = c.name;
      t.rowsRecovered = c.rows;
      t.longValuesLost = c.longValuesLost;
      if (c.conflicts) {
        t.note = "rows that repeat a unique key of another table";
      } else {
        auto it = from.losses().find(c.sourcePage);
        if (it != from.losses().end()) {
          t.rowsLost = it->second.rowsLost;
          t.pagesSkipped = it->second.pagesSkipped;
        }
        t.rowsLost += c.rowsDropped;
        if (c.name.rfind("Recovered_", 0) == 0) t.note = "found by scanning; its catalog row was lost";
      }
      report.tables.push_back(std::move(t));
    }
    report.catalogRebuilt = from.catalogRebuilt();
    // A new catalog and nothing found to put in it: nothing of the file could be recovered.
    if (report.catalogRebuilt && std::none_of(copied.begin(), copied.end(), [](const CopiedTable& c) {
          return c.name.rfind("Recovered_", 0) == 0;
        })) {
      ::unlink(destination.c_str());
      throw Error(err::kCorrupt, "Nothing in '" + source + "' could be recovered: its catalog and tables cannot be read.");
    }
    for (const std::string& name : from.lostTables()) {
      RepairedTable t;
      t.name = name;
      t.note = "lost: its definition cannot be read";
      report.tables.push_back(std::move(t));
    }
  }
  OpenOptions options;
  options.readOnly = true;
  options.password = password;  // the copy keeps the source's header, password included
  report.problems = Database::open(destination, options)->check().problems;
  return report;
}

}  // namespace jet
