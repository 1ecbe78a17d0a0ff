// The database file as numbered fixed-size pages, read and written through a bounded LRU cache.
//
// Memory stays fixed whatever the file's size: at most `cachePages` pages are held, and a page that
// a caller still holds (a shared pointer) lives on only as long as the caller keeps it. Pages other
// than page 0 of a database with a database key are decoded on read and encoded on write. A file
// opened for writing carries an exclusive advisory lock, so a second writer is refused (3051).
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace jet {

using Page = std::vector<uint8_t>;
using PageRef = std::shared_ptr<const Page>;

class PageFile {
 public:
  enum class Fault { None, DiskFull, IoError, ShortWrite };

  // Opens `path`. A writable open of a file the user may only read falls back to read-only (see
  // readOnly()). Throws 3024 when missing, 3051 when locked by another writer or not readable.
  PageFile(const std::string& path, bool readOnly, size_t cachePages = 512);
  ~PageFile();
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  // Reads raw bytes from the start of the file (for the header, before the page size is known).
  std::vector<uint8_t> readPrefix(size_t len);

  void setPageSize(uint32_t size);
  // 0 disables page encoding.
  void setEncodingKey(uint32_t key);

  uint32_t pageSize() const { return pageSize_; }
  uint32_t pageCount() const { return pageCount_; }
  bool readOnly() const { return readOnly_; }
  const std::string& path() const { return path_; }

  // A page's decoded bytes. Throws 3049 for a page beyond the end of the file.
  PageRef page(uint32_t number);

  // Writes a whole page (pageSize() bytes) through to the file and the cache.
  void writePage(uint32_t number, const uint8_t* data);
  // The same for a whole page the caller gives up (the cache keeps it without a copy).
  void writePage(uint32_t number, Page&& page);
  // Appends a page at the end of the file and returns its number.
  uint32_t appendPage(const uint8_t* data);
  void flush();
  // Cuts the file back to `pages` pages (undoing appends, and any partial page a failed append
  // left behind).
  void truncate(uint32_t pages);

  // All-or-nothing writes: between beginAtomic() and commitAtomic() the page file keeps the
  // previous contents of every page it overwrites; rollbackAtomic() puts them back and cuts off
  // pages appended since, so the file is as it was before beginAtomic(). Scopes do not nest.
  void beginAtomic();
  void commitAtomic();
  // Throws when the file cannot be restored (the disk refuses even the old contents).
  void rollbackAtomic();
  bool inAtomic() const { return atomic_; }
  // Whether the open scope has written anything to the file.
  bool atomicTouched() const { return atomic_ && touched_; }

  // Makes the nth write or flush from now (1 = the next one) fail with `fault`.
  void setWriteFaultForTesting(int nth, Fault fault);
  // The same for every file the engine writes in this process (including new database files),
  // for faults in operations whose page file a test cannot reach. 0 disarms.
  static void setProcessWriteFaultForTesting(int nth, Fault fault);
  // Writes and flushes issued by the engine in this process so far (to enumerate failure points).
  static uint64_t writeCountForTesting();
  // For writers outside the page file (new database files): counts one write of `len` bytes and
  // applies the process-wide fault; returns how many bytes may be written (a short write) or
  // throws the fault's error.
  static size_t admitWrite(size_t len, const std::string& path);

  size_t cachedPages() const { return lru_.size(); }

 private:
  void checkWritable() const;
  void rawWrite(uint64_t offset, const uint8_t* data, size_t len);
  void injectFault(size_t len, size_t& toWrite);
  void remember(uint32_t number, PageRef page);

  std::string path_;
  int fd_ = -1;
  bool readOnly_ = true;
  uint32_t pageSize_ = 4096;
  uint32_t pageCount_ = 0;
  uint64_t fileSize_ = 0;
  uint32_t key_ = 0;
  size_t capacity_;
  std::list<std::pair<uint32_t, PageRef>> lru_;  // most recently used first
  std::unordered_map<uint32_t, std::list<std::pair<uint32_t, PageRef>>::iterator> index_;
  int faultCountdown_ = 0;
  Fault fault_ = Fault::None;
  bool atomic_ = false;
  bool touched_ = false;  // a write was attempted in the open scope
  uint32_t atomicPageCount_ = 0;
  std::unordered_map<uint32_t, Page> preImages_;  // plain contents before the scope's first write
};

}  // namespace jet
