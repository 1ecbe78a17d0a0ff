// DAO's field vocabulary over the engine's columns: type codes, sizes and attributes. The rules a
// record's values obey are the engine's (jet/row_rules.h).
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

}  // namespace dao
