// Test files: copies of the shared test databases in a private temporary folder, so that tests
// may damage or change them freely.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "jet/base/row_id.h"
#include "jet/base/value.h"
#include "support/files.h"

namespace jet {
class Database;
class TextCodec;
}

namespace jettest {

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::testdata;
using testsupport::writeFile;

// Every test database of the shared test data (its own folder, more/, ace/ and generated/), as names
// relative to it, sorted: every .mdb and .accdb file but the big benchmark file and the encrypted
// .accdb ones (their names start with "password"), which mdbtools cannot read and which need their
// password; their own tests cover them. Header-only, so that every test folder lists the same files.
inline std::vector<std::string> allTestFiles() {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(TABULONIX_TESTDATA_DIR)) {
    const auto ext = e.path().extension();
    if (!e.is_regular_file() || (ext != ".mdb" && ext != ".accdb")) continue;
    if (ext == ".accdb" && e.path().filename().string().rfind("password", 0) == 0) continue;
    std::string rel = std::filesystem::relative(e.path(), TABULONIX_TESTDATA_DIR).string();
    if (rel.find("big200k") != std::string::npos) continue;
    out.push_back(rel);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The database password that opens a test file (the password-protected ones are named so).
inline std::string passwordOf(const std::string& file) {
  return std::filesystem::path(file).filename().string().rfind("password", 0) == 0 ? "password" : "";
}

// The Windows-1252 codec of the calling thread, for tests that read catalogs and rows over bare
// pages, where no database's code page is at hand.
jet::TextCodec& cp1252();

// The engine error a call ends in as "number: description", or "" when it returns normally.
std::string failure(const std::function<void()>& call);

// Leaves the file at `path` as a program killed inside `change` leaves it just before its journal
// is cleared: every page written, the journal still hot. Throws when the change was not cut short.
void crashBeforeTheJournalIsCleared(const std::string& path, const std::function<void(jet::Database&)>& change);

// The whole-file check's first problem, or "" for a sound file.
std::string firstProblem(jet::Database& db);

// Opens a file read-only, reads every value of every table and runs the check, whose problems go to
// `problems`. Returns "" when each step worked or ended in an engine error that says what it is,
// otherwise what went wrong (another kind of exception, an error without a description).
std::string readEverything(const std::string& path, std::vector<std::string>* problems = nullptr);

// A file's pages in memory, to damage them; the page size follows the header's version byte.
struct PageImage {
  explicit PageImage(const std::string& path);
  std::vector<uint8_t> bytes;
  size_t size = 0;
  uint32_t count() const { return uint32_t(bytes.size() / size); }
  uint8_t* page(uint32_t n) { return bytes.data() + size_t(n) * size; }
  uint8_t type(uint32_t n) { return page(n)[0]; }
  uint32_t owner(uint32_t n);  // the table definition (or "LVAL") the page header names
  void zero(uint32_t n) { std::fill_n(page(n), size, uint8_t(0)); }
};

// A table's rows as text, in stored order: each value's text (<null> for Null) followed by '|'.
std::vector<std::string> rowsOf(jet::Database& db, const std::string& table);
// A table's rows in stored order: their values, or their addresses.
std::vector<std::vector<jet::Value>> valuesOf(jet::Database& db, const std::string& table);
std::vector<jet::RowId> rowIdsOf(jet::Database& db, const std::string& table);

// Every user and system table of an open database with all its values as text, in stored order.
std::vector<std::pair<std::string, std::vector<std::string>>> contents(jet::Database& db);

}  // namespace jettest
