#include "jet/rules/integrity.h"

#include "jet/base/error.h"
#include "jet/base/names.h"
#include "jet/catalog/catalog.h"

namespace jet {

namespace {

constexpr int kRelatedRecordRequired = 3201;
constexpr int kRelatedRecordsExist = 3200;

size_t columnAt(const TableInfo& t, const std::string& name) {
  if (const int i = columnIndex(t.columns, name); i >= 0) return size_t(i);
  throw Error(err::kCorrupt, "The relationship names a field '" + name + "' that table '" + t.name + "' lacks.");
}

bool anyNull(const std::vector<Value>& row, const std::vector<size_t>& at) {
  for (size_t i : at)
    if (i >= row.size() || isNull(row[i])) return true;
  return false;
}

bool sameValues(const std::vector<Value>& a, const std::vector<Value>& b, const std::vector<size_t>& at) {
  for (size_t i : at)
    if (!(a.at(i) == b.at(i))) return false;
  return true;
}

uint64_t address(RowId r) { return (uint64_t(r.page) << 16) | r.row; }

// The key of one side moved into a row of the other side's width.
std::vector<Value> carried(const std::vector<Value>& from, const std::vector<size_t>& fromAt, size_t width,
                           const std::vector<size_t>& toAt) {
  std::vector<Value> out(width, Null{});
  for (size_t k = 0; k < fromAt.size(); ++k) out[toAt[k]] = from.at(fromAt[k]);
  return out;
}

}  // namespace

Integrity::Integrity(const std::vector<Relationship>& all) {
  for (const Relationship& r : all)
    if (r.enforced() && !r.columns.empty() && r.columns.size() == r.foreignColumns.size()) enforced_.push_back(r);
}

Integrity::Side Integrity::sides(RowStore& store, const Relationship& r) {
  Side s;
  const TableInfo& p = store.describe(r.table);
  for (const std::string& c : r.columns) s.primary.push_back(columnAt(p, c));
  const TableInfo& f = store.describe(r.foreignTable);
  for (const std::string& c : r.foreignColumns) s.foreign.push_back(columnAt(f, c));
  return s;
}

std::vector<RowId> Integrity::related(RowStore& store, const Relationship& r, const Side& s,
                                      const std::vector<Value>& primaryRow) {
  if (anyNull(primaryRow, s.primary)) return {};
  const size_t width = store.describe(r.foreignTable).columns.size();
  return store.find(r.foreignTable, s.foreign, carried(primaryRow, s.primary, width, s.foreign));
}

void Integrity::requireParents(RowStore& store, const std::string& table, const std::vector<Value>& row,
                               const std::vector<Value>* old) {
  for (const Relationship& r : enforced_) {
    if (!sameName(r.foreignTable, table)) continue;
    const Side s = sides(store, r);
    // A key with a Null field refers to nothing; an unchanged key was checked when it was written.
    if (anyNull(row, s.foreign) || (old && sameValues(*old, row, s.foreign))) continue;
    const size_t width = store.describe(r.table).columns.size();
    if (store.find(r.table, s.primary, carried(row, s.foreign, width, s.primary)).empty())
      throw Error(kRelatedRecordRequired, "You cannot add or change a record because a related record is required in table '" +
                                              store.describe(r.table).name + "'.");
  }
}

void Integrity::checkInsert(RowStore& store, const std::string& table, const std::vector<Value>& row) {
  requireParents(store, table, row, nullptr);
}

void Integrity::checkUpdate(RowStore& store, const std::string& table, const std::vector<Value>& old,
                            const std::vector<Value>& row) {
  requireParents(store, table, row, &old);
  for (const Relationship& r : enforced_) {
    if (!sameName(r.table, table) || r.cascadeUpdates()) continue;
    const Side s = sides(store, r);
    if (sameValues(old, row, s.primary)) continue;
    if (!related(store, r, s, old).empty())
      throw Error(kRelatedRecordsExist, "The record cannot be deleted or changed because table '" +
                                            store.describe(r.foreignTable).name + "' includes related records.");
  }
}

void Integrity::afterUpdate(RowStore& store, const std::string& table, const std::vector<Value>& old,
                            const std::vector<Value>& row) {
  for (const Relationship& r : enforced_) {
    if (!sameName(r.table, table) || !r.cascadeUpdates()) continue;
    const Side s = sides(store, r);
    if (sameValues(old, row, s.primary)) continue;
    for (const RowId& id : related(store, r, s, old)) {
      std::vector<Value> child = store.read(r.foreignTable, id);
      for (size_t k = 0; k < s.foreign.size(); ++k) child[s.foreign[k]] = row.at(s.primary[k]);
      store.update(r.foreignTable, id, std::move(child));
    }
  }
}

void Integrity::beforeDelete(RowStore& store, const std::string& table, RowId id, const std::vector<Value>& old) {
  const auto self = std::make_pair(store.describe(table).name, address(id));
  deleting_.insert(self);
  struct Leave {
    std::set<std::pair<std::string, uint64_t>>& rows;
    std::pair<std::string, uint64_t> row;
    ~Leave() { rows.erase(row); }
  } leave{deleting_, self};
  // Refusals first, so that nothing cascades for a delete that is refused.
  for (const Relationship& r : enforced_) {
    if (!sameName(r.table, table) || r.cascadeDeletes() || r.cascadeNulls()) continue;
    const Side s = sides(store, r);
    for (const RowId& child : related(store, r, s, old))
      if (!deleting_.count({store.describe(r.foreignTable).name, address(child)}))
        throw Error(kRelatedRecordsExist, "The record cannot be deleted or changed because table '" +
                                              store.describe(r.foreignTable).name + "' includes related records.");
  }
  for (const Relationship& r : enforced_) {
    if (!sameName(r.table, table) || !(r.cascadeDeletes() || r.cascadeNulls())) continue;
    const Side s = sides(store, r);
    const std::string& childTable = store.describe(r.foreignTable).name;
    for (const RowId& child : related(store, r, s, old)) {
      if (deleting_.count({childTable, address(child)})) continue;
      if (r.cascadeDeletes()) {
        store.remove(r.foreignTable, child);
      } else {
        std::vector<Value> values = store.read(r.foreignTable, child);
        for (size_t k : s.foreign) values[k] = Null{};
        store.update(r.foreignTable, child, std::move(values));
      }
    }
  }
}

}  // namespace jet
