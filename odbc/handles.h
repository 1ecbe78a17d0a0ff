// The driver's handles: environment, connection and statement, what each holds between calls, and
// the guard every entry point runs its work under (clears the handle's diagnostics, turns thrown
// failures into diagnostic records, never lets an exception cross into the caller).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "odbc/diagnostics.h"
#include "odbc/result.h"

struct sqlite3_stmt;

namespace sql {
class Connection;
}

namespace odbc {

struct Stmt;

struct Env {
  uint32_t magic = 0x454E5631;
  Diagnostics diag;
  SQLINTEGER odbcVersion = SQL_OV_ODBC3;
  SQLUINTEGER pooling = SQL_CP_OFF;
};

struct Dbc {
  uint32_t magic = 0x44424331;
  Env* env = nullptr;
  Diagnostics diag;
  std::unique_ptr<sql::Connection> conn;
  std::string path;  // the database file
  std::string dsn;   // the data source it was found under, if any
  bool readOnly = false;
  bool autocommit = true;
  SQLUINTEGER loginTimeout = 0;
  SQLUINTEGER connectionTimeout = 0;
  SQLUINTEGER packetSize = 0;
  std::vector<Stmt*> statements;
  bool odbc2() const { return env && env->odbcVersion == SQL_OV_ODBC2; }
};

// What a statement was given for one parameter (SQLBindParameter).
struct Param {
  bool bound = false;
  SQLSMALLINT ioType = SQL_PARAM_INPUT;
  SQLSMALLINT cType = SQL_C_DEFAULT;
  SQLSMALLINT sqlType = SQL_VARCHAR;
  SQLULEN columnSize = 0;
  SQLSMALLINT digits = 0;
  SQLPOINTER value = nullptr;
  SQLLEN bufferLength = 0;
  SQLLEN* indicator = nullptr;
};

// A result column bound with SQLBindCol.
struct BoundCol {
  SQLSMALLINT cType = 0;  // 0: not bound
  SQLPOINTER value = nullptr;
  SQLLEN bufferLength = 0;
  SQLLEN* indicator = nullptr;
};

// Where SQLGetData stands in the current row's column it read last.
struct PieceState {
  int column = -1;
  size_t offset = 0;       // bytes of the converted value handed out so far
  bool done = false;       // all of it was handed out
  std::string bytes;       // the converted value, kept while it is handed out in pieces
};

struct Desc {
  uint32_t magic = 0x44455343;
  Stmt* stmt = nullptr;
};

struct Stmt {
  uint32_t magic = 0x53544D54;
  Dbc* dbc = nullptr;
  Diagnostics diag;

  std::string sql;            // the statement text as given
  size_t next = 0;            // where the statements not yet run start (SQLMoreResults)
  sqlite3_stmt* stmt = nullptr;
  bool prepared = false;      // SQLPrepare succeeded; SQLExecute may run it
  std::unique_ptr<Result> result;
  std::vector<ColumnDesc> preparedColumns;  // described after SQLPrepare, before any execution
  bool preparedDescribed = false;
  SQLLEN rowCount = -1;
  SQLULEN rowsFetched = 0;

  std::vector<Param> params;  // by parameter number - 1
  std::vector<BoundCol> cols; // by column number - 1
  PieceState piece;

  SQLULEN rowArraySize = 1;
  SQLULEN rowBindType = SQL_BIND_BY_COLUMN;
  SQLULEN* rowsFetchedPtr = nullptr;
  SQLUSMALLINT* rowStatusPtr = nullptr;
  SQLLEN* rowBindOffsetPtr = nullptr;
  SQLULEN paramBindType = SQL_PARAM_BIND_BY_COLUMN;
  SQLLEN* paramBindOffsetPtr = nullptr;
  SQLULEN* paramsProcessedPtr = nullptr;
  SQLUSMALLINT* paramStatusPtr = nullptr;
  SQLULEN paramsetSize = 1;
  SQLULEN maxRows = 0;
  SQLULEN maxLength = 0;
  SQLULEN queryTimeout = 0;
  SQLULEN noScan = SQL_NOSCAN_OFF;
  SQLULEN retrieveData = SQL_RD_ON;
  SQLULEN useBookmarks = SQL_UB_OFF;
  SQLULEN metadataId = SQL_FALSE;
  Desc descs[4];              // application row and parameter, implementation row and parameter

  // Data at execution: the parameters whose data comes through SQLPutData, and what came.
  std::vector<size_t> daeParams;     // parameter indexes, in order
  size_t daeNext = 0;                // how many of them SQLParamData has asked for
  std::vector<std::string> daeData;  // by parameter index
  std::vector<bool> daeNull;
  bool needData = false;             // between SQL_NEED_DATA and the execution
  bool daeReady = false;             // every value came: bind from daeData
  size_t paramBase = 0;              // parameters taken by the statements of the text before this one
  bool advanced = false;             // SQLMoreResults moved past the text's first statement

  std::atomic<bool> executing{false};
  std::atomic<bool> cancelled{false};

  ~Stmt();
  // Drops the result and the prepared statement's cursor (the prepared text stays).
  void closeCursor();
  // Forgets the statement entirely.
  void reset();
};

// Runs `work` for an entry point on a handle with diagnostics: clears them first, reports any
// failure thrown, and records the return code.
template <typename Work>
SQLRETURN guarded(Diagnostics& diag, Work&& work) {
  diag.clear();
  SQLRETURN rc;
  try {
    rc = work();
  } catch (...) {
    rc = reportCurrentException(diag);
  }
  diag.returnCode = rc;
  return rc;
}

}  // namespace odbc
