// Processes that wait for one another's events rather than for a time: a pipe one signals through
// and another waits on, and an Env over the operating system's files that signals the first time a
// lock is refused (the moment a program starts to wait for another). Header-only.
#pragma once

#include <unistd.h>

#include <memory>
#include <string>

#include "jet/storage/env.h"

namespace testsupport {

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
