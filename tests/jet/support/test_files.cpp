#include "jet/support/test_files.h"

#include "jet/base/value.h"
#include "jet/database.h"

namespace jettest {

std::string failure(const std::function<void()>& call) {
  try {
    call();
  } catch (const jet::Error& e) {
    return std::to_string(e.number()) + ": " + e.description();
  }
  return "";
}

std::string firstProblem(jet::Database& db) {
  const jet::CheckReport report = db.check();
  return report.problems.empty() ? std::string() : report.problems.front();
}

std::vector<std::string> rowsOf(jet::Database& db, const std::string& table) {
  std::vector<std::string> rows;
  for (auto cursor = db.openTable(table); cursor->next();) {
    std::string row;
    for (const jet::Value& v : cursor->values()) row += (jet::isNull(v) ? std::string("<null>") : jet::toText(v)) + "|";
    rows.push_back(row);
  }
  return rows;
}

std::vector<std::pair<std::string, std::vector<std::string>>> contents(jet::Database& db) {
  std::vector<std::pair<std::string, std::vector<std::string>>> out;
  for (const jet::CatalogObject& o : db.objects())
    if (o.kind == jet::ObjectKind::Table || o.kind == jet::ObjectKind::SystemTable) out.emplace_back(o.name, rowsOf(db, o.name));
  return out;
}

}  // namespace jettest
