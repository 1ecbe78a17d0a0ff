// What the SQL connection's virtual tables share: the engine's database, the user tables as the
// connection shows them (their descriptions, the real indexes a statement can seek, the readers
// of complex columns), and the engine transaction that SQLite's transactions drive.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/schema.h"
#include "jet/database.h"
#include "jet/index/index.h"
#include "jet/table/table_def.h"

struct sqlite3;

namespace jet {
class FileDatabase;
}

namespace sql {

struct BridgeTable {
  jet::TableInfo info;
  bool linked = false;
  // The real indexes of a local table whose keys this engine computes (none for a linked table).
  std::vector<jet::IndexOutline> indexes;
  // For each index, whether it is unique and none of its columns may be Null (a full-key
  // equality then finds at most one row).
  std::vector<bool> uniqueKey;
  // Readers of the complex columns, by column (empty where a column is not complex), made on first
  // use and dropped when the values may have changed: by a write of this connection, or when
  // another program's commit changed the file's generation.
  std::vector<std::unique_ptr<jet::ComplexValues>> complex;
  uint64_t complexGeneration = 0;
  // The local table's definition as the scans and rows of its cursors read with it (see
  // Bridge::definition).
  std::shared_ptr<const jet::Tdef> definition;
  uint64_t definitionGeneration = 0;
};

class Bridge {
 public:
  explicit Bridge(std::unique_ptr<jet::Database> db);
  ~Bridge();

  jet::Database& db() { return *db_; }
  // The engine underneath for reading rows by address and seeking indexes; nullptr when the
  // database is of another kind.
  jet::FileDatabase* local() { return local_; }

  std::vector<BridgeTable>& tables() { return tables_; }
  // Reads the catalog's user tables again (after a change of the schema).
  void loadTables();
  // Reads one user table's description again after it was made or replaced: into the slot of the
  // table of that name, or a new slot. Returns the slot (the number its virtual table is declared
  // with). 3078 when the file has no such table.
  size_t reloadTable(const std::string& name);
  // A local table's definition, a copy of the engine's that lives as long as the cursors holding
  // it: the engine drops its own when it reads the catalog again (another program's commit, a
  // schema change, a rollback, a failed write), which may come while a cursor is open. Taken
  // afresh when another program's commit has been noticed.
  std::shared_ptr<const jet::Tdef> definition(BridgeTable& t);
  // The complex column's value of a row as the export's JSON.
  std::string complexJson(BridgeTable& t, size_t column, const jet::Value& key);

  // A stored row's values (long values read), by its address. Throws 3167 for a deleted row.
  std::vector<jet::Value> storedRow(BridgeTable& t, jet::RowId id);

  // Engine transactions as SQLite drives them: begin on a statement's first write (or at the
  // first write after BEGIN), commit when SQLite commits, roll back when it rolls back; savepoints
  // undo one statement inside a transaction. Each call may come once per virtual table that took
  // part: the first does the work.
  void begin();
  void commit();
  void rollback();
  void savepoint(int n);
  void rollbackTo(int n);
  void release(int n);

 private:
  bool describe(const jet::CatalogObject& object, BridgeTable& table);

  std::unique_ptr<jet::Database> db_;
  jet::FileDatabase* local_ = nullptr;
  std::vector<BridgeTable> tables_;
};

// Registers the virtual table module "jet" on `db` and declares every table of the bridge as
// a virtual table of the main schema under its own name.
void declareTables(sqlite3* db, Bridge& bridge);
// The statement that declares the bridge's table in `slot` as a virtual table of the main schema.
std::string declareTableSql(Bridge& bridge, size_t slot);

// The name quoted for SQL: "name" with inner quotes doubled.
std::string quoteName(const std::string& name);

}  // namespace sql
