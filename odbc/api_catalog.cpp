// Entry points of the catalog functions, narrow and wide.
#include "odbc/api.h"

using namespace odbc;

namespace {
Stmt* stmt(SQLHANDLE h) { return static_cast<Stmt*>(h); }

// The catalog calls once their arguments are UTF-8.
SQLRETURN tablesCall(Stmt* s, Arg cat, Arg schema, Arg table, Arg type) {
  return catalogCall(s, [&](Dbc& d) { return tables(d, cat, schema, table, type); });
}
SQLRETURN columnsCall(Stmt* s, Arg table, Arg column) {
  return catalogCall(s, [&](Dbc& d) { return columns(d, table, column, s->metadataId == SQL_TRUE); });
}
SQLRETURN primaryKeysCall(Stmt* s, Arg table) {
  return catalogCall(s, [&](Dbc& d) { return primaryKeys(d, table); });
}
SQLRETURN statisticsCall(Stmt* s, Arg table, SQLUSMALLINT unique) {
  return catalogCall(s, [&](Dbc& d) { return statistics(d, table, unique); });
}
SQLRETURN foreignKeysCall(Stmt* s, Arg pk, Arg fk) {
  return catalogCall(s, [&](Dbc& d) { return foreignKeys(d, pk, fk); });
}
SQLRETURN specialColumnsCall(Stmt* s, SQLUSMALLINT type, Arg table) {
  return catalogCall(s, [&](Dbc& d) { return specialColumns(d, type, table); });
}
}  // namespace

extern "C" {

SQLRETURN SQL_API SQLTables(SQLHSTMT h, SQLCHAR* cat, SQLSMALLINT catLength, SQLCHAR* schema, SQLSMALLINT schemaLength,
                            SQLCHAR* table, SQLSMALLINT tableLength, SQLCHAR* type, SQLSMALLINT typeLength) {
  return tablesCall(stmt(h), narrowArg(cat, catLength), narrowArg(schema, schemaLength), narrowArg(table, tableLength),
                    narrowArg(type, typeLength));
}

SQLRETURN SQL_API SQLTablesW(SQLHSTMT h, SQLWCHAR* cat, SQLSMALLINT catLength, SQLWCHAR* schema,
                             SQLSMALLINT schemaLength, SQLWCHAR* table, SQLSMALLINT tableLength, SQLWCHAR* type,
                             SQLSMALLINT typeLength) {
  return tablesCall(stmt(h), wideArg(cat, catLength), wideArg(schema, schemaLength), wideArg(table, tableLength),
                    wideArg(type, typeLength));
}

SQLRETURN SQL_API SQLColumns(SQLHSTMT h, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR* table,
                             SQLSMALLINT tableLength, SQLCHAR* column, SQLSMALLINT columnLength) {
  return columnsCall(stmt(h), narrowArg(table, tableLength), narrowArg(column, columnLength));
}

SQLRETURN SQL_API SQLColumnsW(SQLHSTMT h, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR* table,
                              SQLSMALLINT tableLength, SQLWCHAR* column, SQLSMALLINT columnLength) {
  return columnsCall(stmt(h), wideArg(table, tableLength), wideArg(column, columnLength));
}

SQLRETURN SQL_API SQLPrimaryKeys(SQLHSTMT h, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR* table,
                                 SQLSMALLINT tableLength) {
  return primaryKeysCall(stmt(h), narrowArg(table, tableLength));
}

SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT h, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR* table,
                                  SQLSMALLINT tableLength) {
  return primaryKeysCall(stmt(h), wideArg(table, tableLength));
}

SQLRETURN SQL_API SQLStatistics(SQLHSTMT h, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR* table,
                                SQLSMALLINT tableLength, SQLUSMALLINT unique, SQLUSMALLINT) {
  return statisticsCall(stmt(h), narrowArg(table, tableLength), unique);
}

SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT h, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR* table,
                                 SQLSMALLINT tableLength, SQLUSMALLINT unique, SQLUSMALLINT) {
  return statisticsCall(stmt(h), wideArg(table, tableLength), unique);
}

SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT h, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR* pk,
                                 SQLSMALLINT pkLength, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR* fk,
                                 SQLSMALLINT fkLength) {
  return foreignKeysCall(stmt(h), narrowArg(pk, pkLength), narrowArg(fk, fkLength));
}

SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT h, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR* pk,
                                  SQLSMALLINT pkLength, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR* fk,
                                  SQLSMALLINT fkLength) {
  return foreignKeysCall(stmt(h), wideArg(pk, pkLength), wideArg(fk, fkLength));
}

SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT h, SQLUSMALLINT type, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT,
                                    SQLCHAR* table, SQLSMALLINT tableLength, SQLUSMALLINT, SQLUSMALLINT) {
  return specialColumnsCall(stmt(h), type, narrowArg(table, tableLength));
}

SQLRETURN SQL_API SQLSpecialColumnsW(SQLHSTMT h, SQLUSMALLINT type, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT,
                                     SQLWCHAR* table, SQLSMALLINT tableLength, SQLUSMALLINT, SQLUSMALLINT) {
  return specialColumnsCall(stmt(h), type, wideArg(table, tableLength));
}

SQLRETURN SQL_API SQLProcedures(SQLHSTMT h, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT) {
  return catalogCall(stmt(h), [](Dbc&) { return procedures(); });
}

SQLRETURN SQL_API SQLProceduresW(SQLHSTMT h, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT) {
  return catalogCall(stmt(h), [](Dbc&) { return procedures(); });
}

SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT h, SQLSMALLINT type) {
  return catalogCall(stmt(h), [&](Dbc& d) { return typeInfo(d, type); });
}

SQLRETURN SQL_API SQLGetTypeInfoW(SQLHSTMT h, SQLSMALLINT type) {
  return catalogCall(stmt(h), [&](Dbc& d) { return typeInfo(d, type); });
}

}  // extern "C"
