// Paths of database files and the files beside them (journals, lock files, copies being written).
#pragma once

#include <string>

namespace jet {

// The last component of a path, as messages name a file.
inline std::string fileName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder that holds a path ("." for a bare name, "/" for a file in the root).
inline std::string folderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

}  // namespace jet
