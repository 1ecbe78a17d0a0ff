// The relationships a database keeps between its tables, as MSysRelationships lists them: one row
// per pair of fields, grouped here into one relationship each, its fields in their stored order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/schema.h"
#include "jet/base/text_codec.h"
#include "jet/storage/page_file.h"
#include "jet/table/table_def.h"

namespace jet {

// Deleting a row of the primary table sets the foreign fields of its related rows to Null
// (Access 2010 and later), beside the cascade bits of schema.h.

struct Relationship {
  std::string name;
  std::string table;         // the primary side: the referenced table
  std::string foreignTable;  // the side whose fields refer to it
  std::vector<std::string> columns;         // in the primary table
  std::vector<std::string> foreignColumns;  // the matching fields of the foreign table
  int32_t flags = 0;

  bool enforced() const { return !(flags & kRelationDontEnforce); }
  bool cascadeUpdates() const { return flags & kRelationUpdateCascade; }
  bool cascadeDeletes() const { return flags & kRelationDeleteCascade; }
  bool cascadeNulls() const { return flags & kRelationCascadeNull; }
};

// Every relationship of the file, read from MSysRelationships (whose definition is `def`). Rows
// that lack a name, a table or a field are left out.
std::vector<Relationship> readRelationships(PageFile& file, const Tdef& def, TextCodec& codec);

}  // namespace jet
