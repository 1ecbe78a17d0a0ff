// The pair of logical indexes through which Jet enforces a relationship. The foreign table gets a
// foreign-key index over its fields, named after the two tables ("CustomersOrders"); the primary
// table gets a hidden one over the unique index of the referenced fields, named ".r" and a letter.
// Each records the other's table and index number and the cascade flags.
#include "jet/catalog/relationship_indexes.h"

#include <algorithm>

#include "jet/base/error.h"
#include "jet/base/names.h"
#include "jet/index/table_indexes.h"
#include "jet/table/table_def.h"

namespace jet {

namespace {

constexpr uint8_t kPrimarySide = 1;
constexpr uint8_t kForeignSide = 2;

size_t columnAt(const Tdef& def, const std::string& name) {
  const int at = columnIndex(def.columns, name);
  if (at < 0) throw Error(err::kUnknownField, "Item not found in this collection: no field '" + name + "'.");
  return size_t(at);
}

// Logical indexes are kept in name order; the new one goes before the first name after its own.
void insertByName(Tdef& def, LogicalIndexDef index) {
  auto at = std::find_if(def.indexes.begin(), def.indexes.end(),
                         [&](const LogicalIndexDef& l) { return lowerName(l.name) > lowerName(index.name); });
  def.indexes.insert(at, std::move(index));
}

std::string freeName(const Tdef& def, const std::string& wanted) {
  auto taken = [&](const std::string& n) {
    return std::any_of(def.indexes.begin(), def.indexes.end(), [&](const LogicalIndexDef& l) { return sameName(l.name, n); });
  };
  std::string name = wanted;
  for (int i = 1; taken(name); ++i) name = wanted + std::to_string(i);
  return name;
}

// Writes a grown definition over its chain, taking more pages when it no longer fits.
void rewriteDefinition(SchemaFile& file, const Tdef& def) {
  const Bytes bytes = serializeTdef(def, file.codec());
  std::vector<uint32_t> pages = def.pages.empty() ? std::vector<uint32_t>{def.tdefPage} : def.pages;
  const size_t needed = tdefPagesNeeded(def.format, bytes.size());
  while (pages.size() < needed) pages.push_back(file.allocatePage());
  for (size_t i = needed; i < pages.size(); ++i) file.freePage(pages[i]);
  pages.resize(needed);
  const std::vector<Bytes> images = paginateTdef(def.format, bytes, pages);
  for (size_t i = 0; i < images.size(); ++i) file.writePage(pages[i], images[i].data());
}

// Whether an index is over exactly these columns; with `ordered`, also in this order and ascending.
bool indexOver(const RealIndexDef& r, const std::vector<uint16_t>& columns, bool ordered) {
  if (r.columns.size() != columns.size()) return false;
  for (size_t k = 0; k < columns.size(); ++k) {
    const IndexColumn& c = r.columns[k];
    const bool found = ordered ? c.columnNumber == columns[k] && c.ascending
                               : std::find(columns.begin(), columns.end(), c.columnNumber) != columns.end();
    if (!found) return false;
  }
  return true;
}

std::vector<uint16_t> columnNumbers(const Tdef& def, const RelationshipFields& fields, bool primarySide) {
  std::vector<uint16_t> out;
  for (const auto& f : fields) out.push_back(def.columns[columnAt(def, primarySide ? f.first : f.second)].number);
  return out;
}

}  // namespace

int32_t referencedUniqueIndex(const Tdef& primary, const RelationshipFields& fields) {
  const std::vector<uint16_t> wanted = columnNumbers(primary, fields, true);
  int32_t unique = -1;
  for (const LogicalIndexDef& l : primary.indexes) {
    const RealIndexDef& r = primary.realIndexes.at(size_t(l.realIndex));
    if ((r.flags & idxflag::kUnique) && indexOver(r, wanted, false) && (unique < 0 || l.primaryKey())) unique = l.realIndex;
  }
  return unique;
}

void addRelationshipIndexes(SchemaFile& file, Tdef primary, Tdef foreignRead, int32_t unique,
                            const RelationshipFields& fields, int32_t attributes, const std::string& primaryName,
                            const std::string& foreignName) {
  const bool self = primary.tdefPage == foreignRead.tdefPage;
  Tdef& foreign = self ? primary : foreignRead;

  // The foreign key's fields in the order of the unique index's fields, so that keys compare alike.
  const std::vector<uint16_t> from = columnNumbers(primary, fields, true), to = columnNumbers(foreign, fields, false);
  RealIndexDef key;
  std::vector<uint16_t> keyColumns;
  for (const IndexColumn& c : primary.realIndexes.at(size_t(unique)).columns)
    for (size_t i = 0; i < from.size(); ++i)
      if (from[i] == c.columnNumber) {
        key.columns.push_back({to[i], true});
        keyColumns.push_back(to[i]);
      }
  key.flags = foreign.format == Format::Jet4Layout ? idxflag::kJet4Marker : 0;
  // An index over the same fields with the same flags serves both.
  int32_t real = -1;
  for (size_t i = 0; i < foreign.realIndexes.size() && real < 0; ++i)
    if (foreign.realIndexes[i].flags == key.flags && indexOver(foreign.realIndexes[i], keyColumns, true))
      real = int32_t(i);
  const bool fresh = real < 0;
  if (fresh) {
    real = int32_t(foreign.realIndexes.size());
    key.rootPage = IndexTree::createEmpty(file, foreign.tdefPage);
    foreign.realIndexes.push_back(key);
  }

  const uint8_t cascadeUpdates = (attributes & kRelationUpdateCascade) ? 1 : 0;
  const uint8_t cascadeDeletes = (attributes & kRelationDeleteCascade) ? 1 : 0;
  LogicalIndexDef fk;
  fk.name = freeName(foreign, primaryName + foreignName);
  fk.number = int32_t(foreign.indexes.size());
  fk.realIndex = real;
  fk.kind = idxkind::kForeignKey;
  fk.relIndexType = kForeignSide;
  fk.relTable = primary.tdefPage;
  fk.cascadeUpdates = cascadeUpdates;
  fk.cascadeDeletes = cascadeDeletes;
  LogicalIndexDef back = fk;
  back.number = int32_t(primary.indexes.size()) + (self ? 1 : 0);
  back.name = freeName(primary, std::string(".r") + char('A' + back.number));
  back.realIndex = unique;
  back.relIndexType = kPrimarySide;
  back.relTable = foreign.tdefPage;
  back.relIndex = fk.number;
  fk.relIndex = back.number;
  insertByName(foreign, fk);
  insertByName(primary, back);

  // A new index holds an entry for every row the table has.
  if (fresh) {
    foreign.version = file.header().version;
    uint32_t entries = 0;
    for (const IndexOutline& o : indexOutlines(foreign))
      if (o.rootPage == key.rootPage) {
        TableIndexes built(file, foreign.tdefPage, {o});
        if (!built.problem().empty()) throw Error(err::kCorrupt, built.problem());
        const auto next = streamPlainRows(file, foreign);
        built.rebuild([&](RowId& id, std::vector<Value>& row) { return next(id, row) && ++entries; });
      }
    foreign.realIndexes[size_t(real)].entryCount = entries;
  }
  rewriteDefinition(file, foreign);
  if (!self) rewriteDefinition(file, primary);
}

}  // namespace jet
