// Running statements: preparing the text (one statement or several separated by semicolons, run
// one after another through SQLMoreResults), binding the application's parameters, executing,
// describing the result's columns, and the data-at-execution exchange of SQLParamData/SQLPutData.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <vector>

#include "odbc/handles.h"

namespace odbc {

// SQLPrepare: compiles the first statement of `text` (throws Failure with SQLite's message).
void prepare(Stmt& s, std::string text);
// SQLExecute: runs the prepared statement with the bound parameters. SQL_NEED_DATA when a
// parameter's data comes at execution.
SQLRETURN execute(Stmt& s);
// SQLMoreResults: the next statement of the text, run; SQL_NO_DATA when there is none.
SQLRETURN moreResults(Stmt& s);
// SQLParamData and SQLPutData.
SQLRETURN paramData(Stmt& s, SQLPOINTER* token);
SQLRETURN putData(Stmt& s, SQLPOINTER data, SQLLEN length);
// SQLFetch and SQLFetchScroll(SQL_FETCH_NEXT): the next row set into the bound columns.
SQLRETURN fetch(Stmt& s);
// SQLGetData for one column of the current row.
SQLRETURN getData(Stmt& s, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufferLength,
                  SQLLEN* indicator);
// The result columns of a compiled statement: a column straight from a table column has that
// column's type, others the type SQLite declares or, when `hasRow` (the statement has been
// stepped to its first row), the kind of that row's value.
std::vector<ColumnDesc> describe(sql::Connection& conn, sqlite3_stmt* stmt, bool hasRow);
// Puts a result built in memory (catalog functions) on the statement.
void setResult(Stmt& s, std::unique_ptr<Result> result);
// The number of `?` parameters of the prepared statement, and what SQLDescribeParam says of one.
SQLSMALLINT paramCount(const Stmt& s);

}  // namespace odbc
