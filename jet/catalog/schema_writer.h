// Schema changes on an existing file: creating, renaming and dropping tables, with the catalog
// (MSysObjects), its indexes, the permission rows (MSysACEs), the usage maps and the global page
// map kept true at every step. Works page by page on the file through SchemaFile (schema_file.h);
// each change is a file of its own (create_table.cpp, rename_table.cpp, drop_table.cpp,
// create_relationship.cpp) over the catalog helpers of schema_catalog.h.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/file_version.h"
#include "jet/base/schema.h"
#include "jet/catalog/schema_file.h"
#include "jet/table/table_def.h"

namespace jet {

// The schema changes. Each leaves the file consistent when it returns.
void createTable(SchemaFile& file, const NewTable& outline);
void renameTable(SchemaFile& file, const std::string& oldName, const std::string& newName);
void dropTable(SchemaFile& file, const std::string& name);
void createRelationship(SchemaFile& file, const NewRelationship& outline);

// The table definition a new table gets (columns laid out, indexes without roots or maps).
// Validates names, sizes and types (3125, 3191, 3264, 3259, 3001).
// Every column carries the sort-order version the file's text is kept in; types the file's version
// lacks are refused (3259) saying which version they need.
// Jet 3 names must survive the database's code page (`codec`).
Tdef newTableDefinition(Format format, const NewTable& outline, TextCodec& codec,
                            FileVersion version = FileVersion::Jet4, uint8_t sortVersion = 0);

}  // namespace jet
