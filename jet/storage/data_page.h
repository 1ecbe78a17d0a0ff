// Layout of pages that hold rows (table data, long values, usage maps): a header, a row count and a
// table of row offsets growing forward, row bodies packed from the end of the page backward.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/base/schema.h"

namespace jet {

constexpr uint8_t kDataPageType = 0x01;
constexpr uint8_t kTdefPageType = 0x02;
// Whether `page` starts as a page of `type`: that type byte, then the 0x01 that data, definition,
// index and map pages carry after it.
inline bool isPageOf(const uint8_t* page, uint8_t type) { return page[0] == type && page[1] == 0x01; }
constexpr uint16_t kRowDeleted = 0x8000;   // row offset flag: the row is deleted
constexpr uint16_t kRowOverflow = 0x4000;  // row offset flag: the row holds a pointer to its body
constexpr uint16_t kRowOffsetMask = 0x1FFF;
// A deleted row carries both flags and no bytes, so that readers of either flag skip it.
constexpr uint16_t kRowFreed = kRowDeleted | kRowOverflow;

inline uint32_t rowCountOffset(Format f) { return f == Format::Jet3Layout ? 8 : 12; }
inline uint32_t rowTableOffset(Format f) { return rowCountOffset(f) + 2; }
// The most bytes one row may take: a page holding only it.
inline uint32_t maxRowSize(Format f, uint32_t pageSize) { return pageSize - rowTableOffset(f) - 2; }

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

// Marker in the owner field of pages that hold long values.
constexpr uint32_t kLongValueOwner = 0x4C41564C;  // "LVAL"
// The owner a data or index page's header names: its table's definition page, or kLongValueOwner.
inline uint32_t pageOwner(const uint8_t* page) { return le32(page + 4); }
// The free bytes a data page's header records (kept up to date by every row change).
inline uint16_t recordedFreeSpace(const uint8_t* page) { return le16(page + 2); }

// Writes an empty data page owned by `owner` (a table definition page, or kLongValueOwner).
void initDataPage(uint8_t* page, uint32_t pageSize, Format format, uint32_t owner);

// Adds rows to a data page: offsets grow forward from the header, bodies are packed backward from
// the page's end. A page holds at most 255 rows (row pointers keep the row number in a byte). The
// one place rows are put on a page; sequential adds cost no walk over the page's rows.
class RowAppender {
 public:
  RowAppender(uint8_t* page, uint32_t pageSize, Format format);
  // The same when the page's lowest row start is known (lowestRowStart of the page as it is).
  RowAppender(uint8_t* page, uint32_t pageSize, Format format, uint32_t low);
  uint16_t count() const { return count_; }
  uint32_t low() const { return low_; }
  // Bytes a new row body may take on the page.
  size_t room() const;
  bool fits(size_t size) const { return count_ < 255 && size <= room(); }
  // Adds a row (it must fit) and returns its number; `flags` are kRowDeleted/kRowOverflow.
  uint16_t add(const uint8_t* body, size_t size, uint16_t flags = 0);

 private:
  uint8_t* page_;
  Format format_;
  uint16_t count_;
  uint32_t low_;
};

// A data page owned by `owner` holding `rows` in row-number order. Throws 3001 when they do not fit.
std::vector<uint8_t> buildDataPage(Format format, uint32_t owner, const std::vector<std::vector<uint8_t>>& rows);
// Where the page's row bodies begin (the lowest start of its rows; the page size when it has none).
uint32_t lowestRowStart(const uint8_t* page, uint32_t pageSize, Format format);
// Bytes a new row of `size` would need beyond what the page has free; <= 0 when it fits.
int64_t roomShortfall(const uint8_t* page, uint32_t pageSize, Format format, size_t size);
// The same when the page's lowest row start is known.
int64_t roomShortfall(const uint8_t* page, uint32_t pageSize, Format format, size_t size, uint32_t low);
// Adds a row (the page must have room) and returns its number; `flags` are kRowDeleted/kRowOverflow.
uint16_t addRow(uint8_t* page, uint32_t pageSize, Format format, const uint8_t* body, size_t size, uint16_t flags);
// Replaces one row's body and flags, repacking the page's rows; false (page unchanged) when the
// page has no room for it.
bool replaceRow(uint8_t* page, uint32_t pageSize, Format format, uint16_t row, const uint8_t* body, size_t size,
                uint16_t flags);
// Deletes a row: no bytes, both flags (the page is repacked).
void freeRow(uint8_t* page, uint32_t pageSize, Format format, uint16_t row);
// Sets or clears flag bits of a row's offset entry.
void setRowFlags(uint8_t* page, Format format, uint16_t row, uint16_t flags, bool on);

// A row pointer as stored in definitions and long values: row number in the low byte, page above.
inline uint32_t pointerPage(uint32_t ptr) { return ptr >> 8; }
inline uint16_t pointerRow(uint32_t ptr) { return uint16_t(ptr & 0xFF); }
inline uint32_t makePointer(uint32_t page, uint16_t row) { return (page << 8) | (row & 0xFF); }

}  // namespace jet
