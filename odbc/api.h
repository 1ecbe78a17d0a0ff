// The work behind the entry points that take or give text, shared by the narrow (UTF-8) and the
// wide (UTF-16) entry points: inputs arrive as UTF-8, outputs are written in the form `wide` asks.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

#include "odbc/catalog.h"
#include "odbc/handles.h"

namespace odbc {

SQLRETURN connectTo(Dbc* dbc, const std::string& dsn, const std::string& user, const std::string& password);
SQLRETURN driverConnect(Dbc* dbc, const std::string& in, void* out, SQLSMALLINT outLength, SQLSMALLINT* outLengthPtr,
                        SQLUSMALLINT completion, bool wide);
SQLRETURN getConnectAttr(Dbc* dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER bufferLength,
                         SQLINTEGER* length, bool wide);
SQLRETURN setConnectAttr(Dbc* dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length, bool wide);
SQLRETURN getStmtAttr(Stmt* s, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER bufferLength, SQLINTEGER* length);
SQLRETURN setStmtAttr(Stmt* s, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length);
SQLRETURN nativeSqlOut(Dbc* dbc, const std::string& in, void* out, SQLINTEGER outLength, SQLINTEGER* outLengthPtr,
                       bool wide);
Diagnostics* diagnosticsOf(SQLSMALLINT handleType, SQLHANDLE handle);

SQLRETURN execDirect(Stmt* s, const std::string& text);
SQLRETURN prepareText(Stmt* s, const std::string& text);
SQLRETURN describeCol(Stmt* s, SQLUSMALLINT column, void* name, SQLSMALLINT bufferLength, SQLSMALLINT* nameLength,
                      SQLSMALLINT* dataType, SQLULEN* columnSize, SQLSMALLINT* digits, SQLSMALLINT* nullable, bool wide);
SQLRETURN colAttribute(Stmt* s, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text, SQLSMALLINT bufferLength,
                       SQLSMALLINT* length, SQLLEN* number, bool wide);

// A catalog function: runs `make` against the statement's connection and puts its rows on it.
template <typename Make>
SQLRETURN catalogCall(Stmt* s, Make&& make) {
  if (!s) return SQL_INVALID_HANDLE;
  return guarded(s->diag, [&] {
    if (!s->dbc->conn) throw Failure("08003", "Connection not open");
    std::unique_ptr<Result> r = make(*s->dbc);
    s->reset();
    s->result = std::move(r);
    return static_cast<SQLRETURN>(SQL_SUCCESS);
  });
}

// An argument given as text of `length` units (SQL_NTS, or null for none).
Arg narrowArg(SQLCHAR* text, SQLSMALLINT length);
Arg wideArg(SQLWCHAR* text, SQLSMALLINT length);

}  // namespace odbc
