// The database file as numbered fixed-size pages, read and written through a bounded LRU cache.
// This is the one place where pages reach the file; it reaches the file through the Env in use
// (env.h), where tests put their fault and crash simulation.
//
// Memory stays fixed whatever the file's size: at most `cachePages` pages are held, and a page that
// a caller still holds (a shared pointer) lives on only as long as the caller keeps it. Pages other
// than page 0 pass through the file's page codec, if it has one (a database key or an encryption):
// decoded on read, encoded on write.
//
// Any number of programs may have the file open, for reading and for writing; they take turns by
// the locking protocol of file_lock.h. A read operation holds a shared lock and sees one committed
// state; a write operation holds the writer's turn and commits under an exclusive lock. A writer
// that cannot get its turn within the busy timeout fails with 3260, the file untouched. While the
// file is open for writing this program is a user in Jet's lock file (lock_file.h), and while a Jet
// program other than ours is one, every write fails at once with 3260.
//
// Commits are crash-safe through a rollback journal beside the file (see jet/storage/journal.h): the pages
// of a commit wait in memory; at commit the original images of the pages it overwrites go to the
// journal, which is forced to the disk, then the pages go to the file, which is forced, then the
// journal's header is zeroed (keeping a new commit stamp) and forced. A valid journal found under a
// shared lock is hot, left by a commit cut short: it is played back under the exclusive lock before
// anything is read (on a read-only open, applied in memory only). The stamp, the journal's identity
// and the database file's size and change time tell a later read operation whether another program
// has committed since; nothing in the database file itself changes for it. The journal is removed
// only by the last program to close the file, so each program, once it has found the journal,
// watches it through one handle; a read operation costs three lock calls, one look at the file's
// size and change time and one read of the journal's header. When an operation ends, the shared
// lock is kept for a short lease (read_lease.h), and an operation that starts while it lasts costs
// none of these.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/storage/env.h"
#include "jet/storage/file_lock.h"
#include "jet/storage/journal.h"
#include "jet/storage/lock_file.h"
#include "jet/storage/page_codec.h"
#include "jet/storage/read_lease.h"

namespace jet {

using Page = std::vector<uint8_t>;
using PageRef = std::shared_ptr<const Page>;

class PageFile {
 public:
  // Opens `path`. A writable open of a file the user may only read falls back to read-only (see
  // readOnly()). Throws 3024 when missing, 3051 when locked by another writer or not readable.
  // A hot journal beside the file is played back first (a read-only open applies it in memory),
  // after waiting up to `busyTimeoutMs` for a commit under way (then 3260).
  static constexpr size_t kCachePages = 512;
  static constexpr int kBusyTimeoutMs = 10000;
  PageFile(const std::string& path, bool readOnly, size_t cachePages = kCachePages, int busyTimeoutMs = kBusyTimeoutMs);
  // A new file that is to appear at `path` only when complete: it is written under a temporary
  // name beside it, without a journal, and publish() puts it in place. Throws 3204 when `path`
  // exists, 3044 when its folder does not, 3043/3035 when the folder cannot be written.
  static std::unique_ptr<PageFile> createNew(const std::string& path, uint32_t pageSize);
  // Removes the file of an unpublished createNew(); closes the journal of a session (removing it).
  ~PageFile();
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  // A read operation: between beginRead() and endRead() (nested freely) the file holds a shared
  // lock. The first beginRead() waits, up to the busy timeout, for a commit under way (then 3260),
  // plays back a hot journal, and when another program has committed since the last operation,
  // drops every cached page and counts up generation(); while the last operation's lease lasts it
  // does none of this.
  void beginRead();
  void endRead();
  // A write operation (inside which reads are part of it): the writer's turn, waited for up to the
  // busy timeout, or refused at once when an outer read operation of this program is open (waiting
  // then could deadlock against a writer waiting for that reader). 3260 either way, and at once
  // while a Jet program other than ours has the database open. The turn lasts until endWrite() or,
  // with an atomic scope still open (queued rows), until the scope ends.
  void beginWrite();
  void endWrite();
  // How many times the file was found changed by another program.
  uint64_t generation() const { return generation_; }
  // How long a writer (or a reader, for a commit under way) waits for its turn; 10 s by default,
  // and another program's read lease (ReadLease::kLongest) beyond it.
  void setBusyTimeout(int milliseconds) { busyTimeoutMs_ = milliseconds; }
  // Whether files opened from now on take part in the locking protocol (on by default;
  // TABULONIX_LOCKING=none in the environment turns it off). Off, nothing is locked or checked for
  // other programs' commits: only for a program that knows it is alone with its files, and to
  // measure what the protocol costs.
  static void setLocking(bool on);
  // A Jet program other than ours that has the database open, by its lock file entry.
  std::optional<JetUser> foreignUser();

  // Reads raw bytes from the start of the file (for the header, before the page size is known).
  std::vector<uint8_t> readPrefix(size_t len);

  void setPageSize(uint32_t size);
  // The RC4 masking of a Jet database key; 0 stores pages as they are.
  void setEncodingKey(uint32_t key);
  // Any codec (nullptr: none). Pages already cached are dropped.
  void setCodec(std::shared_ptr<const PageCodec> codec);
  const std::shared_ptr<const PageCodec>& codec() const { return codec_; }

  uint32_t pageSize() const { return pageSize_; }
  uint32_t pageCount() const { return pageCount_; }
  bool readOnly() const { return readOnly_; }
  const std::string& path() const { return path_; }

  // A page's decoded bytes (within an open scope, as the scope has written it). Throws 3049 for a
  // page beyond the end of the file.
  PageRef page(uint32_t number);

  // Writes a whole page (pageSize() bytes). Within an atomic scope the page waits for the commit;
  // outside one it goes straight to the file (unjournaled: for new files and tools).
  void writePage(uint32_t number, const uint8_t* data);
  // The same for a whole page the caller gives up (the cache keeps it without a copy).
  void writePage(uint32_t number, Page&& page);
  // Appends a page at the end of the file and returns its number.
  uint32_t appendPage(const uint8_t* data);
  // Writes `pages` consecutive pages from `first` straight to a file outside any scope (a new
  // file's long runs); each page counts as one write for the hooks.
  void writeRun(uint32_t first, const uint8_t* data, size_t pages);
  // Forces what was written to the disk.
  void flush();
  // Forces a createNew() file to the disk and gives it its name (3204 when that exists by now).
  void publish();

  // All-or-nothing writes: between beginAtomic() and commitAtomic() pages written wait in memory
  // (the scope holds the writer's turn: beginAtomic() takes it when no write operation has);
  // commitAtomic() writes them through the journal (see above) and on failure puts the file back
  // as it was and throws; rollbackAtomic() drops them. Scopes do not nest.
  void beginAtomic();
  void commitAtomic();
  // Throws when a failed commit could not be undone on the file (its journal then stays, so that
  // the next open undoes it).
  void rollbackAtomic();
  bool inAtomic() const { return atomic_; }
  // A point inside the open scope to come back to: rollbackToMark() forgets what the scope wrote
  // after markScope(), as if it had never been written (a statement undone inside a transaction).
  struct ScopeMark {
    std::unordered_map<uint32_t, PageRef> dirty;
    uint32_t pageCount = 0;
  };
  ScopeMark markScope() const { return {dirty_, pageCount_}; }
  void rollbackToMark(const ScopeMark& mark);
  // Whether the open (or the last) scope wrote anything.
  bool atomicTouched() const { return touched_; }

  size_t cachedPages() const { return lru_.size(); }

 private:
  PageFile(size_t cachePages) : capacity_(cachePages < 4 ? 4 : cachePages) {}
  void checkWritable() const;
  void storePage(uint32_t number, const Page& page);
  void remember(uint32_t number, PageRef page);
  void forget(uint32_t number);
  struct Marker {
    uint64_t stamp = 0, journal = 0, size = 0;
    int64_t changed = 0;
    bool operator==(const Marker&) const = default;
  };
  // The state of the journal and the file; a hot journal's contents in `hot`.
  Marker readMarker(std::optional<JournalContents>* hot);
  // Under a fresh shared lock: plays back a hot journal and notices other programs' commits.
  void refresh();
  void recoverJournal();
  // Retries `step` until it succeeds or the busy timeout passes (then 3260).
  template <typename Step>
  void waitFor(Step&& step);
  [[noreturn]] void throwBusy();
  void takeWriteTurn(bool mayWait);
  // Waits for the reserved lock, letting go of the shared one between tries where it may; true when
  // it let go (another program may have committed meanwhile).
  bool waitForReserved();
  void beginReadAndWriteTurn();
  // Lowers the lock to what the open operations and scope need.
  void relax();
  // The last operation has ended: the shared lock is leased, or let go.
  void finish();
  void writeJournal();
  static void zeroJournal(File& journal);
  void clearJournal();
  void undoCommit(bool fileTouched);
  void dropScope();

  std::string path_;
  std::string publishAs_;  // createNew(): the name the file gets when complete
  std::unique_ptr<File> file_;
  std::unique_ptr<FileLock> lock_;
  std::unique_ptr<ReadLease> lease_;  // with locking on
  std::unique_ptr<LockFile> users_;  // our entry in Jet's lock file, while open for writing
  bool locking_ = true;
  int readDepth_ = 0, writeDepth_ = 0;
  int busyTimeoutMs_ = kBusyTimeoutMs;
  uint64_t generation_ = 0;
  Marker marker_;
  bool readOnly_ = true;
  uint32_t pageSize_ = 4096;
  uint32_t pageCount_ = 0;
  uint64_t fileSize_ = 0;
  uint64_t device_ = 0, inode_ = 0;
  std::shared_ptr<const PageCodec> codec_;
  size_t capacity_;
  std::list<std::pair<uint32_t, PageRef>> lru_;  // most recently used first
  std::unordered_map<uint32_t, std::list<std::pair<uint32_t, PageRef>>::iterator> index_;
  bool atomic_ = false;
  bool touched_ = false;  // a write was attempted in the open (or last) scope
  bool broken_ = false;   // a failed commit could not be undone
  uint32_t atomicPageCount_ = 0;
  uint64_t atomicFileSize_ = 0;
  std::unordered_map<uint32_t, PageRef> dirty_;   // pages the open scope wrote
  std::unordered_map<uint32_t, PageRef> preImages_;  // their contents before the scope
  std::unique_ptr<File> journal_;
  std::unique_ptr<File> watch_;  // the journal as read for the marker, held once found
  uint64_t watchInode_ = 0;
  bool journalClean_ = true;  // the journal's header is zeroed (it may be removed)
  // A hot journal applied in memory (read-only open): stored images by byte offset.
  std::unordered_map<uint64_t, Page> overlay_;
};

}  // namespace jet
