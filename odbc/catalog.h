// The catalog functions as result sets built in memory: tables (user tables as TABLE, saved select
// queries that run as views as VIEW, system tables only when asked for), columns, primary keys,
// indexes, relationships, the best row identifier, procedures (none) and the type information.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <string>

#include "odbc/handles.h"
#include "odbc/result.h"

namespace odbc {

// Search arguments as the application gave them; `set` is false for a null pointer.
struct Arg {
  std::string text;
  bool set = false;
};

std::unique_ptr<Result> tables(Dbc& dbc, const Arg& catalog, const Arg& schema, const Arg& table, const Arg& types);
std::unique_ptr<Result> columns(Dbc& dbc, const Arg& table, const Arg& column, bool identifiers);
std::unique_ptr<Result> primaryKeys(Dbc& dbc, const Arg& table);
std::unique_ptr<Result> statistics(Dbc& dbc, const Arg& table, SQLUSMALLINT unique);
std::unique_ptr<Result> foreignKeys(Dbc& dbc, const Arg& pkTable, const Arg& fkTable);
std::unique_ptr<Result> specialColumns(Dbc& dbc, SQLUSMALLINT identifierType, const Arg& table);
std::unique_ptr<Result> procedures();
std::unique_ptr<Result> typeInfo(Dbc& dbc, SQLSMALLINT sqlType);

// Whether `name` matches an ODBC search pattern (% any run, _ any one character, \ escapes),
// ignoring case; with `identifier`, the pattern is a plain name.
bool matchesPattern(const std::string& name, const std::string& pattern, bool identifier = false);

}  // namespace odbc
