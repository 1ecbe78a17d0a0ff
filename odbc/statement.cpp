// Preparing, binding, executing and fetching.
#include "odbc/statement.h"

#include <sqlite3.h>

#include <cstring>

#include "jet/database.h"
#include "odbc/convert.h"
#include "odbc/text.h"
#include "odbc/types.h"
#include "sql/connection.h"

namespace odbc {

Stmt::~Stmt() { reset(); }

void Stmt::closeCursor() {
  result.reset();
  piece = PieceState{};
  rowsFetched = 0;
  if (stmt) sqlite3_reset(stmt);
}

void Stmt::reset() {
  closeCursor();
  if (stmt) sqlite3_finalize(stmt);
  stmt = nullptr;
  prepared = false;
  preparedColumns.clear();
  preparedDescribed = false;
  rowCount = -1;
  sql.clear();
  next = 0;
  paramBase = 0;
  advanced = false;
  needData = false;
  daeReady = false;
}

namespace {

// Compiles the next statement of the text after `s.next`; false when only blanks and comments
// are left.
bool compileNext(Stmt& s) {
  sqlite3* db = s.dbc->conn->handle();
  while (s.next < s.sql.size()) {
    const char* start = s.sql.data() + s.next;
    const char* tail = nullptr;
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v3(db, start, static_cast<int>(s.sql.size() - s.next), SQLITE_PREPARE_PERSISTENT,
                                      &stmt, &tail);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(stmt);
      throw sqliteFailure(rc, sqlite3_errmsg(db), true);
    }
    s.next = tail ? static_cast<size_t>(tail - s.sql.data()) : s.sql.size();
    if (stmt) {
      s.stmt = stmt;
      return true;
    }
  }
  return false;
}

template <typename T>
T* at(SQLPOINTER base, SQLLEN offset) {
  return base ? reinterpret_cast<T*>(static_cast<char*>(base) + offset) : nullptr;
}

bool isCharType(SQLSMALLINT t) {
  return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_WCHAR || t == SQL_WVARCHAR ||
         t == SQL_WLONGVARCHAR;
}

// Text given for a numeric parameter is bound as the number it spells, so that it compares and
// stores as one.
int bindText(sqlite3_stmt* stmt, int i, std::string text, SQLSMALLINT sqlType) {
  if (!isCharType(sqlType) && sqlType != SQL_TYPE_TIMESTAMP && sqlType != SQL_GUID && !text.empty()) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end == '\0' && errno == 0 && sqlType != SQL_DOUBLE && sqlType != SQL_REAL && sqlType != SQL_FLOAT)
      return sqlite3_bind_int64(stmt, i, v);
    const double d = std::strtod(text.c_str(), &end);
    if (*end == '\0') return sqlite3_bind_double(stmt, i, d);
  }
  return sqlite3_bind_text64(stmt, i, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

// The length of a character or binary parameter value.
size_t valueLength(const Param& p, const void* value, const SQLLEN* ind, bool wide) {
  SQLLEN n = ind ? *ind : SQL_NTS;
  if (n == SQL_NTS) {
    if (wide) {
      size_t k = 0;
      while (static_cast<const SQLWCHAR*>(value)[k]) ++k;
      return k * sizeof(SQLWCHAR);
    }
    return std::strlen(static_cast<const char*>(value));
  }
  return n < 0 ? 0 : static_cast<size_t>(n);
}

int bindOne(Stmt& s, sqlite3_stmt* stmt, int i, size_t index) {
  const Param& p = s.params[index];
  const SQLLEN offset = s.paramBindOffsetPtr ? *s.paramBindOffsetPtr : 0;
  const void* value = at<const void>(p.value, offset);
  const SQLLEN* ind = at<SQLLEN>(p.indicator, offset);
  SQLSMALLINT cType = p.cType == SQL_C_DEFAULT ? defaultCType(p.sqlType) : p.cType;

  std::string collected;
  if (s.daeReady && index < s.daeData.size() && ind && (*ind == SQL_DATA_AT_EXEC || *ind <= SQL_LEN_DATA_AT_EXEC_OFFSET)) {
    if (s.daeNull[index]) return sqlite3_bind_null(stmt, i);
    collected = s.daeData[index];
    value = collected.data();
    if (cType == SQL_C_WCHAR) {
      std::u16string w(collected.size() / 2, u'\0');
      std::memcpy(w.data(), collected.data(), w.size() * 2);
      return bindText(stmt, i, toUtf8(w), p.sqlType);
    }
    if (cType == SQL_C_BINARY) return sqlite3_bind_blob64(stmt, i, collected.data(), collected.size(), SQLITE_TRANSIENT);
    return bindText(stmt, i, collected, p.sqlType);
  }
  if (ind && *ind == SQL_NULL_DATA) return sqlite3_bind_null(stmt, i);
  if (!value) return sqlite3_bind_null(stmt, i);

  switch (cType) {
    case SQL_C_CHAR:
      return bindText(stmt, i, std::string(static_cast<const char*>(value), valueLength(p, value, ind, false)), p.sqlType);
    case SQL_C_WCHAR: {
      const size_t bytes = valueLength(p, value, ind, true);
      return bindText(stmt, i,
                      toUtf8(std::u16string_view(static_cast<const char16_t*>(value), bytes / sizeof(SQLWCHAR))),
                      p.sqlType);
    }
    case SQL_C_BINARY: {
      const size_t n = ind ? valueLength(p, value, ind, false) : static_cast<size_t>(std::max<SQLLEN>(p.bufferLength, 0));
      return sqlite3_bind_blob64(stmt, i, value, n, SQLITE_TRANSIENT);
    }
    case SQL_C_BIT: return sqlite3_bind_int(stmt, i, *static_cast<const unsigned char*>(value) ? 1 : 0);
    case SQL_C_STINYINT:
    case SQL_C_TINYINT: return sqlite3_bind_int(stmt, i, *static_cast<const signed char*>(value));
    case SQL_C_UTINYINT: return sqlite3_bind_int(stmt, i, *static_cast<const unsigned char*>(value));
    case SQL_C_SSHORT:
    case SQL_C_SHORT: return sqlite3_bind_int(stmt, i, *static_cast<const int16_t*>(value));
    case SQL_C_USHORT: return sqlite3_bind_int(stmt, i, *static_cast<const uint16_t*>(value));
    case SQL_C_SLONG:
    case SQL_C_LONG: return sqlite3_bind_int64(stmt, i, *static_cast<const int32_t*>(value));
    case SQL_C_ULONG: return sqlite3_bind_int64(stmt, i, *static_cast<const uint32_t*>(value));
    case SQL_C_SBIGINT: return sqlite3_bind_int64(stmt, i, *static_cast<const int64_t*>(value));
    case SQL_C_UBIGINT: {
      const uint64_t v = *static_cast<const uint64_t*>(value);
      if (v > static_cast<uint64_t>(INT64_MAX)) return sqlite3_bind_double(stmt, i, static_cast<double>(v));
      return sqlite3_bind_int64(stmt, i, static_cast<int64_t>(v));
    }
    case SQL_C_FLOAT: return sqlite3_bind_double(stmt, i, *static_cast<const float*>(value));
    case SQL_C_DOUBLE: return sqlite3_bind_double(stmt, i, *static_cast<const double*>(value));
    case SQL_C_NUMERIC: {
      const auto& n = *static_cast<const SQL_NUMERIC_STRUCT*>(value);
      const std::string text = numericToText(n);
      if (isCharType(p.sqlType)) return bindText(stmt, i, text, p.sqlType);
      if (n.scale <= 0) return bindText(stmt, i, text, SQL_BIGINT);
      return sqlite3_bind_double(stmt, i, std::strtod(text.c_str(), nullptr));
    }
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP:
      return bindText(stmt, i, timestampText(*static_cast<const SQL_TIMESTAMP_STRUCT*>(value)), SQL_TYPE_TIMESTAMP);
    case SQL_C_TYPE_DATE:
    case SQL_C_DATE: {
      const auto& d = *static_cast<const SQL_DATE_STRUCT*>(value);
      SQL_TIMESTAMP_STRUCT ts{d.year, d.month, d.day, 0, 0, 0, 0};
      return bindText(stmt, i, timestampText(ts), SQL_TYPE_TIMESTAMP);
    }
    case SQL_C_TYPE_TIME:
    case SQL_C_TIME: {
      const auto& t = *static_cast<const SQL_TIME_STRUCT*>(value);
      SQL_TIMESTAMP_STRUCT ts{1899, 12, 30, t.hour, t.minute, t.second, 0};
      return bindText(stmt, i, timestampText(ts), SQL_TYPE_TIMESTAMP);
    }
    case SQL_C_GUID: return bindText(stmt, i, guidText(*static_cast<const SQLGUID*>(value)), SQL_GUID);
    default:
      throw Failure("HYC00", "Optional feature not implemented (parameter C type " + std::to_string(cType) + ")");
  }
}

// Binds the statement's parameters; false (and the list of them) when some have their data
// at execution and it has not come yet.
bool bindParams(Stmt& s) {
  const int count = sqlite3_bind_parameter_count(s.stmt);
  sqlite3_clear_bindings(s.stmt);
  if (!s.daeReady) {
    s.daeParams.clear();
    const SQLLEN offset = s.paramBindOffsetPtr ? *s.paramBindOffsetPtr : 0;
    for (int i = 1; i <= count; ++i) {
      const size_t index = s.paramBase + static_cast<size_t>(i) - 1;
      if (index >= s.params.size() || !s.params[index].bound) continue;
      const SQLLEN* ind = at<SQLLEN>(s.params[index].indicator, offset);
      if (ind && (*ind == SQL_DATA_AT_EXEC || *ind <= SQL_LEN_DATA_AT_EXEC_OFFSET)) s.daeParams.push_back(index);
    }
    if (!s.daeParams.empty()) {
      s.daeData.assign(s.params.size(), {});
      s.daeNull.assign(s.params.size(), false);
      s.daeNext = 0;
      s.needData = true;
      return false;
    }
  }
  for (int i = 1; i <= count; ++i) {
    const size_t index = s.paramBase + static_cast<size_t>(i) - 1;
    if (index >= s.params.size() || !s.params[index].bound)
      throw Failure("07002", "COUNT field incorrect: parameter " + std::to_string(index + 1) + " is not bound");
    const int rc = bindOne(s, s.stmt, i, index);
    if (rc != SQLITE_OK) throw sqliteFailure(rc, sqlite3_errmsg(s.dbc->conn->handle()));
  }
  return true;
}

}  // namespace

std::vector<ColumnDesc> describe(sql::Connection& conn, sqlite3_stmt* stmt, bool hasRow) {
  const jet::Format format = conn.database().format();
  const int n = sqlite3_column_count(stmt);
  std::vector<ColumnDesc> out(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    ColumnDesc& d = out[static_cast<size_t>(i)];
    const char* label = sqlite3_column_name(stmt, i);
    const char* table = sqlite3_column_table_name(stmt, i);
    const char* origin = sqlite3_column_origin_name(stmt, i);
    bool known = false;
    if (table && origin) {
      try {
        const jet::TableInfo& info = conn.table(table);
        for (const jet::ColumnInfo& c : info.columns)
          if (sameName(c.name, origin)) {
            d = describeColumn(c, format);
            d.baseTable = info.name;
            known = true;
            break;
          }
      } catch (const jet::Error&) {
        // not a table of the file (a temporary table of the connection): described below
      }
    }
    if (!known && !describeDeclared(sqlite3_column_decltype(stmt, i), d)) {
      describeValue(hasRow ? SqliteResult(stmt, {}, true).type(i) : Cell::Null, d);
      d.nullable = SQL_NULLABLE_UNKNOWN;
    }
    d.label = label ? label : "";
    if (d.baseColumn.empty() && origin) d.baseColumn = origin;
  }
  return out;
}

namespace {

// Steps the compiled statement once and keeps its result or row count.
SQLRETURN run(Stmt& s) {
  sqlite3* db = s.dbc->conn->handle();
  if (!s.dbc->autocommit && !s.dbc->conn->inTransaction() && !sqlite3_stmt_readonly(s.stmt)) s.dbc->conn->begin();
  if (!bindParams(s)) return SQL_NEED_DATA;
  s.daeReady = false;
  const sqlite3_int64 before = sqlite3_total_changes64(db);
  s.cancelled = false;
  // A query reads one committed state of the file, from its first row to its last: the read
  // operation is held while the program fetches (other programs' writes wait meanwhile, up to
  // their busy timeout) and ends with the last row or when the cursor is closed.
  auto reading = sqlite3_column_count(s.stmt) > 0 && sqlite3_stmt_readonly(s.stmt)
                     ? s.dbc->conn->database().readOperation()
                     : nullptr;
  s.executing = true;
  const int rc = sqlite3_step(s.stmt);
  s.executing = false;
  s.rowCount = -1;
  if (rc == SQLITE_ROW || (rc == SQLITE_DONE && sqlite3_column_count(s.stmt) > 0)) {
    s.result = std::make_unique<SqliteResult>(s.stmt, describe(*s.dbc->conn, s.stmt, rc == SQLITE_ROW), rc == SQLITE_ROW,
                                              std::move(reading));
  } else if (rc == SQLITE_DONE) {
    if (!sqlite3_stmt_readonly(s.stmt)) s.rowCount = static_cast<SQLLEN>(sqlite3_total_changes64(db) - before);
    sqlite3_reset(s.stmt);
  } else {
    const std::string message = sqlite3_errmsg(db);
    sqlite3_reset(s.stmt);
    if (s.cancelled || rc == SQLITE_INTERRUPT) throw Failure("HY008", "Operation canceled");
    throw sqliteFailure(rc, message.c_str());
  }
  s.diag.rowCount_ = s.rowCount;
  return SQL_SUCCESS;
}

}  // namespace

void prepare(Stmt& s, std::string text) {
  s.reset();
  s.sql = std::move(text);
  if (!compileNext(s)) throw Failure("42000", "The statement text holds no statement");
  s.prepared = true;
}

SQLRETURN execute(Stmt& s) {
  if (!s.prepared) throw Failure("HY010", "Function sequence error: no statement prepared");
  if (s.paramsetSize != 1) throw Failure("HYC00", "Optional feature not implemented: arrays of parameters");
  s.closeCursor();
  if (s.advanced || !s.stmt) {
    // A text of several statements runs again from its first.
    std::string text = std::move(s.sql);
    prepare(s, std::move(text));
  }
  if (s.paramsProcessedPtr) *s.paramsProcessedPtr = 1;
  const SQLRETURN rc = run(s);
  if (s.paramStatusPtr && rc != SQL_NEED_DATA) s.paramStatusPtr[0] = SQL_PARAM_SUCCESS;
  return rc;
}

SQLRETURN moreResults(Stmt& s) {
  if (!s.stmt) return SQL_NO_DATA;
  s.closeCursor();
  const size_t used = static_cast<size_t>(sqlite3_bind_parameter_count(s.stmt));
  sqlite3_finalize(s.stmt);
  s.stmt = nullptr;
  s.advanced = true;
  if (!compileNext(s)) return SQL_NO_DATA;
  s.paramBase += used;
  return run(s);
}

SQLRETURN paramData(Stmt& s, SQLPOINTER* token) {
  if (!s.needData) throw Failure("HY010", "Function sequence error");
  if (s.daeNext < s.daeParams.size()) {
    const Param& p = s.params[s.daeParams[s.daeNext++]];
    if (token) *token = p.value;
    return SQL_NEED_DATA;
  }
  s.needData = false;
  s.daeReady = true;
  return run(s);
}

SQLRETURN putData(Stmt& s, SQLPOINTER data, SQLLEN length) {
  if (!s.needData || s.daeNext == 0) throw Failure("HY010", "Function sequence error");
  const size_t index = s.daeParams[s.daeNext - 1];
  if (length == SQL_NULL_DATA) {
    s.daeNull[index] = true;
    return SQL_SUCCESS;
  }
  const Param& p = s.params[index];
  const SQLSMALLINT cType = p.cType == SQL_C_DEFAULT ? defaultCType(p.sqlType) : p.cType;
  if (cType != SQL_C_CHAR && cType != SQL_C_WCHAR && cType != SQL_C_BINARY) {
    // A fixed-size value: bound as its text.
    Param copy = p;
    copy.value = data;
    copy.indicator = nullptr;
    sqlite3* db = s.dbc->conn->handle();
    sqlite3_stmt* probe = nullptr;
    sqlite3_prepare_v2(db, "SELECT ?", -1, &probe, nullptr);
    Stmt tmp;
    tmp.dbc = s.dbc;
    tmp.params = {copy};
    tmp.params[0].bound = true;
    bindOne(tmp, probe, 1, 0);
    sqlite3_step(probe);
    const unsigned char* t = sqlite3_column_text(probe, 0);
    s.daeData[index] = t ? reinterpret_cast<const char*>(t) : "";
    sqlite3_finalize(probe);
    return SQL_SUCCESS;
  }
  size_t n;
  if (length == SQL_NTS)
    n = cType == SQL_C_WCHAR ? valueLength(p, data, nullptr, true) : std::strlen(static_cast<const char*>(data));
  else
    n = length < 0 ? 0 : static_cast<size_t>(length);
  s.daeData[index].append(static_cast<const char*>(data), n);
  return SQL_SUCCESS;
}

void setResult(Stmt& s, std::unique_ptr<Result> result) {
  s.reset();
  s.result = std::move(result);
}

SQLSMALLINT paramCount(const Stmt& s) {
  return s.stmt ? static_cast<SQLSMALLINT>(sqlite3_bind_parameter_count(s.stmt)) : 0;
}

SQLRETURN fetch(Stmt& s) {
  if (!s.result) throw Failure("24000", "Invalid cursor state");
  Result& r = *s.result;
  const SQLLEN offset = s.rowBindOffsetPtr ? *s.rowBindOffsetPtr : 0;
  SQLRETURN overall = SQL_SUCCESS;
  SQLULEN got = 0;
  for (SQLULEN row = 0; row < s.rowArraySize; ++row) {
    if (s.maxRows && s.rowsFetched >= s.maxRows) break;
    s.executing = true;
    bool has;
    try {
      has = r.next();
    } catch (...) {
      s.executing = false;
      if (s.cancelled) throw Failure("HY008", "Operation canceled");
      throw;
    }
    s.executing = false;
    if (!has) break;
    ++s.rowsFetched;
    ++got;
    s.piece = PieceState{};
    SQLRETURN rowRc = SQL_SUCCESS;
    for (size_t c = 0; c < s.cols.size() && c < r.columns().size(); ++c) {
      const BoundCol& b = s.cols[c];
      if (!b.cType) continue;
      SQLLEN shift = offset;
      SQLLEN indShift = offset;
      if (s.rowBindType == SQL_BIND_BY_COLUMN) {
        shift += static_cast<SQLLEN>(row) * b.bufferLength;
        indShift += static_cast<SQLLEN>(row * sizeof(SQLLEN));
      } else {
        shift += static_cast<SQLLEN>(row * s.rowBindType);
        indShift = shift;
      }
      const SQLRETURN rc = getCell(r, static_cast<int>(c), b.cType, at<void>(b.value, shift), b.bufferLength,
                                   at<SQLLEN>(b.indicator, indShift), at<SQLLEN>(b.indicator, indShift), nullptr, s.diag);
      if (rc == SQL_ERROR) rowRc = SQL_ERROR;
      else if (rc == SQL_SUCCESS_WITH_INFO && rowRc == SQL_SUCCESS) rowRc = SQL_SUCCESS_WITH_INFO;
    }
    if (s.rowStatusPtr) s.rowStatusPtr[row] = rowRc == SQL_ERROR ? SQL_ROW_ERROR : rowRc == SQL_SUCCESS ? SQL_ROW_SUCCESS : SQL_ROW_SUCCESS_WITH_INFO;
    if (rowRc != SQL_SUCCESS) overall = s.rowArraySize == 1 ? rowRc : SQL_SUCCESS_WITH_INFO;
  }
  if (s.rowsFetchedPtr) *s.rowsFetchedPtr = got;
  if (s.rowStatusPtr)
    for (SQLULEN row = got; row < s.rowArraySize; ++row) s.rowStatusPtr[row] = SQL_ROW_NOROW;
  return got == 0 ? SQL_NO_DATA : overall;
}

SQLRETURN getData(Stmt& s, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufferLength,
                  SQLLEN* indicator) {
  if (!s.result || s.rowsFetched == 0) throw Failure("24000", "Invalid cursor state");
  if (column == 0) throw Failure("07009", "Invalid descriptor index: bookmarks are not supported");
  if (column > s.result->columns().size()) throw Failure("07009", "Invalid descriptor index");
  return getCell(*s.result, column - 1, cType, target, bufferLength, indicator, indicator, &s.piece, s.diag);
}

}  // namespace odbc
