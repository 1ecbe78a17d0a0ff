#include "jet/shared_database.h"

namespace jet {

// One operation on the page file: a read, or a write (the writer's turn). The cached state is
// dropped first when the file was found changed.
class SharedDatabase::Operation : public ReadOperation {
 public:
  Operation(SharedDatabase& db, bool write) : db_(db), write_(write) {
    if (db.closed_) return;
    file_ = &db.impl_->pageFile();
    if (write) file_->beginWrite();
    else file_->beginRead();
    if (file_->generation() != db.seen_) {
      try {
        db.impl_->dropCaches();
      } catch (...) {
        end();
        throw;
      }
      db.seen_ = file_->generation();
      ++db.generation_;
    }
  }
  ~Operation() override { end(); }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

 private:
  void end() {
    if (!file_ || db_.closed_) return;
    if (write_) file_->endWrite();
    else file_->endRead();
    file_ = nullptr;
  }

  SharedDatabase& db_;
  bool write_;
  PageFile* file_ = nullptr;
};

// A cursor that reads one step at a time as an operation of its own. When another program has
// committed in between, it opens the table again and goes on after the row it read last (stored
// order is by page, then row).
class SharedDatabase::Cursor : public TableCursor {
 public:
  Cursor(SharedDatabase& db, std::string name, std::unique_ptr<TableCursor> inner)
      : db_(db), name_(std::move(name)), inner_(std::move(inner)), info_(inner_->table()), seen_(db.generation_) {}

  const TableInfo& table() const override { return info_; }

  bool next() override {
    Operation op(db_, false);
    if (seen_ != db_.generation_) reopen();
    if (ahead_) {
      ahead_ = false;
    } else if (!inner_->next()) {
      at_ = false;
      return false;
    }
    at_ = true;
    last_ = inner_->rowId();
    return true;
  }

  RowId rowId() const override { return last_; }

  const std::vector<Value>& values() override {
    Operation op(db_, false);
    if (seen_ != db_.generation_) {
      reopen();
      if (ahead_ || !at_) throw Error(err::kRecordDeleted, "Record is deleted.");
    }
    if (!at_) throw Error(err::kNoCurrentRecord, "No current record.");
    return inner_->values();
  }

  void rewind() override {
    Operation op(db_, false);
    if (seen_ != db_.generation_) {
      inner_ = db_.impl_->openTable(name_);
      seen_ = db_.generation_;
    } else {
      inner_->rewind();
    }
    at_ = ahead_ = false;
  }

 private:
  static bool before(const RowId& a, const RowId& b) { return a.page != b.page ? a.page < b.page : a.row < b.row; }

  // Inside an operation: the table afresh, positioned on the first row at or after the last one
  // read (ahead_: that row is read but not yet handed out).
  void reopen() {
    inner_ = db_.impl_->openTable(name_);
    info_ = inner_->table();
    seen_ = db_.generation_;
    ahead_ = false;
    if (!at_) return;
    while (inner_->next()) {
      if (before(inner_->rowId(), last_)) continue;
      ahead_ = before(last_, inner_->rowId());  // else on the last row: next() moves on from it
      return;
    }
    at_ = false;
  }

  SharedDatabase& db_;
  std::string name_;
  std::unique_ptr<TableCursor> inner_;
  TableInfo info_;
  uint64_t seen_;
  RowId last_{};
  bool at_ = false;     // a row was read and not passed
  bool ahead_ = false;  // inner_ stands on a row next() has not handed out yet
};

SharedDatabase::SharedDatabase(std::unique_ptr<FileDatabase> impl, const OpenOptions& options)
    : impl_(std::move(impl)) {
  impl_->pageFile().setBusyTimeout(options.busyTimeoutMs);
  seen_ = impl_->pageFile().generation();
}

template <typename F>
auto SharedDatabase::reading(F&& f) -> decltype(f()) {
  Operation op(*this, false);
  return f();
}

template <typename F>
auto SharedDatabase::writing(F&& f) -> decltype(f()) {
  if (closed_ || impl_->readOnly()) return f();  // the engine gives the refusal
  Operation op(*this, true);
  return f();
}

std::vector<CatalogObject> SharedDatabase::objects() {
  return reading([&] { return impl_->objects(); });
}
TableInfo SharedDatabase::table(const std::string& name) {
  return reading([&] { return impl_->table(name); });
}
std::unique_ptr<TableCursor> SharedDatabase::openTable(const std::string& name) {
  return reading([&]() -> std::unique_ptr<TableCursor> {
    auto inner = impl_->openTable(name);
    if (closed_) return inner;
    return std::make_unique<Cursor>(*this, name, std::move(inner));
  });
}
std::unique_ptr<ComplexValues> SharedDatabase::complexValues(const std::string& table, const std::string& column) {
  return reading([&] { return impl_->complexValues(table, column); });
}
int32_t SharedDatabase::nextAutoNumber(const std::string& table) {
  return reading([&] { return impl_->nextAutoNumber(table); });
}
CheckReport SharedDatabase::check() {
  return reading([&] { return impl_->check(); });
}
std::unique_ptr<ReadOperation> SharedDatabase::readOperation() { return std::make_unique<Operation>(*this, false); }
std::unique_ptr<ReadOperation> SharedDatabase::writeOperation() {
  return std::make_unique<Operation>(*this, !closed_ && !impl_->readOnly());
}

std::optional<JetUser> SharedDatabase::otherJetUser() {
  if (closed_) return std::nullopt;
  return impl_->pageFile().foreignUser();
}

void SharedDatabase::createTable(const NewTable& table) {
  writing([&] { impl_->createTable(table); });
}
void SharedDatabase::renameTable(const std::string& oldName, const std::string& newName) {
  writing([&] { impl_->renameTable(oldName, newName); });
}
void SharedDatabase::dropTable(const std::string& name) {
  writing([&] { impl_->dropTable(name); });
}
void SharedDatabase::createRelationship(const NewRelationship& relationship) {
  writing([&] { impl_->createRelationship(relationship); });
}
RowId SharedDatabase::insertRow(const std::string& table, std::vector<Value> values) {
  return writing([&] { return impl_->insertRow(table, std::move(values)); });
}
void SharedDatabase::updateRow(const std::string& table, RowId row, std::vector<Value> values) {
  writing([&] { impl_->updateRow(table, row, std::move(values)); });
}
RowId SharedDatabase::insertRow(const std::string& table, std::vector<Value> values,
                                const std::vector<ComplexChange>& complex) {
  return writing([&] { return impl_->insertRow(table, std::move(values), complex); });
}
void SharedDatabase::updateRow(const std::string& table, RowId row, std::vector<Value> values,
                               const std::vector<ComplexChange>& complex) {
  writing([&] { impl_->updateRow(table, row, std::move(values), complex); });
}
void SharedDatabase::deleteRow(const std::string& table, RowId row) {
  writing([&] { impl_->deleteRow(table, row); });
}
void SharedDatabase::deleteRows(const std::string& table, const std::vector<RowId>& rows) {
  writing([&] { impl_->deleteRows(table, rows); });
}
RowId SharedDatabase::queueInsert(const std::string& table, std::vector<Value> values) {
  return writing([&] { return impl_->queueInsert(table, std::move(values)); });
}
RowId SharedDatabase::queueInsertReusing(const std::string& table, std::vector<Value>& values) {
  return writing([&] { return impl_->queueInsertReusing(table, values); });
}
void SharedDatabase::commitQueued() {
  writing([&] { impl_->commitQueued(); });
}

// A transaction holds the writer's turn from its start to its end (the page file's atomic scope).
void SharedDatabase::beginTransaction() {
  writing([&] { impl_->beginTransaction(); });
}
void SharedDatabase::commitTransaction() {
  writing([&] { impl_->commitTransaction(); });
}
void SharedDatabase::rollbackTransaction() {
  if (impl_->inTransaction()) writing([&] { impl_->rollbackTransaction(); });
}
void SharedDatabase::setSavepoint(size_t n) {
  writing([&] { impl_->setSavepoint(n); });
}
void SharedDatabase::rollbackToSavepoint(size_t n) {
  writing([&] { impl_->rollbackToSavepoint(n); });
}
std::vector<Value> SharedDatabase::defaultValues(const std::string& table) {
  return reading([&] { return impl_->defaultValues(table); });
}

void SharedDatabase::close() {
  if (closed_) return impl_->close();
  closed_ = true;
  impl_->close();  // queued rows still hold the writer's turn
}

}  // namespace jet
