// Diagnostic records: what a handle's last call reported (SQLSTATE, native error, message), kept
// until the next call on the handle clears them, and the translation of engine and SQLite
// failures into SQLSTATEs.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace odbc {

// A failure inside the driver with the SQLSTATE it reports.
class Failure : public std::runtime_error {
 public:
  Failure(const char* state, const std::string& message, SQLINTEGER native = 0)
      : std::runtime_error(message), state_(state), native_(native) {}
  const char* state() const { return state_; }
  SQLINTEGER native() const { return native_; }

 private:
  const char* state_;
  SQLINTEGER native_;
};
// The Failure for SQLite's result code `rc` and its message (null: SQLite's text for the code).
// `compiling`: the statement was being prepared, so a plain error is one of the SQL text (42000);
// while it runs, a plain error is the engine's (HY000).
Failure sqliteFailure(int rc, const char* message, bool compiling = false);

struct DiagRecord {
  std::string state;    // five characters
  SQLINTEGER native = 0;
  std::string message;  // without the "[Tabulonix]" prefix
};

class Diagnostics {
 public:
  void clear() {
    records_.clear();
    rowCount_ = -1;
  }
  // Adds a record and returns SQL_ERROR (states of class 01 return SQL_SUCCESS_WITH_INFO).
  SQLRETURN add(const char* state, const std::string& message, SQLINTEGER native = 0);
  const std::vector<DiagRecord>& records() const { return records_; }
  SQLRETURN returnCode = SQL_SUCCESS;
  SQLLEN rowCount_ = -1;

 private:
  std::vector<DiagRecord> records_;
};

// The record the current exception stands for: jet::Error by its DAO number, sql::SqlError and
// std::exception by their text. Call from inside a catch block.
SQLRETURN reportCurrentException(Diagnostics& diag);
// SQLite's failure on `db` after a call returned `rc`.
SQLRETURN reportSqlite(Diagnostics& diag, int rc, const char* message);

// The state a DAO error number stands for (08001, 28000, 23000, 42S02 ...), HY000 otherwise.
const char* stateOfEngineError(int number);
// The state for a SQLite result code and its message (42000 syntax, 42S02 no such table ...).
const char* stateOfSqliteError(int rc, const std::string& message);

// SQLGetDiagRec and SQLGetDiagField over a handle's records; `wide` selects UTF-16 text.
SQLRETURN getDiagRec(const Diagnostics& diag, SQLSMALLINT record, void* state, SQLINTEGER* native, void* message,
                     SQLSMALLINT bufferLength, SQLSMALLINT* textLength, bool wide);
SQLRETURN getDiagField(const Diagnostics& diag, SQLSMALLINT handleType, SQLSMALLINT record, SQLSMALLINT field,
                       SQLPOINTER info, SQLSMALLINT bufferLength, SQLSMALLINT* stringLength, bool wide);

}  // namespace odbc
