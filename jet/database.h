// The engine's front door: one open database file (.mdb or .accdb), its catalog, its tables and their
// rows.
//
// Layers underneath, each a folder of its own that includes only the ones before it: base (values,
// errors, text) -> expr (expressions) -> storage (the page file with its journal, data pages, usage
// maps, long values) -> index (keys and trees) -> table (definitions, the row codec, scans and
// writes) -> catalog (system tables, schema changes) -> rules (what rows must obey) -> this door.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/check_report.h"
#include "jet/base/complex_value.h"
#include "jet/base/database_options.h"
#include "jet/base/error.h"
#include "jet/base/file_version.h"
#include "jet/base/jet_user.h"
#include "jet/base/row_id.h"
#include "jet/base/schema.h"
#include "jet/base/value.h"

namespace jet {

class Database;

// A complex column's new value in a row (by the column's position in the table): the row's
// attachments, the values of its multi-valued field or the versions of its history, in order.
// Writing it replaces whatever the row held in that column.
struct ComplexChange {
  size_t column = 0;
  ComplexValue value;
};

// The values of one complex column (attachments, a multi-valued field, a version history), read
// from the column's hidden table on first use and then found by the key a row holds in the column.
class ComplexValues {
 public:
  virtual ~ComplexValues() = default;
  // The value of the row whose column holds `key`: empty for Null and for a key without rows.
  virtual const ComplexValue& of(const Value& key) = 0;
};

// Reads a table's rows in stored order (page by page, then row by row on each page) and writes
// through to the table. Streaming: memory does not grow with the table.
class TableCursor {
 public:
  virtual ~TableCursor() = default;
  virtual const TableInfo& table() const = 0;
  // Advances to the next live row; false at the end.
  virtual bool next() = 0;
  virtual RowId rowId() const = 0;
  // The current row, one value per column in field order. Long values are read when asked for.
  virtual const std::vector<Value>& values() = 0;
  // Back to before the first row.
  virtual void rewind() = 0;
};

// A read operation spanning several calls (see Database::readOperation()).
class ReadOperation {
 public:
  virtual ~ReadOperation() = default;
};

// Any number of programs may have one file open and read and write it. Each call is one operation:
// a read sees one committed state, a write waits for its turn (up to the busy timeout, then 3260)
// and is in the file, for everyone, when it returns. When another program has committed, the next
// call notices and reads afresh (generation() counts up); a cursor read across such a commit goes
// on after its last row, in the new state. While a Jet program other than ours (Access) has the
// file open, every write fails at once with 3260 naming it.
class Database {
 public:
  virtual ~Database() = default;

  // Opens an existing file. Throws Error 3024 (missing), 3343 (not a database of a version the engine
  // knows), 3031 (password; an encrypted .accdb), 3051 (cannot open / locked), 3049 (damaged).
  static std::unique_ptr<Database> open(const std::string& path, const OpenOptions& options = {});
  // Creates a new empty database; Error 3204 when the path exists.
  static std::unique_ptr<Database> create(const std::string& path, const CreateOptions& options = {});
  // Writes a compacted copy of source into destination (which must not exist). The source is
  // opened with `password`; the copy keeps the source's header, its password included.
  static void compact(const std::string& source, const std::string& destination, const std::string& password = "");
  // Whether the file at `path` asks for its database password before it opens: false when a whole
  // header cannot be read from it; a header of no known version throws as open does.
  static bool needsPassword(const std::string& path);
  // Whether each commit waits until the disk holds it (the default; off with TABULONIX_NO_SYNC=1).
  // One setting for the whole process: off, a commit survives the program being killed, not the
  // power failing.
  static void setSyncToDisk(bool on);
  static bool syncToDisk();

  // The engine version the file belongs to, and the page layout that version uses.
  virtual FileVersion version() const = 0;
  virtual Format format() const = 0;
  virtual uint32_t pageSize() const = 0;
  virtual uint16_t codePage() const = 0;
  virtual uint16_t sortOrder() const = 0;
  virtual uint32_t pageCount() const = 0;
  virtual bool readOnly() const = 0;
  virtual const std::string& path() const = 0;

  // Every catalog object in catalog order (the order of the object model's TableDefs walk).
  virtual std::vector<CatalogObject> objects() = 0;
  // A table's definition by name (case-insensitive). Error 3078 when there is none.
  virtual TableInfo table(const std::string& name) = 0;
  virtual std::unique_ptr<TableCursor> openTable(const std::string& name) = 0;
  // The values of a table's complex column. Errors: 3078 no such table, 3265 no complex column of
  // that name, 3049 when the column's hidden tables cannot be found.
  virtual std::unique_ptr<ComplexValues> complexValues(const std::string& table, const std::string& column) {
    throw Error(err::kUnknownField, "Item not found in this collection.");
  }

  // Writing. Each call is complete when it returns: the file on disk is consistent.
  virtual void createTable(const NewTable& table) = 0;
  virtual void renameTable(const std::string& oldName, const std::string& newName) = 0;
  virtual void dropTable(const std::string& name) = 0;
  // Values are in field order; auto-number columns are assigned by the engine (their value is
  // ignored). Returns the new row's address.
  virtual RowId insertRow(const std::string& table, std::vector<Value> values) = 0;
  virtual void updateRow(const std::string& table, RowId row, std::vector<Value> values) = 0;
  // The same, with the values of complex columns written to their hidden tables in the same
  // all-or-nothing change (the hidden rows a changed column held before are removed). Errors:
  // 3265 a position that is no complex column, 3164 a column of a kind that cannot be written,
  // 3049 when the column's hidden tables cannot be found.
  virtual RowId insertRow(const std::string& table, std::vector<Value> values, const std::vector<ComplexChange>& complex) {
    if (!complex.empty()) throw Error(err::kCannotUpdateField, "Field cannot be updated.");
    return insertRow(table, std::move(values));
  }
  virtual void updateRow(const std::string& table, RowId row, std::vector<Value> values,
                         const std::vector<ComplexChange>& complex) {
    if (!complex.empty()) throw Error(err::kCannotUpdateField, "Field cannot be updated.");
    updateRow(table, row, std::move(values));
  }
  virtual void deleteRow(const std::string& table, RowId row) = 0;
  // Deletes distinct rows of one table in one commit (all or none): much faster than one
  // deleteRow per row. 3001 when a row is named twice.
  virtual void deleteRows(const std::string& table, const std::vector<RowId>& rows) {
    for (const RowId& r : rows) deleteRow(table, r);
  }
  // Bulk loading: rows queued for one table are written together, a batch at a time, which is
  // much faster than one insertRow per row. A refused row throws and leaves the batch as it was
  // (the rows queued before it stay queued). commitQueued() writes the batch; so does every other
  // call on the database, and close(). Commit once queueFull() says so to keep memory bounded.
  virtual RowId queueInsert(const std::string& table, std::vector<Value> values) {
    return insertRow(table, std::move(values));
  }
  // The same, taking the row from `values` and leaving there a row to fill again: the storage of a
  // row written earlier (its values stale) or an empty row. Saves a long load its allocations.
  virtual RowId queueInsertReusing(const std::string& table, std::vector<Value>& values) {
    RowId id = queueInsert(table, std::move(values));
    values.clear();
    return id;
  }
  virtual void commitQueued() {}
  virtual size_t queuedRows() const { return 0; }
  virtual bool queueFull() const { return false; }
  // Records a relationship between two tables (its rows in MSysRelationships and its catalog
  // object). An enforced one also gets Jet's index pair: a foreign-key index on the foreign table
  // and a hidden one on the primary table, each naming the other, as Access keeps them.
  // Unless attributes include kRelationDontEnforce, every later write keeps it: 3201 for a
  // row that refers to no primary row, 3200 for deleting or re-keying a primary row that has
  // related rows, cascades where the attributes ask for them. Errors: 3011 a table not found, 3265
  // a field not found, 3264 no fields, 3368 fields of different types, 3012 the name is taken, 3125
  // an invalid name, 3609 an enforced one without a unique index on the primary fields, 3379 rows
  // that already break it. A table in a relationship cannot be deleted (3303); renaming it renames
  // it in the relationship too.
  virtual void createRelationship(const NewRelationship& relationship) {
    throw Error(err::kInvalidOperation, "Invalid operation.");
  }
  // Transactions: from beginTransaction() to commitTransaction() every write joins one
  // all-or-nothing change of the file; rollbackTransaction() gives it up and leaves the file as it
  // was, byte for byte. Outside a transaction each write is its own change. Savepoints mark
  // points inside a transaction: rollbackToSavepoint(n) undoes what was written since savepoint n
  // was set (keeping n), releaseSavepoint(n) forgets n and those after it. Errors: 3219 a
  // transaction already open (begin) or none open (commit, savepoints), 3027 a read-only file.
  virtual void beginTransaction() { throw Error(err::kInvalidOperation, "Invalid operation."); }
  virtual void commitTransaction() { throw Error(err::kInvalidOperation, "Invalid operation."); }
  virtual void rollbackTransaction() {}
  virtual bool inTransaction() const { return false; }
  virtual void setSavepoint(size_t n) { throw Error(err::kInvalidOperation, "Invalid operation."); }
  virtual void rollbackToSavepoint(size_t n) { throw Error(err::kInvalidOperation, "Invalid operation."); }
  virtual void releaseSavepoint(size_t n) {}
  // A new row of the table before any field is given: each field's default value, Null where it has
  // none (and for auto-numbers and calculated columns, which the engine fills). Callers that add
  // rows start from it, so that the fields a row leaves out take their defaults. 3075 for a
  // default the engine cannot evaluate.
  virtual std::vector<Value> defaultValues(const std::string& table) {
    return std::vector<Value>(this->table(table).columns.size(), Null{});
  }
  // The next auto-number the table would give (for display before an insert).
  virtual int32_t nextAutoNumber(const std::string& table) = 0;

  // One read operation over several calls (an export, a check, a grid fill): while the returned
  // object lives, other programs' commits wait, and every call sees the same committed state.
  // Writes of this program inside it do not wait for their turn: they fail at once with 3260 when
  // another program is writing.
  virtual std::unique_ptr<ReadOperation> readOperation() { return std::make_unique<ReadOperation>(); }
  // The writer's turn over several calls (waited for as a write waits): what is read in it is
  // what its writes change. The writes commit one by one as usual.
  virtual std::unique_ptr<ReadOperation> writeOperation() { return std::make_unique<ReadOperation>(); }
  // How many times the file was found changed by another program since it was opened.
  virtual uint64_t generation() const { return 0; }
  // A Jet program other than ours (Access) that has the file open, by its lock file entry.
  virtual std::optional<JetUser> otherJetUser() { return std::nullopt; }

  // Verifies the whole file and names every problem found.
  virtual CheckReport check() = 0;
  virtual void close() = 0;
};

}  // namespace jet
