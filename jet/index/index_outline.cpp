#include "jet/index/index_outline.h"

namespace jet {

std::vector<IndexOutline> indexOutlines(FileVersion version, const TableInfo& table, const std::vector<uint32_t>& rootPages) {
  const Format format = formatOf(version);
  std::vector<IndexOutline> outlines;
  std::vector<int> outlineOfReal(rootPages.size(), -1);
  for (const IndexInfo& info : table.indexes) {
    if (info.realNumber < 0 || static_cast<size_t>(info.realNumber) >= rootPages.size()) continue;
    int& at = outlineOfReal[info.realNumber];
    if (at < 0) {
      at = static_cast<int>(outlines.size());
      IndexOutline outline;
      outline.name = info.name;
      outline.rootPage = rootPages[info.realNumber];
      for (const IndexColumn& ic : info.columns) {
        KeyColumn kc;
        kc.type = ColumnType::Binary;  // stays so when the column is missing: not encodable
        kc.ascending = ic.ascending;
        int field = -1;
        for (size_t i = 0; i < table.columns.size(); ++i) {
          const ColumnInfo& c = table.columns[i];
          if (c.number != ic.columnNumber) continue;
          field = static_cast<int>(i);
          kc.type = c.type;
          kc.scale = c.scale;
          kc.collation = textCollation(format, c.sortOrder, c.sortVersion);
          kc.legacyDecimal = legacyDecimalKeys(version);
        }
        outline.columns.push_back(kc);
        outline.fields.push_back(field);
      }
      outlines.push_back(std::move(outline));
    }
    IndexOutline& outline = outlines[at];
    outline.unique = outline.unique || info.unique || info.primaryKey;
    outline.ignoreNulls = outline.ignoreNulls || info.ignoreNulls;
    outline.required = outline.required || info.required || info.primaryKey;
  }
  return outlines;
}

bool rowKeyInto(const IndexOutline& outline, const std::vector<Value>& row, Bytes& key, size_t& nulls) {
  static const Value kMissing;
  const size_t n = outline.columns.size();
  auto valueOf = [&](size_t i) -> const Value& {
    const int f = i < outline.fields.size() ? outline.fields[i] : -1;
    return f >= 0 && static_cast<size_t>(f) < row.size() ? row[static_cast<size_t>(f)] : kMissing;
  };
  nulls = 0;
  for (size_t i = 0; i < n; ++i)
    if (isNullKeyValue(outline.columns[i], valueOf(i))) ++nulls;
  key.clear();
  if (outline.ignoreNulls && nulls == n) return false;
  for (size_t i = 0; i < n; ++i) appendKeyEntry(outline.columns[i], valueOf(i), key);
  return true;
}

std::optional<Bytes> rowKey(const IndexOutline& outline, const std::vector<Value>& row) {
  Bytes key;
  size_t nulls;
  if (!rowKeyInto(outline, row, key, nulls)) return std::nullopt;
  return key;
}

}  // namespace jet
