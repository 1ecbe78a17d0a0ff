// The database's row writes under Jet's rules: calculated columns computed, validation rules and
// referential integrity checked, cascades carried out, all inside the write's one atomic change.
// Every write path of the engine (single rows, row sets, queued loads, rows with complex values)
// comes through here.
#include <algorithm>

#include "jet/catalog/properties.h"
#include "jet/file_database.h"
#include "jet/rules/relationships.h"
#include "jet/table/table_writer.h"

namespace jet {

const TableRules& FileDatabase::rulesOf(const std::string& table) {
  if (lastRules_ && table == lastRulesName_) return *lastRules_;
  auto it = rules_.find(table);
  if (it == rules_.end()) {
    const TableInfo info = this->table(table);
    const PropertyMaps props = parseProperties(localTable(table).properties, header_.format, codec_);
    it = rules_.emplace(table, std::make_unique<TableRules>(info, props)).first;
  }
  lastRulesName_ = table;
  return *(lastRules_ = it->second.get());
}

Integrity& FileDatabase::integrity() {
  if (!integrity_) {
    std::vector<Relationship> all;
    if (const CatalogEntry* e = catalog_.findTable("MSysRelationships"))
      all = readRelationships(*file_, tableDef(e->object.name), codec_);
    integrity_ = std::make_unique<Integrity>(all);
  }
  return *integrity_;
}

const TableInfo& FileDatabase::describe(const std::string& table) {
  const uint32_t page = localTable(table).object.tdefPage;
  auto it = infos_.find(page);
  if (it == infos_.end()) it = infos_.emplace(page, this->table(table)).first;
  return it->second;
}

std::vector<RowId> FileDatabase::find(const std::string& table, const std::vector<size_t>& fields,
                                      const std::vector<Value>& row) {
  return writer(table).findRows(fields, row);
}

std::vector<Value> FileDatabase::read(const std::string& table, RowId row) { return storedRow(table, row); }

void FileDatabase::update(const std::string& table, RowId row, std::vector<Value> values) {
  updateUnderRules(table, row, std::move(values));
}

void FileDatabase::remove(const std::string& table, RowId row) {
  const auto hidden = hiddenRowsOf(table, {row});
  removeUnderRules(table, row, hidden);
}

std::vector<Value> FileDatabase::defaultValues(const std::string& table) {
  settle();
  if (linkedSource(table)) return std::vector<Value>(this->table(table).columns.size(), Null{});
  return rulesOf(table).defaults();
}

void FileDatabase::checkInsert(const std::string& table, std::vector<Value>& values) {
  const TableRules& rules = rulesOf(table);
  if (!rules.empty()) {
    rules.compute(values);
    rules.validate(values, nullptr);
  }
  Integrity& keys = integrity();
  if (!keys.empty()) keys.checkInsert(*this, table, values);
}

void FileDatabase::updateUnderRules(const std::string& table, RowId row, std::vector<Value> values) {
  const TableRules& rules = rulesOf(table);
  Integrity& keys = integrity();
  if (rules.empty() && keys.empty()) {
    writer(table).update(row, std::move(values));
    return;
  }
  const std::vector<Value> old = storedRow(table, row);
  const Tdef& def = tableDef(table);
  if (values.size() == def.columns.size())
    for (size_t i = 0; i < def.columns.size(); ++i)
      if (def.columns[i].autoNumber()) values[i] = old[i];  // auto-numbers never change
  if (!rules.empty()) {
    rules.compute(values);
    rules.validate(values, &old);
  }
  if (keys.empty()) {
    writer(table).update(row, std::move(values));
    return;
  }
  keys.checkUpdate(*this, table, old, values);
  writer(table).update(row, values);
  keys.afterUpdate(*this, table, old, values);
}

void FileDatabase::removeUnderRules(const std::string& table, RowId row,
                                    const std::map<std::string, std::vector<RowId>>& hidden) {
  Integrity& keys = integrity();
  if (!keys.empty()) keys.beforeDelete(*this, table, row, storedRow(table, row));
  writer(table).remove(row);
  for (const auto& [flat, rows] : hidden)
    if (!rows.empty()) writer(flat).removeMany(rows);
}

}  // namespace jet
