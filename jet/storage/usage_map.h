// Usage maps: sets of pages kept as bitmaps in a row. Inline maps (type 0) hold a start page and
// the bitmap in their own row; maps of bitmap pages (type 1) list pages that each hold the bitmap
// of a run of pages. The one implementation of reading, marking and building both kinds, for the
// tables' maps and for the database's free-page map (page 1, row 0) alike.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "jet/base/schema.h"
#include "jet/storage/page_file.h"

namespace jet {

class PageTransaction;

// The row pointer of the database's free-page map (a set bit marks a free page).
constexpr uint32_t kFreePageMapPointer = (1u << 8) | 0;

// Page type of the pages a map of bitmap pages refers to.
constexpr uint8_t kBitmapPageType = 0x05;

// Reads bitmap pages for a map: from the file, or as a staged transaction sees them.
class MapPageReader {
 public:
  virtual ~MapPageReader() = default;
  virtual uint32_t pageCount() = 0;
  // The page's bytes, valid until the next read.
  virtual const uint8_t* read(uint32_t page) = 0;
};

class UsageMap {
 public:
  // Reads the map held in the row that `pointer` names. An empty row is an empty map. Throws 3049
  // when the row is cut short or of an unknown kind.
  static UsageMap read(PageFile& file, Format format, uint32_t pointer);
  static UsageMap read(PageTransaction& tx, Format format, uint32_t pointer);

  bool contains(uint32_t page) const;
  // Every marked page in ascending order.
  std::vector<uint32_t> pages() const;
  // The first marked page at or after `from`; UINT32_MAX when there is none.
  uint32_t nextFrom(uint32_t from) const;

  bool isInline() const { return inline_; }
  uint32_t pointer() const { return pointer_; }
  uint32_t firstPage() const { return start_; }

 private:
  static UsageMap parse(std::shared_ptr<MapPageReader> reader, uint32_t pageSize, const uint8_t* row, size_t size,
                        uint32_t pointer);
  // The bitmap page of a run, or null when the map has none there.
  const uint8_t* bitmap(uint32_t run) const;

  std::shared_ptr<MapPageReader> reader_;
  uint32_t pointer_ = 0;
  bool inline_ = true;
  uint32_t start_ = 0;
  std::vector<uint8_t> bits_;          // inline map bitmap
  std::vector<uint32_t> bitmapPages_;  // map of bitmap pages: bitmap page per run (0 = none)
  uint32_t pagesPerBitmap_ = 0;
};

// The pages the map held in the row that `pointer` names marks, as a staged transaction sees it.
std::vector<uint32_t> markedPages(PageTransaction& tx, Format format, uint32_t pointer);

// Whether that map marks `page`, as a staged transaction sees it.
bool mapContains(PageTransaction& tx, Format format, uint32_t pointer, uint32_t page);

// Marks (or clears) `page` in the usage map held in the row that `pointer` names, through a staged
// transaction. An inline map whose window does not reach the page moves its window when every page
// it marks fits in one, or else becomes a map of bitmap pages in the same row (the bitmap pages
// taken with tx.allocate()). Clearing a page the map cannot reach does nothing. Throws 3035 when no
// map of the row's size can reach the page.
void markUsage(PageTransaction& tx, Format format, uint32_t pointer, uint32_t page, bool used);

// The same for the free-page map, whose new bitmap pages are added at the end of the file (never
// taken from the map itself) and then marked in use in it.
void markFreePage(PageTransaction& tx, Format format, uint32_t page, bool free);

// Whether page 1 holds a free-page map (a data page whose first row is a map of either kind).
bool hasFreePageMap(PageTransaction& tx, Format format);

// The number of pages an inline map row can describe.
uint32_t inlineUsageMapCapacity(Format format);

// An inline map row whose window starts at `start` (a multiple of 8), marking `pages` and, when
// `markFrom` is given, every page from there to the end of the window (the free-page map of a new
// file, where every page past the end is free). Throws 3001 when a page lies outside the window.
Bytes buildInlineUsageMap(Format format, const std::vector<uint32_t>& pages, uint32_t start = 0,
                          uint32_t markFrom = UINT32_MAX);

// A map row, the size of an inline map, that marks exactly `pages`: inline when they fit in one
// window, otherwise a map of bitmap pages; `storeBitmap` writes a bitmap page image and returns
// its page number. Throws 3035 when the pages lie beyond what the row can reach.
Bytes buildUsageMap(Format format, std::vector<uint32_t> pages,
                    const std::function<uint32_t(const Bytes& image)>& storeBitmap);

}  // namespace jet
