// An Env that simulates what goes wrong under a database: a write or force that fails (disk full,
// an I/O error, a short write) and a process that ends part-way, as in a crash, or with a power
// cut that takes back what had not been forced yet. Tests that inject faults install it; the
// engine itself has no other switch for them.
//
// Every write, block of writeBlocks(), sync() and syncFolder() through it counts as one operation.
// Files opened before install() bypass it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/storage/env.h"

namespace jet {

class FaultEnv : public Env {
 public:
  enum class Fault { None, DiskFull, IoError, ShortWrite };
  enum class Crash { None, Exit, PowerLoss };
  static constexpr int kCrashExitCode = 86;

  // The process's simulation over the operating system's Env, put in use on first call and kept.
  static FaultEnv& install();

  // Makes the nth operation from now (1 = the next one) fail with `fault`; 0 disarms.
  void failAt(int nth, Fault fault);
  // At the nth operation from now the process ends with kCrashExitCode: Exit stops it there;
  // PowerLoss first takes back, file by file, what was written since the file was last forced
  // (each write dropped, kept, or kept in 512-byte pieces, as `seed` decides, and new folder
  // entries possibly lost). For forked children of tests.
  void crashAt(int nth, Crash mode, uint32_t seed);
  // Operations counted so far (to enumerate failure points).
  uint64_t operations() const { return operations_; }

  std::unique_ptr<File> open(const std::string& path, OpenMode mode, int& error) override;
  bool link(const std::string& from, const std::string& to, int& error) override;
  bool exists(const std::string& path) override { return base_.exists(path); }
  void remove(const std::string& path) override { base_.remove(path); }
  void syncFolder(const std::string& path) override;

  // For the files it hands out.
  // Counts one operation of `len` bytes on `path`: returns how many bytes may be written (fewer
  // for a short write), throws the armed fault's error, or ends the process at the crash point.
  size_t admit(size_t len, const std::string& path);
  // What a power cut may take back, kept only while one is armed.
  void recordWrite(File& file, uint64_t offset, size_t len);
  void recordCut(File& file, uint64_t newSize);
  void recordEntry(const std::string& path);
  void forced(const std::string& path);

 private:
  explicit FaultEnv(Env& base) : base_(base) {}
  bool recording() const { return crashMode_ == Crash::PowerLoss && crashCountdown_ > 0; }
  void losePower();

  struct Unforced {
    enum Kind { Write, Cut, Entry } kind = Write;
    std::string path;
    uint64_t offset = 0;
    uint64_t sizeBefore = 0;
    std::vector<uint8_t> before;  // the bytes the write or cut replaced (as far as the file had them)
    size_t length = 0;
  };

  Env& base_;
  uint64_t operations_ = 0;
  int faultCountdown_ = 0;
  Fault fault_ = Fault::None;
  int crashCountdown_ = 0;
  Crash crashMode_ = Crash::None;
  uint32_t crashSeed_ = 0;
  std::vector<Unforced> unforced_;
};

}  // namespace jet
