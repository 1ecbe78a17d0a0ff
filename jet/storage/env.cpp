// The operating system's Env: POSIX calls, open-file-description locks.
#include "jet/storage/env.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jet/base/error.h"
#include "jet/base/paths.h"

namespace jet {

namespace {

// Read from the environment on first use, so that it does not depend on the order in which the
// program's statics are set up.
bool& syncing() {
  static bool on = [] {
    const char* v = std::getenv("TABULONIX_NO_SYNC");
    return !(v && *v && std::strcmp(v, "0") != 0);
  }();
  return on;
}

class PosixFile : public File {
 public:
  PosixFile(std::string path, int fd) : File(std::move(path)), fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }

  size_t read(uint64_t offset, uint8_t* out, size_t len) override {
    size_t done = 0;
    while (done < len) {
      ssize_t n = ::pread(fd_, out + done, len - done, off_t(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw Error(err::kIoError, "Disk or network error reading '" + fileName(path()) + "'.");
      if (n == 0) break;
      done += size_t(n);
    }
    return done;
  }

  void write(uint64_t offset, const uint8_t* data, size_t len) override {
    size_t done = 0;
    while (done < len) {
      ssize_t n = ::pwrite(fd_, data + done, len - done, off_t(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throwWriteError(n < 0 ? errno : ENOSPC, path());
      done += size_t(n);
    }
  }

  uint64_t size() override {
    struct stat st;
    return ::fstat(fd_, &st) == 0 ? uint64_t(st.st_size) : 0;
  }

  void truncate(uint64_t size) override {
    if (::ftruncate(fd_, off_t(size)) != 0) throwWriteError(errno, path());
  }

  void sync() override {
    if (syncing() && ::fdatasync(fd_) != 0) throwWriteError(errno, path());
  }

  std::pair<uint64_t, uint64_t> identity() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return {0, 0};
    return {uint64_t(st.st_dev), uint64_t(st.st_ino)};
  }

  int64_t changeTime() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return 0;
    return int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  }

  State state() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return {};
    return {uint64_t(st.st_size), int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
  }

  bool lock(uint64_t offset, uint64_t len, LockKind kind) override {
    struct flock fl = range(offset, len, kind == LockKind::Shared ? F_RDLCK : F_WRLCK);
    while (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EACCES) return false;
      throw Error(err::kIoError, "Cannot lock '" + fileName(path()) + "': " + std::strerror(errno) + ".");
    }
    return true;
  }

  void unlock(uint64_t offset, uint64_t len) override {
    struct flock fl = range(offset, len, F_UNLCK);
    while (::fcntl(fd_, F_OFD_SETLK, &fl) != 0 && errno == EINTR) {
    }
  }

  int64_t firstConflict(uint64_t offset, uint64_t len, LockKind kind) override {
    struct flock fl = range(offset, len, kind == LockKind::Shared ? F_RDLCK : F_WRLCK);
    if (::fcntl(fd_, F_OFD_GETLK, &fl) != 0 || fl.l_type == F_UNLCK) return -1;
    return int64_t(fl.l_start);
  }

 private:
  static struct flock range(uint64_t offset, uint64_t len, short type) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(offset);
    fl.l_len = off_t(len);
    fl.l_pid = 0;  // required for open-file-description locks
    return fl;
  }

  int fd_;
};

class PosixEnv : public Env {
 public:
  std::unique_ptr<File> open(const std::string& path, OpenMode mode, int& error) override {
    int flags = O_CLOEXEC;
    switch (mode) {
      case OpenMode::ReadOnly: flags |= O_RDONLY; break;
      case OpenMode::ReadWrite: flags |= O_RDWR; break;
      case OpenMode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
      case OpenMode::OpenOrCreate: flags |= O_RDWR | O_CREAT; break;
    }
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
      error = errno;
      return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      error = EISDIR;
      return nullptr;
    }
    return std::make_unique<PosixFile>(path, fd);
  }

  bool exists(const std::string& path) override {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
  }

  bool link(const std::string& from, const std::string& to, int& error) override {
    if (::link(from.c_str(), to.c_str()) == 0) return true;
    error = errno;
    return false;
  }

  void remove(const std::string& path) override { ::unlink(path.c_str()); }

  void syncFolder(const std::string& path) override {
    if (!syncing()) return;
    int fd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    const int rc = ::fsync(fd);
    const int e = errno;
    ::close(fd);
    if (rc != 0 && e != EINVAL) throwWriteError(e, path);
  }
};

Env* installed = nullptr;

}  // namespace

[[noreturn]] void throwWriteError(int error, const std::string& path) {
  if (error == ENOSPC || error == EDQUOT)
    throw Error(err::kDiskFull, "Disk full: there is not enough space to write to '" + fileName(path) + "'.");
  throw Error(err::kIoError, "Disk or network error writing '" + fileName(path) + "'.");
}

Env& Env::posix() {
  static PosixEnv env;
  return env;
}

Env& Env::get() { return installed ? *installed : posix(); }
void Env::install(Env* env) { installed = env; }
void Env::setSyncToDisk(bool on) { syncing() = on; }
bool Env::syncToDisk() { return syncing(); }

}  // namespace jet
