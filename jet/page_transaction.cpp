#include "jet/page_transaction.h"

#include <algorithm>

#include "jet/bytes.h"
#include "jet/data_page.h"
#include "jet/error.h"

namespace jet {

const uint8_t* PageTransaction::read(uint32_t page) {
  auto it = staged_.find(page);
  if (it != staged_.end()) return it->second.data();
  held_ = file_.page(page);
  return held_->data();
}

uint8_t* PageTransaction::edit(uint32_t page) {
  auto it = staged_.find(page);
  if (it == staged_.end()) it = staged_.emplace(page, *file_.page(page)).first;
  return it->second.data();
}

namespace {

constexpr uint8_t kBitmapPageType = 0x05;

// The free-page map's row on page 1, of either kind (0 inline, 1 bitmap pages); null when page 1
// holds no such map.
uint8_t* freeMapRow(uint8_t* page1, uint32_t pageSize, Format format, uint32_t& size) {
  if (page1[0] != kDataPageType || pageRowCount(page1, pageSize, format) == 0) return nullptr;
  RowSlot s = rowSlot(page1, pageSize, format, 0);
  if (s.size() < 5 || page1[s.start] > 1) return nullptr;
  size = s.size();
  return page1 + s.start;
}

void setBit(uint8_t* bits, uint64_t bit, bool on) {
  if (on) bits[bit / 8] |= uint8_t(1u << (bit % 8));
  else bits[bit / 8] &= uint8_t(~(1u << (bit % 8)));
}

}  // namespace

uint32_t PageTransaction::takeFreePage() {
  if (!freeMap_ || file_.pageCount() < 2) return UINT32_MAX;
  uint32_t size = 0;
  const uint8_t* found = freeMapRow(const_cast<uint8_t*>(read(1)), pageSize(), format_, size);
  if (!found) return UINT32_MAX;
  const std::vector<uint8_t> row(found, found + size);  // reading bitmap pages may drop page 1
  auto scan = [&](const uint8_t* bits, size_t bytes, uint64_t first) -> uint32_t {
    for (size_t i = 0; i < bytes; ++i) {
      if (bits[i] == 0) continue;  // no free page among these eight
      for (unsigned b = 0; b < 8; ++b) {
        const uint64_t page = first + i * 8 + b;
        if (page >= file_.pageCount()) return UINT32_MAX;
        if (((bits[i] >> b) & 1) && page >= 3 && !staged_.count(uint32_t(page))) return uint32_t(page);
      }
    }
    return UINT32_MAX;
  };
  if (row[0] == 0) return scan(row.data() + 5, row.size() - 5, le32(row.data() + 1));
  const uint32_t perBitmap = (pageSize() - 4) * 8;
  for (size_t o = 1, run = 0; o + 4 <= row.size(); o += 4, ++run) {
    const uint32_t bitmap = le32(row.data() + o);
    if (bitmap == 0 || (bitmap >= file_.pageCount() && !staged_.count(bitmap))) continue;
    const uint32_t page = scan(read(bitmap) + 4, pageSize() - 4, uint64_t(run) * perBitmap);
    if (page != UINT32_MAX) return page;
  }
  return UINT32_MAX;
}

void PageTransaction::release(uint32_t page) { markFree(page, true); }

bool PageTransaction::isFree(uint32_t page) {
  if (!freeMap_ || file_.pageCount() < 2) return false;
  uint32_t size = 0;
  const uint8_t* found = freeMapRow(const_cast<uint8_t*>(read(1)), pageSize(), format_, size);
  if (!found) return false;
  if (found[0] == 0) {
    const uint32_t start = le32(found + 1);
    const uint64_t bit = uint64_t(page) - start;
    return page >= start && bit / 8 < size - 5 && ((found[5 + bit / 8] >> (bit % 8)) & 1);
  }
  const uint32_t perBitmap = (pageSize() - 4) * 8;
  const uint32_t run = page / perBitmap;
  if (1 + 4 * (uint64_t(run) + 1) > size) return false;
  const uint32_t bitmap = le32(found + 1 + 4 * run);
  if (bitmap == 0 || (bitmap >= file_.pageCount() && !staged_.count(bitmap))) return false;
  const uint32_t bit = page % perBitmap;
  return (read(bitmap)[4 + bit / 8] >> (bit % 8)) & 1;
}

uint32_t PageTransaction::appendBitmapPage() {
  const uint32_t n = nextPage_++;
  Page& p = staged_[n] = Page(file_.pageSize(), 0);
  p[0] = kBitmapPageType;
  p[1] = 0x01;
  return n;
}

void PageTransaction::markFree(uint32_t page, bool free) {
  if (!freeMap_ || file_.pageCount() < 2) return;
  uint32_t size = 0;
  uint8_t* row = freeMapRow(edit(1), pageSize(), format_, size);
  if (!row) return;
  const uint32_t perBitmap = (pageSize() - 4) * 8;
  const uint32_t slots = (size - 1) / 4;
  if (row[0] == 0) {
    const uint32_t start = le32(row + 1);
    const uint64_t bits = uint64_t(size - 5) * 8;
    if (page >= start && page - start < bits) {
      setBit(row + 5, page - start, free);
      return;
    }
    if (!free) return;  // pages the map does not reach count as used already
    // The page lies outside the map's window. Every free page and this one: when they fit in a
    // window, the window moves; otherwise the map becomes one of bitmap pages, which reach every
    // page of the file.
    // (Bits of pages past the end of the file are dropped: a page added at the end is taken in use.)
    std::vector<uint32_t> marked{page};
    for (uint64_t bit = 0; bit < bits; ++bit)
      if (((row[5 + bit / 8] >> (bit % 8)) & 1) && start + bit < file_.pageCount())
        marked.push_back(uint32_t(start + bit));
    const uint32_t low = *std::min_element(marked.begin(), marked.end());
    const uint32_t high = *std::max_element(marked.begin(), marked.end());
    const uint32_t base = low - low % 8;
    if (uint64_t(high - base) < bits) {
      std::fill(row + 5, row + size, uint8_t(0));
      put32(row + 1, base);
      for (uint32_t m : marked) setBit(row + 5, m - base, true);
      return;
    }
    if (high / perBitmap >= slots) return;  // beyond what any map of this row can say
    std::vector<uint8_t> converted(size, 0);
    converted[0] = 1;
    std::vector<uint32_t> added;
    for (uint32_t m : marked) {
      const uint32_t run = m / perBitmap;
      uint32_t bitmap = le32(&converted[1 + 4 * run]);
      if (bitmap == 0) {
        bitmap = appendBitmapPage();
        added.push_back(bitmap);
        put32(&converted[1 + 4 * run], bitmap);
      }
      setBit(edit(bitmap) + 4, m % perBitmap, true);
    }
    std::copy(converted.begin(), converted.end(), row);  // page 1's staged copy stays in place
    for (uint32_t b : added) markFree(b, false);  // the bitmap pages are in use themselves
    return;
  }
  const uint32_t run = page / perBitmap;
  if (run >= slots) return;
  uint32_t bitmap = le32(row + 1 + 4 * run);
  if (bitmap == 0) {
    if (!free) return;
    bitmap = appendBitmapPage();
    put32(row + 1 + 4 * run, bitmap);
    setBit(edit(bitmap) + 4, page % perBitmap, free);
    markFree(bitmap, false);  // in use itself
    return;
  }
  setBit(edit(bitmap) + 4, page % perBitmap, free);
}

uint32_t PageTransaction::allocate() {
  uint32_t n = takeFreePage();
  if (n == UINT32_MAX) n = nextPage_++;
  staged_[n] = Page(file_.pageSize(), 0);
  markFree(n, false);
  return n;
}

void PageTransaction::commit() {
  // The file's scope is the one undo mechanism: within a scope the pages join it, otherwise this
  // commit is a scope of its own.
  const bool own = !file_.inAtomic();
  if (own) file_.beginAtomic();
  try {
    for (auto& [number, page] : staged_) file_.writePage(number, std::move(page));
    staged_.clear();
    if (own) file_.commitAtomic();
  } catch (...) {
    staged_.clear();
    if (own) {
      try {
        file_.rollbackAtomic();
      } catch (const Error&) {
        // The original error is the one to report.
      }
    }
    throw;
  }
}

}  // namespace jet
