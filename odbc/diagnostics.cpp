// Diagnostic records and the SQLSTATEs of engine and SQLite failures.
#include "odbc/diagnostics.h"

#include <sqlite3.h>

#include <cstring>
#include <exception>

#include "jet/base/error.h"
#include "odbc/text.h"
#include "sql/connection.h"

namespace odbc {

namespace {
constexpr const char* kPrefix = "[Tabulonix]";

bool contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }
}  // namespace

SQLRETURN Diagnostics::add(const char* state, const std::string& message, SQLINTEGER native) {
  records_.push_back({state, native, message.empty() ? std::string("General error") : message});
  return std::strncmp(state, "01", 2) == 0 ? SQL_SUCCESS_WITH_INFO : SQL_ERROR;
}

const char* stateOfEngineError(int number) {
  switch (number) {
    case jet::err::kFileNotFound:
    case jet::err::kInvalidPath:
    case jet::err::kCannotOpenFile:
    case jet::err::kUnrecognizedFormat:
      return "08001";
    case jet::err::kInvalidPassword:
      return "28000";
    case jet::err::kDuplicateKey:
    case jet::err::kNullInIndex:
    case jet::err::kRequiredNull:
    case jet::err::kZeroLength:
    case 3200:  // the record has related records in another table
    case 3201:  // a related record is required in another table
    case 3316:  // a table-level validation rule
    case 3317:  // a field's validation rule
      return "23000";
    case jet::err::kTableNotFound:
    case jet::err::kObjectNotFound:
      return "42S02";
    case jet::err::kUnknownField:
      return "42S22";
    case jet::err::kTableExists:
      return "42S01";
    case jet::err::kIndexExists:
      return "42S11";
    case jet::err::kTextTooLong:
      return "22001";
    case jet::err::kConversion:
      return "22018";
    default:
      return "HY000";
  }
}

const char* stateOfSqliteError(int rc, const std::string& message) {
  switch (rc & 0xFF) {
    case SQLITE_INTERRUPT:
      return "HY008";
    case SQLITE_CONSTRAINT:
      return "23000";
    case SQLITE_MISMATCH:
      return "22018";
    case SQLITE_TOOBIG:
      return "22001";
    case SQLITE_RANGE:
      return "07009";
    case SQLITE_NOMEM:
      return "HY001";
    case SQLITE_ERROR:
      break;
    default:
      return "HY000";
  }
  if (contains(message, "no such table") || contains(message, "no such view")) return "42S02";
  if (contains(message, "no such column")) return "42S22";
  if (contains(message, "already exists")) return contains(message, "index") ? "42S11" : "42S01";
  if (contains(message, "constraint") || contains(message, "duplicate") || contains(message, "related record"))
    return "23000";
  return "42000";
}

Failure sqliteFailure(int rc, const char* message, bool compiling) {
  const std::string text = message ? message : sqlite3_errstr(rc);
  const char* state = stateOfSqliteError(rc, text);
  if (!compiling && std::strcmp(state, "42000") == 0 && !contains(text, "syntax error")) state = "HY000";
  return Failure(state, text, rc);
}

SQLRETURN reportSqlite(Diagnostics& diag, int rc, const char* message) {
  const std::string text = message ? message : sqlite3_errstr(rc);
  return diag.add(stateOfSqliteError(rc, text), text, rc);
}

SQLRETURN reportCurrentException(Diagnostics& diag) {
  try {
    throw;
  } catch (const Failure& e) {
    return diag.add(e.state(), e.what(), e.native());
  } catch (const jet::Error& e) {
    return diag.add(stateOfEngineError(e.number()), e.what(), e.number());
  } catch (const sql::SqlError& e) {
    return diag.add(stateOfSqliteError(SQLITE_ERROR, e.what()), e.what());
  } catch (const std::bad_alloc&) {
    return diag.add("HY001", "Memory allocation error");
  } catch (const std::exception& e) {
    return diag.add("HY000", e.what());
  } catch (...) {
    return diag.add("HY000", "Unknown failure");
  }
}

SQLRETURN getDiagRec(const Diagnostics& diag, SQLSMALLINT record, void* state, SQLINTEGER* native, void* message,
                     SQLSMALLINT bufferLength, SQLSMALLINT* textLength, bool wide) {
  if (record < 1) return SQL_ERROR;
  if (bufferLength < 0) return SQL_ERROR;
  if (static_cast<size_t>(record) > diag.records().size()) return SQL_NO_DATA;
  const DiagRecord& r = diag.records()[record - 1];
  if (state) textOut(r.state, state, 6, wide, false, static_cast<SQLSMALLINT*>(nullptr));
  if (native) *native = r.native;
  const bool whole = textOut(std::string(kPrefix) + r.message, message, bufferLength, wide, false, textLength);
  return whole ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
}

SQLRETURN getDiagField(const Diagnostics& diag, SQLSMALLINT handleType, SQLSMALLINT record, SQLSMALLINT field,
                       SQLPOINTER info, SQLSMALLINT bufferLength, SQLSMALLINT* stringLength, bool wide) {
  auto text = [&](const std::string& s) {
    return textOut(s, info, bufferLength, wide, true, stringLength) ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
  };
  switch (field) {  // header fields
    case SQL_DIAG_NUMBER:
      if (info) *static_cast<SQLINTEGER*>(info) = static_cast<SQLINTEGER>(diag.records().size());
      return SQL_SUCCESS;
    case SQL_DIAG_RETURNCODE:
      if (info) *static_cast<SQLRETURN*>(info) = diag.returnCode;
      return SQL_SUCCESS;
    case SQL_DIAG_ROW_COUNT:
      if (handleType != SQL_HANDLE_STMT) return SQL_ERROR;
      if (info) *static_cast<SQLLEN*>(info) = diag.rowCount_;
      return SQL_SUCCESS;
    case SQL_DIAG_CURSOR_ROW_COUNT:
      if (info) *static_cast<SQLLEN*>(info) = -1;
      return SQL_SUCCESS;
    case SQL_DIAG_DYNAMIC_FUNCTION:
      return text("");
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
      if (info) *static_cast<SQLINTEGER*>(info) = SQL_DIAG_UNKNOWN_STATEMENT;
      return SQL_SUCCESS;
    default:
      break;
  }
  if (record < 1) return SQL_ERROR;
  if (static_cast<size_t>(record) > diag.records().size()) return SQL_NO_DATA;
  const DiagRecord& r = diag.records()[record - 1];
  switch (field) {
    case SQL_DIAG_SQLSTATE:
      return text(r.state);
    case SQL_DIAG_NATIVE:
      if (info) *static_cast<SQLINTEGER*>(info) = r.native;
      return SQL_SUCCESS;
    case SQL_DIAG_MESSAGE_TEXT:
      return text(std::string(kPrefix) + r.message);
    case SQL_DIAG_CLASS_ORIGIN:
      return text(r.state.rfind("IM", 0) == 0 ? "ODBC 3.0" : "ISO 9075");
    case SQL_DIAG_SUBCLASS_ORIGIN: {
      static const char* odbcClasses[] = {"01S", "07S", "08S", "21S", "25S", "42S", "HY", "IM"};
      for (const char* c : odbcClasses)
        if (r.state.rfind(c, 0) == 0) return text("ODBC 3.0");
      return text("ISO 9075");
    }
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME:
      return text("");
    case SQL_DIAG_COLUMN_NUMBER:
      if (info) *static_cast<SQLINTEGER*>(info) = SQL_COLUMN_NUMBER_UNKNOWN;
      return SQL_SUCCESS;
    case SQL_DIAG_ROW_NUMBER:
      if (info) *static_cast<SQLLEN*>(info) = SQL_ROW_NUMBER_UNKNOWN;
      return SQL_SUCCESS;
    default:
      return SQL_ERROR;
  }
}

}  // namespace odbc
