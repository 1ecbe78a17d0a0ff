#include "sql/bridge.h"

#include "jet/base/value_json.h"
#include "jet/database_impl.h"
#include "jet/index/index_key.h"

namespace sql {

namespace {

// User tables: local and linked, neither a system object nor hidden by the engine.
bool isUserTable(const jet::CatalogObject& o) {
  constexpr uint32_t kSystemObject = 0x80000000u, kEngineObject = 0x2u;
  return (o.kind == jet::ObjectKind::Table || o.kind == jet::ObjectKind::LinkedTable) &&
         (o.flags & kSystemObject) == 0 && (o.flags & kEngineObject) == 0;
}

}  // namespace

Bridge::Bridge(std::unique_ptr<jet::Database> db) : db_(std::move(db)) {
  local_ = dynamic_cast<jet::DatabaseImpl*>(db_.get());
  loadTables();
}

Bridge::~Bridge() {
  if (open_) {
    try {
      rollback();
    } catch (const jet::Error&) {
      // Closing: the journal puts the file back on the next open.
    }
  }
}

void Bridge::loadTables() {
  std::vector<BridgeTable> tables;
  for (const jet::CatalogObject& o : db_->objects()) {
    if (!isUserTable(o)) continue;
    BridgeTable t;
    t.linked = o.kind == jet::ObjectKind::LinkedTable;
    try {
      t.info = db_->table(o.name);
    } catch (const jet::Error&) {
      // A linked table whose source cannot be opened (missing, or not an Access file) is left out.
      if (t.linked) continue;
      throw;
    }
    t.complex.resize(t.info.columns.size());
    if (!t.linked && local_) {
      const jet::TableDef& def = local_->tableDef(o.name);
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
    tables.push_back(std::move(t));
  }
  tables_ = std::move(tables);
}

std::string Bridge::complexJson(BridgeTable& t, size_t column, const jet::Value& key) {
  auto& reader = t.complex[column];
  if (!reader) reader = db_->complexValues(t.info.name, t.info.columns[column].name);
  std::string out;
  jet::appendJsonComplex(out, reader->of(key));
  return out;
}

void Bridge::begin() { open_ = true; }
void Bridge::commit() { open_ = false; }
void Bridge::rollback() { open_ = false; }

}  // namespace sql
