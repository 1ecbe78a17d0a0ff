#include "db/compact_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "db/dao.h"
#include "jet/base/error.h"
#include "jet/compact.h"

namespace modDB {

std::string CompactTemporaryPath(const std::string& databasePath) {
  namespace fs = std::filesystem;
  const fs::path source = fs::absolute(fs::path(databasePath));
  static std::mt19937 random{std::random_device{}()};
  for (;;) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%06x", static_cast<unsigned>(random() & 0xffffff));
    const fs::path candidate = source.parent_path() / ("~" + source.stem().string() + ".compact-" + suffix + ".mdb");
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate.string();
  }
}

void WriteCompactedCopy(const std::string& source, const std::string& copy, const std::string& password) {
  dao::Engine().CompactDatabase(source, copy, password.empty() ? "" : ";PWD=" + password);
  jet::verifyCompactedCopy(source, copy, password);
}

void GiveOrdinaryAttributes(const std::string& copy, const std::string& source) {
  struct stat st {};
  mode_t mode = S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH;
  if (::stat(source.c_str(), &st) == 0) mode = (st.st_mode & 07777) | S_IRUSR | S_IWUSR;
  if (::chmod(copy.c_str(), mode) != 0)
    throw jet::Error(jet::err::kIoError, "Cannot set the attributes of the compacted file.");
}

void ReplaceWithCopy(const std::string& copy, const std::string& target) {
  if (std::rename(copy.c_str(), target.c_str()) != 0)
    throw jet::Error(jet::err::kIoError, "Cannot put the compacted file in place of '" + target + "'.");
  const std::string folder = std::filesystem::absolute(std::filesystem::path(target)).parent_path().string();
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace modDB
