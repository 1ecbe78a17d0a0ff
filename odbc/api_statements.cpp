// Entry points of statements: preparing and running them, parameters, fetching and describing
// results, statement attributes, cancelling.
#include <sqlite3.h>

#include "odbc/api.h"
#include "odbc/connect.h"
#include "odbc/statement.h"
#include "odbc/text.h"
#include "odbc/types.h"
#include "sql/connection.h"

using namespace odbc;

namespace {
Stmt* stmt(SQLHANDLE h) { return static_cast<Stmt*>(h); }

// The result columns: of the open result, or of the prepared statement before it runs.
const std::vector<ColumnDesc>* columnsOf(Stmt& s) {
  if (s.result) return &s.result->columns();
  if (s.prepared && s.stmt) {
    if (!s.preparedDescribed) {
      s.preparedColumns = describe(*s.dbc->conn, s.stmt, false);
      s.preparedDescribed = true;
    }
    return &s.preparedColumns;
  }
  return nullptr;
}

const ColumnDesc& columnOf(Stmt& s, SQLUSMALLINT column) {
  const std::vector<ColumnDesc>* cols = columnsOf(s);
  if (!cols) throw Failure("07005", "Prepared statement not a cursor-specification");
  if (column < 1 || column > cols->size()) throw Failure("07009", "Invalid descriptor index");
  return (*cols)[column - 1u];
}

SQLRETURN ok() { return SQL_SUCCESS; }
}  // namespace

namespace odbc {

SQLRETURN prepareText(Stmt* s, const std::string& text) {
  return guarded(s->diag, [&] {
    if (!s->dbc->conn) throw Failure("08003", "Connection not open");
    prepare(*s, s->noScan == SQL_NOSCAN_ON ? text : nativeSql(text));
    return ok();
  });
}

SQLRETURN execDirect(Stmt* s, const std::string& text) {
  return guarded(s->diag, [&] {
    if (!s->dbc->conn) throw Failure("08003", "Connection not open");
    prepare(*s, s->noScan == SQL_NOSCAN_ON ? text : nativeSql(text));
    return execute(*s);
  });
}

SQLRETURN describeCol(Stmt* s, SQLUSMALLINT column, void* name, SQLSMALLINT bufferLength, SQLSMALLINT* nameLength,
                      SQLSMALLINT* dataType, SQLULEN* columnSize, SQLSMALLINT* digits, SQLSMALLINT* nullable, bool wide) {
  return guarded(s->diag, [&]() -> SQLRETURN {
    const ColumnDesc& d = columnOf(*s, column);
    if (dataType) *dataType = concise(d.sqlType, s->dbc->odbc2());
    if (columnSize) *columnSize = d.size;
    if (digits) *digits = d.digits;
    if (nullable) *nullable = d.nullable;
    if (!textOut(d.label, name, bufferLength, wide, false, nameLength))
      return s->diag.add("01004", "String data, right truncated");
    return SQL_SUCCESS;
  });
}

SQLRETURN colAttribute(Stmt* s, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text, SQLSMALLINT bufferLength,
                       SQLSMALLINT* length, SQLLEN* number, bool wide) {
  return guarded(s->diag, [&]() -> SQLRETURN {
    auto str = [&](const std::string& v) -> SQLRETURN {
      if (!textOut(v, text, bufferLength, wide, true, length)) return s->diag.add("01004", "String data, right truncated");
      return SQL_SUCCESS;
    };
    auto num = [&](SQLLEN v) -> SQLRETURN {
      if (number) *number = v;
      return SQL_SUCCESS;
    };
    if (field == SQL_DESC_COUNT || field == SQL_COLUMN_COUNT) {
      const std::vector<ColumnDesc>* cols = columnsOf(*s);
      return num(cols ? static_cast<SQLLEN>(cols->size()) : 0);
    }
    const ColumnDesc& d = columnOf(*s, column);
    const bool decimal = d.sqlType == SQL_DECIMAL || d.sqlType == SQL_NUMERIC;
    const bool numeric = decimal || d.sqlType == SQL_TINYINT || d.sqlType == SQL_SMALLINT ||
                         d.sqlType == SQL_INTEGER || d.sqlType == SQL_BIGINT || d.sqlType == SQL_REAL ||
                         d.sqlType == SQL_DOUBLE;
    const bool chars = d.sqlType == SQL_WVARCHAR || d.sqlType == SQL_WLONGVARCHAR;
    switch (field) {
      case SQL_DESC_NAME:
      case SQL_DESC_LABEL:
      case SQL_COLUMN_NAME: return str(d.label);
      case SQL_DESC_BASE_COLUMN_NAME: return str(d.baseColumn);
      case SQL_DESC_BASE_TABLE_NAME:
      case SQL_DESC_TABLE_NAME: return str(d.baseTable);
      case SQL_DESC_CATALOG_NAME:
      case SQL_DESC_SCHEMA_NAME: return str("");
      case SQL_DESC_TYPE_NAME:
      case SQL_DESC_LOCAL_TYPE_NAME: return str(d.typeName);
      case SQL_DESC_LITERAL_PREFIX:
      case SQL_DESC_LITERAL_SUFFIX:
        return str(chars || d.sqlType == SQL_TYPE_TIMESTAMP || d.sqlType == SQL_GUID ? "'" : "");
      case SQL_DESC_CONCISE_TYPE: return num(concise(d.sqlType, s->dbc->odbc2()));
      case SQL_DESC_TYPE: return num(d.sqlType == SQL_TYPE_TIMESTAMP ? SQL_DATETIME : d.sqlType);
      case SQL_DESC_DATETIME_INTERVAL_CODE: return num(d.sqlType == SQL_TYPE_TIMESTAMP ? SQL_CODE_TIMESTAMP : 0);
      case SQL_DESC_LENGTH: return num(static_cast<SQLLEN>(d.size));
      case SQL_COLUMN_LENGTH:
      case SQL_DESC_OCTET_LENGTH: return num(octetLength(d));
      case SQL_DESC_PRECISION:
      case SQL_COLUMN_PRECISION:
        return num(d.sqlType == SQL_TYPE_TIMESTAMP ? d.digits : static_cast<SQLLEN>(d.size));
      case SQL_DESC_SCALE:
      case SQL_COLUMN_SCALE: return num(d.digits);
      case SQL_DESC_DISPLAY_SIZE: return num(displaySize(d));
      case SQL_DESC_NULLABLE:
      case SQL_COLUMN_NULLABLE: return num(d.nullable);
      case SQL_DESC_UNSIGNED: return num(numeric && !d.isUnsigned ? SQL_FALSE : SQL_TRUE);
      case SQL_DESC_AUTO_UNIQUE_VALUE: return num(d.autoIncrement ? SQL_TRUE : SQL_FALSE);
      case SQL_DESC_CASE_SENSITIVE: return num(SQL_FALSE);
      case SQL_DESC_SEARCHABLE: return num(d.searchable ? SQL_PRED_SEARCHABLE : SQL_PRED_CHAR);
      case SQL_DESC_UPDATABLE: return num(SQL_ATTR_READWRITE_UNKNOWN);
      case SQL_DESC_FIXED_PREC_SCALE: return num(d.typeName == "CURRENCY" ? SQL_TRUE : SQL_FALSE);
      case SQL_DESC_NUM_PREC_RADIX: return num(numeric ? 10 : 0);
      case SQL_DESC_UNNAMED: return num(d.label.empty() ? SQL_UNNAMED : SQL_NAMED);
      default: return s->diag.add("HY091", "Invalid descriptor field identifier " + std::to_string(field));
    }
  });
}

SQLRETURN getStmtAttr(Stmt* s, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER, SQLINTEGER* length) {
  return guarded(s->diag, [&]() -> SQLRETURN {
    auto out = [&](SQLULEN v) -> SQLRETURN {
      if (value) *static_cast<SQLULEN*>(value) = v;
      if (length) *length = sizeof(SQLULEN);
      return SQL_SUCCESS;
    };
    auto ptr = [&](const void* p) -> SQLRETURN {
      if (value) *static_cast<const void**>(value) = p;
      if (length) *length = sizeof(void*);
      return SQL_SUCCESS;
    };
    switch (attribute) {
      case SQL_ATTR_APP_ROW_DESC: return ptr(&s->descs[0]);
      case SQL_ATTR_APP_PARAM_DESC: return ptr(&s->descs[1]);
      case SQL_ATTR_IMP_ROW_DESC: return ptr(&s->descs[2]);
      case SQL_ATTR_IMP_PARAM_DESC: return ptr(&s->descs[3]);
      case SQL_ATTR_ROW_ARRAY_SIZE:
      case SQL_ROWSET_SIZE: return out(s->rowArraySize);
      case SQL_ATTR_ROW_BIND_TYPE: return out(s->rowBindType);
      case SQL_ATTR_ROWS_FETCHED_PTR: return ptr(s->rowsFetchedPtr);
      case SQL_ATTR_ROW_STATUS_PTR: return ptr(s->rowStatusPtr);
      case SQL_ATTR_ROW_BIND_OFFSET_PTR: return ptr(s->rowBindOffsetPtr);
      case SQL_ATTR_PARAM_BIND_TYPE: return out(s->paramBindType);
      case SQL_ATTR_PARAM_BIND_OFFSET_PTR: return ptr(s->paramBindOffsetPtr);
      case SQL_ATTR_PARAMS_PROCESSED_PTR: return ptr(s->paramsProcessedPtr);
      case SQL_ATTR_PARAM_STATUS_PTR: return ptr(s->paramStatusPtr);
      case SQL_ATTR_PARAMSET_SIZE: return out(s->paramsetSize);
      case SQL_ATTR_MAX_ROWS: return out(s->maxRows);
      case SQL_ATTR_MAX_LENGTH: return out(s->maxLength);
      case SQL_ATTR_QUERY_TIMEOUT: return out(s->queryTimeout);
      case SQL_ATTR_NOSCAN: return out(s->noScan);
      case SQL_ATTR_RETRIEVE_DATA: return out(s->retrieveData);
      case SQL_ATTR_USE_BOOKMARKS: return out(s->useBookmarks);
      case SQL_ATTR_METADATA_ID: return out(s->metadataId);
      case SQL_ATTR_CURSOR_TYPE: return out(SQL_CURSOR_FORWARD_ONLY);
      case SQL_ATTR_CONCURRENCY: return out(SQL_CONCUR_READ_ONLY);
      case SQL_ATTR_CURSOR_SCROLLABLE: return out(SQL_NONSCROLLABLE);
      case SQL_ATTR_CURSOR_SENSITIVITY: return out(SQL_INSENSITIVE);
      case SQL_ATTR_ASYNC_ENABLE: return out(SQL_ASYNC_ENABLE_OFF);
      case SQL_ATTR_ENABLE_AUTO_IPD: return out(SQL_FALSE);
      case SQL_ATTR_KEYSET_SIZE: return out(0);
      case SQL_ATTR_SIMULATE_CURSOR: return out(SQL_SC_UNIQUE);
      case SQL_ATTR_ROW_NUMBER: return out(s->rowsFetched);
      default: return s->diag.add("HY092", "Invalid attribute/option identifier " + std::to_string(attribute));
    }
  });
}

SQLRETURN setStmtAttr(Stmt* s, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  return guarded(s->diag, [&]() -> SQLRETURN {
    const auto v = static_cast<SQLULEN>(reinterpret_cast<uintptr_t>(value));
    switch (attribute) {
      case SQL_ATTR_ROW_ARRAY_SIZE:
      case SQL_ROWSET_SIZE:
        if (v < 1) return s->diag.add("HY024", "Invalid attribute value");
        s->rowArraySize = v;
        return SQL_SUCCESS;
      case SQL_ATTR_ROW_BIND_TYPE: s->rowBindType = v; return SQL_SUCCESS;
      case SQL_ATTR_ROWS_FETCHED_PTR: s->rowsFetchedPtr = static_cast<SQLULEN*>(value); return SQL_SUCCESS;
      case SQL_ATTR_ROW_STATUS_PTR: s->rowStatusPtr = static_cast<SQLUSMALLINT*>(value); return SQL_SUCCESS;
      case SQL_ATTR_ROW_BIND_OFFSET_PTR: s->rowBindOffsetPtr = static_cast<SQLLEN*>(value); return SQL_SUCCESS;
      case SQL_ATTR_PARAM_BIND_TYPE: s->paramBindType = v; return SQL_SUCCESS;
      case SQL_ATTR_PARAM_BIND_OFFSET_PTR: s->paramBindOffsetPtr = static_cast<SQLLEN*>(value); return SQL_SUCCESS;
      case SQL_ATTR_PARAMS_PROCESSED_PTR: s->paramsProcessedPtr = static_cast<SQLULEN*>(value); return SQL_SUCCESS;
      case SQL_ATTR_PARAM_STATUS_PTR: s->paramStatusPtr = static_cast<SQLUSMALLINT*>(value); return SQL_SUCCESS;
      case SQL_ATTR_PARAMSET_SIZE:
        if (v != 1) return s->diag.add("HYC00", "Optional feature not implemented: arrays of parameters");
        return SQL_SUCCESS;
      case SQL_ATTR_MAX_ROWS: s->maxRows = v; return SQL_SUCCESS;
      case SQL_ATTR_MAX_LENGTH: s->maxLength = v; return SQL_SUCCESS;
      case SQL_ATTR_QUERY_TIMEOUT: s->queryTimeout = v; return SQL_SUCCESS;
      case SQL_ATTR_NOSCAN: s->noScan = v; return SQL_SUCCESS;
      case SQL_ATTR_RETRIEVE_DATA: s->retrieveData = v; return SQL_SUCCESS;
      case SQL_ATTR_METADATA_ID: s->metadataId = v; return SQL_SUCCESS;
      case SQL_ATTR_USE_BOOKMARKS:
        if (v != SQL_UB_OFF) return s->diag.add("HYC00", "Optional feature not implemented: bookmarks");
        return SQL_SUCCESS;
      case SQL_ATTR_CURSOR_TYPE:
        if (v != SQL_CURSOR_FORWARD_ONLY) return s->diag.add("01S02", "Option value changed: cursors are forward only");
        return SQL_SUCCESS;
      case SQL_ATTR_CONCURRENCY:
        if (v != SQL_CONCUR_READ_ONLY) return s->diag.add("01S02", "Option value changed: cursors are read only");
        return SQL_SUCCESS;
      case SQL_ATTR_CURSOR_SCROLLABLE:
        if (v != SQL_NONSCROLLABLE) return s->diag.add("HYC00", "Optional feature not implemented: scrollable cursors");
        return SQL_SUCCESS;
      case SQL_ATTR_CURSOR_SENSITIVITY:
      case SQL_ATTR_ENABLE_AUTO_IPD:
      case SQL_ATTR_KEYSET_SIZE:
      case SQL_ATTR_SIMULATE_CURSOR:
        return SQL_SUCCESS;
      case SQL_ATTR_ASYNC_ENABLE:
        if (v != SQL_ASYNC_ENABLE_OFF) return s->diag.add("HYC00", "Optional feature not implemented: asynchronous execution");
        return SQL_SUCCESS;
      default: return s->diag.add("HY092", "Invalid attribute/option identifier " + std::to_string(attribute));
    }
  });
}

}  // namespace odbc

extern "C" {

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT h, SQLCHAR* text, SQLINTEGER length) {
  if (!h) return SQL_INVALID_HANDLE;
  return execDirect(stmt(h), narrowIn(text, length));
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT h, SQLCHAR* text, SQLINTEGER length) {
  if (!h) return SQL_INVALID_HANDLE;
  return prepareText(stmt(h), narrowIn(text, length));
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT h) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  return guarded(s->diag, [&] { return execute(*s); });
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT h, SQLUSMALLINT number, SQLSMALLINT ioType, SQLSMALLINT cType,
                                   SQLSMALLINT sqlType, SQLULEN columnSize, SQLSMALLINT digits, SQLPOINTER value,
                                   SQLLEN bufferLength, SQLLEN* indicator) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  return guarded(s->diag, [&]() -> SQLRETURN {
    if (number < 1) return s->diag.add("07009", "Invalid descriptor index");
    if (ioType != SQL_PARAM_INPUT) return s->diag.add("HYC00", "Optional feature not implemented: output parameters");
    if (s->params.size() < number) s->params.resize(number);
    s->params[number - 1u] = Param{true, ioType, cType, sqlType, columnSize, digits, value, bufferLength, indicator};
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLNumParams(SQLHSTMT h, SQLSMALLINT* count) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  return guarded(s->diag, [&] {
    if (count) *count = paramCount(*s);
    return ok();
  });
}

SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT h, SQLUSMALLINT number, SQLSMALLINT* sqlType, SQLULEN* size,
                                   SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  return guarded(s->diag, [&]() -> SQLRETURN {
    if (number < 1 || number > paramCount(*s)) return s->diag.add("07009", "Invalid descriptor index");
    // SQLite does not type its parameters: text converts to whatever the statement compares or
    // stores it with.
    if (sqlType) *sqlType = SQL_WVARCHAR;
    if (size) *size = 255;
    if (digits) *digits = 0;
    if (nullable) *nullable = SQL_NULLABLE;
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLParamData(SQLHSTMT h, SQLPOINTER* token) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  return guarded(s->diag, [&] { return paramData(*s, token); });
}

SQLRETURN SQL_API SQLPutData(SQLHSTMT h, SQLPOINTER data, SQLLEN length) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  return guarded(s->diag, [&] { return putData(*s, data, length); });
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT h) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  return guarded(s->diag, [&] { return fetch(*s); });
}

SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT h, SQLSMALLINT orientation, SQLLEN) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  return guarded(s->diag, [&]() -> SQLRETURN {
    if (orientation != SQL_FETCH_NEXT) return s->diag.add("HY106", "Fetch type out of range: the cursor is forward only");
    return fetch(*s);
  });
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER value, SQLLEN bufferLength,
                             SQLLEN* indicator) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  return guarded(s->diag, [&]() -> SQLRETURN {
    if (column < 1) return s->diag.add("07009", "Invalid descriptor index: bookmarks are not supported");
    if (s->cols.size() < column) s->cols.resize(column);
    s->cols[column - 1u] = value || indicator ? BoundCol{cType, value, bufferLength, indicator} : BoundCol{};
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target,
                             SQLLEN bufferLength, SQLLEN* indicator) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  return guarded(s->diag, [&] { return getData(*s, column, cType, target, bufferLength, indicator); });
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT h, SQLSMALLINT* count) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  return guarded(s->diag, [&] {
    const std::vector<ColumnDesc>* cols = columnsOf(*s);
    if (count) *count = cols ? static_cast<SQLSMALLINT>(cols->size()) : 0;
    return ok();
  });
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT h, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT bufferLength,
                                 SQLSMALLINT* nameLength, SQLSMALLINT* dataType, SQLULEN* columnSize,
                                 SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  if (!h) return SQL_INVALID_HANDLE;
  return describeCol(stmt(h), column, name, bufferLength, nameLength, dataType, columnSize, digits, nullable, false);
}

SQLRETURN SQL_API SQLColAttribute(SQLHSTMT h, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text,
                                  SQLSMALLINT bufferLength, SQLSMALLINT* length, SQLLEN* number) {
  if (!h) return SQL_INVALID_HANDLE;
  return colAttribute(stmt(h), column, field, text, bufferLength, length, number, false);
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT h, SQLLEN* count) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  return guarded(s->diag, [&] {
    if (count) *count = s->rowCount;
    return ok();
  });
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT h) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  return guarded(s->diag, [&] { return moreResults(*s); });
}

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT h) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  return guarded(s->diag, [&]() -> SQLRETURN {
    if (!s->result) return s->diag.add("24000", "Invalid cursor state: no cursor is open");
    s->closeCursor();
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT h, SQLUSMALLINT option) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  if (option == SQL_DROP) return SQLFreeHandle(SQL_HANDLE_STMT, h);
  return guarded(s->diag, [&]() -> SQLRETURN {
    switch (option) {
      case SQL_CLOSE: s->closeCursor(); return SQL_SUCCESS;
      case SQL_UNBIND: s->cols.clear(); return SQL_SUCCESS;
      case SQL_RESET_PARAMS: s->params.clear(); return SQL_SUCCESS;
      default: return s->diag.add("HY092", "Invalid attribute/option identifier");
    }
  });
}

SQLRETURN SQL_API SQLCancel(SQLHSTMT h) {
  if (!h) return SQL_INVALID_HANDLE;
  Stmt* s = stmt(h);
  // Called from another thread while the statement runs: only flags and SQLite's own interrupt,
  // which is safe across threads, are touched.
  if (s->executing) {
    s->cancelled = true;
    sqlite3_interrupt(s->dbc->conn->handle());
  } else if (s->needData) {
    s->needData = false;
  }
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER bufferLength,
                                 SQLINTEGER* length) {
  if (!h) return SQL_INVALID_HANDLE;
  return getStmtAttr(stmt(h), attribute, value, bufferLength, length);
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length) {
  if (!h) return SQL_INVALID_HANDLE;
  return setStmtAttr(stmt(h), attribute, value, length);
}

}  // extern "C"
