// Row-level writes to one table: insert, update and delete, with their long values, page
// placement, usage maps, the definition's row count and auto-number, and every index kept in step.
// Each operation is staged in a PageTransaction and committed at the end, so a failure at any
// point leaves the file as it was.
#pragma once

#include <vector>

#include "jet/database.h"
#include "jet/page_file.h"
#include "jet/table_def.h"
#include "jet/text_codec.h"

namespace jet {

class TableWriter {
 public:
  // `def` is updated in place (row count, auto-number) after each committed change.
  TableWriter(PageFile& file, TableDef& def, const TableInfo& info, TextCodec& codec);

  RowId insert(std::vector<Value> values);
  void update(RowId row, std::vector<Value> values);
  void remove(RowId row);

 private:
  PageFile& file_;
  TableDef& def_;
  const TableInfo& info_;
  TextCodec& codec_;
};

}  // namespace jet
