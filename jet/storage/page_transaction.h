// Staged page changes: a write operation edits copies of pages and new pages here, then commits
// them together into the page file's atomic scope (see PageFile), which writes them through its
// journal; without an open scope the commit is a scope of its own. Until commit nothing reaches the
// page file; a failed commit leaves the file as it was.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "jet/base/schema.h"
#include "jet/storage/page_file.h"

namespace jet {

class PageTransaction {
 public:
  explicit PageTransaction(PageFile& file) : file_(file), nextPage_(file.pageCount()) {}

  PageFile& file() { return file_; }
  uint32_t pageSize() const { return file_.pageSize(); }
  // Pages of the file as this transaction sees it (pages it adds included).
  uint32_t pageCount() const { return nextPage_; }
  // The page as this transaction sees it (staged copy or file).
  const uint8_t* read(uint32_t page);
  // A writable staged copy of the page.
  uint8_t* edit(uint32_t page);
  // A zeroed page for new use: a page the database's free-page map offers, else a new page at the
  // end of the file. Either way the page is taken out of the free-page map.
  uint32_t allocate();
  // A zeroed page added at the end of the file, whatever the free-page map offers.
  uint32_t appendPage();
  // Returns a page to the free-page map (its contents stay until it is reused).
  void release(uint32_t page);
  // Whether the free-page map offers the page.
  bool isFree(uint32_t page);
  // Enables the database's free-page map (page 1, row 0: a set bit marks a free page; an inline
  // map's window moves, or the map turns into one of bitmap pages, to reach a page freed outside it).
  void useFreePageMap(Format format) { format_ = format; freeMap_ = true; }
  bool changed() const { return !staged_.empty(); }
  // Hands every staged page to the file (see above); on failure the file is as it was.
  void commit();

 private:
  PageFile& file_;
  uint32_t nextPage_;
  uint32_t takeFreePage();
  void markFree(uint32_t page, bool free);
  // The staged copy of the page, or nullptr.
  Page* staged(uint32_t page);

  std::map<uint32_t, Page> staged_;
  Format format_ = Format::Jet4Layout;
  bool freeMap_ = false;
  PageRef held_;
  // The staged page looked up last (rows go to the same page one after another).
  uint32_t lastPage_ = UINT32_MAX;
  Page* lastStaged_ = nullptr;
};

}  // namespace jet
