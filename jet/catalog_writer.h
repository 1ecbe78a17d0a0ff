// Building blocks for writing the catalog and other small tables: row images, data pages and
// inline usage maps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/index.h"
#include "jet/tdef_writer.h"
#include "jet/value.h"

namespace jet {

// Encodes one row of a table with the given definition; values[i] belongs to def.columns[i]
// (the definition's stored order). Fixed values are packed little-endian; Text is UTF-16 in Jet 4
// (uncompressed) and Windows-1252 in Jet 3; Memo and OLE values are stored inline in the row
// (long-value header with the inline flag). Throws jet::Error 3001 when a value does not fit its
// column or the row would not fit on a page.
// With rawLongValues, Memo and OLE values given as Bytes are written as they are (a long-value
// field taken from another row: header and, when inline, the data).
Bytes encodeRow(const TableDefinition& def, const std::vector<Value>& values, bool rawLongValues = false);

// A long-value field holding the data inline in the row.
Bytes inlineLongValue(const Bytes& data);

// Decodes a row written by encodeRow (and rows of catalog tables in general, as long as their long
// values are inline or absent: other long values come back as Null). Values in def.columns order.
// With rawLongValues, Memo and OLE columns come back as the raw field (Bytes), to be written back
// unchanged by encodeRow.
std::vector<Value> decodeRow(const TableDefinition& def, const uint8_t* row, size_t size, bool rawLongValues = false);

// The most bytes a row may take on a data page of the format.
size_t maxRowSize(Format format);

// A data page holding the given rows (in row-number order), owned by the table at tdefPage.
// Throws jet::Error 3001 when they do not fit.
Bytes buildDataPage(Format format, uint32_t tdefPage, const std::vector<Bytes>& rows);
// Free bytes left on a data page that holds rows of these sizes.
size_t dataPageFreeSpace(Format format, const std::vector<size_t>& rowSizes);

// An inline usage map row (map type 0, start page 0) with the given pages marked.
Bytes buildInlineUsageMap(Format format, const std::vector<uint32_t>& pages, bool markAllAbove = false,
                          uint32_t firstAbove = 0);
// The number of pages an inline usage map row can describe.
uint32_t inlineUsageMapCapacity(Format format);

// Values for a row given by column number; columns not named are Null.
std::vector<Value> rowByNumber(const TableDefinition& def, const std::vector<std::pair<uint16_t, Value>>& values);

}  // namespace jet
