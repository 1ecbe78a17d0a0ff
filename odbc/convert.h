// Result cells into the caller's C types (SQLGetData, SQLBindCol), and the text and structure forms
// of the SQL types the driver reports: dates as SQLite holds them ('YYYY-MM-DD HH:MM:SS'), exact
// decimals from the column's scale, GUIDs as '{...}' text.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <string_view>

#include "odbc/diagnostics.h"
#include "odbc/handles.h"
#include "odbc/result.h"

namespace odbc {

// Converts the current row's cell into the buffer. With `piece` (SQLGetData) long text and binary
// values are handed out over several calls; without it (bound columns) a value that does not fit
// is cut. Returns SQL_SUCCESS, SQL_SUCCESS_WITH_INFO (01004, 01S07), SQL_NO_DATA (the value was
// handed out already) or SQL_ERROR with a record in `diag`.
SQLRETURN getCell(const Result& result, int column, SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufferLength,
                  SQLLEN* length, SQLLEN* indicator, PieceState* piece, Diagnostics& diag);

// The text form of a cell for a column of the described type.
std::string cellText(const Result& result, int column, const ColumnDesc& desc);

// 'YYYY-MM-DD[ HH:MM:SS[.fffffffff]]' or 'HH:MM:SS' into a timestamp; false when it is neither.
bool parseTimestamp(std::string_view text, SQL_TIMESTAMP_STRUCT& ts);
// The text SQLite compares dates in: 'YYYY-MM-DD HH:MM:SS', with the fraction when there is one.
std::string timestampText(const SQL_TIMESTAMP_STRUCT& ts);
// '{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}' (braces optional) into a GUID and back.
bool parseGuid(std::string_view text, SQLGUID& guid);
std::string guidText(const SQLGUID& guid);
// A decimal text (sign, digits, point) into ODBC's numeric structure with the given scale; false
// when it does not fit 128 bits. `fractionCut` says digits beyond the scale were dropped.
bool textToNumeric(std::string_view text, SQLSCHAR scale, SQL_NUMERIC_STRUCT& out, bool& fractionCut);
std::string numericToText(const SQL_NUMERIC_STRUCT& n);

}  // namespace odbc
