// What the driver says of itself and its data source: SQLGetInfo and SQLGetFunctions.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "odbc/handles.h"

namespace odbc {

SQLRETURN getInfo(Dbc& dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bufferLength, SQLSMALLINT* length,
                  bool wide);
SQLRETURN getFunctions(SQLUSMALLINT function, SQLUSMALLINT* supported);

}  // namespace odbc
