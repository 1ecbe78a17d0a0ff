// SQL types of table columns, declared columns and computed values.
#include "odbc/types.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace odbc {

namespace {
constexpr SQLULEN kLongSize = 1073741823;  // Memo and OLE: the largest long value

void set(ColumnDesc& d, SQLSMALLINT type, SQLULEN size, SQLSMALLINT digits, const char* name) {
  d.sqlType = type;
  d.size = size;
  d.digits = digits;
  d.typeName = name;
}
}  // namespace

ColumnDesc describeColumn(const jet::ColumnInfo& c, jet::Format format) {
  using jet::ColumnType;
  ColumnDesc d;
  d.label = c.name;
  d.baseColumn = c.name;
  d.nullable = (c.required || !c.nullable || c.autoNumber) ? SQL_NO_NULLS : SQL_NULLABLE;
  switch (c.type) {
    case ColumnType::Boolean:
      set(d, SQL_BIT, 1, 0, "BIT");
      d.nullable = SQL_NO_NULLS;
      break;
    case ColumnType::Byte:
      set(d, SQL_TINYINT, 3, 0, "BYTE");
      d.isUnsigned = true;
      break;
    case ColumnType::Integer: set(d, SQL_SMALLINT, 5, 0, "SMALLINT"); break;
    case ColumnType::Long:
      set(d, SQL_INTEGER, 10, 0, c.autoNumber ? "COUNTER" : "INTEGER");
      d.autoIncrement = c.autoNumber;
      break;
    case ColumnType::BigInt: set(d, SQL_BIGINT, 19, 0, "BIGINT"); break;
    case ColumnType::Currency: set(d, SQL_DECIMAL, 19, 4, "CURRENCY"); break;
    case ColumnType::Numeric:
      set(d, SQL_NUMERIC, c.precision ? c.precision : 18, c.scale, "DECIMAL");
      break;
    case ColumnType::Single: set(d, SQL_REAL, 7, 0, "REAL"); break;
    case ColumnType::Double: set(d, SQL_DOUBLE, 15, 0, "DOUBLE"); break;
    case ColumnType::DateTime: set(d, SQL_TYPE_TIMESTAMP, 19, 0, "DATETIME"); break;
    case ColumnType::DateTimeExtended: set(d, SQL_TYPE_TIMESTAMP, 27, 7, "DATETIME2"); break;
    case ColumnType::Text: {
      const SQLULEN chars = format == jet::Format::Jet4Layout ? c.length / 2 : c.length;
      set(d, SQL_WVARCHAR, chars ? chars : 255, 0, "VARCHAR");
      break;
    }
    case ColumnType::Memo: set(d, SQL_WLONGVARCHAR, kLongSize, 0, "LONGCHAR"); break;
    case ColumnType::Complex: set(d, SQL_WLONGVARCHAR, kLongSize, 0, "LONGCHAR"); break;
    case ColumnType::Ole: set(d, SQL_LONGVARBINARY, kLongSize, 0, "LONGBINARY"); break;
    case ColumnType::Binary: set(d, SQL_VARBINARY, c.length ? c.length : 510, 0, "VARBINARY"); break;
    case ColumnType::Guid: set(d, SQL_GUID, 36, 0, "GUID"); break;
  }
  if (c.type == ColumnType::Ole || c.type == ColumnType::Memo || c.type == ColumnType::Complex) d.searchable = false;
  return d;
}

bool describeDeclared(const char* declared, ColumnDesc& d) {
  if (!declared) return false;
  struct Word {
    const char* word;
    SQLSMALLINT type;
    SQLULEN size;
    SQLSMALLINT digits;
    const char* name;
  };
  static const Word words[] = {
      {"INTEGER", SQL_BIGINT, 19, 0, "BIGINT"},     {"REAL", SQL_DOUBLE, 15, 0, "DOUBLE"},
      {"TEXT", SQL_WVARCHAR, 255, 0, "VARCHAR"},    {"BLOB", SQL_LONGVARBINARY, kLongSize, 0, "LONGBINARY"},
      {"BOOLEAN", SQL_BIT, 1, 0, "BIT"},            {"DATETIME", SQL_TYPE_TIMESTAMP, 19, 0, "DATETIME"},
      {"CURRENCY", SQL_DECIMAL, 19, 4, "CURRENCY"}, {"DECIMAL", SQL_NUMERIC, 28, 10, "DECIMAL"},
      {"GUID", SQL_GUID, 36, 0, "GUID"},            {"JSON", SQL_WLONGVARCHAR, kLongSize, 0, "LONGCHAR"},
  };
  for (const Word& w : words)
    if (strcasecmp(declared, w.word) == 0) {
      set(d, w.type, w.size, w.digits, w.name);
      return true;
    }
  return false;
}

void describeValue(Cell cell, ColumnDesc& d) {
  switch (cell) {
    case Cell::Integer: set(d, SQL_BIGINT, 19, 0, "BIGINT"); break;
    case Cell::Real: set(d, SQL_DOUBLE, 15, 0, "DOUBLE"); break;
    case Cell::Blob: set(d, SQL_LONGVARBINARY, kLongSize, 0, "LONGBINARY"); break;
    default: set(d, SQL_WVARCHAR, 255, 0, "VARCHAR"); break;
  }
}

SQLLEN octetLength(const ColumnDesc& d) {
  switch (d.sqlType) {
    case SQL_BIT:
    case SQL_TINYINT: return 1;
    case SQL_SMALLINT: return 2;
    case SQL_INTEGER: return 4;
    case SQL_BIGINT: return 8;
    case SQL_REAL: return 4;
    case SQL_DOUBLE: return 8;
    case SQL_DECIMAL:
    case SQL_NUMERIC: return static_cast<SQLLEN>(d.size) + 2;
    case SQL_TYPE_TIMESTAMP: return sizeof(SQL_TIMESTAMP_STRUCT);
    case SQL_GUID: return 16;
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_WCHAR: return d.size >= kLongSize ? static_cast<SQLLEN>(kLongSize) : static_cast<SQLLEN>(d.size * 2);
    default: return static_cast<SQLLEN>(d.size);
  }
}

SQLLEN displaySize(const ColumnDesc& d) {
  switch (d.sqlType) {
    case SQL_BIT: return 1;
    case SQL_TINYINT: return 3;
    case SQL_SMALLINT: return 6;
    case SQL_INTEGER: return 11;
    case SQL_BIGINT: return 20;
    case SQL_REAL: return 14;
    case SQL_DOUBLE: return 24;
    case SQL_DECIMAL:
    case SQL_NUMERIC: return static_cast<SQLLEN>(d.size) + 2;
    case SQL_TYPE_TIMESTAMP: return d.digits ? 20 + d.digits : 19;
    case SQL_GUID: return 38;
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return d.size >= kLongSize ? static_cast<SQLLEN>(kLongSize) : static_cast<SQLLEN>(d.size * 2);
    default: return static_cast<SQLLEN>(d.size);
  }
}

SQLSMALLINT defaultCType(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_BIT: return SQL_C_BIT;
    case SQL_TINYINT: return SQL_C_UTINYINT;
    case SQL_SMALLINT: return SQL_C_SSHORT;
    case SQL_INTEGER: return SQL_C_SLONG;
    case SQL_BIGINT: return SQL_C_SBIGINT;
    case SQL_REAL: return SQL_C_FLOAT;
    case SQL_DOUBLE:
    case SQL_FLOAT: return SQL_C_DOUBLE;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: return SQL_C_TYPE_TIMESTAMP;
    case SQL_TYPE_DATE: return SQL_C_TYPE_DATE;
    case SQL_TYPE_TIME: return SQL_C_TYPE_TIME;
    case SQL_GUID: return SQL_C_GUID;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return SQL_C_BINARY;
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR: return SQL_C_WCHAR;
    default: return SQL_C_CHAR;
  }
}

SQLSMALLINT concise(SQLSMALLINT t, bool odbc2) {
  if (odbc2) {
    switch (t) {
      case SQL_TYPE_TIMESTAMP: return SQL_TIMESTAMP;
      case SQL_TYPE_DATE: return SQL_DATE;
      case SQL_TYPE_TIME: return SQL_TIME;
      default: return t;
    }
  }
  switch (t) {
    case SQL_TIMESTAMP: return SQL_TYPE_TIMESTAMP;
    case SQL_DATE: return SQL_TYPE_DATE;
    case SQL_TIME: return SQL_TYPE_TIME;
    default: return t;
  }
}

const std::vector<TypeInfo>& typeInfos() {
  static const std::vector<TypeInfo> types = [] {
    std::vector<TypeInfo> t = {
        {"GUID", SQL_GUID, 36, "'", "'", nullptr, 0, SQL_PRED_BASIC, -1, 0, -1, -1, -1, 0},
        {"BIT", SQL_BIT, 1, nullptr, nullptr, nullptr, 0, SQL_PRED_BASIC, -1, 0, -1, 0, 0, 0},
        {"BYTE", SQL_TINYINT, 3, nullptr, nullptr, nullptr, 0, SQL_SEARCHABLE, 1, 0, 0, 0, 0, 10},
        {"BIGINT", SQL_BIGINT, 19, nullptr, nullptr, nullptr, 0, SQL_SEARCHABLE, 0, 0, 0, 0, 0, 10},
        {"LONGBINARY", SQL_LONGVARBINARY, 1073741823, "X'", "'", nullptr, 0, SQL_PRED_NONE, -1, 0, -1, -1, -1, 0},
        {"VARBINARY", SQL_VARBINARY, 510, "X'", "'", "max length", 0, SQL_PRED_BASIC, -1, 0, -1, -1, -1, 0},
        {"DECIMAL", SQL_NUMERIC, 28, nullptr, nullptr, "precision,scale", 0, SQL_SEARCHABLE, 0, 0, 0, 0, 28, 10},
        {"CURRENCY", SQL_DECIMAL, 19, nullptr, nullptr, nullptr, 0, SQL_SEARCHABLE, 0, 1, 0, 4, 4, 10},
        {"COUNTER", SQL_INTEGER, 10, nullptr, nullptr, nullptr, 0, SQL_SEARCHABLE, 0, 0, 1, 0, 0, 10},
        {"INTEGER", SQL_INTEGER, 10, nullptr, nullptr, nullptr, 0, SQL_SEARCHABLE, 0, 0, 0, 0, 0, 10},
        {"SMALLINT", SQL_SMALLINT, 5, nullptr, nullptr, nullptr, 0, SQL_SEARCHABLE, 0, 0, 0, 0, 0, 10},
        {"REAL", SQL_REAL, 7, nullptr, nullptr, nullptr, 0, SQL_SEARCHABLE, 0, 0, 0, -1, -1, 10},
        {"DOUBLE", SQL_DOUBLE, 15, nullptr, nullptr, nullptr, 0, SQL_SEARCHABLE, 0, 0, 0, -1, -1, 10},
        {"DATETIME", SQL_TYPE_TIMESTAMP, 19, "'", "'", nullptr, 0, SQL_SEARCHABLE, -1, 0, -1, 0, 0, 0},
        {"VARCHAR", SQL_WVARCHAR, 255, "'", "'", "max length", 0, SQL_SEARCHABLE, -1, 0, -1, -1, -1, 0},
        {"LONGCHAR", SQL_WLONGVARCHAR, 1073741823, "'", "'", nullptr, 0, SQL_PRED_CHAR, -1, 0, -1, -1, -1, 0},
    };
    std::stable_sort(t.begin(), t.end(), [](const TypeInfo& a, const TypeInfo& b) { return a.sqlType < b.sqlType; });
    return t;
  }();
  return types;
}

}  // namespace odbc
