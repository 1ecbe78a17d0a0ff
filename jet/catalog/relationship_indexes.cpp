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

}  // namespace

void addRelationshipIndexes(SchemaFile& file, uint32_t primaryPage, uint32_t foreignPage, const RelationshipFields& fields,
                            int32_t attributes, const std::string& primaryName, const std::string& foreignName) {
  const bool self = primaryPage == foreignPage;
  Tdef primary = file.definition(primaryPage);
  Tdef foreignRead = self ? Tdef{} : file.definition(foreignPage);
  Tdef& foreign = self ? primary : foreignRead;

  // The primary side rides on the unique index of the referenced fields, the primary key's first.
  std::vector<uint16_t> wanted;
  for (const auto& f : fields) wanted.push_back(primary.columns[columnAt(primary, f.first)].number);
  auto sameFields = [&](const RealIndexDef& r) {
    if (r.columns.size() != wanted.size()) return false;
    return std::all_of(r.columns.begin(), r.columns.end(), [&](const IndexColumn& c) {
      return std::find(wanted.begin(), wanted.end(), c.columnNumber) != wanted.end();
    });
  };
  int32_t unique = -1;
  for (const LogicalIndexDef& l : primary.indexes) {
    const RealIndexDef& r = primary.realIndexes.at(size_t(l.realIndex));
    if ((r.flags & idxflag::kUnique) && sameFields(r) && (unique < 0 || l.primaryKey())) unique = l.realIndex;
  }
  if (unique < 0) throw Error(3609, "No unique index found for the referenced field of the primary table.");

  // The foreign key's fields in the order of the unique index's fields, so that keys compare alike.
  RealIndexDef key;
  for (const IndexColumn& c : primary.realIndexes[size_t(unique)].columns)
    for (const auto& f : fields)
      if (primary.columns[columnAt(primary, f.first)].number == c.columnNumber)
        key.columns.push_back({foreign.columns[columnAt(foreign, f.second)].number, true});
  key.flags = foreign.format == Format::Jet4Layout ? idxflag::kJet4Marker : 0;
  // An index over the same fields with the same flags serves both.
  int32_t real = -1;
  for (size_t i = 0; i < foreign.realIndexes.size() && real < 0; ++i) {
    const RealIndexDef& r = foreign.realIndexes[i];
    bool same = r.flags == key.flags && r.columns.size() == key.columns.size();
    for (size_t k = 0; same && k < key.columns.size(); ++k)
      same = r.columns[k].columnNumber == key.columns[k].columnNumber && r.columns[k].ascending;
    if (same) real = int32_t(i);
  }
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
    const auto rows = readPlainRows(file, foreign.tdefPage, foreign);
    foreign.realIndexes[size_t(real)].entryCount = uint32_t(rows.size());
    for (const IndexOutline& o : indexOutlines(foreign))
      if (o.rootPage == key.rootPage) {
        TableIndexes built(file, foreign.tdefPage, {o});
        if (!built.problem().empty()) throw Error(err::kCorrupt, built.problem());
        built.rebuild(rows);
      }
  }
  rewriteDefinition(file, foreign);
  if (!self) rewriteDefinition(file, primary);
}

}  // namespace jet
