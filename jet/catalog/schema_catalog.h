// The catalog as schema changes edit it: finding tables and system tables by name, reading a
// catalog row's stored values, inserting and deleting rows of catalog-like tables together with
// their indexes and row counts, and placing the usage maps of new tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/row_id.h"
#include "jet/base/value.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/schema_writer.h"
#include "jet/table/table_def.h"

namespace jet {

// The catalog with what a schema change needs of it.
struct CatalogView {
  Tdef def;
  Catalog catalog;
};

CatalogView loadCatalog(SchemaFile& file);
// A user table (or a table's hidden part) by name, case-insensitively; nullptr when there is none.
const CatalogEntry* findTable(const CatalogView& c, const std::string& name);
// A system table by its exact name; nullptr when the file lacks it.
const CatalogEntry* findSystemTable(const CatalogView& c, const std::string& name);
// A catalog row's stored values (long values as their fields), to write it again or take it out.
std::vector<Value> storedValues(SchemaFile& file, const CatalogView& c, RowId row);
// Adds delta to a table's row count (and the entry counts of its real indexes) in place, leaving
// every other byte of the definition as it is.
void adjustRowCount(SchemaFile& file, uint32_t tdefPage, int delta, size_t realIndexes);
// Inserts a row into a catalog-like table and its indexes, keys checked first; deletes one.
RowId insertIndexedRow(SchemaFile& file, uint32_t tdefPage, const Tdef& def, const std::vector<Value>& values);
void deleteIndexedRow(SchemaFile& file, uint32_t tdefPage, const Tdef& def, RowId rid,
                      const std::vector<Value>& values);
// A row for a usage map, placed on a page of maps with room (or a new one). Returns its pointer.
uint32_t placeMapRow(SchemaFile& file, const Bytes& row);
// A map marking the one page (none for page 0).
Bytes emptyMapFor(Format f, uint32_t page);
// A system table's definition page by name, `fallback` when the catalog lacks it.
uint32_t systemTablePage(const CatalogView& c, const std::string& name, uint32_t fallback);
// The position of a system table's column in its rows, by name (3049 when it lacks it).
size_t columnPosition(const Tdef& def, const std::string& name);

}  // namespace jet
