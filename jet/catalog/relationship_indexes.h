// The indexes an enforced relationship adds to its two tables (relationship_indexes.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "jet/catalog/schema_file.h"

namespace jet {

// Pairs of field names: the primary table's field, then the foreign table's.
using RelationshipFields = std::vector<std::pair<std::string, std::string>>;

// Gives the foreign table a foreign-key index over its fields (built from its rows, or sharing an
// index over the same fields) and the primary table the matching hidden index over the unique index
// of the referenced fields (3609 when it has none). The two definitions are rewritten in place.
void addRelationshipIndexes(SchemaFile& file, uint32_t primaryPage, uint32_t foreignPage, const RelationshipFields& fields,
                            int32_t attributes, const std::string& primaryName, const std::string& foreignName);

}  // namespace jet
