// Result sets over SQLite statements and over rows held in memory.
#include "odbc/result.h"

#include <sqlite3.h>

#include "jet/database.h"
#include "odbc/diagnostics.h"

namespace odbc {

Cell RowsResult::type(int c) const {
  const Value& v = rows_[at_][c];
  switch (v.index()) {
    case 0: return Cell::Null;
    case 1: return Cell::Integer;
    case 2: return Cell::Real;
    default: return Cell::Text;
  }
}

int64_t RowsResult::integer(int c) const {
  const Value& v = rows_[at_][c];
  if (auto* i = std::get_if<int64_t>(&v)) return *i;
  if (auto* d = std::get_if<double>(&v)) return static_cast<int64_t>(*d);
  return 0;
}

double RowsResult::real(int c) const {
  const Value& v = rows_[at_][c];
  if (auto* d = std::get_if<double>(&v)) return *d;
  if (auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
  return 0;
}

std::string_view RowsResult::text(int c) const {
  const Value& v = rows_[at_][c];
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  return {};
}

SqliteResult::SqliteResult(sqlite3_stmt* stmt, std::vector<ColumnDesc> columns, bool hasRow,
                           std::unique_ptr<jet::ReadOperation> reading)
    : stmt_(stmt), primed_(hasRow), ended_(!hasRow), reading_(hasRow ? std::move(reading) : nullptr) {
  columns_ = std::move(columns);
}

SqliteResult::~SqliteResult() = default;

bool SqliteResult::next() {
  if (primed_) {
    primed_ = false;
    return true;
  }
  if (ended_) return false;
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  ended_ = true;
  reading_.reset();  // the last row is read: other programs may write again
  if (rc == SQLITE_DONE) return false;
  throw sqliteFailure(rc, sqlite3_errmsg(sqlite3_db_handle(stmt_)));
}

Cell SqliteResult::type(int c) const {
  switch (sqlite3_column_type(stmt_, c)) {
    case SQLITE_INTEGER: return Cell::Integer;
    case SQLITE_FLOAT: return Cell::Real;
    case SQLITE_TEXT: return Cell::Text;
    case SQLITE_BLOB: return Cell::Blob;
    default: return Cell::Null;
  }
}

int64_t SqliteResult::integer(int c) const { return sqlite3_column_int64(stmt_, c); }
double SqliteResult::real(int c) const { return sqlite3_column_double(stmt_, c); }

std::string_view SqliteResult::text(int c) const {
  if (sqlite3_column_type(stmt_, c) == SQLITE_BLOB) {
    const void* p = sqlite3_column_blob(stmt_, c);
    return {static_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(stmt_, c))};
  }
  const unsigned char* p = sqlite3_column_text(stmt_, c);
  return {reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(stmt_, c))};
}

ColumnDesc catalogColumn(const char* name, SQLSMALLINT sqlType, SQLSMALLINT nullable) {
  ColumnDesc d;
  d.label = name;
  d.sqlType = sqlType;
  d.nullable = nullable;
  switch (sqlType) {
    case SQL_SMALLINT: d.size = 5; d.typeName = "SMALLINT"; break;
    case SQL_INTEGER: d.size = 10; d.typeName = "INTEGER"; break;
    default: d.size = 128; d.typeName = "VARCHAR"; break;
  }
  return d;
}

}  // namespace odbc
