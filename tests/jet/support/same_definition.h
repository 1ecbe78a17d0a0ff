// Comparing a table definition the engine builds with the one an Access engine wrote.
#pragma once

#include "jet/table/table_def.h"

namespace jettest {

// A column's name, type, number, variable index, flags, length and (fixed columns) offset.
void expectSameColumn(const jet::ColumnDef& x, const jet::ColumnDef& y);

// Each real index's flags and key columns, and each logical index's name, number, real index and
// kind.
void expectSameIndexes(const jet::TableDef& a, const jet::TableDef& b);

}  // namespace jettest
