#include "jet/linked_table.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "jet/base/names.h"

namespace jet {

namespace fs = std::filesystem;

namespace {

bool isFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

}  // namespace

std::string resolveLinkedSource(const std::string& storedPath, const std::string& linkingDatabasePath) {
  if (storedPath.empty()) return "";
  const fs::path folder = fs::path(linkingDatabasePath).parent_path();
  if (storedPath.front() == '/' && isFile(storedPath)) return storedPath;
  // Relative paths count from the linking database's folder, not the current directory.
  if (storedPath.front() != '/' && storedPath.find('\\') == std::string::npos && storedPath.find(':') == std::string::npos) {
    fs::path beside = folder / storedPath;
    if (isFile(beside)) return beside.string();
  }
  // The last component of a path in either separator style.
  const size_t cut = storedPath.find_last_of("/\\:");
  const std::string name = cut == std::string::npos ? storedPath : storedPath.substr(cut + 1);
  if (name.empty()) return "";
  if (isFile(folder / name)) return (folder / name).string();
  std::error_code ec;
  const std::string wanted = lowerName(name);
  for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec), end; !ec && it != end; it.increment(ec))
    if (lowerName(it->path().filename().string()) == wanted && isFile(it->path())) return it->path().string();
  return "";
}

}  // namespace jet
