// Saved queries in the SQL connection: each select, union and crosstab query translated into
// SQLite's dialect and defined as a view under its own name (a query with parameters is kept as a
// statement to run with them), action queries translated into the statement that does their
// work, and every other one given the reason it is not.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "jet/base/schema.h"
#include "jet/catalog/saved_query.h"
#include "sql/connection.h"
#include "sql/translate.h"

struct sqlite3;
struct sqlite3_stmt;

namespace sql {

class Bridge;

// The saved queries of a database in catalog order (the hidden ones of forms and reports left
// out), each with its type, parameters and Access SQL; definitions[i] is queries[i]'s (empty
// where its rows could not be read, the query's reason saying why).
std::vector<SavedQuery> readSavedQueries(jet::Database& db, std::vector<jet::QueryDefinition>& definitions);

// A saved select or union query, or a crosstab with fixed column headings, without parameters as
// a SELECT of the dialect, over `tables` (the database's tables, for DISTINCTROW's keys). Throws
// Untranslatable.
std::string selectIn(Dialect dialect, const jet::QueryDefinition& query, const std::vector<jet::TableInfo>& tables);

// Fills each query's sqliteSql, parameters, isView and reason (definitions[i] is queries[i]'s),
// defining the views in `db`. Queries may use other queries: views are defined once the views
// they use are. As in Access, a plain name found in none of the query's tables is a parameter
// (type 0) after the declared ones.
void translateQueries(sqlite3* db, Bridge& bridge, std::vector<SavedQuery>& queries,
                      const std::vector<jet::QueryDefinition>& definitions);

// The SELECT of a crosstab whose columns come from its data (q.columnsFromData): its headings read
// with `bind` binding the query's parameters, then one column per heading. Throws SqlError.
std::string crosstabOfData(sqlite3* db, Bridge& bridge, const SavedQuery& q, const jet::QueryDefinition& definition,
                           const std::function<void(sqlite3_stmt*)>& bind);

// The value of a parameter as given on the command line, in the form SQL compares it in: a date
// as 'YYYY-MM-DD HH:MM:SS', a number as a number, anything else as text. An undeclared parameter
// takes the first of those its value has the form of.
void bindParameter(sqlite3_stmt* stmt, int index, const QueryParameter& parameter, const std::string& value);

}  // namespace sql
