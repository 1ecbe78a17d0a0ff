// DAO's field vocabulary over the engine's columns, and its rules for the values of a record,
// applied by the recordset and by bulk writers alike.
#pragma once

#include <cstdint>
#include <vector>

#include "db/dao.h"
#include "jet/database.h"

namespace dao {

// DAO's type code, size and attribute sum for a column the engine reports.
int16_t daoType(jet::ColumnType type);
// The same for a column, complex ones included: dbAttachment, or the dbComplex code of a
// multi-valued field's values. A version history reads as dbComplexText (its values are texts);
// a complex column of a kind the engine does not know as dbLong (its key).
int16_t daoType(const jet::ColumnInfo& column);
int32_t daoSize(const jet::ColumnInfo& column, jet::Format format);
int32_t daoAttributes(const jet::ColumnInfo& column);
// The engine's type for a DAO type code; false for codes a table cannot hold.
bool engineType(int16_t daoCode, jet::ColumnType& out);

// One value about to be stored in column `index`: 3163 when a text (or binary) is longer than the
// field. A whole record at Update: 3314 for a Null in a Required field, 3315 for a zero-length
// text where AllowZeroLength is False (auto-numbers are the engine's and not checked).
void checkValueFits(const jet::TableInfo& table, jet::Format format, size_t index, const Value& v);
void checkRecord(const jet::TableInfo& table, const std::vector<Value>& values);

}  // namespace dao
