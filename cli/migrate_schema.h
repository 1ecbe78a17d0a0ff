// What a migration moves: the chosen tables of the source with their columns and indexes, and the
// relationships among them, read from the source's catalog and MSysRelationships.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/database.h"

namespace migrate {

// A relationship: `table`'s `columns` refer to `referencedTable`'s `referencedColumns`.
struct Relationship {
  std::string name;
  std::string table;
  std::vector<std::string> columns;
  std::string referencedTable;
  std::vector<std::string> referencedColumns;
  int32_t flags = 0;  // MSysRelationships' grbit (jet::kRelation* bits)
  bool enforced() const { return (flags & jet::kRelationDontEnforce) == 0; }
};

// Not a model of its own: the engine's descriptions (TableInfo) of the tables that move, plus the
// relationships among them.
struct SourceSchema {
  jet::Format format = jet::Format::Jet4Layout;
  std::vector<jet::TableInfo> tables;          // in catalog order
  std::vector<Relationship> relationships;     // enforced, between two of `tables`
  std::vector<std::string> notes;              // relationships left behind, and why
};

// The user tables of the source, or only `only` (each name must exist: 3078 otherwise), and the
// enforced relationships among them.
SourceSchema readSchema(jet::Database& source, const std::vector<std::string>& only);

// A Text column's size in characters.
int textLength(const jet::ColumnInfo& column, jet::Format format);

// The column that becomes the row's own key in SQLite (an integer column, usually the auto-number,
// that alone makes up the primary key), or -1.
int rowKeyColumn(const jet::TableInfo& table);

// The indexes a target builds for a table: the primary key first, then the others in the table's
// order, leaving out the indexes the engine keeps for a relationship where another index already
// covers the same columns.
std::vector<const jet::IndexInfo*> indexesToBuild(const jet::TableInfo& table);

// A name for a target whose names are at most `limit` bytes and shared by the whole schema (index
// and constraint names): `whole` itself, or cut at a character boundary with a hash of the whole,
// then made unique among `taken`, which receives it.
std::string uniqueName(const std::string& whole, size_t limit, std::vector<std::string>& taken);

// Complex columns (attachments, multi-valued fields, version histories) are not moved yet: the
// engine reads their values, but no target table is made for them, so a table holding one is
// refused with this message.
std::string complexColumnRefusal(const jet::TableInfo& table, const jet::ColumnInfo& column);

}  // namespace migrate
