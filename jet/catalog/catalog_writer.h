// Rows of the catalog and the other system tables as the schema writer, creation and compaction
// write them: through the one row codec, with every long value kept in the row.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "jet/base/text_codec.h"
#include "jet/base/value.h"
#include "jet/table/table_def.h"

namespace jet {

// Encodes one row; values[i] belongs to def.columns[i]. Memo and OLE values are stored inline.
// With keepFields, a Memo or OLE value given as Bytes is a stored field read back by a RowReader
// without long values (reference and inline data) and is written unchanged. Throws 3001 when the
// row would not fit on a page, and the row codec's errors for values that do not fit their column.
Bytes encodeSystemRow(const Tdef& def, const std::vector<Value>& values, TextCodec& codec,
                      bool keepFields = false);

// Values for a row given by column number; columns not named are Null.
std::vector<Value> rowByNumber(const Tdef& def, const std::vector<std::pair<uint16_t, Value>>& values);

}  // namespace jet
