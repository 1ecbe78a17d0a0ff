#include "jet/repair.h"

#include <algorithm>
#include <set>
#include <variant>

#include "jet/base/error.h"
#include "jet/base/names.h"
#include "jet/compact_source.h"
#include "jet/database.h"
#include "jet/salvage_source.h"
#include "jet/storage/env.h"

namespace jet {

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

namespace {

// A repaired copy keeps every row it could read. An enforced relationship that those rows no longer
// keep (a table, or primary rows, lost to the damage) would make the copy break Jet's rules, so it is
// carried as not enforced instead, and the report names it; no recovered row is dropped for it.
void relaxBrokenRelationships(const std::string& path, const std::string& password, RepairReport& report) {
  OpenOptions options;
  options.password = password;
  std::unique_ptr<Database> db = Database::open(path, options);
  const std::vector<std::string> problems = db->check().problems;
  auto broken = [&](const std::string& name) {
    const std::string named = "relationship '" + name + "'";
    return std::any_of(problems.begin(), problems.end(),
                       [&](const std::string& p) { return p.find(named) != std::string::npos; });
  };
  TableInfo info;
  try {
    info = db->table("MSysRelationships");
  } catch (const Error&) {
    return;
  }
  const int nameAt = columnIndex(info.columns, "szRelationship"), grbitAt = columnIndex(info.columns, "grbit");
  if (nameAt < 0 || grbitAt < 0) return;
  std::vector<std::pair<RowId, std::vector<Value>>> changes;
  std::set<std::string> relaxed;
  for (auto cursor = db->openTable(info.name); cursor->next();) {
    std::vector<Value> row = cursor->values();
    const auto* name = std::get_if<std::string>(&row[size_t(nameAt)]);
    const auto* grbit = std::get_if<int64_t>(&row[size_t(grbitAt)]);
    if (!name || !grbit || (*grbit & kRelationDontEnforce) || !broken(*name)) continue;
    row[size_t(grbitAt)] = int64_t(*grbit | kRelationDontEnforce);
    relaxed.insert(*name);
    changes.emplace_back(cursor->rowId(), std::move(row));
  }
  for (auto& [id, row] : changes) db->updateRow(info.name, id, std::move(row));
  for (const std::string& name : relaxed) {
    RepairedTable t;
    t.name = name;
    t.note = "relationship kept without enforcing: the recovered rows no longer keep it";
    report.tables.push_back(std::move(t));
  }
}

}  // namespace

RepairReport repairDatabase(const std::string& source, const std::string& destination, const std::string& password) {
  requireCopyPaths(source, destination);

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
      Env::get().remove(destination);
      throw Error(err::kCorrupt, "Nothing in '" + source + "' could be recovered: its catalog and tables cannot be read.");
    }
    for (const std::string& name : from.lostTables()) {
      RepairedTable t;
      t.name = name;
      t.note = "lost: its definition cannot be read";
      report.tables.push_back(std::move(t));
    }
  }
  relaxBrokenRelationships(destination, password, report);
  OpenOptions options;
  options.readOnly = true;
  options.password = password;  // the copy keeps the source's header, password included
  report.problems = Database::open(destination, options)->check().problems;
  return report;
}

}  // namespace jet
