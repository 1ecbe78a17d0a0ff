// PostgreSQL's client library, loaded the first time a migration reaches a server. The command-line
// program does not link it: libpq pulls in some twenty libraries (Kerberos, LDAP, TLS), and loading
// them was most of the start-up time of every short command.
#pragma once

#include <libpq-fe.h>

namespace migrate {

#define TABULONIX_LIBPQ_FUNCTIONS(X)                                                                  \
  X(PQclear) X(PQconnectdb) X(PQerrorMessage) X(PQexec) X(PQexecParams) X(PQfinish) X(PQfreemem)       \
  X(PQgetCopyData) X(PQgetResult) X(PQgetvalue) X(PQntuples) X(PQputCopyData) X(PQputCopyEnd)           \
  X(PQresultErrorField) X(PQresultErrorMessage) X(PQresultStatus) X(PQsetClientEncoding) X(PQstatus)

// libpq's functions under their own names.
struct LibPq {
#define TABULONIX_LIBPQ_MEMBER(f) decltype(&::f) f;
  TABULONIX_LIBPQ_FUNCTIONS(TABULONIX_LIBPQ_MEMBER)
#undef TABULONIX_LIBPQ_MEMBER
};

// The library, loaded once (thread-safe). Throws Refused, saying why, when it cannot be loaded.
const LibPq& libpq();

}  // namespace migrate
