// Entry points of handles and connections: allocation, attributes, connecting, transactions,
// diagnostics, information. The narrow forms take and give UTF-8.
#include <sqlite3.h>

#include <algorithm>
#include <cstring>

#include "odbc/api.h"
#include "odbc/connect.h"
#include "odbc/info.h"
#include "odbc/text.h"
#include "sql/connection.h"

using namespace odbc;

namespace {
Env* env(SQLHANDLE h) { return static_cast<Env*>(h); }
Dbc* dbc(SQLHANDLE h) { return static_cast<Dbc*>(h); }
Stmt* stmt(SQLHANDLE h) { return static_cast<Stmt*>(h); }

SQLRETURN integerOut(SQLPOINTER value, SQLINTEGER* length, SQLULEN v, bool pointerSized) {
  if (pointerSized) {
    if (value) *static_cast<SQLULEN*>(value) = v;
    if (length) *length = sizeof(SQLULEN);
  } else {
    if (value) *static_cast<SQLUINTEGER*>(value) = static_cast<SQLUINTEGER>(v);
    if (length) *length = sizeof(SQLUINTEGER);
  }
  return SQL_SUCCESS;
}
}  // namespace

namespace odbc {

Diagnostics* diagnosticsOf(SQLSMALLINT handleType, SQLHANDLE handle) {
  if (!handle) return nullptr;
  switch (handleType) {
    case SQL_HANDLE_ENV: return &env(handle)->diag;
    case SQL_HANDLE_DBC: return &dbc(handle)->diag;
    case SQL_HANDLE_STMT: return &stmt(handle)->diag;
    case SQL_HANDLE_DESC: return &static_cast<Desc*>(handle)->stmt->diag;
    default: return nullptr;
  }
}

SQLRETURN connectTo(Dbc* d, const std::string& dsn, const std::string& user, const std::string& password) {
  return guarded(d->diag, [&] {
    std::map<std::string, std::string> a{{"DSN", dsn}};
    if (!password.empty()) a["PWD"] = password;
    connect(*d, a);
    return static_cast<SQLRETURN>(SQL_SUCCESS);
  });
}

SQLRETURN driverConnect(Dbc* d, const std::string& in, void* out, SQLSMALLINT outLength, SQLSMALLINT* outLengthPtr,
                        SQLUSMALLINT completion, bool wide) {
  return guarded(d->diag, [&] {
    connect(*d, parseConnectionString(in));
    if (!textOut(connectionString(*d), out, outLength, wide, false, outLengthPtr))
      return d->diag.add("01004", "String data, right truncated");
    return static_cast<SQLRETURN>(SQL_SUCCESS);
  });
}

SQLRETURN getConnectAttr(Dbc* d, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER bufferLength, SQLINTEGER* length,
                         bool wide) {
  return guarded(d->diag, [&]() -> SQLRETURN {
    switch (attribute) {
      case SQL_ATTR_AUTOCOMMIT: return integerOut(value, length, d->autocommit ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF, false);
      case SQL_ATTR_ACCESS_MODE: return integerOut(value, length, d->readOnly ? SQL_MODE_READ_ONLY : SQL_MODE_READ_WRITE, false);
      case SQL_ATTR_LOGIN_TIMEOUT: return integerOut(value, length, d->loginTimeout, false);
      case SQL_ATTR_CONNECTION_TIMEOUT: return integerOut(value, length, d->connectionTimeout, false);
      case SQL_ATTR_PACKET_SIZE: return integerOut(value, length, d->packetSize, false);
      case SQL_ATTR_TXN_ISOLATION: return integerOut(value, length, SQL_TXN_SERIALIZABLE, false);
      case SQL_ATTR_CONNECTION_DEAD: return integerOut(value, length, d->conn ? SQL_CD_FALSE : SQL_CD_TRUE, false);
      case SQL_ATTR_ASYNC_ENABLE: return integerOut(value, length, SQL_ASYNC_ENABLE_OFF, true);
      case SQL_ATTR_METADATA_ID: return integerOut(value, length, SQL_FALSE, false);
      case SQL_ATTR_QUIET_MODE: return integerOut(value, length, 0, true);
      case SQL_ATTR_CURRENT_CATALOG:
        if (!textOut("", value, bufferLength, wide, true, length)) return d->diag.add("01004", "String data, right truncated");
        return SQL_SUCCESS;
      default: return d->diag.add("HY092", "Invalid attribute/option identifier " + std::to_string(attribute));
    }
  });
}

SQLRETURN setConnectAttr(Dbc* d, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length, bool wide) {
  return guarded(d->diag, [&]() -> SQLRETURN {
    const auto v = static_cast<SQLULEN>(reinterpret_cast<uintptr_t>(value));
    switch (attribute) {
      case SQL_ATTR_AUTOCOMMIT: setAutocommit(*d, v == SQL_AUTOCOMMIT_ON); return SQL_SUCCESS;
      case SQL_ATTR_ACCESS_MODE:
        // The mode is chosen when connecting (READONLY=1); a read-only request on an open
        // read-write connection is noted and honoured by refusing nothing more.
        return SQL_SUCCESS;
      case SQL_ATTR_LOGIN_TIMEOUT: d->loginTimeout = static_cast<SQLUINTEGER>(v); return SQL_SUCCESS;
      case SQL_ATTR_CONNECTION_TIMEOUT: d->connectionTimeout = static_cast<SQLUINTEGER>(v); return SQL_SUCCESS;
      case SQL_ATTR_PACKET_SIZE: d->packetSize = static_cast<SQLUINTEGER>(v); return SQL_SUCCESS;
      case SQL_ATTR_TXN_ISOLATION:
        if (v != SQL_TXN_SERIALIZABLE) return d->diag.add("01S02", "Option value changed: transactions are serializable");
        return SQL_SUCCESS;
      case SQL_ATTR_CURRENT_CATALOG:
      case SQL_ATTR_QUIET_MODE:
      case SQL_ATTR_METADATA_ID:
      case SQL_ATTR_ANSI_APP:
        return SQL_SUCCESS;
      case SQL_ATTR_ASYNC_ENABLE:
        if (v != SQL_ASYNC_ENABLE_OFF) return d->diag.add("HYC00", "Optional feature not implemented: asynchronous execution");
        return SQL_SUCCESS;
      default:
        return d->diag.add("HY092", "Invalid attribute/option identifier " + std::to_string(attribute));
    }
  });
}

SQLRETURN nativeSqlOut(Dbc* d, const std::string& in, void* out, SQLINTEGER outLength, SQLINTEGER* outLengthPtr,
                       bool wide) {
  return guarded(d->diag, [&]() -> SQLRETURN {
    if (!textOut(nativeSql(in), out, outLength, wide, false, outLengthPtr))
      return d->diag.add("01004", "String data, right truncated");
    return SQL_SUCCESS;
  });
}

Arg narrowArg(SQLCHAR* text, SQLSMALLINT length) {
  if (!text) return {};
  return {narrowIn(text, length), true};
}

Arg wideArg(SQLWCHAR* text, SQLSMALLINT length) {
  if (!text) return {};
  return {wideIn(text, length), true};
}

}  // namespace odbc

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  if (!output) return SQL_ERROR;
  try {
    switch (type) {
      case SQL_HANDLE_ENV:
        *output = new Env;
        return SQL_SUCCESS;
      case SQL_HANDLE_DBC: {
        if (!input) return SQL_INVALID_HANDLE;
        auto* d = new Dbc;
        d->env = env(input);
        *output = d;
        return SQL_SUCCESS;
      }
      case SQL_HANDLE_STMT: {
        if (!input) return SQL_INVALID_HANDLE;
        Dbc* d = dbc(input);
        if (!d->conn) {
          d->diag.clear();
          return d->diag.add("08003", "Connection not open");
        }
        auto* s = new Stmt;
        s->dbc = d;
        for (Desc& desc : s->descs) desc.stmt = s;
        d->statements.push_back(s);
        *output = s;
        return SQL_SUCCESS;
      }
      case SQL_HANDLE_DESC:
        if (!input) return SQL_INVALID_HANDLE;
        dbc(input)->diag.clear();
        return dbc(input)->diag.add("HYC00", "Optional feature not implemented: explicit descriptors");
      default:
        return SQL_ERROR;
    }
  } catch (...) {
    *output = SQL_NULL_HANDLE;
    return SQL_ERROR;
  }
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  if (!handle) return SQL_INVALID_HANDLE;
  switch (type) {
    case SQL_HANDLE_ENV:
      delete env(handle);
      return SQL_SUCCESS;
    case SQL_HANDLE_DBC: {
      Dbc* d = dbc(handle);
      if (d->conn) {
        d->diag.clear();
        return d->diag.add("HY010", "Function sequence error: disconnect first");
      }
      for (Stmt* s : d->statements) delete s;
      delete d;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_STMT: {
      Stmt* s = stmt(handle);
      auto& list = s->dbc->statements;
      list.erase(std::remove(list.begin(), list.end(), s), list.end());
      delete s;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_DESC:
      return SQL_ERROR;
    default:
      return SQL_ERROR;
  }
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  if (!h) return SQL_INVALID_HANDLE;
  Env* e = env(h);
  return guarded(e->diag, [&]() -> SQLRETURN {
    const auto v = static_cast<SQLINTEGER>(reinterpret_cast<intptr_t>(value));
    switch (attribute) {
      case SQL_ATTR_ODBC_VERSION:
        if (v != SQL_OV_ODBC2 && v != SQL_OV_ODBC3 && v != SQL_OV_ODBC3_80)
          return e->diag.add("HY024", "Invalid attribute value");
        e->odbcVersion = v;
        return SQL_SUCCESS;
      case SQL_ATTR_CONNECTION_POOLING:
      case SQL_ATTR_CP_MATCH:
        return SQL_SUCCESS;
      case SQL_ATTR_OUTPUT_NTS:
        if (v != SQL_TRUE) return e->diag.add("HYC00", "Optional feature not implemented");
        return SQL_SUCCESS;
      default:
        return e->diag.add("HY092", "Invalid attribute/option identifier");
    }
  });
}

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER, SQLINTEGER* length) {
  if (!h) return SQL_INVALID_HANDLE;
  Env* e = env(h);
  return guarded(e->diag, [&]() -> SQLRETURN {
    switch (attribute) {
      case SQL_ATTR_ODBC_VERSION: return integerOut(value, length, static_cast<SQLULEN>(e->odbcVersion), false);
      case SQL_ATTR_CONNECTION_POOLING: return integerOut(value, length, e->pooling, false);
      case SQL_ATTR_CP_MATCH: return integerOut(value, length, SQL_CP_STRICT_MATCH, false);
      case SQL_ATTR_OUTPUT_NTS: return integerOut(value, length, SQL_TRUE, false);
      default: return e->diag.add("HY092", "Invalid attribute/option identifier");
    }
  });
}

SQLRETURN SQL_API SQLConnect(SQLHDBC h, SQLCHAR* dsn, SQLSMALLINT dsnLength, SQLCHAR* user, SQLSMALLINT userLength,
                             SQLCHAR* password, SQLSMALLINT passwordLength) {
  if (!h) return SQL_INVALID_HANDLE;
  return connectTo(dbc(h), narrowIn(dsn, dsnLength), narrowIn(user, userLength), narrowIn(password, passwordLength));
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC h, SQLHWND, SQLCHAR* in, SQLSMALLINT inLength, SQLCHAR* out,
                                   SQLSMALLINT outLength, SQLSMALLINT* outLengthPtr, SQLUSMALLINT completion) {
  if (!h) return SQL_INVALID_HANDLE;
  return driverConnect(dbc(h), narrowIn(in, inLength), out, outLength, outLengthPtr, completion, false);
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC h) {
  if (!h) return SQL_INVALID_HANDLE;
  Dbc* d = dbc(h);
  return guarded(d->diag, [&] {
    disconnect(*d);
    return static_cast<SQLRETURN>(SQL_SUCCESS);
  });
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC h, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bufferLength,
                             SQLSMALLINT* length) {
  if (!h) return SQL_INVALID_HANDLE;
  Dbc* d = dbc(h);
  return guarded(d->diag, [&] { return getInfo(*d, type, value, bufferLength, length, false); });
}

SQLRETURN SQL_API SQLGetFunctions(SQLHDBC h, SQLUSMALLINT function, SQLUSMALLINT* supported) {
  if (!h) return SQL_INVALID_HANDLE;
  return getFunctions(function, supported);
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER bufferLength,
                                    SQLINTEGER* length) {
  if (!h) return SQL_INVALID_HANDLE;
  return getConnectAttr(dbc(h), attribute, value, bufferLength, length, false);
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC h, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length) {
  if (!h) return SQL_INVALID_HANDLE;
  return setConnectAttr(dbc(h), attribute, value, length, false);
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE h, SQLSMALLINT completion) {
  if (!h) return SQL_INVALID_HANDLE;
  if (type == SQL_HANDLE_ENV) return SQL_SUCCESS;  // the driver manager ends each connection's
  if (type != SQL_HANDLE_DBC) return SQL_ERROR;
  Dbc* d = dbc(h);
  return guarded(d->diag, [&] {
    endTransaction(*d, completion);
    return static_cast<SQLRETURN>(SQL_SUCCESS);
  });
}

SQLRETURN SQL_API SQLNativeSql(SQLHDBC h, SQLCHAR* in, SQLINTEGER inLength, SQLCHAR* out, SQLINTEGER outLength,
                               SQLINTEGER* outLengthPtr) {
  if (!h) return SQL_INVALID_HANDLE;
  return nativeSqlOut(dbc(h), narrowIn(in, inLength), out, outLength, outLengthPtr, false);
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE h, SQLSMALLINT record, SQLCHAR* state, SQLINTEGER* native,
                                SQLCHAR* message, SQLSMALLINT bufferLength, SQLSMALLINT* textLength) {
  Diagnostics* diag = diagnosticsOf(type, h);
  if (!diag) return SQL_INVALID_HANDLE;
  return getDiagRec(*diag, record, state, native, message, bufferLength, textLength, false);
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT type, SQLHANDLE h, SQLSMALLINT record, SQLSMALLINT field,
                                  SQLPOINTER info, SQLSMALLINT bufferLength, SQLSMALLINT* stringLength) {
  Diagnostics* diag = diagnosticsOf(type, h);
  if (!diag) return SQL_INVALID_HANDLE;
  return getDiagField(*diag, type, record, field, info, bufferLength, stringLength, false);
}

}  // extern "C"
