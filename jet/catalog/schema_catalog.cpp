#include "jet/catalog/schema_catalog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/catalog_writer.h"
#include "jet/catalog/complex_columns.h"
#include "jet/catalog/name_rules.h"
#include "jet/catalog/properties.h"
#include "jet/catalog/system_tables.h"
#include "jet/index/index_page.h"
#include "jet/storage/data_page.h"
#include "jet/storage/encryption.h"
#include "jet/storage/header.h"
#include "jet/storage/long_value.h"
#include "jet/storage/page_transaction.h"
#include "jet/storage/usage_map.h"
#include "jet/table/row.h"
#include "jet/table/row_space.h"

namespace jet {

CatalogView loadCatalog(SchemaFile& file) {
  CatalogView c;
  c.def = file.definition(sys::kCatalogTdef);
  c.catalog = Catalog::read(file.pageFile(), file.format(), file.codec());
  return c;
}

const CatalogEntry* findTable(const CatalogView& c, const std::string& name) {
  for (const auto& e : c.catalog.entries())
    if (e.parentId == sys::kTablesId && sameName(e.object.name, name)) return &e;
  return nullptr;
}

const CatalogEntry* findSystemTable(const CatalogView& c, const std::string& name) {
  for (const auto& e : c.catalog.entries())
    if (e.parentId == sys::kTablesId && e.type == sys::kTypeTable && e.object.name == name) return &e;
  return nullptr;
}

// A catalog row's stored values (long values as their fields), to write it again or take it out.
std::vector<Value> storedValues(SchemaFile& file, const CatalogView& c, RowId row) {
  for (auto& [rid, values] : readPlainRows(file, sys::kCatalogTdef, c.def))
    if (rid == row) return std::move(values);
  throwCorrupt("a catalog row cannot be found where the catalog lists it");
}

// Adds delta to a table's row count (and the entry counts of its real indexes) in place, leaving
// every other byte of the definition as it is.
void adjustRowCount(SchemaFile& file, uint32_t tdefPage, int delta, size_t realIndexes) {
  const Format f = file.format();
  file.change([&](PageTransaction& tx) {
    uint8_t* p = tx.edit(tdefPage);
    auto bump = [&](size_t at) {
      if (at + 4 > tx.pageSize()) return;
      int64_t v = int64_t(le::get32(p + at)) + delta;
      le::put32(p + at, uint32_t(std::max<int64_t>(v, 0)));
    };
    bump(tdefRowCountOffset(f));
    for (size_t i = 0; i < realIndexes; ++i) bump(tdefIndexEntryCountOffset(f, i));
  });
}

// Inserts a row into a catalog-like table and its indexes, keys checked first.
RowId insertIndexedRow(SchemaFile& file, uint32_t tdefPage, const Tdef& def, const std::vector<Value>& values) {
  TableIndexes idx(file, tdefPage, indexOutlines(def));
  idx.check(nullptr, {}, &values, {});
  Tdef at = def;
  at.tdefPage = tdefPage;
  const RowId rid = file.insertRow(at, encodeSystemRow(def, values, file.codec(), true));
  idx.apply(nullptr, {}, &values, rid);
  adjustRowCount(file, tdefPage, 1, def.realIndexes.size());
  return rid;
}

void deleteIndexedRow(SchemaFile& file, uint32_t tdefPage, const Tdef& def, RowId rid,
                      const std::vector<Value>& values) {
  TableIndexes idx(file, tdefPage, indexOutlines(def));
  idx.apply(&values, rid, nullptr, {});
  file.deleteRow(rid.page, rid.row);
  adjustRowCount(file, tdefPage, -1, def.realIndexes.size());
}

// A row for a usage map, placed on a page of maps with room (or a new one). Returns its pointer.
uint32_t placeMapRow(SchemaFile& file, const Bytes& row) {
  const Format f = file.format();
  uint32_t pointer = 0;
  file.change([&](PageTransaction& tx) {
    uint16_t rowNo = 0;
    for (uint32_t pg = tx.pageCount(); pg-- > 2;) {
      const uint8_t* p = tx.read(pg);
      if (!isPageOf(p, kDataPageType) || pageOwner(p) != 0) continue;
      if (tx.isFree(pg)) continue;  // a leftover the engine has already given back
      if (addRowTo(tx, f, pg, 0, row.data(), row.size(), rowNo)) {
        pointer = makePointer(pg, rowNo);
        return;
      }
    }
    const uint32_t fresh = newDataPage(tx, f, 0);
    addRowTo(tx, f, fresh, 0, row.data(), row.size(), rowNo);
    pointer = makePointer(fresh, rowNo);
  });
  return pointer;
}

// A map marking the one page (none for page 0).
Bytes emptyMapFor(Format f, uint32_t page) {
  return buildInlineUsageMap(f, page ? std::vector<uint32_t>{page} : std::vector<uint32_t>{}, page - page % 8);
}


uint32_t systemTablePage(const CatalogView& c, const std::string& name, uint32_t fallback) {
  const CatalogEntry* e = findSystemTable(c, name);
  return e ? uint32_t(e->object.id) & 0x00FFFFFF : fallback;
}

// The position of a system table's column in its rows, by name.
size_t columnPosition(const Tdef& def, const std::string& name) {
  if (const int i = columnIndex(def.columns, name); i >= 0) return size_t(i);
  throw Error(err::kCorrupt, "The system table lacks its column '" + name + "'.");
}

}  // namespace jet
