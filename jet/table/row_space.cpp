#include "jet/table/row_space.h"

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/storage/data_page.h"
#include "jet/storage/long_value.h"
#include "jet/storage/usage_map.h"

namespace jet {

uint32_t newDataPage(PageTransaction& tx, Format format, uint32_t owner, uint32_t ownedPages, uint32_t freeSpace) {
  const uint32_t page = tx.allocate();
  initDataPage(tx.edit(page), tx.pageSize(), format, owner);
  if (ownedPages) markUsage(tx, format, ownedPages, page, true);
  if (freeSpace) markUsage(tx, format, freeSpace, page, true);
  return page;
}

bool addRowTo(PageTransaction& tx, Format format, uint32_t page, uint32_t owner, const uint8_t* body, size_t size,
              uint16_t& row) {
  if (page >= tx.pageCount()) return false;
  const uint8_t* p = tx.read(page);
  if (p[0] != kDataPageType || pageOwner(p) != owner) return false;
  if (roomShortfall(p, tx.pageSize(), format, size) > 0) return false;
  row = RowAppender(tx.edit(page), tx.pageSize(), format).add(body, size);
  return true;
}

RowId appendToLastPageWithRoom(PageTransaction& tx, const Tdef& def, const uint8_t* body, size_t size) {
  const Format f = def.format;
  if (def.ownedPagesPointer) {
    const std::vector<uint32_t> pages = markedPages(tx, f, def.ownedPagesPointer);
    for (auto it = pages.rbegin(); it != pages.rend(); ++it) {
      uint16_t row;
      if (addRowTo(tx, f, *it, def.tdefPage, body, size, row)) return RowId{*it, row};
    }
  }
  const uint32_t page = newDataPage(tx, f, def.tdefPage, def.ownedPagesPointer, def.freeSpacePointer);
  uint16_t row;
  if (!addRowTo(tx, f, page, def.tdefPage, body, size, row)) throw Error(err::kTextTooLong, "Record is too large.");
  return RowId{page, row};
}

bool pageWithoutRows(const uint8_t* page, uint32_t pageSize, Format format) {
  const uint16_t count = pageRowCount(page, pageSize, format);
  for (uint16_t r = 0; r < count; ++r) {
    const RowSlot slot = rowSlot(page, pageSize, format, r);
    if (!(slot.deleted && slot.overflow && slot.size() == 0)) return false;
  }
  return true;
}

void freeLongValue(PageTransaction& tx, Format format, const uint8_t* field, size_t len, LongValueMaps maps,
                   const std::function<void(uint32_t page, bool released)>& touched) {
  if (len < kLongValueRefSize || (field[3] & kLongValueInline)) return;
  const bool chained = !(field[3] & kLongValueSinglePage);
  const uint32_t ps = tx.pageSize();
  // Each row is freed as it is passed, so a chain that loops back ends at the freed row.
  for (uint32_t ptr = le32(field + 4); ptr != 0;) {
    const uint32_t page = pointerPage(ptr);
    const uint16_t row = pointerRow(ptr);
    if (page < 2 || page >= tx.pageCount()) return;
    const uint8_t* p = tx.read(page);
    if (p[0] != kDataPageType || pageOwner(p) != kLongValueOwner || row >= pageRowCount(p, ps, format)) return;
    const RowSlot slot = rowSlot(p, ps, format, row);
    if (slot.deleted) return;
    const uint32_t next = chained && slot.size() >= 4 ? le32(p + slot.start) : 0;
    freeRow(tx.edit(page), ps, format, row);
    bool released = pageWithoutRows(tx.read(page), ps, format);
    for (const uint32_t map : {maps.owned, maps.withRoom}) {
      if (!released || !map || !mapContains(tx, format, map, page)) continue;
      markUsage(tx, format, map, page, false);
      released = !mapContains(tx, format, map, page);
    }
    if (released) tx.release(page);
    if (touched) touched(page, released);
    ptr = next;
  }
}

}  // namespace jet
