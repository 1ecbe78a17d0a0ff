// Row-level writes to one table: insert, update and delete, with their long values, page
// placement, usage maps, the definition's row count and auto-number, and every index kept in step.
//
// A writer lives as long as the table's definition is unchanged (the database keeps one per table
// and drops it on any schema change), so its indexes, parsed index pages and page choices are
// reused from one operation to the next. Every change is staged in a PageTransaction; a failure at
// any point leaves the file as it was.
//
// Single operations (insert, update, remove) each end committed. Queued inserts share one
// transaction per batch and are committed when the batch is full or on commitQueued(): a bulk load
// then writes each page once per batch instead of once per row.
#pragma once

#include <memory>
#include <vector>

#include "jet/base/row_id.h"
#include "jet/base/text_codec.h"
#include "jet/storage/page_file.h"
#include "jet/table/table_def.h"

namespace jet {

class TableWriter {
 public:
  // `def` is updated in place (row count, auto-number) after each commit and must outlive the
  // writer.
  TableWriter(PageFile& file, Tdef& def, TableInfo info, TextCodec& codec);
  ~TableWriter();
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  RowId insert(std::vector<Value> values);
  void update(RowId row, std::vector<Value> values);
  void remove(RowId row);
  // Removes distinct rows in one transaction (all or none); 3001 when a row is named twice.
  void removeMany(const std::vector<RowId>& rows);

  // The live rows whose values at `fields` (positions in the row) equal those of `row` under the
  // rules of keys (text without regard to case): through an index on exactly those fields when the
  // table has one, else by a scan. Sees the rows of the open batch only through an index.
  std::vector<RowId> findRows(const std::vector<size_t>& fields, const std::vector<Value>& row);

  // Adds a row to the open batch (opening one when needed). A refused row leaves the batch as it
  // was: the rows queued before it stay queued. A batch of kStagedRows rows is committed here
  // before the next row is added (into the file's open scope, when there is one: the database
  // keeps one open over kBatchRows queued rows, its commit to the disk).
  RowId queueInsert(std::vector<Value> values);
  // The same, taking the row from `values` and leaving there the storage of a row of an earlier
  // batch (stale values, for the caller to overwrite) or an empty row: a bulk load then allocates
  // no rows of its own once the first batch is written.
  RowId queueInsertReusing(std::vector<Value>& values);
  // Writes the open batch. On failure the batch is dropped (the file stays as it was before it)
  // and the error is thrown.
  void commitQueued();
  // Rows queued and not yet committed.
  size_t queuedRows() const;

  static constexpr size_t kBatchRows = 65536;
  static constexpr size_t kStagedRows = 2048;

  struct State;  // defined with the writer's code

 private:
  std::unique_ptr<State> s_;
};

}  // namespace jet
