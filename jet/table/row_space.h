// Room for rows on data pages: pages taken for rows, rows put on them and taken off again. A
// deleted row keeps its slot and both deleted flags and loses its bytes, and a page left without
// rows goes back to the database. The table writer and the schema changes both place and free
// rows and long values here; each keeps its own choice of page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "jet/base/row_id.h"
#include "jet/base/schema.h"
#include "jet/storage/page_transaction.h"
#include "jet/table/table_def.h"

namespace jet {

// A new, empty data page of `owner` (a table's definition page, kLongValueOwner, or 0 for pages of
// usage maps), entered in the maps given (0 for none): a table's page in its owned-pages and
// free-space maps.
uint32_t newDataPage(PageTransaction& tx, Format format, uint32_t owner, uint32_t ownedPages = 0,
                     uint32_t freeSpace = 0);

// Adds a row to `page` when it is a data page of `owner` with room for it; false (page unchanged)
// otherwise.
bool addRowTo(PageTransaction& tx, Format format, uint32_t page, uint32_t owner, const uint8_t* body, size_t size,
              uint16_t& row);

// Puts a row of the table whose definition is `def` on the last of its pages with room, walking its
// owned-pages map from the end, or on a new page entered in its maps. Catalog-like tables take
// their rows this way, which fills their pages in order without a free-space map to consult.
RowId appendToLastPageWithRoom(PageTransaction& tx, const Tdef& def, const uint8_t* body, size_t size);

// Whether every row of a data page has been taken off it (freed: both flags and no bytes). A row
// that only carries the deleted flag may be the moved body of a live row, so it keeps the page.
bool pageWithoutRows(const uint8_t* page, uint32_t pageSize, Format format);

// The usage maps a long-value column keeps of its pages (0 where it keeps none; only files made by
// Access have them filled): every page that holds its values, and those with room for more.
struct LongValueMaps {
  uint32_t owned = 0;
  uint32_t withRoom = 0;
};
inline LongValueMaps longValueMapsOf(const ColumnDef& c) { return {c.lvOwnedPointer, c.lvFreePointer}; }

// Frees the rows a long-value field (reference plus any inline data) keeps on long-value pages;
// an inline value has none. The walk stops at a pointer that does not lead to a live row of a
// long-value page, so a damaged reference frees nothing that is not the value's. A page left
// without rows leaves the column's maps and is given back to the free-page map (`tx` must use
// it); a map that cannot say the page left it keeps the page in use, so that no map ever lists a
// page offered for reuse. `touched(page, released)` is told of every page a row came off, and
// whether the page was given back.
void freeLongValue(PageTransaction& tx, Format format, const uint8_t* field, size_t len, LongValueMaps maps,
                   const std::function<void(uint32_t page, bool released)>& touched = {});

}  // namespace jet
