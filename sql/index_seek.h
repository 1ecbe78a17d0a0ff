// Reading a table through one of its real indexes: the plan SQLite is offered for a statement's
// constraints (equality on the leading key columns, then a range on the next one, and an ORDER BY
// the index order gives), and the cursor that walks the index entries the plan selects and
// reads each entry's row by its address.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/row_id.h"
#include "jet/base/value.h"
#include "jet/index/index.h"
#include "jet/storage/long_value.h"
#include "jet/table/row.h"
#include "sql/bridge.h"
#include "sql/lazy_row.h"

struct sqlite3_index_info;
struct sqlite3_value;

namespace sql {

// Fills SQLite's plan: idxNum 0 is a scan in stored order; otherwise idxNum says which index, how
// many leading columns are compared for equality and whether a lower and an upper bound follow,
// with the arguments in that order. Constraints are never omitted: SQLite checks every row it
// gets again, so an index may give more rows than match (text keys ignore case) but never fewer.
void planIndex(BridgeTable& table, sqlite3_index_info* info);

class IndexSeek {
 public:
  IndexSeek(Bridge& bridge, BridgeTable& table, int plan, int argc, sqlite3_value** argv);
  ~IndexSeek();
  // Moves to the next row the plan selects; false at the end.
  bool next();
  jet::RowId rowId() const { return rows_[at_]; }
  // The current row's value of a column (decoded on first use).
  const jet::Value& value(size_t column) { return row_->value(column); }

 private:
  // Reads the next batch of entries' row addresses (memory stays bounded).
  bool fill();

  Bridge& bridge_;
  BridgeTable& table_;
  const jet::IndexOutline* outline_;
  std::unique_ptr<jet::IndexPageStore> store_;
  std::unique_ptr<jet::IndexTree> tree_;
  jet::Bytes start_;  // entries from here
  jet::Bytes stop_;   // up to entries whose key, cut to this length, is not above it
  bool bounded_ = false;
  jet::IndexEntry resume_;
  bool resumeSet_ = false;
  bool done_ = false;
  std::vector<jet::RowId> rows_;
  size_t at_ = 0;
  bool started_ = false;
  std::unique_ptr<LazyRow> row_;
  jet::PageRef page_;  // holds the current row's bytes
};

}  // namespace sql
