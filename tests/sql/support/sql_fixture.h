// Shared by the SQL bridge's tests: running a query into rows of text, copies of test files in a
// private folder, and running the command-line tool in the test process.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct sqlite3;

namespace sqltest {

// The rows of a query, each value as text: NULL as "NULL", reals in their shortest exact form,
// blobs as "x'..'" hex. Fails the test (and returns nothing) when the statement fails.
using Rows = std::vector<std::vector<std::string>>;
Rows query(sqlite3* db, const std::string& sql);

// A private folder removed when the object goes; copy() puts a shared test file in it.
class Folder {
 public:
  Folder();
  ~Folder();
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  std::string copy(const std::string& testFile, const std::string& as = "");
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

struct Run {
  int rc = -1;
  std::string out, err;
};
// Runs `tabulonix-cli ARGS...` in this process with `input` on its standard input.
Run cli(std::vector<std::string> args, const std::string& input = "");

std::vector<uint8_t> bytesOf(const std::string& path);

}  // namespace sqltest
