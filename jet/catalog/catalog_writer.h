// Building blocks for writing the catalog and other small tables: row images, data pages and
// inline usage maps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/value.h"
#include "jet/index/index.h"
#include "jet/storage/data_page.h"
#include "jet/storage/long_value.h"
#include "jet/table/table_def.h"

namespace jet {

// Encodes one row of a table with the given definition; values[i] belongs to def.columns[i]
// (the definition's stored order). Fixed values are packed little-endian; Text is UTF-16 in Jet 4
// (uncompressed) and Windows-1252 in Jet 3; Memo and OLE values are stored inline in the row
// (long-value header with the inline flag). Throws jet::Error 3001 when a value does not fit its
// column or the row would not fit on a page.
// With rawLongValues, Memo and OLE values given as Bytes are written as they are (a long-value
// field taken from another row: header and, when inline, the data).
Bytes encodeRow(const TableDef& def, const std::vector<Value>& values, bool rawLongValues = false);

// Decodes a row written by encodeRow (and rows of catalog tables in general, as long as their long
// values are inline or absent: other long values come back as Null). Values in def.columns order.
// With rawLongValues, Memo and OLE columns come back as the raw field (Bytes), to be written back
// unchanged by encodeRow.
std::vector<Value> decodeRow(const TableDef& def, const uint8_t* row, size_t size, bool rawLongValues = false);

// The most bytes a row may take on a data page of the format.
size_t maxRowSize(Format format);

// Values for a row given by column number; columns not named are Null.
std::vector<Value> rowByNumber(const TableDef& def, const std::vector<std::pair<uint16_t, Value>>& values);

}  // namespace jet
