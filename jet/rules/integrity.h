// Referential integrity: the enforced relationships kept true on every write. A row of a foreign
// table must find its primary row (unless a field of its key is Null); a primary row with related
// rows can be deleted or have its key changed only where the relationship cascades, and then its
// related rows are deleted, changed or set to Null with it, through chains of relationships. The
// database runs all of it inside the one all-or-nothing change that the write is.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "jet/base/row_id.h"
#include "jet/base/schema.h"
#include "jet/rules/relationships.h"

namespace jet {

// The rows of the database as integrity needs them. update() and remove() are the database's own
// writes, with every rule applied (so that cascades cascade further).
class RowStore {
 public:
  virtual ~RowStore() = default;
  virtual const TableInfo& describe(const std::string& table) = 0;
  // The rows whose values at `fields` match those of `row` as keys match.
  virtual std::vector<RowId> find(const std::string& table, const std::vector<size_t>& fields,
                                  const std::vector<Value>& row) = 0;
  virtual std::vector<Value> read(const std::string& table, RowId row) = 0;
  virtual void update(const std::string& table, RowId row, std::vector<Value> values) = 0;
  virtual void remove(const std::string& table, RowId row) = 0;
};

class Integrity {
 public:
  // Keeps the enforced relationships of `all`.
  explicit Integrity(const std::vector<Relationship>& all);

  bool empty() const { return enforced_.empty(); }

  // Before a row is inserted into `table`: 3201 when it refers to a primary row that is not there.
  void checkInsert(RowStore& store, const std::string& table, const std::vector<Value>& row);
  // Before a row of `table` changes from `old` to `row`: 3201 as for an insert, for the foreign
  // keys that change; 3200 when its own key changes while related rows exist and the relationship
  // does not cascade updates.
  void checkUpdate(RowStore& store, const std::string& table, const std::vector<Value>& old,
                   const std::vector<Value>& row);
  // After the change is written: the related rows follow the new key (cascading updates).
  void afterUpdate(RowStore& store, const std::string& table, const std::vector<Value>& old,
                   const std::vector<Value>& row);
  // Before a row of `table` is deleted: its related rows are deleted or set to Null where the
  // relationship says so; 3200 when there are related rows and it says neither.
  void beforeDelete(RowStore& store, const std::string& table, RowId id, const std::vector<Value>& old);

 private:
  struct Side {
    std::vector<size_t> primary, foreign;  // positions of the key's fields in each table's rows
  };
  Side sides(RowStore& store, const Relationship& r);
  // The related rows of `primaryRow` under relationship r.
  std::vector<RowId> related(RowStore& store, const Relationship& r, const Side& s, const std::vector<Value>& primaryRow);
  void requireParents(RowStore& store, const std::string& table, const std::vector<Value>& row,
                      const std::vector<Value>* old);

  std::vector<Relationship> enforced_;
  // Rows being deleted by the change in progress: a cascade that comes back to one leaves it.
  std::set<std::pair<std::string, uint64_t>> deleting_;
};

}  // namespace jet
