// A table's real indexes as key maintenance sees them (IndexOutline), derived from the table's
// description (TableInfo) and the root pages its definition records, and the key a row has under
// one of them. The outline is a derived view: it is never stored, and never converted back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/file_version.h"
#include "jet/base/schema.h"
#include "jet/base/value.h"
#include "jet/index/index_key.h"

namespace jet {

// One real index of a table, as maintenance needs it.
struct IndexOutline {
  std::string name;               // for messages (the logical index's name)
  uint32_t rootPage = 0;
  std::vector<KeyColumn> columns;
  std::vector<int> fields;        // for each key column, its position in the row's values
  bool unique = false;
  bool ignoreNulls = false;       // rows whose key columns are all Null are left out
  bool required = false;          // Null in any key column is refused (primary keys too)
};

// The outlines of a table's real indexes from its description: one per real index, logical indexes
// that share a real index folding their flags together (a primary key makes its index required).
// rootPages[n] is the root page of real index n. An index naming a column the table lacks gets a
// column the engine cannot encode, so that the table reports it as a problem. Keys follow the
// rules of the file's version.
std::vector<IndexOutline> indexOutlines(FileVersion version, const TableInfo& table, const std::vector<uint32_t>& rootPages);

// The key of a row under one index; nullopt when the row is left out (ignore-nulls).
std::optional<Bytes> rowKey(const IndexOutline& outline, const std::vector<Value>& row);
// The same into `key` (its contents replaced, its storage kept), straight from the row's values;
// false when the row is left out. `nulls` is set to the number of key columns that are Null.
bool rowKeyInto(const IndexOutline& outline, const std::vector<Value>& row, Bytes& key, size_t& nulls);

}  // namespace jet
