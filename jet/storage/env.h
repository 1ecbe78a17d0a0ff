// The operating system as the engine sees it: files read and written at byte offsets, sized, cut,
// forced to the disk and locked by byte ranges, and the folder operations around them (create,
// link, remove, force a folder). Every byte the engine stores or reads passes through one Env, so
// that a test can put a simulated one in place (fault_env.h: failing writes, crashes, power cuts).
// The one exception is the lock file beside a database (lock_file.h), which holds no data.
//
// Contracts:
//  - File::read returns fewer bytes than asked only at the end of the file.
//  - File::write writes every byte or throws: 3035 when the disk is full, 3043 for any other failure.
//  - sync() and syncFolder() force to the disk, unless forcing is switched off (setSyncToDisk);
//    either way they count as one operation for a simulation.
//  - Locks are open-file-description locks: they belong to the File object, conflict with the
//    locks of every other File (in this process or another), and are dropped only by unlock or by
//    destroying that File, never by closing some other descriptor of the same file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace jet {

enum class OpenMode {
  ReadOnly,      // an existing file
  ReadWrite,     // an existing file
  CreateNew,     // a file that must not exist yet (read and write)
  OpenOrCreate,  // read and write, made when missing
};

enum class LockKind { Shared, Exclusive };

class File {
 public:
  virtual ~File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  const std::string& path() const { return path_; }

  virtual size_t read(uint64_t offset, uint8_t* out, size_t len) = 0;
  virtual void write(uint64_t offset, const uint8_t* data, size_t len) = 0;
  // Writes `count` consecutive blocks of `blockSize` bytes as one write to the file; a simulation
  // counts each block as a write of its own.
  virtual void writeBlocks(uint64_t offset, const uint8_t* data, size_t blockSize, size_t count) {
    write(offset, data, blockSize * count);
  }
  virtual uint64_t size() = 0;
  virtual void truncate(uint64_t size) = 0;
  virtual void sync() = 0;
  // The file's identity (device and inode): the same file under whatever name.
  virtual std::pair<uint64_t, uint64_t> identity() = 0;
  // The file's last change as the file system records it, in nanoseconds.
  virtual int64_t changeTime() = 0;
  // The size and the last change at one look.
  struct State {
    uint64_t size = 0;
    int64_t changeTime = 0;
  };
  virtual State state() { return {size(), changeTime()}; }

  // Takes a lock on [offset, offset + len) without waiting; false when another File holds a
  // conflicting one. A File's lock of the other kind on the same range is converted.
  virtual bool lock(uint64_t offset, uint64_t len, LockKind kind) = 0;
  virtual void unlock(uint64_t offset, uint64_t len) = 0;
  // Where the first lock of another File that conflicts with `kind` on the range begins, or -1.
  virtual int64_t firstConflict(uint64_t offset, uint64_t len, LockKind kind) = 0;

 protected:
  explicit File(std::string path) : path_(std::move(path)) {}

 private:
  std::string path_;
};

class Env {
 public:
  virtual ~Env() = default;

  // The environment in use: the operating system's unless a test has installed another.
  static Env& get();
  // Puts `env` in use for files opened from now on (nullptr: the operating system's again). The
  // environment must outlive every file opened through it.
  static void install(Env* env);
  static Env& posix();

  // The open file, or nullptr with `error` set to the system's error number (EISDIR for a folder).
  virtual std::unique_ptr<File> open(const std::string& path, OpenMode mode, int& error) = 0;
  // Whether anything has the name `path`; a symbolic link counts, even one that points nowhere.
  virtual bool exists(const std::string& path) = 0;
  // Gives an existing file a second name; false with `error` set when that fails.
  virtual bool link(const std::string& from, const std::string& to, int& error) = 0;
  virtual void remove(const std::string& path) = 0;
  // Forces the folder holding `path` (its new and removed names) to the disk.
  virtual void syncFolder(const std::string& path) = 0;

  // Whether sync() and syncFolder() reach the disk. On by default; TABULONIX_NO_SYNC=1 in the
  // environment turns it off, as does the command line's --no-sync. Without it a killed process
  // still leaves consistent files, a power cut may not.
  static void setSyncToDisk(bool on);
  static bool syncToDisk();
};

// The error a failed write reports: 3035 for a full disk, else 3043.
[[noreturn]] void throwWriteError(int error, const std::string& path);

}  // namespace jet
