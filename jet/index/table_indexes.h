// Every index of one table kept true together as its rows are inserted, updated and deleted:
// checking a change against all of them before applying it to any, and rebuilding or verifying
// them all from the table's rows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "jet/base/row_id.h"
#include "jet/index/index_outline.h"
#include "jet/index/index_tree.h"

namespace jet {

// Every index of one table, maintained together.
class TableIndexes {
 public:
  TableIndexes(IndexPageStore& store, uint32_t tdefPage, std::vector<IndexOutline> outlines);

  // "" when every index can be maintained; otherwise why not (name and reason). A table with a
  // problem must be read-only: no row may be written that its indexes would not follow.
  const std::string& problem() const { return problem_; }

  // Checks that the change is allowed under every index (3022 duplicate, 3058 Null in a required
  // index or primary key) without changing anything. oldRow is null for an insert, newRow null for
  // a delete.
  void check(const std::vector<Value>* oldRow, RowId oldId, const std::vector<Value>* newRow, RowId newId);
  // Applies the change to every index. Call check first: apply does not check again.
  void apply(const std::vector<Value>* oldRow, RowId oldId, const std::vector<Value>* newRow, RowId newId);
  // check then apply.
  void maintain(const std::vector<Value>* oldRow, RowId oldId, const std::vector<Value>* newRow, RowId newId);

  // Gives the next row of the table (its address and values) and true, or false at the end.
  using RowSource = std::function<bool(RowId&, std::vector<Value>&)>;

  // Rebuilds every index from the table's rows (compaction, repair).
  void rebuild(const RowSource& rows);
  void rebuild(const std::vector<std::pair<RowId, std::vector<Value>>>& rows);
  // Compares every index with the table's rows: the entries it should hold, in order, with the
  // right keys, and a sound tree. Names each problem.
  // Only the keys are held while checking, not the rows.
  std::vector<std::string> verify(const RowSource& rows);
  std::vector<std::string> verify(const std::vector<std::pair<RowId, std::vector<Value>>>& rows);

  // Deferred writes for every index (bulk loads); flush() writes what is held.
  void setDeferredWrites(bool deferred);
  void flush();
  void discardCache();

  size_t size() const { return outlines_.size(); }
  const IndexOutline& outline(size_t i) const { return outlines_[i]; }
  IndexTree& tree(size_t i) { return trees_[i]; }

 private:
  // A row's key under one index, its buffer kept from one change to the next.
  struct RowKey {
    Bytes bytes;
    bool present = false;  // false for a missing row or a row the index leaves out
    size_t nulls = 0;      // key columns that are Null
  };
  void keysOf(const std::vector<Value>* row, std::vector<RowKey>& keys) const;
  void checkKeys(const std::vector<RowKey>& oldKeys, const std::vector<RowKey>& newKeys);
  void applyKeys(const std::vector<RowKey>& oldKeys, RowId oldId, const std::vector<RowKey>& newKeys, RowId newId);

  IndexPageStore& store_;
  std::vector<IndexOutline> outlines_;
  std::vector<IndexTree> trees_;
  std::string problem_;
  size_t capacity_;  // entry bytes an index page holds
  std::vector<RowKey> oldKeys_, newKeys_;
};

}  // namespace jet
