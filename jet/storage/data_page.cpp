#include "jet/storage/data_page.h"

#include <algorithm>
#include <string>
#include <vector>

#include "jet/base/bytes.h"

namespace jet {

uint16_t pageRowCount(const uint8_t* page, uint32_t pageSize, Format format) {
  uint16_t n = le16(page + rowCountOffset(format));
  if (rowTableOffset(format) + 2u * n > pageSize) throwCorrupt("a data page claims more rows than it can hold");
  return n;
}

RowSlot rowSlot(const uint8_t* page, uint32_t pageSize, Format format, uint16_t row) {
  uint16_t count = pageRowCount(page, pageSize, format);
  if (row >= count) throwCorrupt("a row pointer names row " + std::to_string(row) + " of a page with " +
                                 std::to_string(count) + " rows");
  uint32_t table = rowTableOffset(format);
  uint16_t raw = le16(page + table + 2u * row);
  RowSlot s;
  s.deleted = (raw & kRowDeleted) != 0;
  s.overflow = (raw & kRowOverflow) != 0;
  s.start = raw & kRowOffsetMask;
  // Rows are packed backward, so a row ends where the row before it starts. Earlier rows that
  // were deleted still mark their bounds.
  s.end = row == 0 ? pageSize : (le16(page + table + 2u * (row - 1)) & kRowOffsetMask);
  if (s.start < table + 2u * count || s.end > pageSize || s.start > s.end) {
    if (s.deleted) {  // a deleted row's bounds no longer matter
      s.start = s.end = 0;
      return s;
    }
    throwCorrupt("a row's offsets on a data page are out of order");
  }
  return s;
}

namespace {

uint32_t lowestStart(const uint8_t* page, uint32_t pageSize, Format format, uint16_t count) {
  uint32_t low = pageSize;
  for (uint16_t r = 0; r < count; ++r) {
    uint32_t s = le16(page + rowTableOffset(format) + 2u * r) & kRowOffsetMask;
    if (s != 0 && s < low) low = s;
  }
  return low;
}

void updateFreeSpace(uint8_t* page, uint32_t pageSize, Format format) {
  uint16_t count = le16(page + rowCountOffset(format));
  uint32_t used = rowTableOffset(format) + 2u * count;
  uint32_t low = lowestStart(page, pageSize, format, count);
  put16(page + 2, uint16_t(low > used ? low - used : 0));
}

}  // namespace

void initDataPage(uint8_t* page, uint32_t pageSize, Format format, uint32_t owner) {
  std::fill(page, page + pageSize, 0);
  page[0] = kDataPageType;
  page[1] = 0x01;
  put32(page + 4, owner);
  updateFreeSpace(page, pageSize, format);
}

RowAppender::RowAppender(uint8_t* page, uint32_t pageSize, Format format)
    : page_(page), format_(format), count_(pageRowCount(page, pageSize, format)) {
  low_ = lowestStart(page, pageSize, format, count_);
}

RowAppender::RowAppender(uint8_t* page, uint32_t pageSize, Format format, uint32_t low)
    : page_(page), format_(format), count_(pageRowCount(page, pageSize, format)), low_(low) {}

uint32_t lowestRowStart(const uint8_t* page, uint32_t pageSize, Format format) {
  return lowestStart(page, pageSize, format, pageRowCount(page, pageSize, format));
}

size_t RowAppender::room() const {
  if (count_ >= 255) return 0;
  const uint32_t used = rowTableOffset(format_) + 2u * (count_ + 1u);
  return low_ > used ? low_ - used : 0;
}

uint16_t RowAppender::add(const uint8_t* body, size_t size, uint16_t flags) {
  low_ -= uint32_t(size);
  std::copy(body, body + size, page_ + low_);
  put16(page_ + rowTableOffset(format_) + 2u * count_, uint16_t(low_ | flags));
  ++count_;
  put16(page_ + rowCountOffset(format_), count_);
  const uint32_t used = rowTableOffset(format_) + 2u * count_;
  put16(page_ + 2, uint16_t(low_ > used ? low_ - used : 0));
  return uint16_t(count_ - 1);
}

int64_t roomShortfall(const uint8_t* page, uint32_t pageSize, Format format, size_t size) {
  return roomShortfall(page, pageSize, format, size, lowestRowStart(page, pageSize, format));
}

int64_t roomShortfall(const uint8_t* page, uint32_t pageSize, Format format, size_t size, uint32_t low) {
  uint16_t count = pageRowCount(page, pageSize, format);
  if (count >= 255) return int64_t(pageSize);  // a page holds at most 255 rows
  uint32_t used = rowTableOffset(format) + 2u * (count + 1u);
  return int64_t(used) + int64_t(size) - int64_t(low);
}

uint16_t addRow(uint8_t* page, uint32_t pageSize, Format format, const uint8_t* body, size_t size, uint16_t flags) {
  return RowAppender(page, pageSize, format).add(body, size, flags);
}

std::vector<uint8_t> buildDataPage(Format format, uint32_t owner, const std::vector<std::vector<uint8_t>>& rows) {
  const uint32_t pageSize = uint32_t(pageSizeOf(format));
  std::vector<uint8_t> page(pageSize);
  initDataPage(page.data(), pageSize, format, owner);
  RowAppender appender(page.data(), pageSize, format);
  for (const auto& r : rows) {
    if (!appender.fits(r.size())) throw Error(err::kInvalidArgument, "Invalid argument.");
    appender.add(r.data(), r.size());
  }
  return page;
}

bool replaceRow(uint8_t* page, uint32_t pageSize, Format format, uint16_t row, const uint8_t* body, size_t size,
                uint16_t flags) {
  uint16_t count = pageRowCount(page, pageSize, format);
  struct Item { std::vector<uint8_t> bytes; uint16_t flags; };
  std::vector<Item> items(count);
  size_t total = 0;
  for (uint16_t r = 0; r < count; ++r) {
    if (r == row) {
      items[r] = {std::vector<uint8_t>(body, body + size), flags};
    } else {
      RowSlot s = rowSlot(page, pageSize, format, r);
      uint16_t raw = le16(page + rowTableOffset(format) + 2u * r);
      items[r] = {std::vector<uint8_t>(page + s.start, page + s.end), uint16_t(raw & ~kRowOffsetMask)};
    }
    total += items[r].bytes.size();
  }
  if (rowTableOffset(format) + 2u * count + total > pageSize) return false;
  uint32_t end = pageSize;
  for (uint16_t r = 0; r < count; ++r) {
    uint32_t start = end - uint32_t(items[r].bytes.size());
    std::copy(items[r].bytes.begin(), items[r].bytes.end(), page + start);
    put16(page + rowTableOffset(format) + 2u * r, uint16_t(start | items[r].flags));
    end = start;
  }
  std::fill(page + rowTableOffset(format) + 2u * count, page + end, 0);
  updateFreeSpace(page, pageSize, format);
  return true;
}

void freeRow(uint8_t* page, uint32_t pageSize, Format format, uint16_t row) {
  replaceRow(page, pageSize, format, row, nullptr, 0, kRowFreed);
}

void setRowFlags(uint8_t* page, Format format, uint16_t row, uint16_t flags, bool on) {
  uint8_t* p = page + rowTableOffset(format) + 2u * row;
  uint16_t v = le16(p);
  put16(p, on ? uint16_t(v | flags) : uint16_t(v & ~flags));
}

}  // namespace jet
