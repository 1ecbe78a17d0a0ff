// Other programs for tests: work run in a forked child, pipes through which processes signal one
// another rather than wait for a time, an Env over the operating system's files that signals the
// first time a lock is refused (the moment a program starts to wait for another), and a Jet
// program's user in a lock file. Header-only.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "jet/base/error.h"
#include "jet/storage/env.h"

namespace testsupport {

// The exit status of a forked child whose work threw.
constexpr int kThrew = 203;

// Runs `work` in a forked child, which exits with what it returns (kThrew when it throws, saying why).
inline int spawn(const std::function<int()>& work) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  int code = kThrew;
  try {
    code = work();
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "child %d: %d: %s\n", int(::getpid()), e.number(), e.description().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "child %d: %s\n", int(::getpid()), e.what());
  } catch (...) {
    std::fprintf(stderr, "child %d: an exception of unknown type\n", int(::getpid()));
  }
  ::_exit(code);
}

// Waits for a forked child: its exit status, or minus the signal that ended it.
inline int waitFor(int pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// Runs `work` in a forked child and waits for it (see waitFor).
inline int inChild(const std::function<void()>& work) {
  return waitFor(spawn([&] { return work(), 0; }));
}

// A Jet program (Access, say) in the lock file beside a database: its entry in `slot` and its user
// lock, held on a descriptor of its own until the result goes; nullptr when that fails.
inline std::shared_ptr<void> jetUser(const std::string& lockFile, int slot) {
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT, 0666);
  char entry[64] = {};
  std::strcpy(entry, "ACCESS-PC");
  std::strcpy(entry + 32, "Admin");
  struct flock fl = {.l_type = F_WRLCK, .l_whence = SEEK_SET, .l_start = 0x10000001 + slot, .l_len = 1, .l_pid = 0};
  if (fd < 0 || ::pwrite(fd, entry, 64, 64 * slot) != 64 || ::fcntl(fd, F_OFD_SETLK, &fl) != 0) return nullptr;
  return std::shared_ptr<void>(new int(fd), [](void* p) {
    ::close(*static_cast<int*>(p));
    delete static_cast<int*>(p);
  });
}

struct Signal {
  int fd[2] = {-1, -1};
  Signal() {
    if (::pipe(fd) != 0) fd[0] = fd[1] = -1;
  }
  ~Signal() { ::close(fd[0]), ::close(fd[1]); }
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;
  bool send() { return ::write(fd[1], "x", 1) == 1; }
  bool wait() {
    char c;
    return ::read(fd[0], &c, 1) == 1;
  }
};

// Install it in the process that is to wait (files opened before keep the plain Env).
class SignalOnRefusal : public jet::Env {
 public:
  explicit SignalOnRefusal(Signal& signal) : signal_(signal) {}
  std::unique_ptr<jet::File> open(const std::string& path, jet::OpenMode mode, int& error) override {
    auto file = posix().open(path, mode, error);
    return file ? std::make_unique<Watched>(std::move(file), *this) : nullptr;
  }
  bool link(const std::string& from, const std::string& to, int& error) override { return posix().link(from, to, error); }
  bool exists(const std::string& path) override { return posix().exists(path); }
  void remove(const std::string& path) override { posix().remove(path); }
  void syncFolder(const std::string& path) override { posix().syncFolder(path); }

 private:
  struct Watched : jet::File {
    Watched(std::unique_ptr<jet::File> f, SignalOnRefusal& env) : File(f->path()), f_(std::move(f)), env_(env) {}
    size_t read(uint64_t o, uint8_t* out, size_t n) override { return f_->read(o, out, n); }
    void write(uint64_t o, const uint8_t* d, size_t n) override { f_->write(o, d, n); }
    uint64_t size() override { return f_->size(); }
    void truncate(uint64_t n) override { f_->truncate(n); }
    void sync() override { f_->sync(); }
    std::pair<uint64_t, uint64_t> identity() override { return f_->identity(); }
    int64_t changeTime() override { return f_->changeTime(); }
    State state() override { return f_->state(); }
    void unlock(uint64_t o, uint64_t n) override { f_->unlock(o, n); }
    int64_t firstConflict(uint64_t o, uint64_t n, jet::LockKind k) override { return f_->firstConflict(o, n, k); }
    bool lock(uint64_t o, uint64_t n, jet::LockKind k) override {
      const bool got = f_->lock(o, n, k);
      if (!got && !env_.sent_) env_.sent_ = env_.signal_.send();
      return got;
    }
    std::unique_ptr<jet::File> f_;
    SignalOnRefusal& env_;
  };
  Signal& signal_;
  bool sent_ = false;
};

}  // namespace testsupport
