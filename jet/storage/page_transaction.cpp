#include "jet/storage/page_transaction.h"

#include <algorithm>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/storage/data_page.h"
#include "jet/storage/usage_map.h"

namespace jet {

Page* PageTransaction::staged(uint32_t page) {
  if (page == lastPage_) return lastStaged_;
  auto it = staged_.find(page);
  if (it == staged_.end()) return nullptr;
  lastPage_ = page;
  return lastStaged_ = &it->second;
}

const uint8_t* PageTransaction::read(uint32_t page) {
  if (Page* p = staged(page)) return p->data();
  held_ = file_.page(page);
  return held_->data();
}

uint8_t* PageTransaction::edit(uint32_t page) {
  if (Page* p = staged(page)) return p->data();
  lastPage_ = page;
  return (lastStaged_ = &staged_.emplace(page, *file_.page(page)).first->second)->data();
}

uint32_t PageTransaction::takeFreePage() {
  if (!freeMap_ || !hasFreePageMap(*this, format_)) return UINT32_MAX;
  const UsageMap map = UsageMap::read(*this, format_, kFreePageMapPointer);
  // Pages 0 to 2 (header, the map, the catalog) are never handed out; pages this transaction
  // already holds are not free for it.
  for (uint32_t page = map.nextFrom(3); page < file_.pageCount(); page = map.nextFrom(page + 1))
    if (!staged_.count(page)) return page;
  return UINT32_MAX;
}

void PageTransaction::release(uint32_t page) { markFree(page, true); }

bool PageTransaction::isFree(uint32_t page) {
  if (!freeMap_ || !hasFreePageMap(*this, format_)) return false;
  return mapContains(*this, format_, kFreePageMapPointer, page);
}

uint32_t PageTransaction::appendPage() {
  const uint32_t n = nextPage_++;
  staged_[n] = Page(file_.pageSize(), 0);
  return n;
}

void PageTransaction::markFree(uint32_t page, bool free) {
  if (!freeMap_ || !hasFreePageMap(*this, format_)) return;
  markFreePage(*this, format_, page, free);
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
  lastPage_ = UINT32_MAX;
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
