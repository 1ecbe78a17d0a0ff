// Renaming a table: its catalog row, and the relationships that name it.
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

namespace jet {

void renameTable(SchemaFile& file, const std::string& oldName, const std::string& newName) {
  CatalogView cat = loadCatalog(file);
  const CatalogEntry* old = findTable(cat, oldName);
  if (!old) throw Error(err::kObjectNotFound, objectNotFoundMessage(oldName));
  requireValidName(newName, file.format(), file.codec());
  const CatalogEntry* clash = findTable(cat, newName);
  if (clash && !(clash->row == old->row)) throw Error(err::kTableExists, tableExistsMessage(newName));
  if (old->object.flags & kObjectFlagSystem) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
  if (old->object.name == newName) return;

  const std::vector<Value> oldValues = storedValues(file, cat, old->row);
  std::vector<Value> updated = oldValues;
  updated[cat.def.findColumn(sys::kObjName)] = newName;
  updated[cat.def.findColumn(sys::kObjDateUpdate)] = DateTime{sys::oleNow()};
  TableIndexes idx(file, sys::kCatalogTdef, indexOutlines(cat.def));
  idx.check(&oldValues, old->row, &updated, {});
  const RowId rid = file.insertRow(cat.def, encodeSystemRow(cat.def, updated, file.codec(), true));
  file.deleteRow(old->row.page, old->row.row);
  idx.apply(&oldValues, old->row, &updated, rid);

  // Relationships name their tables: they follow the new name.
  if (const uint32_t relPage = systemTablePage(cat, "MSysRelationships", 0)) {
    const Tdef rel = file.definition(relPage);
    const size_t objPos = columnPosition(rel, "szObject"), refPos = columnPosition(rel, "szReferencedObject");
    for (const auto& [relRow, values] : readPlainRows(file, relPage, rel)) {
      std::vector<Value> changed = values;
      bool touched = false;
      for (size_t pos : {objPos, refPos}) {
        if (auto s = std::get_if<std::string>(&changed[pos]); s && sameName(*s, old->object.name)) {
          changed[pos] = newName;
          touched = true;
        }
      }
      if (!touched) continue;
      deleteIndexedRow(file, relPage, rel, relRow, values);
      insertIndexedRow(file, relPage, rel, changed);
    }
  }
  file.sync();
}

}  // namespace jet
