// Recording a relationship between two tables: its catalog object, permission rows, one
// MSysRelationships row per pair of fields and, when it is enforced, an index on each side.
#include "jet/catalog/schema_catalog.h"

#include <algorithm>
#include <cctype>
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
#include "jet/catalog/relationship_indexes.h"
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

// An enforced relationship needs a unique index on the primary fields (3609), and the foreign
// table's rows must already keep it (3379): each key without a Null field finds its primary row.
// Returns that index's real number.
int32_t requireIntegrity(SchemaFile& file, const Tdef& pdef, const Tdef& fdef, const RelationshipFields& names,
                         const std::string& primary, const std::string& foreign) {
  const int32_t unique = referencedUniqueIndex(pdef, names);
  if (unique < 0) throw Error(3609, "No unique index found for the referenced field of the primary table.");
  auto positions = [&](const Tdef& def, bool first) {
    std::vector<size_t> at;
    for (const auto& n : names) at.push_back(size_t(columnIndex(def.columns, first ? n.first : n.second)));
    return at;
  };
  const std::vector<size_t> p = positions(pdef, true), q = positions(fdef, false);
  auto keyOf = [](const std::vector<Value>& row, const std::vector<size_t>& at, bool& null) {
    std::string k;
    null = false;
    for (size_t i : at) {
      null = null || isNull(row[i]);
      k += lowerName(toText(row[i])) + '\x1f';
    }
    return k;
  };
  std::set<std::string> keys;
  bool null = false;
  RowId id;
  std::vector<Value> row;
  for (auto next = streamPlainRows(file, pdef); next(id, row);) keys.insert(keyOf(row, p, null));
  for (auto next = streamPlainRows(file, fdef); next(id, row);) {
    const std::string k = keyOf(row, q, null);
    if (!null && !keys.count(k))
      throw Error(3379, "Can't create relationships to enforce referential integrity. Existing data in table '" + foreign +
                            "' violates referential integrity rules with related table '" + primary + "'.");
  }
  return unique;
}

}  // namespace

void createRelationship(SchemaFile& file, const NewRelationship& outline) {
  const Format f = file.format();
  requireValidName(outline.name, f, file.codec());
  CatalogView cat = loadCatalog(file);
  const CatalogEntry* primary = findTable(cat, outline.table);
  if (!primary || primary->type != sys::kTypeTable) throw Error(err::kObjectNotFound, objectNotFoundMessage(outline.table));
  const CatalogEntry* foreign = findTable(cat, outline.foreignTable);
  if (!foreign || foreign->type != sys::kTypeTable)
    throw Error(err::kObjectNotFound, objectNotFoundMessage(outline.foreignTable));
  if ((primary->object.flags | foreign->object.flags) & kObjectFlagSystem)
    throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
  if (outline.columns.empty()) throw Error(err::kNoFields, "No field defined--cannot append Relation.");

  // The fields, by their names in each table, of the same types pair by pair.
  const Tdef pdef = file.definition(uint32_t(primary->object.id) & 0x00FFFFFF);
  const Tdef fdef = file.definition(uint32_t(foreign->object.id) & 0x00FFFFFF);
  auto field = [](const Tdef& def, const std::string& name) -> const ColumnDef& {
    for (const auto& c : def.columns)
      if (sameName(c.name, name)) return c;
    throw Error(err::kUnknownField, "Item not found in this collection: no field '" + name + "'.");
  };
  RelationshipFields names;
  for (const auto& c : outline.columns) {
    const ColumnDef& a = field(pdef, c.name);
    const ColumnDef& b = field(fdef, c.foreignName);
    if (a.type != b.type)
      throw Error(err::kRelationFieldsDiffer,
                  "Relationship must be on the same number of fields with the same data types.");
    names.emplace_back(a.name, b.name);
  }

  const bool enforced = !(outline.attributes & kRelationDontEnforce);
  const int32_t unique = enforced ? requireIntegrity(file, pdef, fdef, names, primary->object.name, foreign->object.name) : -1;

  // The name is the relationship's alone.
  for (const auto& e : cat.catalog.entries())
    if (e.parentId == sys::kRelationshipsId && sameName(e.object.name, outline.name))
      throw Error(err::kObjectExists, "Object '" + outline.name + "' already exists.");
  const uint32_t relPage = systemTablePage(cat, "MSysRelationships", 0);
  if (!relPage) throw Error(err::kCorrupt, "The database has no MSysRelationships table.");
  const Tdef rel = file.definition(relPage);
  const size_t namePos = columnPosition(rel, "szRelationship");
  for (const auto& [rid, values] : readPlainRows(file, relPage, rel))
    if (auto s = std::get_if<std::string>(&values[namePos]); s && sameName(*s, outline.name))
      throw Error(err::kObjectExists, "Object '" + outline.name + "' already exists.");

  // Objects that are not tables take ids with the high bit set, one after another.
  int32_t id = int32_t(0x80000000u);
  for (const auto& e : cat.catalog.entries())
    if (e.object.id < 0 && e.object.id >= id) id = e.object.id + 1;
  const double now = sys::oleNow();
  const NewCatalogObject object{id, sys::kRelationshipsId, outline.name, sys::kTypeRelationship, now,
                                sys::Sid::Creator, 0, std::nullopt};
  insertIndexedRow(file, sys::kCatalogTdef, cat.def, catalogRow(cat.def, f, object));
  const uint32_t acesPage = systemTablePage(cat, "MSysACEs", sys::kAcesTdef);
  const Tdef aces = file.definition(acesPage);
  for (const auto& a : sys::newRelationshipAces(id))
    insertIndexedRow(file, acesPage, aces, aceRow(aces, f, a));

  // One row per pair of fields.
  for (size_t i = 0; i < names.size(); ++i) {
    std::vector<Value> v(rel.columns.size(), Null{});
    v[namePos] = outline.name;
    v[columnPosition(rel, "grbit")] = int64_t(outline.attributes);
    v[columnPosition(rel, "ccolumn")] = int64_t(names.size());
    v[columnPosition(rel, "icolumn")] = int64_t(i);
    v[columnPosition(rel, "szObject")] = foreign->object.name;
    v[columnPosition(rel, "szColumn")] = names[i].second;
    v[columnPosition(rel, "szReferencedObject")] = primary->object.name;
    v[columnPosition(rel, "szReferencedColumn")] = names[i].first;
    insertIndexedRow(file, relPage, rel, v);
  }
  // Jet enforces the relationship through an index on each side.
  if (enforced)
    addRelationshipIndexes(file, pdef, fdef, unique, names, outline.attributes, primary->object.name, foreign->object.name);
  file.sync();
}

}  // namespace jet
