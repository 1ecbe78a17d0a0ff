#include "sql/bridge.h"

#include "jet/base/names.h"
#include "jet/base/value_json.h"
#include "jet/file_database.h"
#include "jet/shared_database.h"
#include "jet/index/index_key.h"
#include "jet/table/table_scan.h"

namespace sql {

namespace {

// User tables: local and linked, neither a system object nor hidden by the engine.
bool isUserTable(const jet::CatalogObject& o) {
  return (o.kind == jet::ObjectKind::Table || o.kind == jet::ObjectKind::LinkedTable) &&
         (o.flags & jet::kSystemObjectFlags) == 0;
}

}  // namespace

Bridge::Bridge(std::unique_ptr<jet::Database> db) : db_(std::move(db)) {
  local_ = dynamic_cast<jet::FileDatabase*>(db_.get());
  if (auto* shared = dynamic_cast<jet::SharedDatabase*>(db_.get())) local_ = &shared->local();
  loadTables();
}

Bridge::~Bridge() {
  try {
    db_->rollbackTransaction();
  } catch (const jet::Error&) {
    // Closing: the journal puts the file back on the next open.
  }
}

// The connection's view of one user table; false for a linked table whose source cannot be opened
// (missing, or not an Access file), which is left out.
bool Bridge::describe(const jet::CatalogObject& o, BridgeTable& t) {
  t.linked = o.kind == jet::ObjectKind::LinkedTable;
  try {
    t.info = db_->table(o.name);
  } catch (const jet::Error&) {
    if (t.linked) return false;
    throw;
  }
  t.complex.resize(t.info.columns.size());
  if (!t.linked && local_) {
    const jet::Tdef& def = local_->tableDef(o.name);
    std::vector<uint32_t> roots;
    for (const auto& r : def.realIndexes) roots.push_back(r.rootPage);
    for (jet::IndexOutline& outline : jet::indexOutlines(local_->version(), t.info, roots)) {
      bool usable = outline.fields.size() == outline.columns.size();
      for (const jet::KeyColumn& k : outline.columns) usable = usable && jet::keyColumnProblem(k).empty();
      if (!usable) continue;
      t.uniqueKey.push_back(outline.unique && outline.required);
      t.indexes.push_back(std::move(outline));
    }
  }
  return true;
}

void Bridge::loadTables() {
  std::vector<BridgeTable> tables;
  for (const jet::CatalogObject& o : db_->objects()) {
    BridgeTable t;
    if (isUserTable(o) && describe(o, t)) tables.push_back(std::move(t));
  }
  tables_ = std::move(tables);
}

size_t Bridge::reloadTable(const std::string& name) {
  for (const jet::CatalogObject& o : db_->objects()) {
    if (!isUserTable(o) || !jet::sameName(o.name, name)) continue;
    BridgeTable t;
    if (!describe(o, t)) break;
    for (size_t i = 0; i < tables_.size(); ++i)
      if (jet::sameName(tables_[i].info.name, name)) {
        tables_[i] = std::move(t);
        return i;
      }
    tables_.push_back(std::move(t));
    return tables_.size() - 1;
  }
  throw jet::Error(jet::err::kTableNotFound, "The Microsoft Jet database engine cannot find the input table or query '" +
                                                 name + "'.");
}

std::string Bridge::complexJson(BridgeTable& t, size_t column, const jet::Value& key) {
  if (t.complexGeneration != db_->generation()) {
    for (auto& r : t.complex) r.reset();
    t.complexGeneration = db_->generation();
  }
  auto& reader = t.complex[column];
  if (!reader) reader = db_->complexValues(t.info.name, t.info.columns[column].name);
  std::string out;
  jet::appendJsonComplex(out, reader->of(key));
  return out;
}

std::shared_ptr<const jet::Tdef> Bridge::definition(BridgeTable& t) {
  if (!t.definition || t.definitionGeneration != db_->generation()) {
    auto reading = db_->readOperation();  // notices another program's commit first
    t.definition = std::make_shared<const jet::Tdef>(local_->tableDef(t.info.name));
    t.definitionGeneration = db_->generation();
  }
  return t.definition;
}

std::vector<jet::Value> Bridge::storedRow(BridgeTable& t, jet::RowId id) {
  if (!local_ || t.linked) throw jet::Error(jet::err::kReadOnly, "Cannot update. Database or object is read-only.");
  auto reading = db_->readOperation();  // pages read directly: one committed state
  const jet::Tdef& def = local_->tableDef(t.info.name);
  jet::RowSlot slot;
  jet::PageRef page = jet::resolveRow(local_->pageFile(), local_->format(), id, slot);
  if (slot.deleted) throw jet::Error(jet::err::kRecordDeleted, "Record is deleted.");
  std::vector<jet::Value> values;
  jet::LongValueReader longValues(local_->pageFile(), local_->format());
  jet::RowReader(def, local_->codec(), longValues).decode(page->data() + slot.start, slot.size(), values);
  return values;
}

void Bridge::begin() {
  if (!db_->inTransaction()) db_->beginTransaction();
}

void Bridge::commit() {
  if (db_->inTransaction()) db_->commitTransaction();
}

void Bridge::rollback() { db_->rollbackTransaction(); }

void Bridge::savepoint(int n) {
  if (db_->inTransaction()) db_->setSavepoint(static_cast<size_t>(n));
}

void Bridge::rollbackTo(int n) {
  if (db_->inTransaction()) db_->rollbackToSavepoint(static_cast<size_t>(n));
}

void Bridge::release(int n) {
  if (db_->inTransaction()) db_->releaseSavepoint(static_cast<size_t>(n));
}

}  // namespace sql
