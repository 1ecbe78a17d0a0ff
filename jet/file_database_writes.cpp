// The database's writes: each one atomic on the file (undone whole when it fails), transactions and
// savepoints over that scope, queued rows of bulk loads, schema changes, and row writes with their
// complex values and version histories. The rules each row write obeys are in
// file_database_rules.cpp.

#include <algorithm>
#include <type_traits>

#include "jet/catalog/schema_writer.h"
#include "jet/catalog/system_tables.h"
#include "jet/file_database.h"
#include "jet/table/table_writer.h"

namespace jet {

template <typename F>
auto FileDatabase::atomicWrite(F&& write) -> decltype(write()) {
  ensureWritable();
  PageFile& file = *file_;
  if (file.inAtomic()) return write();
  file.beginAtomic();
  struct Writing {
    bool& flag;
    explicit Writing(bool& f) : flag(f) { flag = true; }
    ~Writing() { flag = false; }
  } writing(writing_);
  try {
    if constexpr (std::is_void_v<decltype(write())>) {
      write();
      file.commitAtomic();
    } else {
      auto result = write();
      file.commitAtomic();
      return result;
    }
  } catch (...) {
    undoWrite();
    throw;
  }
}

void FileDatabase::undoWrite() {
  // A refusal before anything was written (a duplicate key, a bad name) keeps every cached state,
  // queued rows included; after a part-written change the file is put back and the state reread.
  PageFile& file = *file_;
  const bool touched = file.atomicTouched();
  try {
    file.rollbackAtomic();
  } catch (const Error& e) {
    damage_ = "a failed change could not be undone: " + e.description();
  }
  if (touched) {
    try {
      reloadState();
    } catch (const Error& e) {
      if (damage_.empty()) damage_ = "after a failed change the catalog cannot be read: " + e.description();
    }
  }
}

// Schema changes go through the schema writer on this file's pages; the catalog and the cached
// definitions are read again afterwards (also after a refusal).
template <typename F>
void FileDatabase::changeSchema(F&& change) {
  settle();
  try {
    atomicWrite([&] {
      auto pages = SchemaFile::over(*file_, header_.format, header_.codePage);
      change(*pages);
    });
  } catch (...) {
    if (file_) {
      try {
        reloadState();
      } catch (const Error&) {
        // The original error is the one to report.
      }
    }
    throw;
  }
  reloadState();
}

void FileDatabase::createTable(const NewTable& outline) {
  for (const NewColumn& c : outline.columns) {
    // Large Number came with Access 2016, Date/Time Extended with Access 2019.
    const bool big = c.type == ColumnType::BigInt;
    if ((big && !hasBigInt(header_.version)) ||
        (c.type == ColumnType::DateTimeExtended && !hasDateTimeExtended(header_.version)))
      throw Error(err::kInvalidFieldSize,
                  std::string("Invalid field data type: field '") + c.name + "' is " +
                      (big ? "a Large Number, which needs an Access 2016" : "a Date/Time Extended, which needs an Access 2019") +
                      " or later database; this one is " + versionName(header_.version) + ".",
                  outline.name, c.name);
  }
  changeSchema([&](SchemaFile& f) { jet::createTable(f, outline); });
}
void FileDatabase::renameTable(const std::string& oldName, const std::string& newName) {
  changeSchema([&](SchemaFile& f) { jet::renameTable(f, oldName, newName); });
}
void FileDatabase::dropTable(const std::string& name) {
  changeSchema([&](SchemaFile& f) { jet::dropTable(f, name); });
}
void FileDatabase::createRelationship(const NewRelationship& relationship) {
  changeSchema([&](SchemaFile& f) { jet::createRelationship(f, relationship); });
}

// Queued rows reach the file's open scope a writer's batch at a time; the scope is committed here.
void FileDatabase::settle() {
  // Reading the catalog or a table's definition during a write leaves its open scope to it.
  if (writing_) return;
  if (transaction_) {
    // The rows join the transaction's scope, which stays open.
    if (TableWriter* w = queueOwner_) {
      queueOwner_ = nullptr;
      queuedRows_ = 0;
      w->commitQueued();
    }
    return;
  }
  if (!file_ || (!queueOwner_ && !file_->inAtomic())) return;
  TableWriter* w = queueOwner_;
  queueOwner_ = nullptr;
  queuedRows_ = 0;
  PageFile& file = *file_;
  if (!file.inAtomic()) file.beginAtomic();
  try {
    if (w) w->commitQueued();
    file.commitAtomic();
  } catch (...) {
    undoWrite();
    throw;
  }
}

void FileDatabase::beginTransaction() {
  if (transaction_) throw Error(err::kInvalidOperation, "Invalid operation: a transaction is open already.");
  settle();
  ensureWritable();
  file_->beginAtomic();
  transaction_ = true;
  savepoints_.clear();
  transactionStart_ = file_->markScope();
}

void FileDatabase::commitTransaction() {
  if (!transaction_) throw Error(err::kInvalidOperation, "Invalid operation: no transaction is open.");
  settle();
  transaction_ = false;
  savepoints_.clear();
  try {
    file_->commitAtomic();
  } catch (...) {
    undoWrite();
    throw;
  }
}

void FileDatabase::rollbackTransaction() {
  if (!transaction_) return;
  transaction_ = false;
  savepoints_.clear();
  queueOwner_ = nullptr;
  queuedRows_ = 0;
  try {
    file_->rollbackAtomic();
  } catch (const Error& e) {
    damage_ = "a failed change could not be undone: " + e.description();
  }
  // Writers and definitions may hold what the transaction wrote.
  reloadState();
}

void FileDatabase::setSavepoint(size_t n) {
  if (!transaction_) throw Error(err::kInvalidOperation, "Invalid operation: no transaction is open.");
  settle();
  if (savepoints_.size() > n) savepoints_.resize(n);
  while (savepoints_.size() <= n) savepoints_.push_back(file_->markScope());
}

void FileDatabase::rollbackToSavepoint(size_t n) {
  if (!transaction_) throw Error(err::kInvalidOperation, "Invalid operation: no transaction is open.");
  queueOwner_ = nullptr;
  queuedRows_ = 0;
  // A savepoint set before the transaction's first write stands for its start.
  if (n < savepoints_.size()) {
    file_->rollbackToMark(savepoints_[n]);
    savepoints_.resize(n + 1);
  } else {
    file_->rollbackToMark(transactionStart_);
  }
  reloadState();
}

void FileDatabase::releaseSavepoint(size_t n) {
  if (savepoints_.size() > n) savepoints_.resize(n);
}

TableWriter& FileDatabase::writer(const std::string& name) {
  ensureWritable();
  // Row after row goes to the same table: its writer is found without a catalog search.
  if (lastWriter_ && name == lastWriterName_) return *lastWriter_;
  const uint32_t page = localTable(name).object.tdefPage;
  auto it = writers_.find(page);
  if (it == writers_.end()) {
    TableInfo info = table(name);
    Tdef& def = *defs_.at(page);  // read by table()
    it = writers_.emplace(page, std::make_unique<TableWriter>(*file_, def, std::move(info), codec_)).first;
  }
  lastWriter_ = it->second.get();
  lastWriterName_ = name;
  return *it->second;
}

RowId FileDatabase::insertRow(const std::string& table, std::vector<Value> values) {
  settle();
  if (!historiesOf(table).empty()) return insertRow(table, std::move(values), {});
  return atomicWrite([&] {
    checkInsert(table, values);
    return writer(table).insert(std::move(values));
  });
}

void FileDatabase::updateRow(const std::string& table, RowId row, std::vector<Value> values) {
  settle();
  if (!historiesOf(table).empty()) return updateRow(table, row, std::move(values), {});
  atomicWrite([&] { updateUnderRules(table, row, std::move(values)); });
}

const std::vector<FileDatabase::HistoryLink>& FileDatabase::historiesOf(const std::string& table) {
  // Row after row of the same table: found without a search.
  if (lastHistories_ && table == lastHistoriesName_) return *lastHistories_;
  auto found = histories_.find(table);
  if (found != histories_.end()) {
    lastHistoriesName_ = table;
    return *(lastHistories_ = &found->second);
  }
  std::vector<HistoryLink> links;
  if (!linkedSource(table)) {
    const TableInfo info = this->table(table);
    for (size_t h = 0; h < info.columns.size(); ++h) {
      if (info.columns[h].type != ColumnType::Complex || info.columns[h].complexKind != ComplexKind::VersionHistory)
        continue;
      // The history's memo column is named as the memo column it keeps the versions of.
      const ComplexData::Column& c = complex_.column(info.columns[h]);
      const std::vector<ColumnInfo> flat = this->table(c.flatTable).columns;
      if (c.layout.value < 0 || size_t(c.layout.value) >= flat.size()) continue;
      for (size_t m = 0; m < info.columns.size(); ++m)
        if (info.columns[m].type == ColumnType::Memo && sameName(info.columns[m].name, flat[size_t(c.layout.value)].name))
          links.push_back({m, h});
    }
  }
  lastHistoriesName_ = table;
  return *(lastHistories_ = &histories_.emplace(table, std::move(links)).first->second);
}

std::vector<ComplexChange> FileDatabase::newVersions(const std::string& table, const std::vector<Value>& values,
                                                     const std::vector<Value>* old,
                                                     const std::vector<ComplexChange>& given) {
  std::vector<ComplexChange> out;
  for (const HistoryLink& link : historiesOf(table)) {
    if (std::any_of(given.begin(), given.end(), [&](const ComplexChange& c) { return c.column == link.history; }))
      continue;
    const auto* text = link.memo < values.size() ? std::get_if<std::string>(&values[link.memo]) : nullptr;
    if (!text || text->empty()) continue;
    if (old && link.memo < old->size())
      if (const auto* was = std::get_if<std::string>(&(*old)[link.memo]); was && *was == *text) continue;
    ComplexChange change;
    change.column = link.history;
    change.value.kind = ComplexKind::VersionHistory;
    change.value.versions.push_back({*text, DateTime{sys::oleNow()}});
    out.push_back(std::move(change));
  }
  return out;
}

RowId FileDatabase::writeRow(const std::string& table, const RowId* row, std::vector<Value> values,
                             const std::vector<ComplexChange>& replace, const std::vector<ComplexChange>& append) {
  settle();
  int32_t key = 0;
  if (row) {
    key = complexKeyOf(table, *row);
    if (key == 0) throw Error(err::kCannotUpdateField, "Field cannot be updated: the row holds no complex key.");
  }
  std::vector<ComplexWrite> writes = prepareComplex(table, replace, row ? &key : nullptr);
  for (ComplexWrite& w : prepareComplex(table, append, nullptr)) writes.push_back(std::move(w));
  for (const ComplexWrite& w : writes) writer(w.flatTable);
  return atomicWrite([&] {
    RowId id;
    if (row) {
      id = *row;
      updateUnderRules(table, *row, std::move(values));
    } else {
      checkInsert(table, values);
      id = writer(table).insert(std::move(values));
      // The new row's key is the one the table's counter last gave.
      key = int32_t(tableDef(table).lastComplexKey);
    }
    writeComplex(writes, key);
    return id;
  });
}

std::vector<FileDatabase::ComplexWrite> FileDatabase::prepareComplex(const std::string& table,
                                                                      const std::vector<ComplexChange>& complex,
                                                                      const int32_t* key) {
  std::vector<ComplexWrite> out;
  const TableInfo info = this->table(table);
  for (const ComplexChange& change : complex) {
    if (change.column >= info.columns.size() || info.columns[change.column].type != ColumnType::Complex)
      throw Error(err::kUnknownField, "Item not found in this collection: the field is no complex field.");
    const ComplexData::Column& c = complex_.column(info.columns[change.column]);
    ComplexWrite w;
    w.flatTable = c.flatTable;
    w.layout = c.layout;
    w.width = this->table(c.flatTable).columns.size();
    w.value = &change.value;
    // Refused here, before anything is written, when the value does not suit the column.
    complexRows(w.layout, w.width, 0, change.value);
    if (key) w.replaced = complexRowsOf(*this, c, {*key});
    out.push_back(std::move(w));
  }
  return out;
}

void FileDatabase::writeComplex(const std::vector<ComplexWrite>& writes, int32_t key) {
  for (const ComplexWrite& w : writes) {
    TableWriter& flat = writer(w.flatTable);
    if (!w.replaced.empty()) flat.removeMany(w.replaced);
    for (std::vector<Value>& row : complexRows(w.layout, w.width, key, *w.value)) flat.insert(std::move(row));
  }
}

RowId FileDatabase::insertRow(const std::string& table, std::vector<Value> values,
                              const std::vector<ComplexChange>& complex) {
  settle();
  const std::vector<ComplexChange> versions = newVersions(table, values, nullptr, complex);
  if (complex.empty() && versions.empty())
    return atomicWrite([&] {
      checkInsert(table, values);
      return writer(table).insert(std::move(values));
    });
  return writeRow(table, nullptr, std::move(values), complex, versions);
}

void FileDatabase::updateRow(const std::string& table, RowId row, std::vector<Value> values,
                             const std::vector<ComplexChange>& complex) {
  settle();
  std::vector<ComplexChange> versions;
  if (!historiesOf(table).empty()) {
    const std::vector<Value> old = storedRow(table, row);
    versions = newVersions(table, values, &old, complex);
  }
  if (complex.empty() && versions.empty()) return atomicWrite([&] { updateUnderRules(table, row, std::move(values)); });
  writeRow(table, &row, std::move(values), complex, versions);
}

void FileDatabase::deleteRow(const std::string& table, RowId row) {
  settle();
  // The row's attachments and multiple values go with it, in the same change.
  const auto hidden = hiddenRowsOf(table, {row});
  atomicWrite([&] { removeUnderRules(table, row, hidden); });
}

void FileDatabase::deleteRows(const std::string& table, const std::vector<RowId>& rows) {
  settle();
  const auto hidden = hiddenRowsOf(table, rows);
  atomicWrite([&] {
    // Rows that other rows may refer to go one by one, each with its cascades.
    if (!integrity().empty()) {
      for (const RowId& r : rows) removeUnderRules(table, r, {});
    } else {
      writer(table).removeMany(rows);
    }
    for (const auto& [flat, rows] : hidden)
      if (!rows.empty()) writer(flat).removeMany(rows);
  });
}

RowId FileDatabase::queueInsert(const std::string& table, std::vector<Value> values) {
  return queueInsertReusing(table, values);
}

RowId FileDatabase::queueInsertReusing(const std::string& table, std::vector<Value>& values) {
  // A row that starts an append-only memo's history is written on its own, with its first version.
  // The caller keeps its vector for the next row, so this rare path takes a copy.
  if (!historiesOf(table).empty() && !newVersions(table, values, nullptr, {}).empty()) {
    settle();
    return insertRow(table, values, {});
  }
  TableWriter& w = writer(table);  // writable, or it throws
  if (queueOwner_ && queueOwner_ != &w) settle();
  // The scope stays open from the first queued row until settle(), so that a bulk load commits
  // (and forces to the disk) once per kBatchRows rows while the writer stages smaller batches.
  if (!file_->inAtomic()) file_->beginAtomic();
  queueOwner_ = &w;
  RowId id;
  try {
    {
      // The rules read definitions; the queue's open scope stays open meanwhile.
      const bool was = writing_;
      writing_ = true;
      struct Restore {
        bool& flag;
        bool value;
        ~Restore() { flag = value; }
      } restore{writing_, was};
      checkInsert(table, values);
    }
    id = w.queueInsertReusing(values);
  } catch (const Error& e) {
    // A refused row leaves the rows before it queued; anything worse undoes the whole batch.
    if (e.number() == err::kIoError || e.number() == err::kDiskFull) {
      queueOwner_ = nullptr;
      queuedRows_ = 0;
      undoWrite();
    }
    throw;
  }
  ++queuedRows_;
  return id;
}

void FileDatabase::commitQueued() { settle(); }

size_t FileDatabase::queuedRows() const { return queuedRows_; }

bool FileDatabase::queueFull() const { return queuedRows() >= TableWriter::kBatchRows; }

int32_t FileDatabase::nextAutoNumber(const std::string& table) {
  settle();
  return int32_t(tableDef(table).nextAutoNumber + 1);
}

}  // namespace jet
