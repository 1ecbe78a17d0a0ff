#include "jet/usage_map.h"

#include <algorithm>

#include "jet/bytes.h"
#include "jet/data_page.h"
#include "jet/page_transaction.h"

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

std::vector<uint32_t> markedPages(PageTransaction& tx, Format format, uint32_t pointer) {
  std::vector<uint32_t> out;
  const uint32_t pageSize = tx.pageSize();
  const uint8_t* p = tx.read(pointerPage(pointer));
  RowSlot slot = rowSlot(p, pageSize, format, pointerRow(pointer));
  if (slot.size() < 5) return out;
  const std::vector<uint8_t> row(p + slot.start, p + slot.end);  // reading other pages may drop p
  auto collect = [&](const uint8_t* bits, size_t bytes, uint64_t first) {
    for (size_t i = 0; i < bytes; ++i) {
      if (!bits[i]) continue;
      for (int b = 0; b < 8; ++b)
        if ((bits[i] >> b) & 1) out.push_back(uint32_t(first + i * 8 + uint64_t(b)));
    }
  };
  if (row[0] == 0) {
    collect(row.data() + 5, row.size() - 5, le32(row.data() + 1));
  } else if (row[0] == 1) {
    const uint32_t perBitmap = (pageSize - 4) * 8;
    for (size_t o = 1, run = 0; o + 4 <= row.size(); o += 4, ++run) {
      const uint32_t bitmap = le32(row.data() + o);
      if (bitmap == 0 || bitmap >= tx.file().pageCount()) continue;
      collect(tx.read(bitmap) + 4, pageSize - 4, uint64_t(run) * perBitmap);
    }
  }
  return out;
}

bool mapContains(PageTransaction& tx, Format format, uint32_t pointer, uint32_t page) {
  const uint32_t pageSize = tx.pageSize();
  const uint8_t* p = tx.read(pointerPage(pointer));
  RowSlot slot = rowSlot(p, pageSize, format, pointerRow(pointer));
  if (slot.size() < 5) return false;
  const uint8_t* row = p + slot.start;
  if (row[0] == 0) {
    const uint32_t start = le32(row + 1);
    const uint64_t bit = uint64_t(page) - start;
    return page >= start && bit / 8 < slot.size() - 5 && ((row[5 + bit / 8] >> (bit % 8)) & 1);
  }
  if (row[0] != 1) return false;
  const uint32_t perBitmap = (pageSize - 4) * 8;
  const uint32_t run = page / perBitmap;
  if (1 + 4 * (uint64_t(run) + 1) > slot.size()) return false;
  const uint32_t bitmap = le32(row + 1 + 4 * run);
  if (bitmap == 0 || bitmap >= tx.file().pageCount()) return false;
  const uint32_t bit = page % perBitmap;
  return (tx.read(bitmap)[4 + bit / 8] >> (bit % 8)) & 1;
}

void markUsage(PageTransaction& tx, Format format, uint32_t pointer, uint32_t page, bool used) {
  const uint32_t pageSize = tx.pageSize();
  uint8_t* p = tx.edit(pointerPage(pointer));
  RowSlot slot = rowSlot(p, pageSize, format, pointerRow(pointer));
  if (slot.size() < 5) throwCorrupt("a usage map is cut short");
  uint8_t* row = p + slot.start;
  auto setBit = [&](uint8_t* bits, uint32_t bit) {
    if (used) bits[bit / 8] |= uint8_t(1u << (bit % 8));
    else bits[bit / 8] &= uint8_t(~(1u << (bit % 8)));
  };
  if (row[0] == 0) {
    uint32_t start = le32(row + 1);
    uint64_t bits = uint64_t(slot.size() - 5) * 8;
    if (page >= start && page - start < bits) {
      setBit(row + 5, page - start);
      return;
    }
    if (!used) return;
    // The inline map cannot reach the page: turn it into a reference map in the same row, with
    // bitmap pages covering every page it marked.
    std::vector<uint32_t> marked;
    for (uint32_t bit = 0; bit < bits; ++bit)
      if ((row[5 + bit / 8] >> (bit % 8)) & 1) marked.push_back(start + bit);
    marked.push_back(page);
    const uint32_t perBitmap = (pageSize - 4) * 8;
    const uint32_t rowSize = slot.size();
    for (uint32_t m : marked)
      if (1 + 4 * (m / perBitmap + 1) > rowSize)
        throw Error(err::kDiskFull, "System resource exceeded: the table's page map cannot hold more pages.");
    std::vector<uint8_t> converted(rowSize, 0);
    converted[0] = 1;
    const uint32_t mapPage = pointerPage(pointer);
    for (uint32_t m : marked) {
      uint32_t run = m / perBitmap;
      uint32_t bitmapPage = le32(&converted[1 + 4 * run]);
      if (bitmapPage == 0) {
        bitmapPage = tx.allocate();
        uint8_t* b = tx.edit(bitmapPage);
        b[0] = kBitmapPageType;
        b[1] = 0x01;
        put32(&converted[1 + 4 * run], bitmapPage);
      }
      uint8_t* bits2 = tx.edit(bitmapPage) + 4;
      uint32_t bit = m % perBitmap;
      bits2[bit / 8] |= uint8_t(1u << (bit % 8));
    }
    std::copy(converted.begin(), converted.end(), tx.edit(mapPage) + slot.start);
    return;
  }
  if (row[0] != 1) throwCorrupt("a usage map has an unknown type");
  uint32_t perBitmap = (pageSize - 4) * 8;
  uint32_t run = page / perBitmap;
  if (1 + 4 * (run + 1) > slot.size()) {
    if (!used) return;
    throw Error(err::kDiskFull, "System resource exceeded: the table's page map cannot hold more pages.");
  }
  uint32_t bitmapPage = le32(row + 1 + 4 * run);
  if (bitmapPage == 0) {
    if (!used) return;
    bitmapPage = tx.allocate();
    uint8_t* b = tx.edit(bitmapPage);
    b[0] = kBitmapPageType;
    b[1] = 0x01;
    row = tx.edit(pointerPage(pointer)) + slot.start;
    put32(row + 1 + 4 * run, bitmapPage);
  }
  setBit(tx.edit(bitmapPage) + 4, page % perBitmap);
}

}  // namespace jet
