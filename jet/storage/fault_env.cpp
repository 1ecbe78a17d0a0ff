// The fault and crash simulation: files that pass each operation through FaultEnv::admit.
#include "jet/storage/fault_env.h"

#include <algorithm>
#include <cerrno>
#include <random>
#include <unistd.h>
#include <unordered_map>

#include "jet/base/error.h"
#include "jet/base/paths.h"

namespace jet {

namespace {

class FaultFile : public File {
 public:
  FaultFile(FaultEnv& env, std::unique_ptr<File> base) : File(base->path()), env_(env), base_(std::move(base)) {}

  size_t read(uint64_t offset, uint8_t* out, size_t len) override { return base_->read(offset, out, len); }

  void write(uint64_t offset, const uint8_t* data, size_t len) override {
    const size_t allowed = env_.admit(len, path());
    env_.recordWrite(*base_, offset, allowed);
    base_->write(offset, data, allowed);
    if (allowed < len) incomplete();
  }

  // Each block passes the simulation on its own; what it lets through goes to the file in one write.
  void writeBlocks(uint64_t offset, const uint8_t* data, size_t blockSize, size_t count) override {
    size_t whole = 0, part = 0;
    std::exception_ptr failure;
    for (; whole < count; ++whole) {
      try {
        part = env_.admit(blockSize, path());
      } catch (const Error&) {
        failure = std::current_exception();
        part = 0;
        break;
      }
      if (part < blockSize) break;
      part = 0;
    }
    const size_t len = whole * blockSize + part;
    env_.recordWrite(*base_, offset, len);
    base_->write(offset, data, len);
    if (failure) std::rethrow_exception(failure);
    if (whole < count) incomplete();
  }

  uint64_t size() override { return base_->size(); }
  void truncate(uint64_t size) override {
    env_.recordCut(*base_, size);
    base_->truncate(size);
  }
  void sync() override {
    if (env_.admit(1, path()) == 0) throwWriteError(EIO, path());
    base_->sync();
    env_.forced(path());
  }
  std::pair<uint64_t, uint64_t> identity() override { return base_->identity(); }
  int64_t changeTime() override { return base_->changeTime(); }
  State state() override { return base_->state(); }
  bool lock(uint64_t offset, uint64_t len, LockKind kind) override { return base_->lock(offset, len, kind); }
  void unlock(uint64_t offset, uint64_t len) override { base_->unlock(offset, len); }
  int64_t firstConflict(uint64_t offset, uint64_t len, LockKind kind) override {
    return base_->firstConflict(offset, len, kind);
  }

 private:
  [[noreturn]] void incomplete() {
    throw Error(err::kIoError, "Disk or network error: incomplete write to '" + fileName(path()) + "'.");
  }

  FaultEnv& env_;
  std::unique_ptr<File> base_;
};

}  // namespace

FaultEnv& FaultEnv::install() {
  static FaultEnv env(Env::posix());
  Env::install(&env);
  return env;
}

void FaultEnv::failAt(int nth, Fault fault) {
  faultCountdown_ = nth;
  fault_ = nth > 0 ? fault : Fault::None;
}

void FaultEnv::crashAt(int nth, Crash mode, uint32_t seed) {
  crashCountdown_ = nth;
  crashMode_ = nth > 0 ? mode : Crash::None;
  crashSeed_ = seed;
  unforced_.clear();
}

std::unique_ptr<File> FaultEnv::open(const std::string& path, OpenMode mode, int& error) {
  std::unique_ptr<File> file;
  bool created = mode == OpenMode::CreateNew;
  if (mode == OpenMode::OpenOrCreate) {
    file = base_.open(path, OpenMode::ReadWrite, error);
    created = !file && error == ENOENT;
  }
  if (!file) file = base_.open(path, mode, error);
  if (!file) return nullptr;
  if (created) recordEntry(path);
  return std::make_unique<FaultFile>(*this, std::move(file));
}

bool FaultEnv::link(const std::string& from, const std::string& to, int& error) {
  if (!base_.link(from, to, error)) return false;
  recordEntry(to);
  return true;
}

void FaultEnv::syncFolder(const std::string& path) {
  if (admit(1, path) == 0) throwWriteError(EIO, path);
  base_.syncFolder(path);
  const std::string folder = folderOf(path);
  unforced_.erase(std::remove_if(unforced_.begin(), unforced_.end(),
                                 [&](const Unforced& u) { return u.kind == Unforced::Entry && folderOf(u.path) == folder; }),
                  unforced_.end());
}

size_t FaultEnv::admit(size_t len, const std::string& path) {
  ++operations_;
  if (crashMode_ != Crash::None && crashCountdown_ > 0 && --crashCountdown_ == 0) {
    if (crashMode_ == Crash::PowerLoss) losePower();
    ::_exit(kCrashExitCode);
  }
  if (fault_ == Fault::None || faultCountdown_ <= 0 || --faultCountdown_ > 0) return len;
  const Fault firing = fault_;
  fault_ = Fault::None;
  switch (firing) {
    case Fault::DiskFull: throwWriteError(ENOSPC, path);
    case Fault::IoError: throwWriteError(EIO, path);
    case Fault::ShortWrite: return len / 2;
    case Fault::None: break;
  }
  return len;
}

void FaultEnv::recordWrite(File& file, uint64_t offset, size_t len) {
  if (!recording()) return;
  Unforced u;
  u.kind = Unforced::Write;
  u.path = file.path();
  u.offset = offset;
  u.length = len;
  u.sizeBefore = file.size();
  if (offset < u.sizeBefore) {
    u.before.resize(size_t(std::min<uint64_t>(len, u.sizeBefore - offset)));
    u.before.resize(file.read(offset, u.before.data(), u.before.size()));
  }
  unforced_.push_back(std::move(u));
}

void FaultEnv::recordCut(File& file, uint64_t newSize) {
  if (!recording()) return;
  Unforced u;
  u.kind = Unforced::Cut;
  u.path = file.path();
  u.sizeBefore = file.size();
  u.offset = newSize;
  if (newSize < u.sizeBefore) {
    u.before.resize(size_t(u.sizeBefore - newSize));
    u.before.resize(file.read(newSize, u.before.data(), u.before.size()));
  }
  unforced_.push_back(std::move(u));
}

void FaultEnv::recordEntry(const std::string& path) {
  if (!recording()) return;
  Unforced u;
  u.kind = Unforced::Entry;
  u.path = path;
  unforced_.push_back(std::move(u));
}

void FaultEnv::forced(const std::string& path) {
  unforced_.erase(std::remove_if(unforced_.begin(), unforced_.end(),
                                 [&](const Unforced& u) { return u.kind != Unforced::Entry && u.path == path; }),
                  unforced_.end());
}

// The power cut: newest first, each unforced change is kept, lost, or (a write) kept in part.
void FaultEnv::losePower() {
  std::mt19937 rng(crashSeed_);
  std::unordered_map<std::string, uint64_t> keptEnd, forcedSize;
  for (const Unforced& u : unforced_)
    if (u.kind != Unforced::Entry && !forcedSize.count(u.path)) forcedSize[u.path] = u.sizeBefore;
  int error = 0;
  try {
    for (auto it = unforced_.rbegin(); it != unforced_.rend(); ++it) {
      const Unforced& u = *it;
      const unsigned choice = rng() % 3;  // 0 kept, 1 lost, 2 in part
      if (u.kind == Unforced::Entry) {
        if (choice != 0) base_.remove(u.path);
        continue;
      }
      auto file = base_.open(u.path, OpenMode::ReadWrite, error);
      if (!file) continue;
      if (u.kind == Unforced::Cut) {
        if (choice != 0 && !u.before.empty()) file->write(u.offset, u.before.data(), u.before.size());
        continue;
      }
      for (size_t at = 0; at < u.length; at += 512) {
        const size_t len = std::min<size_t>(512, u.length - at);
        const bool keep = choice == 0 || (choice == 2 && rng() % 2 == 0);
        if (keep) {
          keptEnd[u.path] = std::max<uint64_t>(keptEnd[u.path], u.offset + at + len);
          continue;
        }
        std::vector<uint8_t> old(len, 0);
        if (at < u.before.size()) std::copy_n(u.before.begin() + long(at), std::min(len, u.before.size() - at), old.begin());
        file->write(u.offset + at, old.data(), len);
      }
    }
    // A file grows only as far as the data kept in it reaches.
    for (const auto& [path, size] : forcedSize) {
      const uint64_t end = std::max(size, keptEnd[path]);
      auto file = base_.open(path, OpenMode::ReadWrite, error);
      if (file && file->size() > end) file->truncate(end);
    }
  } catch (const Error&) {
    // The process ends anyway; what could not be taken back stays.
  }
}

}  // namespace jet
