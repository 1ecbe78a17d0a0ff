#include "jet/rules/relationships.h"

#include <map>

#include "jet/base/names.h"
#include "jet/catalog/catalog.h"
#include "jet/table/table_scan.h"

namespace jet {

namespace {

const std::string* textAt(const std::vector<Value>& row, size_t at) {
  return at < row.size() ? std::get_if<std::string>(&row[at]) : nullptr;
}

int64_t numberAt(const std::vector<Value>& row, size_t at) {
  const auto* n = at < row.size() ? std::get_if<int64_t>(&row[at]) : nullptr;
  return n ? *n : 0;
}

}  // namespace

std::vector<Relationship> readRelationships(PageFile& file, const Tdef& def, TextCodec& codec) {
  auto position = [&](const char* name) {
    const int i = columnIndex(def.columns, name);
    return i < 0 ? def.columns.size() : size_t(i);
  };
  const size_t name = position("szRelationship"), grbit = position("grbit"), at = position("icolumn"),
               object = position("szObject"), column = position("szColumn"),
               referenced = position("szReferencedObject"), referencedColumn = position("szReferencedColumn");
  std::vector<Relationship> out;
  std::map<std::string, size_t> byName;
  std::vector<std::map<int64_t, std::pair<std::string, std::string>>> pairs;
  TableScan scan(file, def, codec);
  while (scan.next()) {
    const std::vector<Value>& row = scan.values();
    const std::string *n = textAt(row, name), *o = textAt(row, object), *c = textAt(row, column),
                      *r = textAt(row, referenced), *rc = textAt(row, referencedColumn);
    if (!n || !o || !c || !r || !rc) continue;
    auto [it, added] = byName.try_emplace(*n, out.size());
    if (added) {
      Relationship rel;
      rel.name = *n;
      rel.foreignTable = *o;
      rel.table = *r;
      rel.flags = int32_t(numberAt(row, grbit));
      out.push_back(std::move(rel));
      pairs.emplace_back();
    }
    pairs[it->second][numberAt(row, at)] = {*rc, *c};
  }
  for (size_t i = 0; i < out.size(); ++i)
    for (const auto& [position, names] : pairs[i]) {
      out[i].columns.push_back(names.first);
      out[i].foreignColumns.push_back(names.second);
    }
  return out;
}

}  // namespace jet
