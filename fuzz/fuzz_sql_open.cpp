// Opens the input as a database through the SQL bridge: every user table becomes a virtual table
// and every saved query is rebuilt from the catalog's query rows and translated into a view, so
// damaged query rows, definitions and names reach the translation. Then reads every table and view
// (a bounded number of rows each) and one indexed lookup per table. Any outcome but success or a
// refusal (sql::SqlError, jet::Error) is a finding.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "jet/base/error.h"
#include "sql/bridge.h"
#include "sql/connection.h"

namespace {

const std::string& scratchPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/tabulonix-fuzz-sql-open-" + std::to_string(getpid()) + ".mdb";
  }();
  return path;
}

bool writeScratch(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(scratchPath().c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

void readSome(sqlite3* db, const std::string& select) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, select.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
    for (int rows = 0; rows < 5000 && sqlite3_step(stmt) == SQLITE_ROW; ++rows)
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) (void)sqlite3_column_text(stmt, i);
  }
  sqlite3_finalize(stmt);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!writeScratch(data, size)) return 0;
  try {
    sql::Options options;
    options.readOnly = true;
    auto connection = sql::Connection::open(scratchPath(), options);
    sqlite3* db = connection->handle();
    for (const std::string& name : connection->tableNames()) {
      readSome(db, "SELECT * FROM " + sql::quoteName(name));
      const jet::TableInfo& info = connection->table(name);
      if (!info.columns.empty())
        readSome(db, "SELECT * FROM " + sql::quoteName(name) + " WHERE " + sql::quoteName(info.columns[0].name) + " = 1");
    }
    for (const sql::SavedQuery& q : connection->queries())
      if (q.isView) readSome(db, "SELECT * FROM " + sql::quoteName(q.name));
    (void)connection->relationships();
  } catch (const sql::SqlError&) {
  } catch (const jet::Error&) {
  }
  return 0;
}
