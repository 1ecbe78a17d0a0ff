// The Database as programs share it: every call of the engine's FileDatabase runs as one read or
// write operation of the page file's locking protocol, and the cached catalog and definitions are
// dropped when the page file has found another program's commit. Cursors take a read operation
// per step; one read across another program's commit goes on after its last row.
#pragma once

#include <memory>

#include "jet/database.h"
#include "jet/file_database.h"

namespace jet {

class SharedDatabase : public Database {
 public:
  SharedDatabase(std::unique_ptr<FileDatabase> impl, const OpenOptions& options);

  FileVersion version() const override { return impl_->version(); }
  Format format() const override { return impl_->format(); }
  uint32_t pageSize() const override { return impl_->pageSize(); }
  uint16_t codePage() const override { return impl_->codePage(); }
  uint16_t sortOrder() const override { return impl_->sortOrder(); }
  uint32_t pageCount() const override { return impl_->pageCount(); }
  bool readOnly() const override { return impl_->readOnly(); }
  const std::string& path() const override { return impl_->path(); }

  std::vector<CatalogObject> objects() override;
  TableInfo table(const std::string& name) override;
  std::unique_ptr<TableCursor> openTable(const std::string& name) override;
  std::unique_ptr<ComplexValues> complexValues(const std::string& table, const std::string& column) override;

  void createTable(const NewTable& table) override;
  void renameTable(const std::string& oldName, const std::string& newName) override;
  void dropTable(const std::string& name) override;
  void createRelationship(const NewRelationship& relationship) override;
  RowId insertRow(const std::string& table, std::vector<Value> values) override;
  void updateRow(const std::string& table, RowId row, std::vector<Value> values) override;
  RowId insertRow(const std::string& table, std::vector<Value> values, const std::vector<ComplexChange>& complex) override;
  void updateRow(const std::string& table, RowId row, std::vector<Value> values,
                 const std::vector<ComplexChange>& complex) override;
  void deleteRow(const std::string& table, RowId row) override;
  void deleteRows(const std::string& table, const std::vector<RowId>& rows) override;
  RowId queueInsert(const std::string& table, std::vector<Value> values) override;
  RowId queueInsertReusing(const std::string& table, std::vector<Value>& values) override;
  void commitQueued() override;
  size_t queuedRows() const override { return impl_->queuedRows(); }
  bool queueFull() const override { return impl_->queueFull(); }
  int32_t nextAutoNumber(const std::string& table) override;

  std::unique_ptr<ReadOperation> readOperation() override;
  std::unique_ptr<ReadOperation> writeOperation() override;
  uint64_t generation() const override { return generation_; }
  std::optional<JetUser> otherJetUser() override;

  void beginTransaction() override;
  void commitTransaction() override;
  void rollbackTransaction() override;
  bool inTransaction() const override { return impl_->inTransaction(); }
  void setSavepoint(size_t n) override;
  void rollbackToSavepoint(size_t n) override;
  void releaseSavepoint(size_t n) override { impl_->releaseSavepoint(n); }
  std::vector<Value> defaultValues(const std::string& table) override;

  CheckReport check() override;
  void close() override;

  // The engine beneath, for a layer that reads pages itself (the SQL bridge's index seeks): it
  // holds a readOperation() (or a transaction) around every such read.
  FileDatabase& local() { return *impl_; }

 private:
  class Operation;
  class Cursor;
  template <typename F>
  auto reading(F&& f) -> decltype(f());
  template <typename F>
  auto writing(F&& f) -> decltype(f());

  std::unique_ptr<FileDatabase> impl_;
  bool closed_ = false;
  uint64_t seen_ = 0;        // the page file's generation the cached state belongs to
  uint64_t generation_ = 0;  // changes noticed
};

}  // namespace jet
