// Dropping a table: its catalog and permission rows, pages and long values, and the hidden tables
// of its complex columns.
#include "jet/catalog/schema_catalog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/base/names.h"
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

namespace jet {

namespace {

// Deletes the rows of a system table (when the file has it) whose Long column holds `id`.
void deleteRowsNaming(SchemaFile& file, const CatalogView& cat, const std::string& table, const std::string& column,
                      int32_t id) {
  const uint32_t page = systemTablePage(cat, table, 0);
  if (!page) return;
  const Tdef def = file.definition(page);
  const int pos = columnIndex(def.columns, column);
  if (pos < 0) return;
  for (const auto& [rid, values] : readPlainRows(file, page, def)) {
    const auto* v = std::get_if<int64_t>(&values[size_t(pos)]);
    if (v && int32_t(*v) == id) deleteIndexedRow(file, page, file.definition(page), rid, values);
  }
}

// Drops one catalog object of the tables folder: its catalog and permission rows, its pages and
// long values. `hiddenPart` allows the system-flagged tables that belong to another table.
void dropObject(SchemaFile& file, const std::string& name, bool hiddenPart) {
  CatalogView cat = loadCatalog(file);
  const CatalogEntry* row = findTable(cat, name);
  if (!row || row->type == sys::kTypeQuery) throw Error(err::kObjectNotFound, objectNotFoundMessage(name));
  if ((row->object.flags & kObjectFlagSystem) && !hiddenPart)
    throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
  const std::vector<Value> rowValues = storedValues(file, cat, row->row);

  // A table that takes part in a relationship stays.
  const uint32_t relPage = systemTablePage(cat, "MSysRelationships", 0);
  if (relPage) {
    const Tdef rel = file.definition(relPage);
    const size_t objPos = rel.findColumn(4), refPos = rel.findColumn(6);
    for (const auto& [rid, values] : readPlainRows(file, relPage, rel)) {
      for (size_t pos : {objPos, refPos}) {
        if (pos >= values.size()) continue;
        if (auto s = std::get_if<std::string>(&values[pos]); s && sameName(*s, row->object.name))
          throw Error(err::kInRelationship,
                      "Cannot delete this index or table. It is either the current index or is used in a relationship.");
      }
    }
  }

  std::set<uint32_t> owned;
  std::vector<uint32_t> mapRows;
  if (row->type == sys::kTypeTable) {
    const uint32_t tdef = uint32_t(row->object.id) & 0x00FFFFFF;
    const Tdef def = file.definition(tdef);
    const std::vector<uint32_t>& chain = def.pages;
    owned.insert(chain.begin(), chain.end());
    auto fromMap = [&](uint32_t pointer) {
      if (!pointer) return;
      mapRows.push_back(pointer);
      for (uint32_t p : file.usageMapPages(pointer))
        if (p < file.pageCount() && p > 1) owned.insert(p);
    };
    fromMap(def.ownedPagesPointer);
    fromMap(def.freeSpacePointer);
    for (const auto& r : def.realIndexes) {
      fromMap(r.usedPagesPointer);
      if (r.rootPage) owned.insert(r.rootPage);
    }
    for (const auto& c : def.columns) {
      fromMap(c.lvOwnedPointer);
      fromMap(c.lvFreePointer);
    }
    // Pages that name the table as their owner (data and index pages not in any map).
    for (uint32_t p = 2; p < file.pageCount(); ++p) {
      Bytes b = file.page(p);
      if ((isPageOf(b.data(), kDataPageType) || isPageOf(b.data(), kIndexNodePage) || isPageOf(b.data(), kIndexLeafPage)) && pageOwner(b.data()) == tdef) owned.insert(p);
    }
    // Only pages that are really the table's (never a page of the catalog or another table).
    for (auto it = owned.begin(); it != owned.end();) {
      Bytes b = file.page(*it);
      const bool mine = (b[0] == kTdefPageType && std::find(chain.begin(), chain.end(), *it) != chain.end()) ||
                        ((b[0] == kDataPageType || b[0] == kIndexNodePage || b[0] == kIndexLeafPage) && pageOwner(b.data()) == tdef) ||
                        (b[0] == kDataPageType && pageOwner(b.data()) == kLongValueOwner);
      it = mine ? std::next(it) : owned.erase(it);
    }
  }

  // The long values of the table's rows. Their pages are in no map of the table unless its
  // columns keep long-value maps (Jet 4 files made by Access), so they are found through the rows,
  // and freed below once the rows that hold them are deleted.
  std::vector<std::pair<Bytes, LongValueMaps>> longValues;  // reference, maps of its column
  if (row->type == sys::kTypeTable) {
    const uint32_t tdef = uint32_t(row->object.id) & 0x00FFFFFF;
    const Tdef def = file.definition(tdef);
    std::vector<size_t> lvColumns;
    for (size_t k = 0; k < def.columns.size(); ++k)
      if (def.columns[k].isLongValue()) lvColumns.push_back(k);
    if (!lvColumns.empty()) {
      for (const auto& [rid, values] : readPlainRows(file, tdef, def)) {
        for (size_t k : lvColumns) {
          const Bytes* field = k < values.size() ? std::get_if<Bytes>(&values[k]) : nullptr;
          if (field && field->size() >= kLongValueRefSize && !((*field)[3] & kLongValueInline))
            longValues.emplace_back(Bytes(field->begin(), field->begin() + kLongValueRefSize),
                                    longValueMapsOf(def.columns[k]));
        }
      }
    }
  }

  // Catalog row (with its property blob) and permission rows first, so that a failure later
  // leaves no dangling entry.
  deleteIndexedRow(file, sys::kCatalogTdef, cat.def, row->row, rowValues);
  {
    const size_t pos = cat.def.findColumn(sys::kObjLvProp);
    // Property blobs without a column map of their own are entered in the catalog's map.
    LongValueMaps maps = longValueMapsOf(sys::columnByNumber(cat.def, sys::kObjLvProp));
    if (!maps.owned) maps.owned = cat.def.ownedPagesPointer;
    if (auto field = std::get_if<Bytes>(&rowValues[pos])) file.freeLongValue(*field, maps);
  }
  const uint32_t acesPage = systemTablePage(cat, "MSysACEs", sys::kAcesTdef);
  const Tdef aces = file.definition(acesPage);
  const size_t objPos = aces.findColumn(sys::kAceObjectId);
  for (const auto& [rid, values] : readPlainRows(file, acesPage, aces)) {
    auto id = std::get_if<int64_t>(&values[objPos]);
    if (id && int32_t(*id) == row->object.id) deleteIndexedRow(file, acesPage, aces, rid, values);
  }
  // The table's usage-map rows are emptied rather than deleted: readers find a map row's end from
  // its neighbour's offset, and a deleted neighbour would make them read past it.
  file.change([&](PageTransaction& tx) {
    const uint32_t ps = tx.pageSize();
    for (uint32_t m : mapRows) {
      if (pointerRow(m) >= pageRowCount(tx.read(pointerPage(m)), ps, file.format())) continue;
      const RowSlot s = rowSlot(tx.read(pointerPage(m)), ps, file.format(), pointerRow(m));
      std::fill(tx.edit(pointerPage(m)) + s.start + 1, tx.edit(pointerPage(m)) + s.end, uint8_t(0));
    }
  });
  for (const auto& [field, map] : longValues) file.freeLongValue(field, map);
  for (uint32_t p : owned) file.freePage(p);
  // Files made by Access 2007 and later list every table for the navigation pane by its id.
  deleteRowsNaming(file, cat, "MSysNavPaneObjectIDs", "Id", row->object.id);
  deleteRowsNaming(file, cat, "MSysNavPaneGroupToObjects", "ObjectID", row->object.id);
}

constexpr const char* kComplexColumnsTable = "MSysComplexColumns";
// The template tables every complex column of a kind shares (a version history has one of its own).
constexpr std::string_view kSharedTemplatePrefix = "MSysComplexType_";

std::string tableNameOf(const CatalogView& cat, int32_t id) {
  for (const auto& e : cat.catalog.entries())
    if (e.parentId == sys::kTablesId && e.type == sys::kTypeTable && e.object.id == id) return e.object.name;
  return {};
}

}  // namespace

void dropTable(SchemaFile& file, const std::string& name) {
  // A table's complex columns keep their values in hidden tables, named with the table's id in
  // MSysComplexColumns: those rows and tables go with it, and so does a template table that only
  // one of its columns used.
  CatalogView cat = loadCatalog(file);
  const CatalogEntry* row = findTable(cat, name);
  std::vector<std::string> hidden;
  const CatalogEntry* cc = findSystemTable(cat, kComplexColumnsTable);
  if (row && row->type == sys::kTypeTable && cc) {
    const Tdef def = file.definition(uint32_t(row->object.id) & 0x00FFFFFF);
    const bool hasComplex = std::any_of(def.columns.begin(), def.columns.end(),
                                        [](const ColumnDef& c) { return c.type == ColumnType::Complex; });
    if (hasComplex) {
      const uint32_t ccPage = cc->object.tdefPage;
      const Tdef ccDef = file.definition(ccPage);
      const TableInfo ccInfo = describeTable(ccDef, kComplexColumnsTable);
      std::set<int32_t> templatesLeft, templatesDropped;
      std::vector<std::pair<RowId, std::vector<Value>>> ownRows;
      for (auto& r : readPlainRows(file, ccPage, ccDef)) {
        const std::vector<ComplexColumnEntry> entry = complexColumnEntries(ccInfo.columns, {r.second});
        if (entry.empty()) continue;
        if (entry[0].tableId != row->object.id) {
          templatesLeft.insert(entry[0].templateId);
          continue;
        }
        hidden.push_back(tableNameOf(cat, entry[0].flatTableId));
        templatesDropped.insert(entry[0].templateId);
        ownRows.push_back(std::move(r));
      }
      for (int32_t t : templatesDropped) {
        const std::string templateName = tableNameOf(cat, t);
        if (!templatesLeft.count(t) && templateName.rfind(kSharedTemplatePrefix, 0) != 0)
          hidden.push_back(templateName);
      }
      dropObject(file, name, false);
      for (const auto& [rid, v] : ownRows) deleteIndexedRow(file, ccPage, file.definition(ccPage), rid, v);
      for (const std::string& h : hidden)
        if (!h.empty()) dropObject(file, h, true);
      file.sync();
      return;
    }
  }
  dropObject(file, name, false);
  file.sync();
}

}  // namespace jet
