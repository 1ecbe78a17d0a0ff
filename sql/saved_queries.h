// Saved queries in the SQL connection: each select and union query translated into SQLite's
// dialect and defined as a view under its own name (a query with parameters is kept as a
// statement to run with them), action queries translated into the statement that does their
// work, and every other one given the reason it is not.
#pragma once

#include <vector>

#include "jet/catalog/saved_query.h"
#include "sql/connection.h"

struct sqlite3;
struct sqlite3_stmt;

namespace sql {

class Bridge;

// Fills each query's sqliteSql, parameters, isView and reason (definitions[i] is queries[i]'s),
// defining the views in `db`. Queries may use other queries: views are defined once the views
// they use are.
void translateQueries(sqlite3* db, Bridge& bridge, std::vector<SavedQuery>& queries,
                      const std::vector<jet::QueryDefinition>& definitions);

// The value of a parameter as given on the command line, in the form SQL compares it in: a date
// as 'YYYY-MM-DD HH:MM:SS', a number as a number, anything else as text.
void bindParameter(sqlite3_stmt* stmt, int index, const QueryParameter& parameter, const std::string& value);

}  // namespace sql
