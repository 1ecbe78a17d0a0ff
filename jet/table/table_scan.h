// Walks a table's live rows in stored order: its data pages in the order of its owned-pages map,
// the rows of each page in row order. Deleted rows are skipped; a row that moved is read through
// its pointer but keeps its original address.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/row_id.h"
#include "jet/storage/data_page.h"
#include "jet/storage/long_value.h"
#include "jet/storage/page_file.h"
#include "jet/storage/usage_map.h"
#include "jet/table/row.h"
#include "jet/table/table_def.h"

namespace jet {

// Follows overflow pointers from `id` to the row's body; returns its page and slot.
// Throws 3049 on a broken or looping chain.
PageRef resolveRow(PageFile& file, Format format, RowId id, RowSlot& slot);

class TableScan {
 public:
  TableScan(PageFile& file, const Tdef& def, TextCodec& codec);

  bool next();
  RowId rowId() const { return current_; }
  // The current row's values (decoded on first call per row).
  const std::vector<Value>& values();
  // The current row's stored bytes (valid until next()).
  const uint8_t* rowData() const { return bodyPage_->data() + body_.start; }
  size_t rowSize() const { return body_.size(); }
  void rewind();

 private:
  bool nextPage();

  PageFile& file_;
  const Tdef& def_;
  LongValueReader longValues_;
  RowReader reader_;
  UsageMap owned_;
  uint32_t pageNo_ = 0;
  bool started_ = false;
  PageRef page_;
  uint16_t rowsOnPage_ = 0;
  int row_ = -1;
  RowId current_;
  PageRef bodyPage_;
  RowSlot body_;
  bool decoded_ = false;
  std::vector<Value> values_;
};

}  // namespace jet
