#include "jet/storage/page_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <optional>
#include <random>
#include <thread>
#include <tuple>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/base/paths.h"
#include "jet/storage/journal.h"

namespace jet {

namespace {

bool& lockingOn() {
  static bool on = [] {
    const char* v = std::getenv("TABULONIX_LOCKING");
    return !(v && std::strcmp(v, "none") == 0);
  }();
  return on;
}

std::vector<uint8_t> readWhole(File& file) {
  std::vector<uint8_t> out(size_t(file.size()));
  out.resize(file.read(0, out.data(), out.size()));
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Opening

PageFile::PageFile(const std::string& path, bool readOnly, size_t cachePages, int busyTimeoutMs)
    : path_(path), busyTimeoutMs_(busyTimeoutMs), capacity_(cachePages < 4 ? 4 : cachePages) {
  Env& env = Env::get();
  readOnly_ = readOnly;
  int error = 0;
  // Opened for writing when it may be, else read-only: a file the user may only read opens
  // read-only rather than not at all.
  if (!readOnly_) {
    file_ = env.open(path, OpenMode::ReadWrite, error);
    if (!file_ && (error == EACCES || error == EROFS || error == EPERM)) readOnly_ = true;
  }
  if (readOnly_) file_ = env.open(path, OpenMode::ReadOnly, error);
  if (!file_) {
    if (error == ENOENT || error == ENOTDIR || error == EISDIR)
      throw Error(err::kFileNotFound, "Could not find file '" + path + "'.");
    if (error == EACCES || error == EPERM)
      throw Error(err::kCannotOpenFile, "The Microsoft Jet database engine cannot open the file '" + path +
                                            "'. You do not have permission to read it.");
    throw Error(err::kCannotOpenFile, "Cannot open the file '" + path + "': " + std::strerror(error) + ".");
  }
  lock_ = std::make_unique<FileLock>(*file_);
  locking_ = lockingOn();
  if (locking_) lease_ = std::make_unique<ReadLease>(*lock_);
  std::tie(device_, inode_) = file_->identity();
  fileSize_ = file_->size();
  pageCount_ = uint32_t(fileSize_ / pageSize_);
  // From here on the journal is not removed under us (see the destructor), so that once it is
  // found it is watched through the one handle.
  if (locking_) waitFor([&] { return lock_->holdOpen(); });
  beginRead();  // plays back a hot journal before anything is read
  endRead();
  // A program that may write makes the journal at once, so that neither it nor the other programs
  // need to look for it by name at every operation. The marker then names it, as if it had been
  // there at the first read: otherwise the next fresh lock would take its appearing for another
  // program's commit and drop every cache. A commit made meanwhile still shows, in the journal's
  // stamp and the file's size and change time.
  if (locking_ && !readOnly_ && !watch_) {
    watch_ = env.open(journalPathOf(path_), OpenMode::OpenOrCreate, error);
    if (watch_) marker_.journal = watchInode_ = watch_->identity().second;
  }
  if (!readOnly_ && locking_) users_ = LockFile::join(path_);
}

// The journal's stamp and identity, and the file's size and change time. A journal that is valid
// and names this file, seen under a shared lock, is hot: commits write the journal only under the
// exclusive lock, so its writer was cut short.
PageFile::Marker PageFile::readMarker(std::optional<JournalContents>* hot) {
  Marker m;
  const File::State state = file_->state();
  m.size = state.size;
  m.changed = state.changeTime;
  if (!watch_ || !locking_) {
    int error = 0;
    watch_ = Env::get().open(journalPathOf(path_), OpenMode::ReadOnly, error);
    if (!watch_) return m;
    watchInode_ = watch_->identity().second;
  }
  m.journal = watchInode_;
  uint8_t header[kJournalHeaderBytes] = {};
  if (watch_->read(0, header, sizeof header) < sizeof header) return m;
  m.stamp = le64(header + kJournalStampAt);
  if (hot && header[0] != 0) {
    *hot = decodeJournal(readWhole(*watch_));
    if (*hot && ((*hot)->device != device_ || (*hot)->inode != inode_)) hot->reset();
  }
  return m;
}

void PageFile::refresh() {
  std::optional<JournalContents> hot;
  Marker m = readMarker(&hot);
  const bool hadOverlay = !overlay_.empty();
  overlay_.clear();
  if (hot && !readOnly_) {
    recoverJournal();
    m = readMarker(nullptr);
  } else if (hot) {
    for (auto& [number, image] : hot->pages) overlay_[uint64_t(number) * hot->pageSize] = std::move(image);
  }
  if (m == marker_ && !hot && !hadOverlay) return;
  marker_ = m;
  fileSize_ = hot && readOnly_ ? std::min(hot->originalLength, m.size) : file_->size();
  pageCount_ = uint32_t(fileSize_ / pageSize_);
  lru_.clear();
  index_.clear();
  ++generation_;
}

// Plays back a hot journal under the exclusive lock: the original pages written, the file cut to
// its original length and forced, the journal removed.
void PageFile::recoverJournal() {
  // Two programs may find the journal at once: the one that waits lets the other play it back.
  if (locking_) waitForReserved();
  else waitFor([&] { return lock_->raise(FileLock::Level::Reserved); });
  waitFor([&] { return lock_->raise(FileLock::Level::Exclusive); });
  try {
    std::optional<JournalContents> j;
    readMarker(&j);  // another program may have played it back meanwhile
    if (j) {
      for (const auto& [number, image] : j->pages) file_->write(uint64_t(number) * j->pageSize, image.data(), image.size());
      file_->truncate(j->originalLength);
      file_->sync();
      // Other programs that have the file open watch the journal through their handles: it is
      // removed only when nobody does, else zeroed.
      const std::string journal = journalPathOf(path_);
      if (!locking_ || lock_->alone()) {
        Env::get().remove(journal);
        Env::get().syncFolder(journal);
        watch_.reset();
        if (locking_) lock_->holdOpen();
      } else {
        int e = 0;
        auto writable = Env::get().open(journal, OpenMode::ReadWrite, e);
        if (!writable) throwWriteError(e, journal);
        zeroJournal(*writable);
      }
    }
  } catch (...) {
    relax();
    throw;
  }
  relax();
}

// The wait allows for another program's read lease beyond the busy timeout; this program's own
// leases are given back at once.
template <typename Step>
void PageFile::waitFor(Step&& step) {
  if (step()) return;
  if (locking_ && ReadLease::dropAll() && step()) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(busyTimeoutMs_) + ReadLease::kLongest;
  auto pause = std::chrono::microseconds(200);
  while (!step()) {
    if (std::chrono::steady_clock::now() >= deadline) throwBusy();
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(20000));
  }
}

[[noreturn]] void PageFile::throwBusy() {
  relax();
  std::optional<JetUser> holder = users_ ? users_->otherUser() : std::nullopt;
  const JetUser who = holder ? *holder : LockFile::self();
  throw Error(err::kLocked, "Couldn't update; currently locked by user '" + who.user + "' on machine '" + who.machine + "'.");
}

std::optional<JetUser> PageFile::foreignUser() {
  return users_ ? users_->foreignUser() : LockFile::foreignUserOf(path_);
}

void PageFile::relax() {
  using L = FileLock::Level;
  if (!locking_) return;
  lock_->lower(atomic_ || writeDepth_ > 0 ? L::Reserved : readDepth_ > 0 ? L::Shared : L::None);
}

void PageFile::setLocking(bool on) { lockingOn() = on; }

void PageFile::beginRead() {
  if (!locking_) {
    if (readDepth_ == 0 && marker_ == Marker{}) refresh();  // a hot journal is played back all the same
    ++readDepth_;
    return;
  }
  // While the lease lasts nobody can have committed.
  if (readDepth_++ > 0 || lease_->take() || lock_->level() >= FileLock::Level::Shared) return;
  try {
    waitFor([&] { return lock_->raise(FileLock::Level::Shared); });
    lease_->start();
    refresh();
  } catch (...) {
    --readDepth_;
    relax();
    throw;
  }
}

void PageFile::endRead() {
  if (readDepth_ > 0 && --readDepth_ == 0) finish();
}

// The shared lock is leased, except after a commit that could not be undone (the next operation
// must find its journal).
void PageFile::finish() {
  using L = FileLock::Level;
  if (locking_ && !atomic_ && writeDepth_ == 0 && !broken_ && lock_->level() >= L::Shared) {
    if (lock_->level() > L::Shared) lock_->lower(L::Shared);
    if (lease_->keep()) return;
  }
  relax();
}

void PageFile::takeWriteTurn(bool mayWait) {
  if (!locking_ || lock_->level() >= FileLock::Level::Reserved) return;
  if (auto other = foreignUser())
    throw Error(err::kLocked, "Couldn't update; currently locked by user '" + other->user + "' on machine '" +
                                  other->machine + "'.");
  if (!mayWait) {
    if (!lock_->raise(FileLock::Level::Reserved)) throwBusy();
    return;
  }
  if (waitForReserved()) refresh();  // another writer may have committed meanwhile
}

// The writer that has the turn commits only once every shared lock is gone: a program that held
// one while it waited behind it would keep it waiting (each for the other, until one gives up). So
// the waiting one lets go between tries, unless it holds the shared lock for a read of its own or
// for pages a scope has written.
bool PageFile::waitForReserved() {
  using L = FileLock::Level;
  const bool mayLetGo = readDepth_ <= 1 && !atomic_;
  bool letGo = false;
  waitFor([&] {
    if (lock_->level() < L::Shared && !lock_->raise(L::Shared)) return false;
    if (lock_->raise(L::Reserved)) return true;
    if (mayLetGo) {
      lock_->lower(L::None);
      letGo = true;
    }
    return false;
  });
  return letGo;
}

// A read operation with the writer's turn inside it; the read ends again when no turn is had. A
// turn asked for inside an outer read of this program never waits (it could deadlock).
void PageFile::beginReadAndWriteTurn() {
  const bool outerRead = readDepth_ > 0;
  beginRead();
  try {
    takeWriteTurn(!outerRead);
  } catch (...) {
    endRead();
    throw;
  }
}

void PageFile::beginWrite() {
  checkWritable();
  beginReadAndWriteTurn();
  ++writeDepth_;
}

void PageFile::endWrite() {
  if (writeDepth_ > 0) --writeDepth_;
  relax();
  endRead();
}

std::unique_ptr<PageFile> PageFile::createNew(const std::string& path, uint32_t pageSize) {
  if (Env::get().exists(path)) throw Error(err::kDatabaseExists, "Database already exists.");
  std::unique_ptr<PageFile> f(new PageFile(512));
  f->publishAs_ = path;
  f->readOnly_ = false;
  f->pageSize_ = pageSize;
  static std::mt19937 rng{std::random_device{}()};
  const std::string folder = folderOf(path);
  for (int attempt = 0; !f->file_; ++attempt) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "%06x", unsigned(rng() & 0xFFFFFF));
    f->path_ = folder + "/." + fileName(path) + "." + tag + ".new";
    int error = 0;
    f->file_ = Env::get().open(f->path_, OpenMode::CreateNew, error);
    if (f->file_) break;
    if (error == EEXIST && attempt < 100) continue;
    if (error == ENOENT || error == ENOTDIR)
      throw Error(err::kInvalidPath, "'" + folder + "' is not a valid path. Make sure that the path name is spelled correctly "
                                       "and that you are connected to the server on which the file resides.");
    if (error == ENOSPC || error == EDQUOT)
      throw Error(err::kDiskFull, "Disk full: there is not enough space to write to '" + path + "'.");
    throw Error(err::kIoError, "Cannot create '" + path + "': " + std::strerror(error) + ".");
  }
  return f;
}

PageFile::~PageFile() {
  lease_.reset();  // the lock stays as it is, and the releaser leaves it alone from here on
  journal_.reset();
  // A writer removes the journal when nobody else has the file open: a clean one, and a stale one
  // (torn, zeroed, or another file's); a hot one stays for the next open to play back.
  if (!readOnly_ && lock_ && publishAs_.empty()) {
    try {
      using L = FileLock::Level;
      std::optional<JournalContents> hot;
      if (lock_->raise(L::Shared) && lock_->raise(L::Reserved) && lock_->raise(L::Exclusive) && lock_->alone()) {
        readMarker(&hot);
        if (!hot) Env::get().remove(journalPathOf(path_));
      }
    } catch (const Error&) {
    }
  }
  users_.reset();
  lock_.reset();
  file_.reset();  // its locks go with it
  if (!publishAs_.empty()) Env::get().remove(path_);
}

void PageFile::publish() {
  checkWritable();
  flush();
  int error = 0;
  if (!Env::get().link(path_, publishAs_, error)) {
    if (error == EEXIST) throw Error(err::kDatabaseExists, "Database already exists.");
    throwWriteError(error, publishAs_);
  }
  const std::string finalPath = publishAs_;
  try {
    Env::get().syncFolder(finalPath);
  } catch (...) {
    Env::get().remove(finalPath);
    throw;
  }
  Env::get().remove(path_);
  path_ = finalPath;
  publishAs_.clear();
}

// ---------------------------------------------------------------------------------------------
// Reading

std::vector<uint8_t> PageFile::readPrefix(size_t len) {
  auto it = overlay_.find(0);
  if (it != overlay_.end()) return std::vector<uint8_t>(it->second.begin(), it->second.begin() + long(std::min(len, it->second.size())));
  std::vector<uint8_t> out(len);
  out.resize(file_->read(0, out.data(), len));
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
    if (file_->read(uint64_t(number) * pageSize_, p->data(), pageSize_) < pageSize_)
      throwCorrupt("the file ends inside page " + std::to_string(number));
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
    file_->write(uint64_t(number) * pageSize_, enc.data(), enc.size());
  } else {
    file_->write(uint64_t(number) * pageSize_, page.data(), page.size());
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
  try {
    file_->writeBlocks(uint64_t(first) * pageSize_, data, pageSize_, pages);
  } catch (...) {
    for (size_t i = 0; i < pages; ++i) forget(first + uint32_t(i));
    throw;
  }
  for (size_t i = 0; i < pages; ++i) forget(first + uint32_t(i));
  fileSize_ = std::max(fileSize_, uint64_t(first + pages) * pageSize_);
  pageCount_ = std::max(pageCount_, uint32_t(first + pages));
}

void PageFile::flush() {
  if (readOnly_) return;
  file_->sync();
}

// ---------------------------------------------------------------------------------------------
// Commits

void PageFile::beginAtomic() {
  if (!readOnly_ && publishAs_.empty() && writeDepth_ == 0 && !atomic_) {
    beginReadAndWriteTurn();
    atomic_ = true;  // the scope keeps the turn
    endRead();
  }
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
  relax();
}

void PageFile::writeJournal() {
  const std::string journal = journalPathOf(path_);
  if (journal_) {
    // Another program may have removed the journal on closing (and made a new one since).
    int e = 0;
    auto named = Env::get().open(journal, OpenMode::ReadOnly, e);
    if (!named || named->identity() != journal_->identity()) journal_.reset();
  }
  if (!journal_) {
    int e = 0;
    journal_ = Env::get().open(journal, OpenMode::OpenOrCreate, e);
    if (!journal_)
      throw Error(e == ENOSPC || e == EDQUOT ? err::kDiskFull : err::kIoError,
                  "Cannot write the journal '" + fileName(journal) + "' beside the database: " + std::strerror(e) + ".");
    journalClean_ = false;
    Env::get().syncFolder(journal);
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
  journal_->write(0, bytes.data(), bytes.size());
  journal_->sync();
}

void PageFile::zeroJournal(File& journal) {
  static std::mt19937_64 rng{std::random_device{}()};
  std::vector<uint8_t> zero(kJournalHeaderBytes, 0);
  put64(zero.data() + kJournalStampAt, rng() | 1);
  journal.write(0, zero.data(), zero.size());
  journal.sync();
}

void PageFile::clearJournal() {
  zeroJournal(*journal_);
  journalClean_ = true;
}

void PageFile::commitAtomic() {
  if (!atomic_) return;
  if (dirty_.empty()) {
    atomic_ = false;
    preImages_.clear();
    relax();
    return;
  }
  bool fileTouched = false;
  try {
    // The readers of the moment finish first; new ones wait until the change is in the file.
    if (publishAs_.empty() && locking_) {
      if (lock_->level() < FileLock::Level::Reserved) takeWriteTurn(true);
      waitFor([&] { return lock_->raise(FileLock::Level::Exclusive); });
    }
    writeJournal();
    std::vector<uint32_t> numbers;
    for (const auto& [number, page] : dirty_) numbers.push_back(number);
    std::sort(numbers.begin(), numbers.end());
    fileTouched = true;
    for (uint32_t n : numbers) storePage(n, *dirty_.at(n));
    file_->sync();
    clearJournal();
    marker_ = readMarker(nullptr);
  } catch (const Error&) {
    undoCommit(fileTouched);
    if (fileTouched && !broken_) marker_ = readMarker(nullptr);
    dropScope();
    throw;
  }
  atomic_ = false;
  dirty_.clear();
  preImages_.clear();
  relax();
}

// Puts the file back as it was before a commit that failed part-way; when even that fails, the
// journal stays hot and the file is marked broken.
void PageFile::undoCommit(bool fileTouched) {
  try {
    if (fileTouched) {
      for (const auto& [number, image] : preImages_) storePage(number, *image);
      file_->truncate(atomicFileSize_);
      fileSize_ = atomicFileSize_;
      file_->sync();
    }
    if (journal_ && !journalClean_) clearJournal();
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
