// Verification of a compacted copy against its source, before the copy may replace it.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/check_report.h"
#include "jet/catalog/system_tables.h"
#include "jet/compact.h"
#include "jet/database.h"

namespace jet {
namespace {

std::unique_ptr<Database> openReadOnly(const std::string& path, const std::string& password) {
  OpenOptions options;
  options.readOnly = true;
  options.password = password;
  return Database::open(path, options);
}

[[noreturn]] void mismatch(const std::string& what) {
  throw Error(err::kCorrupt, "The compacted copy does not match its source: " + what);
}

}  // namespace

void verifyCompactedCopy(const std::string& source, const std::string& copy, const std::string& password) {
  auto src = openReadOnly(source, password);
  auto dst = openReadOnly(copy, password);
  CheckReport report = dst->check();
  if (!report.ok()) mismatch("it fails its check (" + report.problems.front() + ").");
  if (dst->format() != src->format()) mismatch("its format differs.");
  if (dst->codePage() != src->codePage()) mismatch("its code page differs.");
  if (dst->sortOrder() != src->sortOrder()) mismatch("its sort order differs.");

  std::vector<CatalogObject> a = src->objects(), b = dst->objects();
  if (a.size() != b.size()) mismatch("it holds another number of objects.");
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].name != b[i].name || a[i].kind != b[i].kind) mismatch("it holds other objects ('" + a[i].name + "').");

  std::map<int64_t, int64_t> newIds;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].kind == ObjectKind::Table || a[i].kind == ObjectKind::SystemTable) newIds[a[i].id] = b[i].id;
  for (const CatalogObject& object : a) {
    if (object.kind != ObjectKind::Table && object.kind != ObjectKind::SystemTable) continue;
    const std::string& name = object.name;
    // Ids of catalog objects are renumbered with the tables' pages; every other value is kept.
    const bool ids = sys::isSystemTableName(name);
    auto x = src->openTable(name);
    auto y = dst->openTable(name);
    uint64_t row = 0;
    while (true) {
      bool moreA = x->next();
      bool moreB = y->next();
      if (moreA != moreB) mismatch("table '" + name + "' has a different number of rows.");
      if (!moreA) break;
      ++row;
      const std::vector<Value>& va = x->values();
      const std::vector<Value>& vb = y->values();
      if (va.size() != vb.size()) mismatch("table '" + name + "' has other columns.");
      const auto& columns = x->table().columns;
      for (size_t i = 0; i < va.size(); ++i) {
        if (ids && columns[i].type == ColumnType::Long && sys::holdsObjectId(name, columns[i].name)) {
          // Ids of tables follow their definitions' new pages; every other id is kept.
          const int64_t* from = std::get_if<int64_t>(&va[i]);
          const int64_t* to = std::get_if<int64_t>(&vb[i]);
          if (from && to) {
            auto it = newIds.find(*from);
            if (*to == (it == newIds.end() ? *from : it->second)) continue;
          }
        }
        if (!(va[i] == vb[i])) mismatch("row " + std::to_string(row) + " of table '" + name + "' differs.");
      }
    }
  }
}

}  // namespace jet
