#include "jet/storage/lock_file.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

#include "jet/base/names.h"

namespace jet {

namespace {

constexpr uint64_t kUserLocks = 0x10000001;  // the first user lock; one byte per entry
constexpr int kSlots = 255;
constexpr size_t kEntry = 64, kName = 32;
constexpr uint64_t kOurMarks = 0x100000000ull;  // + slot: held by our programs beside their user lock

bool endsWith(const std::string& s, const std::string& tail) {
  if (s.size() < tail.size()) return false;
  return sameName(std::string_view(s).substr(s.size() - tail.size()), tail);
}

std::string field(const uint8_t* p) {
  size_t n = 0;
  while (n < kName && p[n]) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

// The lock file goes straight to the operating system, never through a simulated Env: it holds
// no data of the database and nothing in it is forced to the disk, so a failing write or a crash
// there proves nothing about the database, and counting its writes would shift every fault and
// crash point a test enumerates depending on whether the open joined.
Env& lockFileEnv() { return Env::posix(); }

}  // namespace

std::string lockFilePathOf(const std::string& databasePath) {
  const auto slash = databasePath.find_last_of('/');
  const auto dot = databasePath.find_last_of('.');
  const std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                               ? databasePath.substr(0, dot)
                               : databasePath;
  return stem + (endsWith(databasePath, ".accdb") ? ".laccdb" : ".ldb");
}

JetUser LockFile::self() {
  JetUser me;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0) me.machine = host;
  if (const passwd* pw = ::getpwuid(::geteuid())) me.user = pw->pw_name;
  else if (const char* u = std::getenv("USER")) me.user = u;
  me.machine = me.machine.substr(0, kName - 1);
  me.user = me.user.substr(0, kName - 1);
  return me;
}

std::unique_ptr<LockFile> LockFile::join(const std::string& databasePath) {
  const std::string path = lockFilePathOf(databasePath);
  Env& env = lockFileEnv();
  // A user leaving removes the file when it is the last; a file opened just then is one nobody
  // else will see, so the name is checked again once a lock is held.
  for (int attempt = 0; attempt < 8; ++attempt) {
    int error = 0;
    auto file = env.open(path, OpenMode::OpenOrCreate, error);
    if (!file) return nullptr;
    int slot = -1;
    for (int i = 0; i < kSlots && slot < 0; ++i) {
      if (!file->lock(kOurMarks + uint64_t(i), 1, LockKind::Exclusive)) continue;
      if (file->lock(kUserLocks + uint64_t(i), 1, LockKind::Exclusive)) slot = i;
      else file->unlock(kOurMarks + uint64_t(i), 1);
    }
    if (slot < 0) return nullptr;
    auto again = env.open(path, OpenMode::ReadOnly, error);
    if (!again || again->identity() != file->identity()) continue;
    const JetUser me = self();
    uint8_t entry[kEntry] = {};
    std::memcpy(entry, me.machine.data(), me.machine.size());
    std::memcpy(entry + kName, me.user.data(), me.user.size());
    try {
      file->write(uint64_t(slot) * kEntry, entry, kEntry);
    } catch (const std::exception&) {
      // The lock is what counts; an entry that cannot be written only leaves our name out.
    }
    return std::unique_ptr<LockFile>(new LockFile(std::move(file), slot));
  }
  return nullptr;
}

LockFile::~LockFile() {
  file_->unlock(kUserLocks + uint64_t(slot_), 1);
  file_->unlock(kOurMarks + uint64_t(slot_), 1);
  if (file_->firstConflict(kUserLocks, kSlots, LockKind::Exclusive) < 0) lockFileEnv().remove(file_->path());
}

std::optional<JetUser> LockFile::findUser(File& file, bool foreignOnly) {
  for (uint64_t at = kUserLocks; at < kUserLocks + kSlots;) {
    const int64_t found = file.firstConflict(at, kUserLocks + kSlots - at, LockKind::Exclusive);
    if (found < 0) break;
    const uint64_t lock = std::max<uint64_t>(uint64_t(found), at);
    const uint64_t slot = lock - kUserLocks;
    at = lock + 1;
    if (foreignOnly && file.firstConflict(kOurMarks + slot, 1, LockKind::Exclusive) >= 0) continue;
    uint8_t entry[kEntry] = {};
    file.read(slot * kEntry, entry, kEntry);
    return JetUser{field(entry), field(entry + kName)};
  }
  return std::nullopt;
}

std::optional<JetUser> LockFile::foreignUserOf(const std::string& databasePath) {
  int error = 0;
  auto file = lockFileEnv().open(lockFilePathOf(databasePath), OpenMode::ReadOnly, error);
  if (!file) return std::nullopt;
  return findUser(*file, true);
}

}  // namespace jet
