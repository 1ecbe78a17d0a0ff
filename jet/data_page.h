// Layout of pages that hold rows (table data, long values, usage maps): a header, a row count and a
// table of row offsets growing forward, row bodies packed from the end of the page backward.
#pragma once

#include <cstdint>

#include "jet/schema.h"

namespace jet {

constexpr uint8_t kDataPageType = 0x01;
constexpr uint8_t kTdefPageType = 0x02;
constexpr uint16_t kRowDeleted = 0x8000;   // row offset flag: the row is deleted
constexpr uint16_t kRowOverflow = 0x4000;  // row offset flag: the row holds a pointer to its body
constexpr uint16_t kRowOffsetMask = 0x1FFF;

inline uint32_t rowCountOffset(Format f) { return f == Format::Jet3 ? 8 : 12; }
inline uint32_t rowTableOffset(Format f) { return rowCountOffset(f) + 2; }

// One row's place on a page: bytes [start, end) and the flags of its offset entry.
struct RowSlot {
  uint32_t start = 0;
  uint32_t end = 0;
  bool deleted = false;
  bool overflow = false;
  uint32_t size() const { return end - start; }
};

// Number of rows on a data page (checked against the page's room for row offsets).
uint16_t pageRowCount(const uint8_t* page, uint32_t pageSize, Format format);

// The slot of `row`. Throws 3049 when the row number or its offsets are impossible.
RowSlot rowSlot(const uint8_t* page, uint32_t pageSize, Format format, uint16_t row);

// A row pointer as stored in definitions and long values: row number in the low byte, page above.
inline uint32_t pointerPage(uint32_t ptr) { return ptr >> 8; }
inline uint16_t pointerRow(uint32_t ptr) { return uint16_t(ptr & 0xFF); }
inline uint32_t makePointer(uint32_t page, uint16_t row) { return (page << 8) | (row & 0xFF); }

}  // namespace jet
