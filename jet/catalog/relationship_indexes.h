// The indexes an enforced relationship adds to its two tables (relationship_indexes.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "jet/catalog/schema_file.h"
#include "jet/table/table_def.h"

namespace jet {

// Pairs of field names: the primary table's field, then the foreign table's.
using RelationshipFields = std::vector<std::pair<std::string, std::string>>;

// The real index of the primary table an enforced relationship rides on: a unique index over
// exactly the referenced fields, the primary key's when it is one; -1 when the table has none.
int32_t referencedUniqueIndex(const Tdef& primary, const RelationshipFields& fields);

// Gives the foreign table a foreign-key index over its fields (built from its rows, or sharing an
// index over the same fields) and the primary table the matching hidden index over its real index
// `unique` (referencedUniqueIndex's). The two definitions, as read from the file, are rewritten in
// place; for a relationship of a table with itself they are the same definition.
void addRelationshipIndexes(SchemaFile& file, Tdef primary, Tdef foreign, int32_t unique,
                            const RelationshipFields& fields, int32_t attributes, const std::string& primaryName,
                            const std::string& foreignName);

}  // namespace jet
