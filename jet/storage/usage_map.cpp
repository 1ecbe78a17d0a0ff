#include "jet/storage/usage_map.h"

#include <algorithm>

#include "jet/base/bytes.h"
#include "jet/storage/data_page.h"
#include "jet/storage/page_transaction.h"

namespace jet {

namespace {

class FileReader : public MapPageReader {
 public:
  explicit FileReader(PageFile& file) : file_(file) {}
  uint32_t pageCount() override { return file_.pageCount(); }
  const uint8_t* read(uint32_t page) override {
    held_ = file_.page(page);
    return held_->data();
  }

 private:
  PageFile& file_;
  PageRef held_;
};

class StagedReader : public MapPageReader {
 public:
  explicit StagedReader(PageTransaction& tx) : tx_(tx) {}
  uint32_t pageCount() override { return tx_.pageCount(); }
  const uint8_t* read(uint32_t page) override { return tx_.read(page); }

 private:
  PageTransaction& tx_;
};

uint32_t pagesPerBitmap(uint32_t pageSize) { return (pageSize - 4) * 8; }

void setBit(uint8_t* bits, uint64_t bit, bool on) {
  if (on) bits[bit / 8] |= uint8_t(1u << (bit % 8));
  else bits[bit / 8] &= uint8_t(~(1u << (bit % 8)));
}

[[noreturn]] void unreachable() {
  throw Error(err::kDiskFull, "System resource exceeded: the table's page map cannot hold more pages.");
}

// The map's row as a staged transaction sees it, for editing.
uint8_t* editRow(PageTransaction& tx, Format format, uint32_t pointer, uint32_t& size) {
  uint8_t* p = tx.edit(pointerPage(pointer));
  RowSlot slot = rowSlot(p, tx.pageSize(), format, pointerRow(pointer));
  if (slot.size() < 5) throwCorrupt("a usage map is cut short");
  size = slot.size();
  return p + slot.start;
}

// Marks or clears a page; new bitmap pages come from `newBitmap` (a zeroed staged page).
void mark(PageTransaction& tx, Format format, uint32_t pointer, uint32_t page, bool on,
          const std::function<uint32_t()>& newBitmap) {
  const uint32_t perBitmap = pagesPerBitmap(tx.pageSize());
  uint32_t size = 0;
  uint8_t* row = editRow(tx, format, pointer, size);
  const uint32_t slots = (size - 1) / 4;
  auto startBitmap = [&](uint32_t& bitmap) {
    bitmap = newBitmap();
    uint8_t* b = tx.edit(bitmap);
    b[0] = kBitmapPageType;
    b[1] = 0x01;
  };
  if (row[0] == 0) {
    const uint32_t start = le32(row + 1);
    const uint64_t bits = uint64_t(size - 5) * 8;
    if (page >= start && page - start < bits) {
      setBit(row + 5, page - start, on);
      return;
    }
    if (!on) return;  // a page the map cannot reach is not in it
    // Every marked page and this one: when they fit in one window, the window moves; otherwise the
    // map becomes one of bitmap pages. Bits of pages past the end of the file are dropped.
    std::vector<uint32_t> marked{page};
    const uint32_t limit = tx.pageCount();
    for (uint64_t bit = 0; bit < bits; ++bit)
      if (((row[5 + bit / 8] >> (bit % 8)) & 1) && start + bit < limit) marked.push_back(uint32_t(start + bit));
    const uint32_t low = *std::min_element(marked.begin(), marked.end());
    const uint32_t high = *std::max_element(marked.begin(), marked.end());
    const uint32_t base = low - low % 8;
    if (uint64_t(high - base) < bits) {
      std::fill(row + 5, row + size, uint8_t(0));
      put32(row + 1, base);
      for (uint32_t m : marked) setBit(row + 5, m - base, true);
      return;
    }
    if (high / perBitmap >= slots) unreachable();
    std::vector<uint8_t> converted(size, 0);
    converted[0] = 1;
    for (uint32_t m : marked) {
      uint32_t bitmap = le32(&converted[1 + 4 * (m / perBitmap)]);
      if (bitmap == 0) {
        startBitmap(bitmap);
        put32(&converted[1 + 4 * (m / perBitmap)], bitmap);
      }
      setBit(tx.edit(bitmap) + 4, m % perBitmap, true);
    }
    // New bitmap pages may have moved the staged copy: find the row again.
    row = editRow(tx, format, pointer, size);
    std::copy(converted.begin(), converted.end(), row);
    return;
  }
  if (row[0] != 1) throwCorrupt("a usage map has an unknown type");
  const uint32_t run = page / perBitmap;
  if (run >= slots) {
    if (!on) return;
    unreachable();
  }
  uint32_t bitmap = le32(row + 1 + 4 * run);
  if (bitmap == 0) {
    if (!on) return;
    startBitmap(bitmap);
    row = editRow(tx, format, pointer, size);
    put32(row + 1 + 4 * run, bitmap);
  }
  setBit(tx.edit(bitmap) + 4, page % perBitmap, on);
}

}  // namespace

UsageMap UsageMap::parse(std::shared_ptr<MapPageReader> reader, uint32_t pageSize, const uint8_t* data, size_t size,
                         uint32_t pointer) {
  UsageMap m;
  m.reader_ = std::move(reader);
  m.pointer_ = pointer;
  if (size == 0) return m;  // an empty map
  ByteSpan row(data, size, "usage map");
  const uint8_t type = row.u8(0);
  if (type == 0) {
    m.inline_ = true;
    m.start_ = row.u32(1);
    m.bits_.assign(row.data() + 5, row.data() + row.size());
  } else if (type == 1) {
    m.inline_ = false;
    m.pagesPerBitmap_ = pagesPerBitmap(pageSize);
    for (size_t o = 1; o + 4 <= row.size(); o += 4) m.bitmapPages_.push_back(row.u32(o));
  } else {
    throwCorrupt("a usage map has unknown type " + std::to_string(type));
  }
  return m;
}

UsageMap UsageMap::read(PageFile& file, Format format, uint32_t pointer) {
  PageRef page = file.page(pointerPage(pointer));
  RowSlot slot = rowSlot(page->data(), file.pageSize(), format, pointerRow(pointer));
  return parse(std::make_shared<FileReader>(file), file.pageSize(), page->data() + slot.start, slot.size(), pointer);
}

UsageMap UsageMap::read(PageTransaction& tx, Format format, uint32_t pointer) {
  const uint8_t* page = tx.read(pointerPage(pointer));
  RowSlot slot = rowSlot(page, tx.pageSize(), format, pointerRow(pointer));
  return parse(std::make_shared<StagedReader>(tx), tx.pageSize(), page + slot.start, slot.size(), pointer);
}

const uint8_t* UsageMap::bitmap(uint32_t run) const {
  if (run >= bitmapPages_.size()) return nullptr;
  const uint32_t page = bitmapPages_[run];
  if (page == 0 || page >= reader_->pageCount()) return nullptr;
  const uint8_t* b = reader_->read(page);
  if (b[0] != kBitmapPageType) throwCorrupt("a usage map refers to a page that holds no bitmap");
  return b;
}

bool UsageMap::contains(uint32_t page) const {
  if (inline_) {
    if (page < start_) return false;
    const uint64_t bit = uint64_t(page) - start_;
    return bit / 8 < bits_.size() && (bits_[bit / 8] >> (bit % 8)) & 1;
  }
  const uint8_t* b = bitmap(page / pagesPerBitmap_);
  const uint32_t bit = page % pagesPerBitmap_;
  return b && ((b[4 + bit / 8] >> (bit % 8)) & 1);
}

uint32_t UsageMap::nextFrom(uint32_t from) const {
  if (inline_) {
    uint64_t bit = from < start_ ? 0 : uint64_t(from) - start_;
    for (; bit / 8 < bits_.size(); ++bit) {
      const uint8_t byte = bits_[bit / 8];
      if (byte == 0) {
        bit |= 7;
        continue;
      }
      if ((byte >> (bit % 8)) & 1) return uint32_t(start_ + bit);
    }
    return UINT32_MAX;
  }
  for (uint32_t run = from / pagesPerBitmap_; run < bitmapPages_.size(); ++run) {
    const uint8_t* b = bitmap(run);
    if (!b) continue;
    uint32_t bit = run == from / pagesPerBitmap_ ? from % pagesPerBitmap_ : 0;
    for (; bit < pagesPerBitmap_; ++bit) {
      const uint8_t byte = b[4 + bit / 8];
      if (byte == 0) {
        bit |= 7;
        continue;
      }
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
  return UsageMap::read(tx, format, pointer).pages();
}

bool mapContains(PageTransaction& tx, Format format, uint32_t pointer, uint32_t page) {
  return UsageMap::read(tx, format, pointer).contains(page);
}

void markUsage(PageTransaction& tx, Format format, uint32_t pointer, uint32_t page, bool used) {
  mark(tx, format, pointer, page, used, [&] { return tx.allocate(); });
}

void markFreePage(PageTransaction& tx, Format format, uint32_t page, bool free) {
  std::vector<uint32_t> added;
  mark(tx, format, kFreePageMapPointer, page, free, [&] {
    added.push_back(tx.appendPage());
    return added.back();
  });
  for (uint32_t b : added) markFreePage(tx, format, b, false);  // the bitmap pages are in use themselves
}

bool hasFreePageMap(PageTransaction& tx, Format format) {
  if (tx.pageCount() < 2) return false;
  const uint8_t* page1 = tx.read(1);
  if (page1[0] != kDataPageType || pageRowCount(page1, tx.pageSize(), format) == 0) return false;
  RowSlot s = rowSlot(page1, tx.pageSize(), format, 0);
  return s.size() >= 5 && page1[s.start] <= 1;
}

uint32_t inlineUsageMapCapacity(Format f) { return f == Format::Jet4Layout ? 64 * 8 : 128 * 8; }

Bytes buildInlineUsageMap(Format f, const std::vector<uint32_t>& pages, uint32_t start, uint32_t markFrom) {
  const uint32_t cap = inlineUsageMapCapacity(f);
  Bytes row(5 + cap / 8, 0);
  put32(&row[1], start);
  for (uint32_t p : pages) {
    if (p < start || p - start >= cap) throw Error(err::kInvalidArgument, "Invalid argument.");
    setBit(&row[5], p - start, true);
  }
  for (uint64_t p = std::max(markFrom, start); p < uint64_t(start) + cap; ++p) setBit(&row[5], p - start, true);
  return row;
}

Bytes buildUsageMap(Format f, std::vector<uint32_t> pages, const std::function<uint32_t(const Bytes&)>& storeBitmap) {
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  const uint32_t cap = inlineUsageMapCapacity(f);
  if (pages.empty()) return buildInlineUsageMap(f, {});
  const uint32_t first = pages.front() - pages.front() % 8;
  if (pages.back() - first < cap) return buildInlineUsageMap(f, pages, first);
  const uint32_t pageSize = uint32_t(pageSizeOf(f));
  const uint32_t perBitmap = pagesPerBitmap(pageSize);
  Bytes row(5 + cap / 8, 0);
  const size_t slots = (row.size() - 1) / 4;
  if (pages.back() / perBitmap >= slots) unreachable();
  row[0] = 1;
  size_t i = 0;
  while (i < pages.size()) {
    const uint32_t run = pages[i] / perBitmap;
    Bytes bitmap(pageSize, 0);
    bitmap[0] = kBitmapPageType;
    bitmap[1] = 0x01;
    for (; i < pages.size() && pages[i] / perBitmap == run; ++i) setBit(&bitmap[4], pages[i] % perBitmap, true);
    put32(&row[1 + 4 * run], storeBitmap(bitmap));
  }
  return row;
}

}  // namespace jet
