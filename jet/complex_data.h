// Where the values of an open database's complex columns live: MSysComplexColumns names each
// column's hidden table and template table by catalog id, and the template says what the column
// holds. Read through the database's own tables, once per catalog state.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "jet/base/row_id.h"
#include "jet/catalog/complex_columns.h"
#include "jet/database.h"

namespace jet {

class ComplexData {
 public:
  explicit ComplexData(Database& db) : db_(db) {}

  struct Column {
    ComplexLayout layout;
    std::string flatTable;  // the hidden table's name
  };

  // Fills in what each complex column of `table` holds (columns whose tables cannot be found are
  // Unsupported).
  void describe(TableInfo& table);
  // The hidden table of a complex column; 3049 when MSysComplexColumns or the catalog lacks it.
  const Column& column(const ColumnInfo& column);
  // Forgets everything read (after the catalog changed).
  void forget();

 private:
  const std::vector<ComplexColumnEntry>& entries();

  Database& db_;
  std::optional<std::vector<ComplexColumnEntry>> entries_;
  std::map<int32_t, Column> columns_;  // by complex id
};

// The values of a complex column whose hidden table is `column.flatTable`.
std::unique_ptr<ComplexValues> readComplexValues(Database& db, const ComplexData::Column& column);

// The hidden rows holding the values of the rows whose keys are `keys`.
std::vector<RowId> complexRowsOf(Database& db, const ComplexData::Column& column, const std::set<int32_t>& keys);

}  // namespace jet
