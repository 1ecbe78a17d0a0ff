// Encoding rows for storage: the inverse of parseRow, in either format. Long values are handed to
// a callback that stores them and returns their 12-byte reference (or the reference with the data
// inline).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "jet/base/text_codec.h"
#include "jet/base/value.h"
#include "jet/table/table_def.h"

namespace jet {

using LongValueStore = std::function<Bytes(const ColumnDef&, const Bytes& data)>;

// The stored bytes of one non-null, non-Boolean value; throws 3421 when the value does not fit the
// column's type and 3163 when text is longer than the column.
Bytes encodeValue(const Tdef& def, const ColumnDef& col, const Value& v, TextCodec& codec);

// A whole row body; values are in field order (def.columns).
Bytes encodeRow(const Tdef& def, const std::vector<Value>& values, TextCodec& codec, const LongValueStore& store);
// The same into `row` (its contents replaced, its storage kept), for callers encoding row after row.
void encodeRowInto(const Tdef& def, const std::vector<Value>& values, TextCodec& codec, const LongValueStore& store,
                   Bytes& row);

}  // namespace jet
