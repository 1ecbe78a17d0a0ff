#include "cli/migrate_schema.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "jet/base/names.h"

namespace migrate {

namespace {

using jet::sameName;

bool isUserTable(const jet::CatalogObject& o) {
  return o.kind == jet::ObjectKind::Table && (o.flags & jet::kSystemObjectFlags) == 0;
}

std::string textOf(const jet::Value& v) {
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  return {};
}

int64_t numberOf(const jet::Value& v) {
  if (auto* i = std::get_if<int64_t>(&v)) return *i;
  return 0;
}

// Relationship rows, one per column pair, grouped by name and put in column order.
std::vector<Relationship> readRelationships(jet::Database& source) {
  std::unique_ptr<jet::TableCursor> cursor;
  try {
    cursor = source.openTable("MSysRelationships");
  } catch (const jet::Error&) {
    return {};  // a file without relationships may lack the table
  }
  const jet::TableInfo& info = cursor->table();
  const auto& c = info.columns;
  const int name = jet::columnIndex(c, "szRelationship"), grbit = jet::columnIndex(c, "grbit"),
            position = jet::columnIndex(c, "icolumn"), object = jet::columnIndex(c, "szObject"),
            column = jet::columnIndex(c, "szColumn"), referenced = jet::columnIndex(c, "szReferencedObject"),
            referencedColumn = jet::columnIndex(c, "szReferencedColumn");
  if (std::min({name, grbit, position, object, column, referenced, referencedColumn}) < 0) return {};
  std::map<std::string, std::map<int64_t, std::pair<std::string, std::string>>> pairs;
  std::map<std::string, Relationship> byName;
  std::vector<std::string> order;
  while (cursor->next()) {
    const std::vector<jet::Value>& row = cursor->values();
    std::string n = textOf(row[name]);
    auto [it, added] = byName.try_emplace(n);
    if (added) {
      order.push_back(n);
      it->second.name = n;
      it->second.table = textOf(row[object]);
      it->second.referencedTable = textOf(row[referenced]);
      it->second.flags = static_cast<int32_t>(numberOf(row[grbit]));
    }
    pairs[n][numberOf(row[position])] = {textOf(row[column]), textOf(row[referencedColumn])};
  }
  std::vector<Relationship> out;
  for (const std::string& n : order) {
    Relationship r = byName[n];
    for (auto& [pos, p] : pairs[n]) {
      r.columns.push_back(p.first);
      r.referencedColumns.push_back(p.second);
    }
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace

SourceSchema readSchema(jet::Database& source, const std::vector<std::string>& only) {
  SourceSchema s;
  s.format = source.format();
  if (only.empty()) {
    for (const jet::CatalogObject& o : source.objects()) {
      if (isUserTable(o)) s.tables.push_back(source.table(o.name));
      if (o.kind == jet::ObjectKind::LinkedTable)
        s.notes.push_back("linked table " + o.name + " left out: its rows live in " + o.linkedDatabase);
    }
  } else {
    for (const std::string& name : only) {
      jet::TableInfo t = source.table(name);  // 3078 for a table the file does not hold
      bool twice = std::any_of(s.tables.begin(), s.tables.end(), [&](auto& x) { return x.name == t.name; });
      if (!twice) s.tables.push_back(std::move(t));
    }
  }
  auto find = [&](const std::string& name) -> const jet::TableInfo* {
    for (const auto& t : s.tables)
      if (sameName(t.name, name)) return &t;
    return nullptr;
  };
  for (Relationship& r : readRelationships(source)) {
    const jet::TableInfo* table = find(r.table);
    const jet::TableInfo* referenced = find(r.referencedTable);
    if (!table && !referenced) continue;
    if (!r.enforced()) continue;
    if (!table || !referenced) {
      s.notes.push_back("relationship " + r.name + " left out: table " +
                        (table ? r.referencedTable : r.table) + " is not moved");
      continue;
    }
    // The names as the tables spell them (the relationship rows may differ in case).
    r.table = table->name;
    r.referencedTable = referenced->name;
    bool known = true;
    for (std::string& c : r.columns) {
      bool found = false;
      for (const auto& col : table->columns)
        if (sameName(col.name, c)) c = col.name, found = true;
      known = known && found;
    }
    for (std::string& c : r.referencedColumns) {
      bool found = false;
      for (const auto& col : referenced->columns)
        if (sameName(col.name, c)) c = col.name, found = true;
      known = known && found;
    }
    if (!known || r.columns.empty()) {
      s.notes.push_back("relationship " + r.name + " left out: it names a field its tables do not have");
      continue;
    }
    s.relationships.push_back(std::move(r));
  }
  return s;
}

int textLength(const jet::ColumnInfo& c, jet::Format format) {
  return std::max(1, format == jet::Format::Jet4Layout ? c.length / 2 : int(c.length));
}

int rowKeyColumn(const jet::TableInfo& t) {
  for (const jet::IndexInfo& ix : t.indexes) {
    if (!ix.primaryKey || ix.columns.size() != 1) continue;
    for (size_t i = 0; i < t.columns.size(); ++i) {
      const jet::ColumnInfo& c = t.columns[i];
      const bool integer = c.type == jet::ColumnType::Byte || c.type == jet::ColumnType::Integer ||
                           c.type == jet::ColumnType::Long || c.type == jet::ColumnType::BigInt;
      if (c.number == ix.columns[0].columnNumber && integer) return static_cast<int>(i);
    }
  }
  return -1;
}

std::vector<const jet::IndexInfo*> indexesToBuild(const jet::TableInfo& t) {
  std::vector<const jet::IndexInfo*> out;
  for (const auto& ix : t.indexes)
    if (ix.primaryKey) out.push_back(&ix);
  auto sameColumns = [](const jet::IndexInfo& a, const jet::IndexInfo& b) {
    if (a.columns.size() != b.columns.size()) return false;
    for (size_t i = 0; i < a.columns.size(); ++i)
      if (a.columns[i].columnNumber != b.columns[i].columnNumber || a.columns[i].ascending != b.columns[i].ascending)
        return false;
    return true;
  };
  for (const auto& ix : t.indexes) {
    if (ix.primaryKey || ix.columns.empty()) continue;
    if (ix.foreignKey) {
      bool covered = false;
      for (const auto& other : t.indexes)
        if (&other != &ix && !other.foreignKey && sameColumns(ix, other)) covered = true;
      for (const auto* made : out)
        if (sameColumns(ix, *made)) covered = true;
      if (covered) continue;
    }
    out.push_back(&ix);
  }
  return out;
}

std::string uniqueName(const std::string& whole, size_t limit, std::vector<std::string>& taken) {
  auto fit = [&](const std::string& s, const std::string& tail) {
    if (s.size() + tail.size() <= limit) return s + tail;
    size_t cut = limit - tail.size();
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    return s.substr(0, cut) + tail;
  };
  uint32_t hash = 2166136261u;
  for (unsigned char c : whole) hash = (hash ^ c) * 16777619u;
  char tag[16];
  std::snprintf(tag, sizeof tag, "_%08x", hash);
  std::string name = whole.size() <= limit ? whole : fit(whole, tag);
  for (int n = 2; std::find(taken.begin(), taken.end(), name) != taken.end(); ++n)
    name = fit(whole, "_" + std::to_string(n));
  taken.push_back(name);
  return name;
}

std::string complexColumnRefusal(const jet::TableInfo& table, const jet::ColumnInfo& column) {
  return "table " + table.name + ", column " + column.name +
         ": attachments and multi-valued fields cannot be moved yet";
}

}  // namespace migrate
