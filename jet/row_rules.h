// The rules every row of a table obeys before it is written, whoever writes it (the object model's
// recordsets, the command line's imports and updates, SQL): a text or binary no longer than its field,
// a value in each Required field, no zero-length text where the field refuses one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet/base/schema.h"
#include "jet/base/value.h"

namespace jet {

// What a text field holds at most, in characters (Jet 4 stores two bytes a character, and a
// calculated text's stored length includes the wrapping of its results); a binary field's size
// in bytes.
int32_t fieldCapacity(const ColumnInfo& column, Format format);

// One value about to be stored in column `index`: 3163 when a text (or binary) is longer than the
// field.
void checkValueFits(const TableInfo& table, Format format, size_t index, const Value& v);
// A whole row: 3314 for a Null in a Required field, 3315 for a zero-length text where
// AllowZeroLength is False (auto-numbers, calculated and complex fields are the engine's and not
// checked).
void checkRow(const TableInfo& table, const std::vector<Value>& values);
// Both, for every value of a new or changed row.
void checkNewRow(const TableInfo& table, Format format, const std::vector<Value>& values);

}  // namespace jet
