// The rows of an SQLite query as text, for tests that read SQLite databases: the bridge's own and
// the files a migration writes. Header-only, so that every test folder links the same helper.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <charconv>
#include <string>
#include <vector>

namespace testsupport {

// Each value as text: NULL as "NULL", reals in their shortest exact form, blobs as "x'..'" hex.
// Fails the test (and returns the rows so far) when the statement fails.
using Rows = std::vector<std::vector<std::string>>;

inline Rows query(sqlite3* db, const std::string& sql) {
  Rows rows;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
    return rows;
  }
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    std::vector<std::string>& row = rows.emplace_back();
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_NULL: row.push_back("NULL"); break;
        case SQLITE_INTEGER: row.push_back(std::to_string(sqlite3_column_int64(stmt, i))); break;
        case SQLITE_FLOAT: {
          char buf[64];
          auto [end, ec] = std::to_chars(buf, buf + sizeof buf, sqlite3_column_double(stmt, i));
          row.emplace_back(buf, end);
          break;
        }
        case SQLITE_BLOB: {
          static const char kHex[] = "0123456789abcdef";
          const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, i));
          std::string s = "x'";
          for (int k = 0; k < sqlite3_column_bytes(stmt, i); ++k) s += {kHex[p[k] >> 4], kHex[p[k] & 15]};
          row.push_back(s + "'");
          break;
        }
        default:
          row.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                           static_cast<size_t>(sqlite3_column_bytes(stmt, i)));
      }
    }
  }
  if (rc != SQLITE_DONE) ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
  sqlite3_finalize(stmt);
  return rows;
}

// The same on a database file, opened for this one statement.
inline Rows query(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  Rows rows;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) rows = query(db, sql);
  else ADD_FAILURE() << "cannot open " << path;
  sqlite3_close(db);
  return rows;
}

}  // namespace testsupport
