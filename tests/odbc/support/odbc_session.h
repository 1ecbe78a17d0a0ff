// Driving the driver through unixODBC's driver manager in tests: a private odbcinst.ini that
// registers the built driver as "Tabulonix" (no root needed), connections and statements that
// clean up after themselves, and the first diagnostic of a handle.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <string>
#include <vector>

namespace odbctest {

// Points the driver manager at a private configuration folder holding odbcinst.ini (the driver)
// and odbc.ini (data sources, `dsnLines` appended). Call before the first connection.
void useTestDriver(const std::string& dsnLines = "");
// A private copy of a shared test file (writable), in a folder removed at exit.
std::string copyOfTestFile(const std::string& name);

struct Diag {
  std::string state;
  std::string message;
};
Diag diagOf(SQLSMALLINT type, SQLHANDLE handle);

class Connection {
 public:
  Connection();
  ~Connection();
  // SQLDriverConnect with the given connection string.
  SQLRETURN open(const std::string& connectionString);
  SQLHDBC handle() const { return dbc_; }
  Diag diag() const { return diagOf(SQL_HANDLE_DBC, dbc_); }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool open_ = false;
};

class Statement {
 public:
  explicit Statement(const Connection& c);
  ~Statement();
  SQLHSTMT handle() const { return stmt_; }
  SQLRETURN exec(const std::string& sql);
  Diag diag() const { return diagOf(SQL_HANDLE_STMT, stmt_); }
  // Every remaining row, each cell as text through SQL_C_CHAR (nullopt for Null).
  std::vector<std::vector<std::optional<std::string>>> rows();

 private:
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

}  // namespace odbctest
