// Creating a table: its definition pages, usage maps and empty index trees, its catalog row with
// the column properties, and its permission rows.
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

void createTable(SchemaFile& file, const NewTable& outline) {
  const Format f = file.format();
  const Header& h = file.header();
  Tdef def = newTableDefinition(f, outline, file.codec(), h.version, uint8_t(h.sortVersion));
  CatalogView cat = loadCatalog(file);
  if (findTable(cat, outline.name)) throw Error(err::kTableExists, tableExistsMessage(outline.name));

  // Definition pages first: the table's id is its first definition page.
  // Its size with every reference filled in (the long-value map list grows with them).
  Tdef sized = def;
  for (auto& c : sized.columns)
    if (c.type == ColumnType::Memo || c.type == ColumnType::Ole) c.lvOwnedPointer = c.lvFreePointer = 1;
  Bytes probe = serializeTdef(sized, file.codec());
  const size_t nPages = tdefPagesNeeded(f, probe.size());
  std::vector<uint32_t> tdefPages;
  for (size_t i = 0; i < nPages; ++i) tdefPages.push_back(file.allocatePage());
  const uint32_t tdef = tdefPages[0];
  // Reserve the definition pages with a placeholder so that later allocations skip them.
  file.change([&](PageTransaction& tx) {
    for (uint32_t p : tdefPages) {
      uint8_t* b = tx.edit(p);
      std::fill_n(b, tx.pageSize(), uint8_t(0));
      b[0] = kTdefPageType;
      b[1] = 0x01;
    }
  });

  def.ownedPagesPointer = placeMapRow(file, emptyMapFor(f, 0));
  def.freeSpacePointer = placeMapRow(file, emptyMapFor(f, 0));
  // Memo and OLE columns keep maps of their long-value pages.
  for (auto& c : def.columns)
    if (c.type == ColumnType::Memo || c.type == ColumnType::Ole) {
      c.lvOwnedPointer = placeMapRow(file, emptyMapFor(f, 0));
      c.lvFreePointer = placeMapRow(file, emptyMapFor(f, 0));
    }
  for (auto& r : def.realIndexes) {
    r.rootPage = IndexTree::createEmpty(file, tdef);
    r.usedPagesPointer = placeMapRow(file, emptyMapFor(f, r.rootPage));
  }
  const Bytes bytes = serializeTdef(def, file.codec());
  auto images = paginateTdef(f, bytes, tdefPages);
  file.change([&](PageTransaction& tx) {
    for (size_t i = 0; i < images.size(); ++i) std::copy(images[i].begin(), images[i].end(), tx.edit(tdefPages[i]));
  });

  // Catalog row with the column properties.
  std::vector<ColumnProperties> props;
  for (const auto& nc : outline.columns) {
    ColumnProperties cp;
    cp.column = nc.name;
    cp.required = nc.required;
    if (nc.type == ColumnType::Text || nc.type == ColumnType::Memo) cp.allowZeroLength = nc.allowZeroLength;
    cp.defaultValue = nc.defaultValue;
    cp.validationRule = nc.validationRule;
    cp.validationText = nc.validationText;
    cp.expression = nc.expression;
    cp.resultType = nc.type;
    props.push_back(cp);
  }
  if (!outline.validationRule.empty() || !outline.validationText.empty())
    props.push_back({"", {}, {}, "", outline.validationRule, outline.validationText, "", ColumnType::Text});
  const double now = sys::oleNow();
  const ColumnDef& lvProp = sys::columnByNumber(cat.def, sys::kObjLvProp);
  const uint32_t lvPropMap = lvProp.lvOwnedPointer ? lvProp.lvOwnedPointer : cat.def.ownedPagesPointer;
  const Bytes properties = file.writeLongValue(buildPropertyBlob(f, props, file.codec()), lvPropMap);
  insertIndexedRow(file, sys::kCatalogTdef, cat.def,
                   catalogRow(cat.def, f,
                              {int32_t(tdef), sys::kTablesId, outline.name, sys::kTypeTable, now, sys::Sid::Creator, 0,
                               properties}));

  // Permissions.
  const uint32_t acesPage = systemTablePage(cat, "MSysACEs", sys::kAcesTdef);
  const Tdef aces = file.definition(acesPage);
  for (const auto& a : sys::newTableAces(int32_t(tdef))) insertIndexedRow(file, acesPage, aces, aceRow(aces, f, a));
  file.sync();
}

}  // namespace jet
