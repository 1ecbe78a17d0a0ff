// Make-table queries: the rows of a SELECT become a new table of the file, as Access's SELECT ...
// INTO does. A table of the same name is replaced. Each column of the new table has the type and
// size of the column it is read from (an AutoNumber becomes a plain Long Integer, a complex column
// a Memo holding the export's JSON); a computed column is typed by the values it holds: whole
// numbers within 32 bits as Long Integer, other numbers as Double, dates as Date/Time, text of up
// to 255 characters as Text(255), longer text as Memo, binary values as OLE Object. Properties,
// indexes and rules are not carried, as in Access.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace sql {

class Bridge;

// Runs the make-table query whose rows `select` gives (`bind` binds its parameters) into table
// `target`: one change of the file, which must not be inside a transaction (3219). `schema` runs a
// statement that changes the connection's main schema. Returns the number of rows written.
// Throws SqlError for SQL that fails, jet::Error for what the engine refuses (an invalid or
// repeated column name, a table in a relationship that cannot be replaced); the file is then
// unchanged.
int64_t makeTable(sqlite3* db, Bridge& bridge, const std::string& target, const std::string& select,
                  const std::function<void(sqlite3_stmt*)>& bind, const std::function<void(const std::string&)>& schema);

}  // namespace sql
