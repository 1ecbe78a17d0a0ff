// Connecting: connection strings (DRIVER={Tabulonix};DBQ=/path/file.mdb;PWD=...;READONLY=1),
// data sources from odbc.ini, opening the file through the SQL bridge, and the transaction and
// SQL-text services of a connection (commit and rollback, ODBC escape sequences).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <map>
#include <string>

#include "odbc/handles.h"

namespace odbc {

// "KEY=value;KEY={va;lue}" into upper-case keys and their values.
std::map<std::string, std::string> parseConnectionString(const std::string& text);
// Opens the database the attributes name (DSN= filled in from odbc.ini). Throws Failure: 08001 no
// file or a file that cannot be opened, 28000 a wrong password, 08002 already connected.
void connect(Dbc& dbc, std::map<std::string, std::string> attributes);
// The complete connection string of an open connection.
std::string connectionString(const Dbc& dbc);
void disconnect(Dbc& dbc);

// SQLEndTran on one connection.
void endTransaction(Dbc& dbc, SQLSMALLINT completion);
// Turns autocommit on or off (on commits an open transaction).
void setAutocommit(Dbc& dbc, bool on);

// The statement with ODBC's escape sequences ({d '...'}, {ts '...'}, {fn ...}, {oj ...},
// {escape '...'}) replaced by SQLite's own syntax; text in quotes is left alone.
std::string nativeSql(const std::string& text);

}  // namespace odbc
