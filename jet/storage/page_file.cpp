#include "jet/storage/page_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/storage/journal.h"

namespace jet {

namespace {

std::string fileName(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

[[noreturn]] void writeFailed(int error, const std::string& path) {
  if (error == ENOSPC || error == EDQUOT)
    throw Error(err::kDiskFull, "Disk full: there is not enough space to write to '" + fileName(path) + "'.");
  throw Error(err::kIoError, "Disk or network error writing '" + fileName(path) + "'.");
}

// ---------------------------------------------------------------------------------------------
// The hooks: every write and force of the engine passes through admit(), which counts it, fires an
// armed fault, and ends the process at an armed crash point.

int processFaultCountdown = 0;
PageFile::Fault processFault = PageFile::Fault::None;
uint64_t processWrites = 0;
// Whether forces reach the disk; read from the environment on first use (so that it does not
// depend on the order in which the program's statics are set up).
bool& syncing() {
  static bool on = [] {
    const char* v = std::getenv("TABULONIX_NO_SYNC");
    return !(v && *v && std::strcmp(v, "0") != 0);
  }();
  return on;
}

int crashCountdown = 0;
PageFile::Crash crashMode = PageFile::Crash::None;
uint32_t crashSeed = 0;

// What a power cut may take back: writes, cuts and new folder entries since the file (or folder)
// was last forced. Kept only while a power-loss crash is armed.
struct Unforced {
  enum Kind { Write, Cut, Entry } kind = Write;
  std::string path;
  uint64_t offset = 0;
  uint64_t sizeBefore = 0;
  std::vector<uint8_t> before;  // the bytes the write or cut replaced (as far as the file had them)
  size_t length = 0;
};
std::vector<Unforced> unforced;

bool recording() { return crashMode == PageFile::Crash::PowerLoss && crashCountdown > 0; }

uint64_t sizeOf(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? uint64_t(st.st_size) : 0;
}

void recordWrite(int fd, const std::string& path, uint64_t offset, size_t len) {
  if (!recording()) return;
  Unforced u;
  u.kind = Unforced::Write;
  u.path = path;
  u.offset = offset;
  u.length = len;
  u.sizeBefore = sizeOf(fd);
  if (offset < u.sizeBefore) {
    u.before.resize(size_t(std::min<uint64_t>(len, u.sizeBefore - offset)));
    ssize_t n = ::pread(fd, u.before.data(), u.before.size(), off_t(offset));
    u.before.resize(n > 0 ? size_t(n) : 0);
  }
  unforced.push_back(std::move(u));
}

void recordCut(int fd, const std::string& path, uint64_t newSize) {
  if (!recording()) return;
  Unforced u;
  u.kind = Unforced::Cut;
  u.path = path;
  u.sizeBefore = sizeOf(fd);
  u.offset = newSize;
  if (newSize < u.sizeBefore) {
    u.before.resize(size_t(u.sizeBefore - newSize));
    ssize_t n = ::pread(fd, u.before.data(), u.before.size(), off_t(newSize));
    u.before.resize(n > 0 ? size_t(n) : 0);
  }
  unforced.push_back(std::move(u));
}

void recordEntry(const std::string& path) {
  if (!recording()) return;
  Unforced u;
  u.kind = Unforced::Entry;
  u.path = path;
  unforced.push_back(std::move(u));
}

void forced(const std::string& path) {
  unforced.erase(std::remove_if(unforced.begin(), unforced.end(),
                                [&](const Unforced& u) { return u.kind != Unforced::Entry && u.path == path; }),
                 unforced.end());
}

void folderForced(const std::string& folder) {
  unforced.erase(std::remove_if(unforced.begin(), unforced.end(),
                                [&](const Unforced& u) { return u.kind == Unforced::Entry && folderOf(u.path) == folder; }),
                 unforced.end());
}

// The power cut: newest first, each unforced change is kept, lost, or (a write) kept in part.
void losePower() {
  std::mt19937 rng(crashSeed);
  std::unordered_map<std::string, uint64_t> keptEnd, forcedSize;
  for (const Unforced& u : unforced)
    if (u.kind != Unforced::Entry && !forcedSize.count(u.path)) forcedSize[u.path] = u.sizeBefore;
  for (auto it = unforced.rbegin(); it != unforced.rend(); ++it) {
    const Unforced& u = *it;
    const unsigned choice = rng() % 3;  // 0 kept, 1 lost, 2 in part
    if (u.kind == Unforced::Entry) {
      if (choice != 0) ::unlink(u.path.c_str());
      continue;
    }
    int fd = ::open(u.path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) continue;
    if (u.kind == Unforced::Cut) {
      if (choice != 0 && !u.before.empty() && ::pwrite(fd, u.before.data(), u.before.size(), off_t(u.offset)) < 0) {
      }
      ::close(fd);
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
      if (::pwrite(fd, old.data(), len, off_t(u.offset + at)) < 0) {
      }
    }
    ::close(fd);
  }
  // A file grows only as far as the data kept in it reaches.
  for (const auto& [path, size] : forcedSize) {
    const uint64_t end = std::max(size, keptEnd[path]);
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && uint64_t(st.st_size) > end && ::truncate(path.c_str(), off_t(end)) != 0) {
    }
  }
}

// Counts one write (or force) and applies the hooks; returns how many of `len` bytes may be
// written (a short write) or throws the fault's error.
size_t admit(size_t len, const std::string& path, int& countdown, PageFile::Fault& fault) {
  ++processWrites;
  if (crashMode != PageFile::Crash::None && crashCountdown > 0 && --crashCountdown == 0) {
    if (crashMode == PageFile::Crash::PowerLoss) losePower();
    ::_exit(PageFile::kCrashExitCode);
  }
  auto due = [](int& c, PageFile::Fault& f, PageFile::Fault& firing) {
    if (f == PageFile::Fault::None || c <= 0 || --c > 0) return false;
    firing = f;
    f = PageFile::Fault::None;
    return true;
  };
  PageFile::Fault firing = PageFile::Fault::None;
  if (!due(countdown, fault, firing) && !due(processFaultCountdown, processFault, firing)) return len;
  switch (firing) {
    case PageFile::Fault::DiskFull: writeFailed(ENOSPC, path);
    case PageFile::Fault::IoError: writeFailed(EIO, path);
    case PageFile::Fault::ShortWrite: return len / 2;
    case PageFile::Fault::None: break;
  }
  return len;
}

void hookedWrite(int fd, const std::string& path, uint64_t offset, const uint8_t* data, size_t len, int& countdown,
                 PageFile::Fault& fault) {
  const size_t allowed = admit(len, path, countdown, fault);
  recordWrite(fd, path, offset, allowed);
  size_t done = 0;
  while (done < allowed) {
    ssize_t n = ::pwrite(fd, data + done, allowed - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) writeFailed(n < 0 ? errno : ENOSPC, path);
    done += size_t(n);
  }
  if (allowed < len) throw Error(err::kIoError, "Disk or network error: incomplete write to '" + fileName(path) + "'.");
}

void hookedSync(int fd, const std::string& path, int& countdown, PageFile::Fault& fault) {
  if (admit(1, path, countdown, fault) == 0) writeFailed(EIO, path);
  if (syncing() && ::fdatasync(fd) != 0) writeFailed(errno, path);
  forced(path);
}

void hookedSyncFolder(const std::string& path, int& countdown, PageFile::Fault& fault) {
  if (admit(1, path, countdown, fault) == 0) writeFailed(EIO, path);
  const std::string folder = folderOf(path);
  if (syncing()) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      const int rc = ::fsync(fd);
      const int e = errno;
      ::close(fd);
      if (rc != 0 && e != EINVAL) writeFailed(e, path);
    }
  }
  folderForced(folder);
}

void hookedCut(int fd, const std::string& path, uint64_t size) {
  recordCut(fd, path, size);
  if (::ftruncate(fd, off_t(size)) != 0) writeFailed(errno, path);
}

std::vector<uint8_t> readWhole(int fd) {
  std::vector<uint8_t> out(size_t(sizeOf(fd)));
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::pread(fd, out.data() + done, out.size() - done, off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  out.resize(done);
  return out;
}

}  // namespace

void PageFile::setSyncToDisk(bool on) { syncing() = on; }
bool PageFile::syncToDisk() { return syncing(); }

void PageFile::setProcessWriteFaultForTesting(int nth, Fault fault) {
  processFaultCountdown = nth;
  processFault = fault;
}

void PageFile::setCrashForTesting(int nth, Crash mode, uint32_t seed) {
  crashCountdown = nth;
  crashMode = nth > 0 ? mode : Crash::None;
  crashSeed = seed;
  unforced.clear();
}

uint64_t PageFile::writeCountForTesting() { return processWrites; }

void PageFile::setWriteFaultForTesting(int nth, Fault fault) {
  faultCountdown_ = nth;
  fault_ = fault;
}

// ---------------------------------------------------------------------------------------------
// Opening

PageFile::PageFile(const std::string& path, bool readOnly, size_t cachePages)
    : path_(path), capacity_(cachePages < 4 ? 4 : cachePages) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR)
      throw Error(err::kFileNotFound, "Could not find file '" + path + "'.");
    throw Error(err::kCannotOpenFile, "Cannot open the file '" + path + "': " + std::strerror(errno) + ".");
  }
  if (S_ISDIR(st.st_mode)) throw Error(err::kFileNotFound, "Could not find file '" + path + "'.");
  readOnly_ = readOnly;
  if (!readOnly_) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) readOnly_ = true;
    else if (fd_ < 0)
      throw Error(err::kCannotOpenFile, "Cannot open the file '" + path + "': " + std::strerror(errno) + ".");
  }
  if (readOnly_) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
      throw Error(err::kCannotOpenFile, "The Microsoft Jet database engine cannot open the file '" + path +
                                            "'. You do not have permission to read it.");
  }
  if (!readOnly_ && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd_);
    fd_ = -1;
    throw Error(err::kCannotOpenFile, "The Microsoft Jet database engine cannot open the file '" + path +
                                          "'. It is in use: another program has it open for changes.");
  }
  if (::fstat(fd_, &st) == 0) {
    device_ = uint64_t(st.st_dev);
    inode_ = uint64_t(st.st_ino);
  }
  fileSize_ = sizeOf(fd_);
  try {
    recoverJournal();
  } catch (...) {
    ::close(fd_);
    fd_ = -1;
    throw;
  }
  pageCount_ = uint32_t(fileSize_ / pageSize_);
}

// A journal beside the file that is valid and names this file is hot: a commit was cut short. A
// writer plays it back (the original pages written, the file cut to its original length, forced)
// and removes it; a reader applies it in memory and leaves both files alone. Any other journal
// (zeroed, torn before it was forced, or another file's) is stale: a writer removes it.
void PageFile::recoverJournal() {
  const std::string journal = journalPathOf(path_);
  int jfd = ::open(journal.c_str(), O_RDONLY | O_CLOEXEC);
  if (jfd < 0) return;
  std::optional<JournalContents> j = decodeJournal(readWhole(jfd));
  ::close(jfd);
  if (j && (j->device != device_ || j->inode != inode_)) j.reset();
  if (readOnly_) {
    if (!j) return;
    for (auto& [number, image] : j->pages) overlay_[uint64_t(number) * j->pageSize] = std::move(image);
    fileSize_ = std::min(j->originalLength, fileSize_);
    return;
  }
  if (j) {
    int none = 0;
    Fault noFault = Fault::None;
    for (const auto& [number, image] : j->pages)
      hookedWrite(fd_, path_, uint64_t(number) * j->pageSize, image.data(), image.size(), none, noFault);
    hookedCut(fd_, path_, j->originalLength);
    hookedSync(fd_, path_, none, noFault);
    fileSize_ = sizeOf(fd_);
  }
  ::unlink(journal.c_str());
  if (j) {
    int none = 0;
    Fault noFault = Fault::None;
    hookedSyncFolder(journal, none, noFault);
  }
}

std::unique_ptr<PageFile> PageFile::createNew(const std::string& path, uint32_t pageSize) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) throw Error(err::kDatabaseExists, "Database already exists.");
  std::unique_ptr<PageFile> f(new PageFile(512));
  f->publishAs_ = path;
  f->readOnly_ = false;
  f->pageSize_ = pageSize;
  static std::mt19937 rng{std::random_device{}()};
  const std::string folder = folderOf(path);
  for (int attempt = 0; f->fd_ < 0; ++attempt) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "%06x", unsigned(rng() & 0xFFFFFF));
    f->path_ = folder + "/." + fileName(path) + "." + tag + ".new";
    f->fd_ = ::open(f->path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (f->fd_ >= 0) break;
    if (errno == EEXIST && attempt < 100) continue;
    if (errno == ENOENT || errno == ENOTDIR)
      throw Error(err::kInvalidPath, "'" + folder + "' is not a valid path. Make sure that the path name is spelled correctly "
                                       "and that you are connected to the server on which the file resides.");
    if (errno == ENOSPC || errno == EDQUOT)
      throw Error(err::kDiskFull, "Disk full: there is not enough space to write to '" + path + "'.");
    throw Error(err::kIoError, "Cannot create '" + path + "': " + std::strerror(errno) + ".");
  }
  recordEntry(f->path_);
  return f;
}

PageFile::~PageFile() {
  if (journalFd_ >= 0) {
    ::close(journalFd_);
    if (journalClean_) ::unlink(journalPathOf(path_).c_str());
  }
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  if (!publishAs_.empty()) ::unlink(path_.c_str());
}

void PageFile::publish() {
  checkWritable();
  flush();
  if (::link(path_.c_str(), publishAs_.c_str()) != 0) {
    if (errno == EEXIST) throw Error(err::kDatabaseExists, "Database already exists.");
    writeFailed(errno, publishAs_);
  }
  recordEntry(publishAs_);
  const std::string finalPath = publishAs_;
  try {
    hookedSyncFolder(finalPath, faultCountdown_, fault_);
  } catch (...) {
    ::unlink(finalPath.c_str());
    throw;
  }
  ::unlink(path_.c_str());
  path_ = finalPath;
  publishAs_.clear();
}

// ---------------------------------------------------------------------------------------------
// Reading

std::vector<uint8_t> PageFile::readPrefix(size_t len) {
  auto it = overlay_.find(0);
  if (it != overlay_.end()) return std::vector<uint8_t>(it->second.begin(), it->second.begin() + long(std::min(len, it->second.size())));
  std::vector<uint8_t> out(len);
  ssize_t n = ::pread(fd_, out.data(), len, 0);
  if (n < 0) throw Error(err::kIoError, "Disk or network error reading '" + fileName(path_) + "'.");
  out.resize(size_t(n));
  return out;
}

void PageFile::setPageSize(uint32_t size) {
  pageSize_ = size;
  pageCount_ = uint32_t(fileSize_ / pageSize_);
  lru_.clear();
  index_.clear();
}

void PageFile::setEncodingKey(uint32_t key) { setCodec(key != 0 ? databaseKeyCodec(key) : nullptr); }

void PageFile::setCodec(std::shared_ptr<const PageCodec> codec) {
  codec_ = std::move(codec);
  lru_.clear();
  index_.clear();
}

void PageFile::remember(uint32_t number, PageRef page) {
  auto it = index_.find(number);
  if (it != index_.end()) {
    lru_.erase(it->second);
    index_.erase(it);
  }
  lru_.emplace_front(number, std::move(page));
  index_[number] = lru_.begin();
  while (lru_.size() > capacity_) {
    index_.erase(lru_.back().first);
    lru_.pop_back();
  }
}

void PageFile::forget(uint32_t number) {
  auto it = index_.find(number);
  if (it == index_.end()) return;
  lru_.erase(it->second);
  index_.erase(it);
}

PageRef PageFile::page(uint32_t number) {
  if (!dirty_.empty()) {
    auto d = dirty_.find(number);
    if (d != dirty_.end()) return d->second;
  }
  auto it = index_.find(number);
  if (it != index_.end()) {
    if (it->second != lru_.begin()) lru_.splice(lru_.begin(), lru_, it->second);
    return lru_.front().second;
  }
  if (number >= pageCount_) throwCorrupt("a reference points to page " + std::to_string(number) +
                                         " beyond the end of the file");
  auto p = std::make_shared<Page>(pageSize_);
  auto o = overlay_.empty() ? overlay_.end() : overlay_.find(uint64_t(number) * pageSize_);
  if (o != overlay_.end() && o->second.size() == pageSize_) {
    *p = o->second;
  } else {
    size_t done = 0;
    while (done < pageSize_) {
      ssize_t n = ::pread(fd_, p->data() + done, pageSize_ - done, off_t(uint64_t(number) * pageSize_ + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw Error(err::kIoError, "Disk or network error reading '" + fileName(path_) + "'.");
      if (n == 0) throwCorrupt("the file ends inside page " + std::to_string(number));
      done += size_t(n);
    }
  }
  if (codec_ && number != 0) codec_->decode(number, p->data(), p->size());
  PageRef ref = std::move(p);
  remember(number, ref);
  return ref;
}

// ---------------------------------------------------------------------------------------------
// Writing

void PageFile::checkWritable() const {
  if (readOnly_) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
}

// Writes a page (decoded bytes) to its place in the file.
void PageFile::storePage(uint32_t number, const Page& page) {
  if (codec_ && number != 0) {
    Page enc(page);
    codec_->encode(number, enc.data(), enc.size());
    hookedWrite(fd_, path_, uint64_t(number) * pageSize_, enc.data(), enc.size(), faultCountdown_, fault_);
  } else {
    hookedWrite(fd_, path_, uint64_t(number) * pageSize_, page.data(), page.size(), faultCountdown_, fault_);
  }
  fileSize_ = std::max(fileSize_, uint64_t(number + 1) * pageSize_);
}

void PageFile::writePage(uint32_t number, const uint8_t* data) { writePage(number, Page(data, data + pageSize_)); }

void PageFile::writePage(uint32_t number, Page&& page) {
  checkWritable();
  if (number > pageCount_) throw Error(err::kInvalidArgument, "Invalid argument: page beyond the end of the file.");
  if (page.size() != pageSize_) throw Error(err::kInvalidArgument, "Invalid argument: a page of the wrong size.");
  if (atomic_) {
    touched_ = true;
    if (number < atomicPageCount_ && !preImages_.count(number) && !dirty_.count(number))
      preImages_.emplace(number, this->page(number));
    PageRef ref = std::make_shared<const Page>(std::move(page));
    dirty_[number] = ref;
    remember(number, std::move(ref));
    if (number == pageCount_) ++pageCount_;
    return;
  }
  storePage(number, page);
  if (number == pageCount_) ++pageCount_;
  remember(number, std::make_shared<const Page>(std::move(page)));
}

uint32_t PageFile::appendPage(const uint8_t* data) {
  uint32_t number = pageCount_;
  writePage(number, data);
  return number;
}

void PageFile::writeRun(uint32_t first, const uint8_t* data, size_t pages) {
  checkWritable();
  if (atomic_ || codec_) {
    for (size_t i = 0; i < pages; ++i) writePage(first + uint32_t(i), data + i * pageSize_);
    return;
  }
  if (first > pageCount_) throw Error(err::kInvalidArgument, "Invalid argument: page beyond the end of the file.");
  // Each page passes the hooks on its own; what they let through goes to the file in one write.
  size_t whole = 0, part = 0;
  std::optional<Error> failure;
  for (; whole < pages; ++whole) {
    try {
      part = admit(pageSize_, path_, faultCountdown_, fault_);
    } catch (const Error& e) {
      failure = e;
      part = 0;
      break;
    }
    if (part < pageSize_) break;
    part = 0;
  }
  const size_t len = whole * pageSize_ + part;
  recordWrite(fd_, path_, uint64_t(first) * pageSize_, len);
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::pwrite(fd_, data + done, len - done, off_t(uint64_t(first) * pageSize_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) writeFailed(n < 0 ? errno : ENOSPC, path_);
    done += size_t(n);
  }
  for (size_t i = 0; i < pages; ++i) forget(first + uint32_t(i));
  if (failure) throw *failure;
  if (whole < pages) throw Error(err::kIoError, "Disk or network error: incomplete write to '" + fileName(path_) + "'.");
  fileSize_ = std::max(fileSize_, uint64_t(first + pages) * pageSize_);
  pageCount_ = std::max(pageCount_, uint32_t(first + pages));
}

void PageFile::flush() {
  if (readOnly_) return;
  hookedSync(fd_, path_, faultCountdown_, fault_);
}

// ---------------------------------------------------------------------------------------------
// Commits

void PageFile::beginAtomic() {
  atomic_ = true;
  touched_ = false;
  atomicPageCount_ = pageCount_;
  atomicFileSize_ = fileSize_;
  dirty_.clear();
  preImages_.clear();
}

void PageFile::rollbackToMark(const ScopeMark& mark) {
  if (!atomic_) return;
  for (const auto& [number, page] : dirty_) {
    auto kept = mark.dirty.find(number);
    if (kept == mark.dirty.end() || kept->second != page) forget(number);
  }
  dirty_ = mark.dirty;
  pageCount_ = mark.pageCount;
}

void PageFile::dropScope() {
  for (const auto& [number, page] : dirty_) forget(number);
  dirty_.clear();
  preImages_.clear();
  pageCount_ = atomicPageCount_;
  atomic_ = false;
}

void PageFile::writeJournal() {
  const std::string journal = journalPathOf(path_);
  if (journalFd_ < 0) {
    journalFd_ = ::open(journal.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (journalFd_ < 0) {
      const int e = errno;
      throw Error(e == ENOSPC || e == EDQUOT ? err::kDiskFull : err::kIoError,
                  "Cannot write the journal '" + fileName(journal) + "' beside the database: " + std::strerror(e) + ".");
    }
    recordEntry(journal);
    journalClean_ = false;
    hookedSyncFolder(journal, faultCountdown_, fault_);
  }
  journalClean_ = false;
  std::vector<uint32_t> numbers;
  for (const auto& [number, image] : preImages_) numbers.push_back(number);
  std::sort(numbers.begin(), numbers.end());
  std::vector<Page> encoded;
  std::vector<std::pair<uint32_t, const uint8_t*>> images;
  if (codec_) encoded.reserve(numbers.size());
  for (uint32_t n : numbers) {
    const Page& image = *preImages_.at(n);
    if (codec_ && n != 0) {
      encoded.push_back(image);
      codec_->encode(n, encoded.back().data(), encoded.back().size());
      images.emplace_back(n, encoded.back().data());
    } else {
      images.emplace_back(n, image.data());
    }
  }
  static std::mt19937 rng{std::random_device{}()};
  const std::vector<uint8_t> bytes =
      encodeJournal(pageSize_, atomicFileSize_, device_, inode_, images, uint32_t(rng()));
  hookedWrite(journalFd_, journal, 0, bytes.data(), bytes.size(), faultCountdown_, fault_);
  hookedSync(journalFd_, journal, faultCountdown_, fault_);
}

void PageFile::clearJournal() {
  const std::string journal = journalPathOf(path_);
  const std::vector<uint8_t> zero(kJournalHeaderBytes, 0);
  hookedWrite(journalFd_, journal, 0, zero.data(), zero.size(), faultCountdown_, fault_);
  hookedSync(journalFd_, journal, faultCountdown_, fault_);
  journalClean_ = true;
}

void PageFile::commitAtomic() {
  if (!atomic_) return;
  if (dirty_.empty()) {
    atomic_ = false;
    preImages_.clear();
    return;
  }
  bool fileTouched = false;
  try {
    writeJournal();
    std::vector<uint32_t> numbers;
    for (const auto& [number, page] : dirty_) numbers.push_back(number);
    std::sort(numbers.begin(), numbers.end());
    fileTouched = true;
    for (uint32_t n : numbers) storePage(n, *dirty_.at(n));
    hookedSync(fd_, path_, faultCountdown_, fault_);
    clearJournal();
  } catch (const Error&) {
    undoCommit(fileTouched);
    dropScope();
    throw;
  }
  atomic_ = false;
  dirty_.clear();
  preImages_.clear();
}

// Puts the file back as it was before a commit that failed part-way; when even that fails, the
// journal stays hot and the file is marked broken.
void PageFile::undoCommit(bool fileTouched) {
  try {
    if (fileTouched) {
      for (const auto& [number, image] : preImages_) storePage(number, *image);
      hookedCut(fd_, path_, atomicFileSize_);
      fileSize_ = atomicFileSize_;
      hookedSync(fd_, path_, faultCountdown_, fault_);
    }
    if (journalFd_ >= 0 && !journalClean_) clearJournal();
  } catch (const Error&) {
    broken_ = true;
  }
}

void PageFile::rollbackAtomic() {
  if (atomic_) dropScope();
  if (broken_)
    throw Error(err::kIoError, "Disk or network error: a failed change to '" + fileName(path_) +
                                   "' could not be undone; it is undone when the database is opened again.");
}

}  // namespace jet
