#include "jet/support/oracles.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace oracle {

std::optional<Run> mdbtools(const std::string& program, const std::string& arguments) {
  if (run("command -v " + program + " >/dev/null 2>&1").status != 0) return std::nullopt;
  return run(program + " " + arguments + " 2>/dev/null");
}

std::optional<std::vector<std::string>> mdbReader(const std::string& path, const std::string& password) {
  const std::string modules = std::string(TABULONIX_SOURCE_DIR) + "/tools/oracle/node_modules";
  if (!std::filesystem::exists(modules + "/mdb-reader")) return std::nullopt;
  if (run("command -v node >/dev/null 2>&1").status != 0) return std::nullopt;
  const std::string script = std::string(TABULONIX_SOURCE_DIR) + "/tests/jet/support/mdb_reader_dump.cjs";
  const std::string secret = password.empty() ? "" : "MDB_READER_PASSWORD=" + quote(password) + " ";
  Run r = run(secret + "MDB_READER_DIR=" + quote(modules) + " node " + quote(script) + " " + quote(path) + " 2>&1");
  std::vector<std::string> lines;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  if (r.status != 0) lines.insert(lines.begin(), "ERROR");
  return lines;
}

std::optional<std::map<std::string, std::vector<std::string>>> mdbReaderFiles(const std::vector<std::string>& paths) {
  const std::string modules = std::string(TABULONIX_SOURCE_DIR) + "/tools/oracle/node_modules";
  if (!std::filesystem::exists(modules + "/mdb-reader")) return std::nullopt;
  if (run("command -v node >/dev/null 2>&1").status != 0) return std::nullopt;
  std::map<std::string, std::vector<std::string>> out;
  if (paths.empty()) return out;
  const std::string script = std::string(TABULONIX_SOURCE_DIR) + "/tests/jet/support/mdb_reader_dump.cjs";
  std::string command = "MDB_READER_DIR=" + quote(modules) + " node " + quote(script);
  for (const std::string& p : paths) command += " " + quote(p);
  if (paths.size() == 1) command += " " + quote(paths[0]);  // two names keep the FILE lines
  Run r = run(command + " 2>&1");
  std::istringstream in(r.out);
  std::vector<std::string>* current = nullptr;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("FILE\t", 0) == 0) {
      current = &out[line.substr(5)];
      current->clear();
    } else if (current) {
      current->push_back(line);
    }
  }
  if (r.status != 0)
    for (const std::string& p : paths) out[p].insert(out[p].begin(), "ERROR");
  return out;
}

bool copyFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) return false;
  std::filesystem::permissions(to, std::filesystem::perms::owner_write, std::filesystem::perm_options::add, ec);
  return true;
}

}  // namespace oracle
