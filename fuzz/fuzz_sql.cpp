// Runs the input as SQL text over a fresh copy of one database (FUZZ_SQL_DB, a file with tables,
// indexes and saved queries): the statements go through SQLite into the virtual tables, so the
// constraint planning, index seeks, value conversions, Access functions and writes all see
// arbitrary SQL. Every input starts from the same file. Any outcome but success or a refusal
// (sql::SqlError, jet::Error) is a finding: a crash, a hang, a sanitizer report.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "jet/base/error.h"
#include "sql/connection.h"

namespace {

const std::string& scratchPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/tabulonix-fuzz-sql-" + std::to_string(getpid()) + ".mdb";
  }();
  return path;
}

// Steps every statement of the text in turn, reading each row's columns as text, with a bound on
// the rows (a cross join of the file's tables could run for hours without being wrong).
void runAll(sqlite3* db, const std::string& text) {
  const char* tail = text.c_str();
  const char* end = tail + text.size();
  size_t rows = 0;
  while (tail < end) {
    sqlite3_stmt* stmt = nullptr;
    const char* next = nullptr;
    if (sqlite3_prepare_v2(db, tail, static_cast<int>(end - tail), &stmt, &next) != SQLITE_OK || next == tail) {
      sqlite3_finalize(stmt);
      return;
    }
    tail = next;
    if (!stmt) continue;
    while (rows < 20000 && sqlite3_step(stmt) == SQLITE_ROW) {
      ++rows;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) (void)sqlite3_column_text(stmt, i);
    }
    sqlite3_finalize(stmt);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* source = std::getenv("FUZZ_SQL_DB");
  if (!source) {
    std::fprintf(stderr, "fuzz_sql: set FUZZ_SQL_DB to the database the statements run on\n");
    std::abort();
  }
  std::error_code ec;
  std::filesystem::copy_file(source, scratchPath(), std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) return 0;
  int progressCalls = 0;  // outlives the connection that counts into it
  try {
    auto connection = sql::Connection::open(scratchPath());
    // A statement may loop for ever on its own (a recursive CTE): stop it after a bounded amount
    // of work, as a user's cancel would.
    sqlite3_progress_handler(
        connection->handle(), 100000, [](void* calls) { return ++*static_cast<int*>(calls) > 200 ? 1 : 0; },
        &progressCalls);
    runAll(connection->handle(), std::string(reinterpret_cast<const char*>(data), size));
  } catch (const sql::SqlError&) {
  } catch (const jet::Error&) {
  }
  return 0;
}
