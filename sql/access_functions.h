// Access's functions as SQL functions of a connection, for the queries translated from Access SQL:
// the scalar functions are the expression engine's (jet/expr), the aggregates SQLite lacks are here.
#pragma once

#include <string>

struct sqlite3;

namespace sql {

void registerAccessFunctions(sqlite3* db);

// Whether a translated query may call a function of this name (case-insensitive): one registered
// here, or one of SQLite's that behaves as Access's of the same name.
bool knownFunction(const std::string& name);

}  // namespace sql
