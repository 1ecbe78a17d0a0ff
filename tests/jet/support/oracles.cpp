#include "jet/support/oracles.h"

#include <filesystem>

namespace oracle {

std::optional<Run> mdbtools(const std::string& program, const std::string& arguments) {
  if (!testsupport::haveProgram(program)) return std::nullopt;
  return run(program + " " + arguments + " 2>/dev/null");
}

std::optional<std::vector<std::string>> mdbReader(const std::string& path, const std::string& password) {
  const std::string modules = std::string(TABULONIX_SOURCE_DIR) + "/tools/oracle/node_modules";
  if (!std::filesystem::exists(modules + "/mdb-reader")) return std::nullopt;
  if (!testsupport::haveProgram("node")) return std::nullopt;
  const std::string script = std::string(TABULONIX_SOURCE_DIR) + "/tests/jet/support/mdb_reader_dump.cjs";
  const std::string secret = password.empty() ? "" : "MDB_READER_PASSWORD=" + quote(password) + " ";
  Run r = run(secret + "MDB_READER_DIR=" + quote(modules) + " node " + quote(script) + " " + quote(path) + " 2>&1");
  std::vector<std::string> lines = testsupport::lines(r.out);
  if (r.status != 0) lines.insert(lines.begin(), "ERROR");
  return lines;
}

}  // namespace oracle
