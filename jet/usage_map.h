// Usage maps: sets of pages kept as bitmaps. Inline maps (type 0) hold a start page and the bitmap
// in their own row; reference maps (type 1) list bitmap pages that each cover a run of pages.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/page_file.h"
#include "jet/schema.h"

namespace jet {

class UsageMap {
 public:
  // Reads the map held in the row that `pointer` names.
  static UsageMap read(PageFile& file, Format format, uint32_t pointer);

  bool contains(uint32_t page) const;
  // Every marked page in ascending order.
  std::vector<uint32_t> pages() const;
  // The first marked page at or after `from`; UINT32_MAX when there is none.
  uint32_t nextFrom(uint32_t from) const;

  bool isInline() const { return inline_; }
  uint32_t pointer() const { return pointer_; }
  uint32_t firstPage() const { return start_; }

 private:
  PageFile* file_ = nullptr;
  uint32_t pointer_ = 0;
  bool inline_ = true;
  uint32_t start_ = 0;
  std::vector<uint8_t> bits_;          // inline map bitmap
  std::vector<uint32_t> bitmapPages_;  // reference map: bitmap page per run (0 = none)
  uint32_t pagesPerBitmap_ = 0;
};

class PageTransaction;

// The pages the map held in the row that `pointer` names marks, as a staged transaction sees it.
std::vector<uint32_t> markedPages(PageTransaction& tx, Format format, uint32_t pointer);

// Whether that map marks `page`, as a staged transaction sees it.
bool mapContains(PageTransaction& tx, Format format, uint32_t pointer, uint32_t page);

// Marks (or clears) `page` in the usage map held in the row that `pointer` names, through a staged
// transaction. Throws 3035 when an inline map cannot reach the page.
void markUsage(PageTransaction& tx, Format format, uint32_t pointer, uint32_t page, bool used);

}  // namespace jet
