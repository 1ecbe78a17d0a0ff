#include "jet/usage_map.h"

#include "jet/bytes.h"
#include "jet/data_page.h"

namespace jet {

namespace {
constexpr uint8_t kBitmapPageType = 0x05;
}

UsageMap UsageMap::read(PageFile& file, Format format, uint32_t pointer) {
  UsageMap m;
  m.file_ = &file;
  m.pointer_ = pointer;
  PageRef page = file.page(pointerPage(pointer));
  RowSlot slot = rowSlot(page->data(), file.pageSize(), format, pointerRow(pointer));
  ByteSpan row(page->data() + slot.start, slot.size(), "usage map");
  if (slot.size() == 0) return m;  // an empty map
  uint8_t type = row.u8(0);
  if (type == 0) {
    m.inline_ = true;
    m.start_ = row.u32(1);
    m.bits_.assign(row.data() + 5, row.data() + row.size());
  } else if (type == 1) {
    m.inline_ = false;
    m.pagesPerBitmap_ = (file.pageSize() - 4) * 8;
    for (size_t o = 1; o + 4 <= row.size(); o += 4) m.bitmapPages_.push_back(row.u32(o));
  } else {
    throwCorrupt("a usage map has unknown type " + std::to_string(type));
  }
  return m;
}

bool UsageMap::contains(uint32_t page) const {
  if (inline_) {
    if (page < start_) return false;
    uint64_t bit = uint64_t(page) - start_;
    return bit / 8 < bits_.size() && (bits_[bit / 8] >> (bit % 8)) & 1;
  }
  uint32_t run = page / pagesPerBitmap_;
  if (run >= bitmapPages_.size() || bitmapPages_[run] == 0) return false;
  PageRef bp = file_->page(bitmapPages_[run]);
  uint32_t bit = page % pagesPerBitmap_;
  return ((*bp)[4 + bit / 8] >> (bit % 8)) & 1;
}

uint32_t UsageMap::nextFrom(uint32_t from) const {
  if (inline_) {
    uint64_t bit = from < start_ ? 0 : uint64_t(from) - start_;
    for (; bit / 8 < bits_.size(); ++bit) {
      uint8_t byte = bits_[bit / 8];
      if (byte == 0) { bit |= 7; continue; }
      if ((byte >> (bit % 8)) & 1) return uint32_t(start_ + bit);
    }
    return UINT32_MAX;
  }
  for (uint32_t run = from / pagesPerBitmap_; run < bitmapPages_.size(); ++run) {
    if (bitmapPages_[run] == 0) continue;
    PageRef bp = file_->page(bitmapPages_[run]);
    if ((*bp)[0] != kBitmapPageType) throwCorrupt("a usage map refers to a page that holds no bitmap");
    uint32_t bit = run == from / pagesPerBitmap_ ? from % pagesPerBitmap_ : 0;
    for (; bit < pagesPerBitmap_; ++bit) {
      uint8_t byte = (*bp)[4 + bit / 8];
      if (byte == 0) { bit |= 7; continue; }
      if ((byte >> (bit % 8)) & 1) return run * pagesPerBitmap_ + bit;
    }
  }
  return UINT32_MAX;
}

std::vector<uint32_t> UsageMap::pages() const {
  std::vector<uint32_t> out;
  for (uint32_t p = nextFrom(0); p != UINT32_MAX; p = p == UINT32_MAX - 1 ? UINT32_MAX : nextFrom(p + 1))
    out.push_back(p);
  return out;
}

}  // namespace jet
