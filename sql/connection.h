// One Access file as an SQL database: an in-memory SQLite connection in which every user table of
// the file is a virtual table under its Access name, and every saved select or union query that
// translates into SQLite's dialect is a view under its own name.
//
// How to use it:
//   auto c = sql::Connection::open("Orders.mdb", {.readOnly = true});
//   sqlite3_prepare_v2(c->handle(), "SELECT * FROM [Order Details] WHERE OrderID = ?", ...);
// Statements go straight to SQLite through handle(); this class adds what SQLite's own catalog
// cannot tell: the Access types, sizes, indexes, relationships and saved queries of the file.
//
// Rows are read from the file as a statement asks for them (never copied in at open); a lookup on
// an indexed column seeks the index. INSERT, UPDATE and DELETE go through the engine's write path
// (indexes, long values, journal, the table's rules). Outside a transaction each statement is one
// all-or-nothing change of the file; between BEGIN and COMMIT (run as SQL, or begin()/commit()
// here, the two are the same) every statement joins one change, and ROLLBACK leaves the file as
// it was, byte for byte. A statement that fails changes nothing.
//
// Values follow SQLite's conventions: integers and reals as such; Currency and Decimal as REAL;
// Yes/No as 1/0; dates as text 'YYYY-MM-DD HH:MM:SS'; GUIDs as '{...}' text; binary and OLE as
// BLOB; attachments and multi-valued fields as the JSON text of the export.
//
// A Connection and its handle belong to one thread at a time. The handle stays valid until the
// Connection is destroyed; do not sqlite3_close() it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/schema.h"
#include "jet/catalog/saved_query.h"

struct sqlite3;
struct sqlite3_stmt;

namespace jet {
class Database;
}

namespace sql {

struct Options {
  bool readOnly = false;
  std::string password;  // the database password, when the file has one
  // How long a write waits for its turn while other programs read or write the file, before it
  // fails with 3260 (and a query waits for a writer's commit).
  int busyTimeoutMs = 10000;
};

// A failed SQL statement: SQLite's message, and where in the statement text it failed (a byte
// offset, -1 when SQLite does not say).
class SqlError : public std::runtime_error {
 public:
  SqlError(const std::string& message, int offset) : std::runtime_error(message), offset_(offset) {}
  int offset() const { return offset_; }

 private:
  int offset_;
};

// What a saved query is ("select", "union", "crosstab", ... through jet::queryTypeName) and the
// parameters it declares.
using jet::QueryParameter;
using jet::QueryType;
using jet::queryTypeName;

struct SavedQuery {
  std::string name;
  QueryType type = QueryType::Select;
  std::string accessSql;    // the query's SQL as Access shows it in SQL view
  std::vector<QueryParameter> parameters;
  bool isView = false;      // defined in handle() as a view under `name`
  std::string sqliteSql;    // the translated statement, when SQLite takes it
  std::string reason;       // why it is not a view (empty when it is)
  std::string target;       // the table a make-table query makes (its sqliteSql is the SELECT)
  bool columnsFromData = false;  // a crosstab without fixed headings: sqliteSql selects its headings,
                                 // Connection::crosstab makes the query when it runs
};

// One relationship: `foreignTable`'s `foreignColumns` refer to `table`'s `columns` (usually its
// primary key). attributes are the relationship's flag bits (jet::kRelation...).
struct Relationship {
  std::string name;
  std::string table;
  std::vector<std::string> columns;
  std::string foreignTable;
  std::vector<std::string> foreignColumns;
  int32_t attributes = 0;
  bool enforced() const { return (attributes & jet::kRelationDontEnforce) == 0; }
};

class Connection {
 public:
  // Opens the file through the engine and builds the SQLite connection. Throws jet::Error as
  // jet::Database::open does (3024 missing, 3031 password, 3051 locked, 3343 not a database ...).
  static std::unique_ptr<Connection> open(const std::string& path, const Options& options = {});
  virtual ~Connection() = default;

  // The SQLite connection. Its "main" schema holds the virtual tables and the views.
  virtual sqlite3* handle() = 0;
  // The engine's database under the connection (for what SQL cannot express).
  virtual jet::Database& database() = 0;
  virtual bool readOnly() const = 0;

  // The user tables (local and linked), in catalog order, and their descriptions. table() finds a
  // name case-insensitively and throws jet::Error 3078 when there is none.
  virtual std::vector<std::string> tableNames() = 0;
  virtual const jet::TableInfo& table(const std::string& name) = 0;
  // The declared SQL type of a column in handle() (what sqlite3_column_decltype reports):
  // INTEGER, REAL, TEXT, BLOB, BOOLEAN, DATETIME, CURRENCY, DECIMAL, GUID or JSON.
  static const char* declaredType(const jet::ColumnInfo& column);

  virtual std::vector<Relationship> relationships() = 0;
  // Every saved query of the file, in catalog order.
  virtual const std::vector<SavedQuery>& queries() = 0;

  // Runs one or more statements that return no rows (throws SqlError).
  virtual void exec(const std::string& statements) = 0;
  // Runs a make-table query (sql/make_table.h): the rows of `select`, whose parameters `bind`
  // binds, become table `target` of the file, replacing one of that name, as one change of the file
  // outside any transaction. Returns the number of rows.
  virtual int64_t makeTable(const std::string& target, const std::string& select,
                            const std::function<void(sqlite3_stmt*)>& bind) = 0;
  // The SELECT of a crosstab whose columns come from its data (query.columnsFromData), over the
  // headings the data gives now; `bind` binds the query's parameters. Throws SqlError.
  virtual std::string crosstab(const SavedQuery& query, const std::function<void(sqlite3_stmt*)>& bind) = 0;
  // Transactions, the same as running BEGIN, COMMIT and ROLLBACK through handle().
  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;
  // Whether a transaction is open (sqlite3_get_autocommit() says the same).
  virtual bool inTransaction() = 0;
};

}  // namespace sql
