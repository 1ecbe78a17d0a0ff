#include "jet/complex_data.h"

#include <unordered_map>

#include "jet/base/error.h"
#include "jet/catalog/catalog.h"

namespace jet {

namespace {

constexpr const char* kComplexColumnsTable = "MSysComplexColumns";

class LoadedValues : public ComplexValues {
 public:
  const ComplexValue& of(const Value& key) override {
    const auto* k = std::get_if<int64_t>(&key);
    if (!k) return empty_;
    auto it = byKey_.find(static_cast<int32_t>(*k));
    return it == byKey_.end() ? empty_ : it->second;
  }
  std::unordered_map<int32_t, ComplexValue> byKey_;
  ComplexValue empty_;
};

}  // namespace

const std::vector<ComplexColumnEntry>& ComplexData::entries() {
  if (!entries_) {
    entries_.emplace();
    bool present = false;
    for (const CatalogObject& o : db_.objects())
      if (sameName(o.name, kComplexColumnsTable) && o.kind != ObjectKind::LinkedTable) present = true;
    if (present) {
      auto cursor = db_.openTable(kComplexColumnsTable);
      std::vector<std::vector<Value>> rows;
      while (cursor->next()) rows.push_back(cursor->values());
      *entries_ = complexColumnEntries(cursor->table().columns, rows);
    }
  }
  return *entries_;
}

const ComplexData::Column& ComplexData::column(const ColumnInfo& column) {
  auto found = columns_.find(column.complexId);
  if (found != columns_.end()) return found->second;
  const ComplexColumnEntry* entry = nullptr;
  for (const auto& e : entries())
    if (e.complexId == column.complexId) entry = &e;
  if (!entry) throwCorrupt("the complex column '" + column.name + "' has no entry in " + kComplexColumnsTable);
  std::string flat, type;
  for (const CatalogObject& o : db_.objects()) {
    if (o.kind != ObjectKind::Table && o.kind != ObjectKind::SystemTable) continue;
    if (o.id == entry->flatTableId) flat = o.name;
    if (o.id == entry->templateId) type = o.name;
  }
  if (flat.empty() || type.empty()) throwCorrupt("the hidden tables of the complex column '" + column.name + "' are missing");
  Column c;
  c.layout = complexLayout(db_.table(type), db_.table(flat));
  c.flatTable = flat;
  return columns_.emplace(column.complexId, std::move(c)).first->second;
}

void ComplexData::describe(TableInfo& table) {
  for (ColumnInfo& c : table.columns) {
    if (c.type != ColumnType::Complex) continue;
    try {
      const Column& col = column(c);
      c.complexKind = col.layout.kind;
      c.complexValueType = col.layout.valueType;
    } catch (const Error& e) {
      if (e.number() != err::kCorrupt) throw;
      c.complexKind = ComplexKind::Unsupported;
    }
  }
}

void ComplexData::forget() {
  entries_.reset();
  columns_.clear();
}

std::unique_ptr<ComplexValues> readComplexValues(Database& db, const ComplexData::Column& column) {
  auto out = std::make_unique<LoadedValues>();
  auto cursor = db.openTable(column.flatTable);
  while (cursor->next()) {
    const std::vector<Value>& row = cursor->values();
    int32_t key;
    if (!complexRowKey(column.layout, row, key)) continue;
    if (column.layout.kind != ComplexKind::Unsupported) {
      addComplexRow(column.layout, row, out->byKey_[key]);
      continue;
    }
    // A kind this engine does not know: each hidden row's own fields as they are stored (values of
    // unknown types as their raw bytes), so that nothing is dropped.
    ComplexValue& v = out->byKey_[key];
    v.kind = ComplexKind::Unsupported;
    for (size_t i = 0; i < row.size(); ++i)
      if (int(i) != column.layout.key && int(i) != column.layout.id) v.values.push_back(row[i]);
  }
  return out;
}

std::vector<RowId> complexRowsOf(Database& db, const ComplexData::Column& column, const std::set<int32_t>& keys) {
  std::vector<RowId> out;
  auto cursor = db.openTable(column.flatTable);
  while (cursor->next()) {
    int32_t key;
    if (complexRowKey(column.layout, cursor->values(), key) && keys.count(key)) out.push_back(cursor->rowId());
  }
  return out;
}

}  // namespace jet
