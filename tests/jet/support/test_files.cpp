#include "jet/support/test_files.h"

#include "jet/base/value.h"
#include "jet/database.h"


namespace jettest {

std::string firstProblem(jet::Database& db) {
  const jet::CheckReport report = db.check();
  return report.problems.empty() ? std::string() : report.problems.front();
}

std::vector<std::pair<std::string, std::vector<std::string>>> contents(jet::Database& db) {
  std::vector<std::pair<std::string, std::vector<std::string>>> out;
  for (const jet::CatalogObject& o : db.objects()) {
    if (o.kind != jet::ObjectKind::Table && o.kind != jet::ObjectKind::SystemTable) continue;
    std::vector<std::string> rows;
    auto cursor = db.openTable(o.name);
    while (cursor->next()) {
      std::string row;
      for (const jet::Value& v : cursor->values()) row += (jet::isNull(v) ? std::string("<null>") : jet::toText(v)) + "|";
      rows.push_back(row);
    }
    out.emplace_back(o.name, std::move(rows));
  }
  return out;
}

}  // namespace jettest
