#include "jet/data_page.h"

#include <string>

#include "jet/bytes.h"

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

}  // namespace jet
