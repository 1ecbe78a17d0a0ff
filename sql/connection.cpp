#include "sql/connection.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>

#include "jet/base/error.h"
#include "jet/base/names.h"
#include "jet/database.h"
#include "sql/access_functions.h"
#include "sql/bridge.h"
#include "sql/make_table.h"
#include "sql/saved_queries.h"
#include "sql/statement.h"
#include "sql/values.h"

namespace sql {

namespace {

std::string textOf(const jet::Value& v) {
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  return {};
}

int64_t numberOf(const jet::Value& v) {
  if (auto* i = std::get_if<int64_t>(&v)) return *i;
  return 0;
}

// Refuses changes to the main schema's tables and views (the file's own), which SQLite would make
// in memory only, unless `open` (the connection's own changes); TEMP stays open for scratch work.
int authorize(void* open, int action, const char*, const char*, const char* database, const char*) {
  if (*static_cast<bool*>(open)) return SQLITE_OK;
  switch (action) {
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_VIEW:
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_VTABLE:
    case SQLITE_DROP_TABLE:
    case SQLITE_DROP_INDEX:
    case SQLITE_DROP_VIEW:
    case SQLITE_DROP_TRIGGER:
    case SQLITE_DROP_VTABLE:
    case SQLITE_ALTER_TABLE:
      return database && std::string(database) == "main" ? SQLITE_DENY : SQLITE_OK;
    default:
      return SQLITE_OK;
  }
}

class ConnectionImpl : public Connection {
 public:
  ConnectionImpl(std::unique_ptr<jet::Database> db, bool readOnly) : bridge_(std::move(db)), readOnly_(readOnly) {
    if (sqlite3_open_v2(":memory:", &sqlite_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_MEMORY, nullptr) !=
        SQLITE_OK) {
      sqlite3_close(sqlite_);
      throw jet::Error(jet::err::kInvalidOperation, "SQLite cannot open an in-memory database.");
    }
    try {
      declareTables(sqlite_, bridge_);
      registerAccessFunctions(sqlite_);
      queries_ = readSavedQueries(bridge_.db(), definitions_);
      translateQueries(sqlite_, bridge_, queries_, definitions_);
      // The file's tables and the saved queries' views are what the main schema holds; scratch
      // tables go to TEMP.
      sqlite3_set_authorizer(sqlite_, authorize, &schemaOpen_);
    } catch (...) {
      sqlite3_close(sqlite_);
      throw;
    }
  }
  ~ConnectionImpl() override { sqlite3_close_v2(sqlite_); }

  sqlite3* handle() override { return sqlite_; }
  jet::Database& database() override { return bridge_.db(); }
  bool readOnly() const override { return readOnly_; }

  std::vector<std::string> tableNames() override {
    std::vector<std::string> out;
    for (const BridgeTable& t : bridge_.tables()) out.push_back(t.info.name);
    return out;
  }
  const jet::TableInfo& table(const std::string& name) override {
    for (const BridgeTable& t : bridge_.tables())
      if (jet::sameName(t.info.name, name)) return t.info;
    throw jet::Error(jet::err::kTableNotFound, "The Microsoft Jet database engine cannot find the input table or query '" +
                                                   name + "'.");
  }

  std::vector<Relationship> relationships() override;
  const std::vector<SavedQuery>& queries() override { return queries_; }

  void exec(const std::string& statements) override {
    const char* tail = statements.c_str();
    while (tail && *tail) {
      sqlite3_stmt* stmt = nullptr;
      const char* start = tail;
      int rc = sqlite3_prepare_v2(sqlite_, start, -1, &stmt, &tail);
      if (rc != SQLITE_OK) throw error(start, statements);
      if (!stmt) continue;
      while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      }
      if (rc != SQLITE_DONE) {
        SqlError e = error(start, statements);
        sqlite3_finalize(stmt);
        throw e;
      }
      sqlite3_finalize(stmt);
    }
  }
  int64_t makeTable(const std::string& target, const std::string& select,
                    const std::function<void(sqlite3_stmt*)>& bind) override {
    if (readOnly_) throw jet::Error(jet::err::kReadOnly, "Cannot update. Database or object is read-only.");
    return sql::makeTable(sqlite_, bridge_, target, select, bind, [&](const std::string& ddl) {
      schemaOpen_ = true;
      try {
        run(sqlite_, ddl);
      } catch (...) {
        schemaOpen_ = false;
        throw;
      }
      schemaOpen_ = false;
    });
  }
  std::string crosstab(const SavedQuery& query, const std::function<void(sqlite3_stmt*)>& bind) override {
    const size_t i = static_cast<size_t>(&query - queries_.data());
    if (i >= queries_.size() || !query.columnsFromData) throw SqlError("The query '" + query.name + "' is no crosstab of that kind.", -1);
    return crosstabOfData(sqlite_, bridge_, query, definitions_[i], bind);
  }
  void begin() override { exec("BEGIN"); }
  void commit() override { exec("COMMIT"); }
  void rollback() override { exec("ROLLBACK"); }
  bool inTransaction() override { return sqlite3_get_autocommit(sqlite_) == 0; }

 private:
  SqlError error(const char* start, const std::string& all) {
    int offset = sqlite3_error_offset(sqlite_);
    if (offset >= 0) offset += static_cast<int>(start - all.c_str());
    return SqlError(sqlite3_errmsg(sqlite_), offset);
  }

  Bridge bridge_;
  bool readOnly_;
  bool schemaOpen_ = false;  // the connection itself changes the main schema
  sqlite3* sqlite_ = nullptr;
  std::vector<SavedQuery> queries_;
  std::vector<jet::QueryDefinition> definitions_;  // of queries_, in the same order
};

// Relationship rows, one per pair of columns, grouped by name in column order.
std::vector<Relationship> ConnectionImpl::relationships() {
  std::unique_ptr<jet::TableCursor> cursor;
  try {
    cursor = bridge_.db().openTable("MSysRelationships");
  } catch (const jet::Error&) {
    return {};
  }
  const jet::TableInfo& info = cursor->table();
  auto col = [&](const char* name) { return jet::columnIndex(info.columns, name); };
  const int name = col("szRelationship"), grbit = col("grbit"), position = col("icolumn"), object = col("szObject"),
            column = col("szColumn"), referenced = col("szReferencedObject"), referencedColumn = col("szReferencedColumn");
  if (std::min({name, grbit, position, object, column, referenced, referencedColumn}) < 0) return {};
  std::map<std::string, size_t> byName;
  std::vector<Relationship> out;
  std::vector<std::map<int64_t, std::pair<std::string, std::string>>> pairs;
  while (cursor->next()) {
    const std::vector<jet::Value>& row = cursor->values();
    const std::string n = textOf(row[static_cast<size_t>(name)]);
    auto [it, added] = byName.try_emplace(n, out.size());
    if (added) {
      Relationship r;
      r.name = n;
      r.foreignTable = textOf(row[static_cast<size_t>(object)]);
      r.table = textOf(row[static_cast<size_t>(referenced)]);
      r.attributes = static_cast<int32_t>(numberOf(row[static_cast<size_t>(grbit)]));
      out.push_back(std::move(r));
      pairs.emplace_back();
    }
    pairs[it->second][numberOf(row[static_cast<size_t>(position)])] = {textOf(row[static_cast<size_t>(referencedColumn)]),
                                                                       textOf(row[static_cast<size_t>(column)])};
  }
  for (size_t i = 0; i < out.size(); ++i)
    for (auto& [pos, p] : pairs[i]) {
      out[i].columns.push_back(p.first);
      out[i].foreignColumns.push_back(p.second);
    }
  return out;
}

}  // namespace

const char* Connection::declaredType(const jet::ColumnInfo& column) { return sql::declaredType(column); }

std::unique_ptr<Connection> Connection::open(const std::string& path, const Options& options) {
  jet::OpenOptions o;
  o.readOnly = options.readOnly;
  o.password = options.password;
  o.busyTimeoutMs = options.busyTimeoutMs;
  auto db = jet::Database::open(path, o);
  const bool readOnly = db->readOnly();
  return std::make_unique<ConnectionImpl>(std::move(db), readOnly);
}

}  // namespace sql
