// Test sessions through the driver manager.
#include "odbc/support/odbc_session.h"

#include <cstdlib>

#include "support/files.h"

namespace odbctest {

namespace {
// The private folder of this test program, removed at its end.
const std::filesystem::path& scratch() {
  static const testsupport::TempDir dir;
  return dir.path();
}
}  // namespace

void useTestDriver(const std::string& dsnLines) {
  const std::filesystem::path dir = scratch() / "config";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "odbcinst.ini") << "[Tabulonix]\nDriver = " << TABULONIX_ODBC_DRIVER << "\nThreading = 2\n";
  std::ofstream(dir / "odbc.ini") << dsnLines;
  setenv("ODBCSYSINI", dir.c_str(), 1);
  setenv("ODBCINSTINI", "odbcinst.ini", 1);
  setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);
}

std::string copyOfTestFile(const std::string& name) {
  static int n = 0;
  const std::filesystem::path from = std::filesystem::path(TABULONIX_TESTDATA_DIR) / name;
  const std::filesystem::path to = scratch() / (std::to_string(++n) + "-" + from.filename().string());
  std::filesystem::copy_file(from, to);
  return to.string();
}

Diag diagOf(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {0}, message[1024] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length))) return {};
  return {reinterpret_cast<char*>(state), reinterpret_cast<char*>(message)};
}

Connection::Connection() {
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
  SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
}

Connection::~Connection() {
  if (open_) SQLDisconnect(dbc_);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

SQLRETURN Connection::open(const std::string& text) {
  SQLCHAR out[1024];
  SQLSMALLINT outLength = 0;
  const SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, (SQLCHAR*)text.c_str(), SQL_NTS, out, sizeof out, &outLength,
                                        SQL_DRIVER_NOPROMPT);
  open_ = SQL_SUCCEEDED(rc);
  return rc;
}

Statement::Statement(const Connection& c) { SQLAllocHandle(SQL_HANDLE_STMT, c.handle(), &stmt_); }
Statement::~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, stmt_); }

SQLRETURN Statement::exec(const std::string& sql) {
  SQLFreeStmt(stmt_, SQL_CLOSE);
  return SQLExecDirect(stmt_, (SQLCHAR*)sql.c_str(), SQL_NTS);
}

std::vector<std::vector<std::optional<std::string>>> Statement::rows() {
  SQLSMALLINT columns = 0;
  SQLNumResultCols(stmt_, &columns);
  std::vector<std::vector<std::optional<std::string>>> out;
  while (SQL_SUCCEEDED(SQLFetch(stmt_))) {
    auto& row = out.emplace_back();
    for (SQLUSMALLINT c = 1; c <= columns; ++c) {
      std::string value;
      char buf[256];
      SQLLEN ind = 0;
      SQLRETURN rc;
      while (SQL_SUCCEEDED(rc = SQLGetData(stmt_, c, SQL_C_CHAR, buf, sizeof buf, &ind)) && ind != SQL_NULL_DATA) {
        value += buf;
        if (rc == SQL_SUCCESS) break;
      }
      if (ind == SQL_NULL_DATA) row.push_back(std::nullopt);
      else row.push_back(value);
    }
  }
  return out;
}

}  // namespace odbctest
