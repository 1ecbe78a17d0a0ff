// Values crossing between the engine and SQLite: how each column type reads in SQL, and how an
// SQL value becomes a value of a column for writing.
#pragma once

#include <string>

#include "jet/base/schema.h"
#include "jet/base/value.h"

struct sqlite3_context;
struct sqlite3_value;

namespace sql {

// The declared type of a column in SQL: INTEGER, REAL, TEXT, BLOB, BOOLEAN, DATETIME, CURRENCY,
// DECIMAL, GUID or JSON. Each names the affinity SQLite gives the column (BOOLEAN and CURRENCY
// numeric, DATETIME, GUID and JSON text... by SQLite's rules on the words they contain).
const char* declaredType(const jet::ColumnInfo& column);

// Sets the result of an SQL function or a virtual table's column: integers and reals as such,
// Currency and Decimal as REAL, Yes/No as 1/0, dates as 'YYYY-MM-DD HH:MM:SS' text (with
// ".mmm" when the time has milliseconds), text as text, GUIDs as '{...}' text, binary as BLOB.
void setResult(sqlite3_context* ctx, const jet::Value& v);

// The text SQL gives a date (what setResult writes).
std::string dateSqlText(double oleDays);

// The value an SQL value gives a column: numbers, text and blobs convert as SQLite's own
// conversions would into the column's type (a date from its text, or from a number of days as
// Access counts them). Throws jet::Error 3421 when it does not convert.
jet::Value columnValue(const jet::ColumnInfo& column, sqlite3_value* v);

// An SQL value as an engine value without a column to fit (for index keys): NULL, an integer,
// a real, text or bytes.
jet::Value plainValue(sqlite3_value* v);

}  // namespace sql
