#include "sql/statement.h"

#include <sqlite3.h>

namespace sql {

Statement prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    throw SqlError(sqlite3_errmsg(db), -1);
  }
  return Statement(stmt, sqlite3_finalize);
}

void run(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return;
  const std::string why = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  throw SqlError(why, -1);
}

}  // namespace sql
