// The wide (UTF-16) entry points: their text converted to UTF-8 on the way in, and written as
// UTF-16 on the way out, around the same work as the narrow ones.
#include "odbc/api.h"
#include "odbc/diagnostics.h"
#include "odbc/info.h"
#include "odbc/text.h"

using namespace odbc;

extern "C" {

SQLRETURN SQL_API SQLConnectW(SQLHDBC h, SQLWCHAR* dsn, SQLSMALLINT dsnLength, SQLWCHAR* user, SQLSMALLINT userLength,
                              SQLWCHAR* password, SQLSMALLINT passwordLength) {
  if (!h) return SQL_INVALID_HANDLE;
  return connectTo(static_cast<Dbc*>(h), wideIn(dsn, dsnLength), wideIn(user, userLength),
                   wideIn(password, passwordLength));
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC h, SQLHWND, SQLWCHAR* in, SQLSMALLINT inLength, SQLWCHAR* out,
                                    SQLSMALLINT outLength, SQLSMALLINT* outLengthPtr, SQLUSMALLINT completion) {
  if (!h) return SQL_INVALID_HANDLE;
  return driverConnect(static_cast<Dbc*>(h), wideIn(in, inLength), out, outLength, outLengthPtr, completion, true);
}

SQLRETURN SQL_API SQLGetInfoW(SQLHDBC h, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bufferLength,
                              SQLSMALLINT* length) {
  if (!h) return SQL_INVALID_HANDLE;
  Dbc* d = static_cast<Dbc*>(h);
  return guarded(d->diag, [&] { return getInfo(*d, type, value, bufferLength, length, true); });
}

SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER bufferLength,
                                     SQLINTEGER* length) {
  if (!h) return SQL_INVALID_HANDLE;
  return getConnectAttr(static_cast<Dbc*>(h), attribute, value, bufferLength, length, true);
}

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length) {
  if (!h) return SQL_INVALID_HANDLE;
  return setConnectAttr(static_cast<Dbc*>(h), attribute, value, length, true);
}

SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER bufferLength,
                                  SQLINTEGER* length) {
  if (!h) return SQL_INVALID_HANDLE;
  return getStmtAttr(static_cast<Stmt*>(h), attribute, value, bufferLength, length);
}

SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length) {
  if (!h) return SQL_INVALID_HANDLE;
  return setStmtAttr(static_cast<Stmt*>(h), attribute, value, length);
}

SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT h, SQLWCHAR* text, SQLINTEGER length) {
  if (!h) return SQL_INVALID_HANDLE;
  return execDirect(static_cast<Stmt*>(h), wideIn(text, length));
}

SQLRETURN SQL_API SQLPrepareW(SQLHSTMT h, SQLWCHAR* text, SQLINTEGER length) {
  if (!h) return SQL_INVALID_HANDLE;
  return prepareText(static_cast<Stmt*>(h), wideIn(text, length));
}

SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT h, SQLUSMALLINT column, SQLWCHAR* name, SQLSMALLINT bufferLength,
                                  SQLSMALLINT* nameLength, SQLSMALLINT* dataType, SQLULEN* columnSize,
                                  SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  if (!h) return SQL_INVALID_HANDLE;
  return describeCol(static_cast<Stmt*>(h), column, name, bufferLength, nameLength, dataType, columnSize, digits,
                     nullable, true);
}

SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT h, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text,
                                   SQLSMALLINT bufferLength, SQLSMALLINT* length, SQLLEN* number) {
  if (!h) return SQL_INVALID_HANDLE;
  return colAttribute(static_cast<Stmt*>(h), column, field, text, bufferLength, length, number, true);
}

SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC h, SQLWCHAR* in, SQLINTEGER inLength, SQLWCHAR* out, SQLINTEGER outLength,
                                SQLINTEGER* outLengthPtr) {
  if (!h) return SQL_INVALID_HANDLE;
  return nativeSqlOut(static_cast<Dbc*>(h), wideIn(in, inLength), out, outLength, outLengthPtr, true);
}

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT type, SQLHANDLE h, SQLSMALLINT record, SQLWCHAR* state,
                                 SQLINTEGER* native, SQLWCHAR* message, SQLSMALLINT bufferLength,
                                 SQLSMALLINT* textLength) {
  Diagnostics* diag = diagnosticsOf(type, h);
  if (!diag) return SQL_INVALID_HANDLE;
  return getDiagRec(*diag, record, state, native, message, bufferLength, textLength, true);
}

SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT type, SQLHANDLE h, SQLSMALLINT record, SQLSMALLINT field,
                                   SQLPOINTER info, SQLSMALLINT bufferLength, SQLSMALLINT* stringLength) {
  Diagnostics* diag = diagnosticsOf(type, h);
  if (!diag) return SQL_INVALID_HANDLE;
  return getDiagField(*diag, type, record, field, info, bufferLength, stringLength, true);
}

}  // extern "C"
