// The SQL types the driver reports: for a column of an Access table (from its definition), for a
// column SQLite declares, and for a computed value (from the kind of value it holds); the type
// information of SQLGetTypeInfo; and the sizes ODBC derives from a type.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <vector>

#include "jet/base/schema.h"
#include "odbc/result.h"

namespace odbc {

// The description of a table column of the given format (Jet 3 text is one byte per character).
ColumnDesc describeColumn(const jet::ColumnInfo& column, jet::Format format);
// The description for a type SQLite declares (the bridge's INTEGER, REAL, TEXT, BLOB, BOOLEAN,
// DATETIME, CURRENCY, DECIMAL, GUID, JSON); false for an unknown or missing declaration.
bool describeDeclared(const char* declared, ColumnDesc& desc);
// The description of a computed value of SQLite's kind (integer, real, text, blob; null as text).
void describeValue(Cell cell, ColumnDesc& desc);

// SQL_DESC_OCTET_LENGTH and SQL_DESC_DISPLAY_SIZE of a described column.
SQLLEN octetLength(const ColumnDesc& d);
SQLLEN displaySize(const ColumnDesc& d);
// The C type SQL_C_DEFAULT means for a SQL type.
SQLSMALLINT defaultCType(SQLSMALLINT sqlType);
// ODBC 2 date and time types as their ODBC 3 equivalents (and back when `odbc2`).
SQLSMALLINT concise(SQLSMALLINT sqlType, bool odbc2);

// One row of SQLGetTypeInfo.
struct TypeInfo {
  const char* name;
  SQLSMALLINT sqlType;
  SQLINTEGER size;
  const char* prefix;
  const char* suffix;
  const char* createParams;
  SQLSMALLINT caseSensitive;
  SQLSMALLINT searchable;
  SQLSMALLINT isUnsigned;  // -1: not applicable (Null)
  SQLSMALLINT fixedPrecScale;
  SQLSMALLINT autoUnique;  // -1: not applicable
  SQLSMALLINT minScale;    // -1: not applicable
  SQLSMALLINT maxScale;
  SQLSMALLINT radix;       // 0: not applicable
};
// Every type the driver offers, ordered by SQL type as SQLGetTypeInfo reports them.
const std::vector<TypeInfo>& typeInfos();

}  // namespace odbc
