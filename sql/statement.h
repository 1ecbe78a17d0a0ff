// SQLite statements on the bridge's connection: one owned statement, and SQL run for its effect,
// each failing with SQLite's message as SqlError.
#pragma once

#include <memory>
#include <string>

#include "sql/connection.h"

struct sqlite3;
struct sqlite3_stmt;

namespace sql {

using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

// Compiles the one statement `sql` holds. Throws SqlError.
Statement prepare(sqlite3* db, const std::string& sql);

// Runs the statements of `sql`, discarding any rows. Throws SqlError (without a position).
void run(sqlite3* db, const std::string& sql);

}  // namespace sql
