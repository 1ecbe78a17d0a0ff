// The engine's Database over one open file: the header, the page file, the catalog, and a cache of
// table definitions by name. It assumes it is the file's only user; SharedDatabase
// (shared_database.h) wraps it in the page file's locking protocol for files programs share.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "jet/base/text_codec.h"
#include "jet/catalog/catalog.h"
#include "jet/complex_data.h"
#include "jet/database.h"
#include "jet/rules/integrity.h"
#include "jet/rules/table_rules.h"
#include "jet/storage/header.h"
#include "jet/storage/page_file.h"
#include "jet/table/table_def.h"
#include "jet/table/table_writer.h"

namespace jet {

class FileDatabase : public Database, private RowStore {
 public:
  FileDatabase(const std::string& path, const OpenOptions& options);
  ~FileDatabase() override;

  FileVersion version() const override { return header_.version; }
  Format format() const override { return header_.format; }
  uint32_t pageSize() const override { return header_.pageSize; }
  uint16_t codePage() const override { return header_.codePage; }
  uint16_t sortOrder() const override { return header_.sortOrder; }
  uint32_t pageCount() const override { return file_->pageCount(); }
  bool readOnly() const override { return file_->readOnly(); }
  const std::string& path() const override { return path_; }

  std::vector<CatalogObject> objects() override;
  TableInfo table(const std::string& name) override;
  std::unique_ptr<TableCursor> openTable(const std::string& name) override;
  std::unique_ptr<ComplexValues> complexValues(const std::string& table, const std::string& column) override;

  void createTable(const NewTable& outline) override;
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
  size_t queuedRows() const override;
  bool queueFull() const override;
  int32_t nextAutoNumber(const std::string& table) override;
  void beginTransaction() override;
  void commitTransaction() override;
  void rollbackTransaction() override;
  bool inTransaction() const override { return transaction_; }
  void setSavepoint(size_t n) override;
  void rollbackToSavepoint(size_t n) override;
  void releaseSavepoint(size_t n) override;
  std::vector<Value> defaultValues(const std::string& table) override;

  CheckReport check() override;
  void close() override;

  // Layers underneath, for the engine's other parts (indexes, schema writing, checks).
  PageFile& pageFile() { return *file_; }
  TextCodec& codec() { return codec_; }
  const Header& header() const { return header_; }
  Catalog& catalog() { return catalog_; }
  // Forgets what was read from the file (after another program's commit).
  void dropCaches() { reloadState(); }
  // The definition of a local table (cached); 3078 when there is none.
  const Tdef& tableDef(const std::string& name);

 private:
  PageFile& open();
  template <typename F>
  void changeSchema(F&& change);
  // Runs one write operation all-or-nothing: refused on a read-only or damaged file, and undone
  // on the file (and in the cached state) when it fails after writing part of its pages.
  template <typename F>
  auto atomicWrite(F&& write) -> decltype(write());
  // After a failed write: drops the file's open scope and, when it had written anything, rereads
  // the cached state (a scope that cannot be undone marks the database damaged).
  void undoWrite();
  // Refuses writing unless the file is writable and its structure sound (checked once per open).
  void ensureWritable();
  // Forgets the writers and definitions and reads the catalog again.
  void reloadState();
  TableWriter& writer(const std::string& name);
  // Commits the queued rows before any other use of the database.
  void settle();
  const CatalogEntry& localTable(const std::string& name);
  // A linked table's source database (opened read-only on first use, kept until close) and the
  // table's name there; nothing for a table of this file or an unknown name.
  struct LinkedSource {
    Database* db;
    std::string table;      // in the source
    std::string localName;  // the link's own name
  };
  std::optional<LinkedSource> linkedSource(const std::string& name);
  // The hidden rows that hold the complex values of these rows of a local table, by hidden table.
  std::map<std::string, std::vector<RowId>> hiddenRowsOf(const std::string& table, const std::vector<RowId>& rows);
  // A complex value to write: the hidden table, its layout and width, and the rows it replaces.
  struct ComplexWrite {
    std::string flatTable;
    ComplexLayout layout;
    size_t width = 0;
    std::vector<RowId> replaced;
    const ComplexValue* value = nullptr;
  };
  // Finds each change's hidden table (before any writing: reading the catalog then is safe);
  // with `key` (the row's key) the row's old hidden rows of each column are replaced.
  std::vector<ComplexWrite> prepareComplex(const std::string& table, const std::vector<ComplexChange>& complex,
                                           const int32_t* key);
  // An append-only memo and the version-history column that keeps each value it is saved with.
  struct HistoryLink {
    size_t memo;
    size_t history;
  };
  const std::vector<HistoryLink>& historiesOf(const std::string& table);
  // The versions a write adds: the new text of each append-only memo it changes, saved now
  // (none for a history the caller writes itself).
  std::vector<ComplexChange> newVersions(const std::string& table, const std::vector<Value>& values,
                                         const std::vector<Value>* old, const std::vector<ComplexChange>& given);
  // Inserts or updates a row with complex values: `replace` changes replace a column's values,
  // `append` ones add to them.
  RowId writeRow(const std::string& table, const RowId* row, std::vector<Value> values,
                 const std::vector<ComplexChange>& replace, const std::vector<ComplexChange>& append);
  // Inside a write: removes the replaced hidden rows and adds the new ones under `key`.
  void writeComplex(const std::vector<ComplexWrite>& writes, int32_t key);
  // The rules of a table's rows (cached by the name asked for) and the enforced relationships.
  const TableRules& rulesOf(const std::string& table);
  Integrity& integrity();
  // A row about to be inserted: its calculated values computed, its validation rules and the
  // relationships it takes part in checked (throws when it is refused).
  void checkInsert(const std::string& table, std::vector<Value>& values);
  // Inside a write: an update or a delete with every rule applied and every cascade carried out.
  void updateUnderRules(const std::string& table, RowId row, std::vector<Value> values);
  void removeUnderRules(const std::string& table, RowId row, const std::map<std::string, std::vector<RowId>>& hidden);
  // The rows as referential integrity reads and changes them.
  const TableInfo& describe(const std::string& table) override;
  std::vector<RowId> find(const std::string& table, const std::vector<size_t>& fields,
                          const std::vector<Value>& row) override;
  std::vector<Value> read(const std::string& table, RowId row) override;
  void update(const std::string& table, RowId row, std::vector<Value> values) override;
  void remove(const std::string& table, RowId row) override;
  // A stored row's values, long values read.
  std::vector<Value> storedRow(const std::string& table, RowId row);
  // The complex key a stored row holds (0 when it has none).
  int32_t complexKeyOf(const std::string& table, RowId row);

  std::string path_;
  Header header_;  // filled while the page file is opened, so declared before it
  std::unique_ptr<PageFile> file_;
  TextCodec codec_;
  Catalog catalog_;
  ComplexData complex_{*this};
  std::map<uint32_t, std::unique_ptr<Tdef>> defs_;  // by definition page
  // One writer per table written to, by definition page; they refer to defs_, so they go first.
  std::map<uint32_t, std::unique_ptr<TableWriter>> writers_;
  TableWriter* queueOwner_ = nullptr;  // the writer holding queued rows
  size_t queuedRows_ = 0;              // rows queued since the open scope began
  TableWriter* lastWriter_ = nullptr;  // the writer last asked for, by the name it was asked by
  std::string lastWriterName_;
  std::map<std::string, std::unique_ptr<Database>> linked_;  // source databases of linked tables, by path
  bool structureChecked_ = false;
  bool writing_ = false;  // inside atomicWrite: settle() must not commit the open scope
  bool transaction_ = false;  // a transaction holds the open scope until it commits or rolls back
  std::vector<PageFile::ScopeMark> savepoints_;
  PageFile::ScopeMark transactionStart_;
  std::map<std::string, std::vector<HistoryLink>> histories_;  // by the name asked for
  const std::vector<HistoryLink>* lastHistories_ = nullptr;    // the entry last asked for, by this name
  std::string lastHistoriesName_;
  std::map<std::string, std::unique_ptr<TableRules>> rules_;  // by the name asked for
  const TableRules* lastRules_ = nullptr;
  std::string lastRulesName_;
  std::unique_ptr<Integrity> integrity_;  // read on first use
  std::map<uint32_t, TableInfo> infos_;   // by definition page, for integrity
  std::string damage_;  // why writing is refused ("" while writing is allowed)
};

}  // namespace jet
