#include "jet/catalog/catalog.h"

#include <algorithm>
#include <cctype>

#include "jet/base/bytes.h"
#include "jet/table/table_def.h"
#include "jet/table/table_scan.h"

namespace jet {

namespace {

int64_t asInt(const std::vector<Value>& v, int i) {
  if (i < 0) return 0;
  if (const int64_t* n = std::get_if<int64_t>(&v[size_t(i)])) return *n;
  return 0;
}

std::string asText(const std::vector<Value>& v, int i) {
  if (i < 0) return {};
  if (const std::string* s = std::get_if<std::string>(&v[size_t(i)])) return *s;
  return {};
}

bool lessName(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return uint8_t(lowerAscii(x)) < uint8_t(lowerAscii(y));
  });
}

}  // namespace

Catalog Catalog::read(PageFile& file, Format format, TextCodec& codec) {
  Tdef def = readTdef(file, format, codec, sys::kCatalogTdef);
  const auto& c = def.columns;
  int cId = columnIndex(c, "Id"), cParent = columnIndex(c, "ParentId"), cName = columnIndex(c, "Name"),
      cType = columnIndex(c, "Type"), cFlags = columnIndex(c, "Flags"), cDb = columnIndex(c, "Database"),
      cForeign = columnIndex(c, "ForeignName"), cProp = columnIndex(c, "LvProp");
  if (cId < 0 || cName < 0 || cType < 0) throwCorrupt("the catalog lacks its Id, Name or Type column");
  Catalog cat;
  TableScan scan(file, def, codec);
  while (scan.next()) {
    const std::vector<Value>& v = scan.values();
    CatalogEntry e;
    e.row = scan.rowId();
    e.type = int(asInt(v, cType));
    e.parentId = int32_t(asInt(v, cParent));
    CatalogObject& o = e.object;
    o.name = asText(v, cName);
    o.id = int32_t(asInt(v, cId));
    o.flags = uint32_t(asInt(v, cFlags));
    switch (e.type) {
      case sys::kTypeTable:
        o.kind = (o.flags & kSystemObjectFlags) ? ObjectKind::SystemTable : ObjectKind::Table;
        o.tdefPage = uint32_t(o.id) & 0x00FFFFFF;
        break;
      case sys::kTypeLinkedTable:
      case sys::kTypeLinkedOdbc:
        o.kind = ObjectKind::LinkedTable;
        o.linkedDatabase = asText(v, cDb);
        o.foreignName = asText(v, cForeign);
        break;
      case sys::kTypeQuery:
        o.kind = ObjectKind::Query;
        break;
      default:
        o.kind = ObjectKind::Other;
        break;
    }
    if (cProp >= 0)
      if (const Bytes* b = std::get_if<Bytes>(&v[size_t(cProp)])) e.properties = *b;
    cat.entries_.push_back(std::move(e));
  }
  return cat;
}

std::vector<CatalogObject> Catalog::objects() const {
  std::vector<CatalogObject> out;
  for (const CatalogEntry& e : entries_)
    if (e.object.kind != ObjectKind::Other) out.push_back(e.object);
  std::stable_sort(out.begin(), out.end(),
                   [](const CatalogObject& a, const CatalogObject& b) { return lessName(a.name, b.name); });
  return out;
}

const CatalogEntry* Catalog::findTable(const std::string& name) const {
  for (const CatalogEntry& e : entries_) {
    ObjectKind k = e.object.kind;
    if ((k == ObjectKind::Table || k == ObjectKind::SystemTable || k == ObjectKind::LinkedTable) &&
        sameName(e.object.name, name))
      return &e;
  }
  return nullptr;
}

}  // namespace jet
