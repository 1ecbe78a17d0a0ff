// Complex columns (attachments, multi-valued fields, version history). A complex column keeps one
// 32-bit key per row; the column's values are the rows of a hidden table that carry that key.
// MSysComplexColumns ties each complex column (by the id its definition keeps) to its hidden table
// and to a template table whose columns say what the column holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/complex_value.h"
#include "jet/base/schema.h"

namespace jet {

// One row of MSysComplexColumns. The table ids are catalog object ids (a table's definition page).
struct ComplexColumnEntry {
  std::string columnName;
  int32_t complexId = 0;
  int32_t tableId = 0;      // the table that has the column
  int32_t flatTableId = 0;  // the hidden table holding the values
  int32_t templateId = 0;   // the template table (MSysComplexType_...)
};

// The entries of MSysComplexColumns from its rows; `columns` are that table's columns. Rows
// without a complex id are left out.
std::vector<ComplexColumnEntry> complexColumnEntries(const std::vector<ColumnInfo>& columns,
                                                     const std::vector<std::vector<Value>>& rows);

// What a complex column holds and where each part is in its hidden table's rows (positions in the
// hidden table's columns; -1 where there is none).
struct ComplexLayout {
  ComplexKind kind = ComplexKind::Unsupported;
  ColumnType valueType = ColumnType::Text;  // multi-valued fields: the type of each value
  int key = -1;       // the Long holding the key of the row the value belongs to
  int id = -1;        // the hidden row's own auto-number
  int value = -1;     // multi-valued fields: the value; version history: the memo
  int modified = -1;  // version history: when the memo was saved
  int fileName = -1, fileType = -1, fileData = -1, fileUrl = -1, fileTimeStamp = -1, fileFlags = -1;
};

// Reads the layout from the template table's columns and the hidden table's columns: the hidden
// table has the template's columns plus its own auto-number and the key. The kind follows the
// template: one column of a number, GUID or text type is a multi-valued field; memo, two texts,
// OLE, date and Long an attachment; a memo and a date a version history. Throws Error 3049 when
// the hidden table lacks its key.
ComplexLayout complexLayout(const TableInfo& templateTable, const TableInfo& flatTable);

// Adds one hidden row to the value it belongs to (appended in stored order; versions are put
// newest first, later-saved rows first among equal dates).
void addComplexRow(const ComplexLayout& layout, const std::vector<Value>& row, ComplexValue& value);

// The hidden rows that hold `value` (the inverse of addComplexRow), `width` values each: the key
// column holds `key`, the row's own auto-number is the engine's. Versions are stored oldest
// first. Throws 3164 for a column whose kind cannot be written, 3421 when the value is of another
// kind than the column.
std::vector<std::vector<Value>> complexRows(const ComplexLayout& layout, size_t width, int32_t key,
                                            const ComplexValue& value);

// The key a hidden row belongs to; false when the row has none.
bool complexRowKey(const ComplexLayout& layout, const std::vector<Value>& row, int32_t& key);

}  // namespace jet
