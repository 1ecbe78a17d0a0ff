// The destination of a copy: pages written in order, usage-map rows, new index trees' pages.

#include "jet/compact_output.h"

#include <algorithm>
#include <cstring>

#include "jet/storage/usage_map.h"

namespace jet::compaction {

void Output::write(uint32_t page, const uint8_t* data) {
  if (page < written_) {
    file_.writeRun(page, data, 1);
    return;
  }
  pending_[page].assign(data, data + pageSize_);
  drain(false);
}

void Output::read(uint32_t page, uint8_t* out) {
  auto it = pending_.find(page);
  if (it != pending_.end()) {
    std::memcpy(out, it->second.data(), pageSize_);
    return;
  }
  std::memset(out, 0, pageSize_);
  if (page >= written_) return;
  PageRef p = file_.page(page);
  std::memcpy(out, p->data(), pageSize_);
}

void Output::finish() {
  drain(true);
  while (written_ < next_) {
    run_.insert(run_.end(), pageSize_, 0);
    ++written_;
  }
  flushRun(true);
  file_.publish();
}

void Output::drain(bool all) {
  while (!pending_.empty()) {
    auto it = pending_.begin();
    if (it->first != written_) {
      if (!all && pending_.size() < kMostHeld) break;
      if (it->first > written_) {  // the missing page is written empty for now
        run_.insert(run_.end(), pageSize_, 0);
        ++written_;
        flushRun(false);
        continue;
      }
    }
    run_.insert(run_.end(), it->second.begin(), it->second.end());
    pending_.erase(it);
    ++written_;
    flushRun(false);
  }
  flushRun(true);
}

void Output::flushRun(bool always) {
  const size_t pages = run_.size() / pageSize_;
  if (pages == 0 || (!always && pages < kRunPages)) return;
  file_.writeRun(written_ - uint32_t(pages), run_.data(), pages);
  run_.clear();
}

uint32_t MapRows::add(std::vector<uint32_t> pages) {
  return place(buildUsageMap(format_, std::move(pages), [&](const Bytes& bitmap) {
    const uint32_t at = out_.allocate();
    out_.write(at, bitmap);
    return at;
  }));
}

uint32_t MapRows::place(const Bytes& row) {
  if (!current_.fits(row.size())) {
    finish();
    pageNo_ = out_.allocate();
    current_.start(format_, pageSize_, 0);
  }
  const uint16_t r = current_.add(row.data(), row.size());
  return makePointer(pageNo_, r);
}

uint32_t OutputIndexStore::allocatePage() {
  uint32_t page;
  if (!spare_.empty()) {
    page = spare_.back();
    spare_.pop_back();
  } else {
    page = out_.allocate();
  }
  out_.write(page, zero_);
  pages_.push_back(page);
  return page;
}

void OutputIndexStore::freePage(uint32_t page) {
  out_.write(page, zero_);
  pages_.erase(std::remove(pages_.begin(), pages_.end(), page), pages_.end());
  spare_.push_back(page);
}

}  // namespace jet::compaction
