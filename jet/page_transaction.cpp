#include "jet/page_transaction.h"

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

// The inline free-page map's row on page 1; null when the map is of another kind.
uint8_t* freeMapRow(uint8_t* page1, uint32_t pageSize, Format format, uint32_t& bits) {
  if (page1[0] != kDataPageType || pageRowCount(page1, pageSize, format) == 0) return nullptr;
  RowSlot s = rowSlot(page1, pageSize, format, 0);
  if (s.size() < 5 || page1[s.start] != 0) return nullptr;
  bits = (s.size() - 5) * 8;
  return page1 + s.start;
}

}  // namespace

uint32_t PageTransaction::takeFreePage() {
  if (!freeMap_ || file_.pageCount() < 2) return UINT32_MAX;
  uint32_t bits = 0;
  const uint8_t* row = freeMapRow(const_cast<uint8_t*>(read(1)), pageSize(), format_, bits);
  if (!row) return UINT32_MAX;
  uint32_t start = le32(row + 1);
  for (uint32_t bit = 0; bit < bits; ++bit) {
    if (row[5 + bit / 8] == 0) {
      bit |= 7;  // no free page among these eight
      continue;
    }
    uint32_t page = start + bit;
    if (page >= file_.pageCount()) break;
    if (page < 3 || staged_.count(page)) continue;
    if ((row[5 + bit / 8] >> (bit % 8)) & 1) return page;
  }
  return UINT32_MAX;
}

void PageTransaction::release(uint32_t page) { markFree(page, true); }

void PageTransaction::markFree(uint32_t page, bool free) {
  if (!freeMap_ || file_.pageCount() < 2) return;
  uint32_t bits = 0;
  uint8_t* row = freeMapRow(edit(1), pageSize(), format_, bits);
  if (!row) return;
  uint32_t start = le32(row + 1);
  if (page < start || page - start >= bits) return;
  uint32_t bit = page - start;
  if (free) row[5 + bit / 8] |= uint8_t(1u << (bit % 8));
  else row[5 + bit / 8] &= uint8_t(~(1u << (bit % 8)));
}

uint32_t PageTransaction::allocate() {
  uint32_t n = takeFreePage();
  if (n == UINT32_MAX) n = nextPage_++;
  staged_[n] = Page(file_.pageSize(), 0);
  markFree(n, false);
  return n;
}

void PageTransaction::commit() {
  uint32_t oldCount = file_.pageCount();
  std::vector<std::pair<uint32_t, Page>> written;  // pre-images of existing pages
  try {
    for (auto& [number, page] : staged_) {
      if (number < oldCount) written.emplace_back(number, *file_.page(number));
      file_.writePage(number, std::move(page));
    }
  } catch (const Error&) {
    try {
      for (auto& [number, page] : written) file_.writePage(number, page.data());
      file_.truncate(oldCount);
    } catch (const Error&) {
      // The original error is the one to report.
    }
    staged_.clear();
    throw;
  }
  staged_.clear();
}

}  // namespace jet
