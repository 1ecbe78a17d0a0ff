// The virtual table module "jet": one virtual table per user table of the file. A statement reads
// rows from the file as it steps (a scan in stored order, or a seek in one of the table's real
// indexes) and writes through the engine's write path.
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "jet/base/error.h"
#include "sql/bridge.h"
#include "sql/json_values.h"
#include "jet/file_database.h"
#include "jet/row_rules.h"
#include "jet/table/table_scan.h"
#include "sql/index_seek.h"
#include "sql/lazy_row.h"
#include "sql/values.h"

namespace sql {

namespace {

struct Vtab {
  sqlite3_vtab base{};
  Bridge* bridge = nullptr;
  size_t table = 0;
  BridgeTable& t() { return bridge->tables()[table]; }
};

struct Cursor {
  sqlite3_vtab_cursor base{};
  Vtab* vtab = nullptr;
  // A cursor over a table of this file reads one committed state, from its first filter to its
  // close: its pages are read directly, not through engine calls that each take their own turn.
  std::unique_ptr<jet::ReadOperation> reading;
  std::unique_ptr<jet::TableCursor> scan;  // stored order, a linked table
  std::shared_ptr<const jet::Tdef> def;    // what the local scan reads with
  std::unique_ptr<jet::TableScan> local;   // stored order, a table of this file
  std::unique_ptr<LazyRow> row;            // the local scan's current row
  std::unique_ptr<IndexSeek> seek;         // index order
  bool eof = true;

  // Moves the stored-order scan on; false at the end.
  bool step() {
    if (!local) return scan->next();
    if (!local->next()) return false;
    row->reset(local->rowData(), local->rowSize());
    return true;
  }
  jet::RowId rowId() const { return seek ? seek->rowId() : local ? local->rowId() : scan->rowId(); }
};

// Rowids are row addresses: the page in the high bits, the row on it in the low 16.
sqlite3_int64 rowidOf(jet::RowId id) { return (static_cast<sqlite3_int64>(id.page) << 16) | id.row; }

int fail(sqlite3_vtab* vtab, const std::exception& e) {
  sqlite3_free(vtab->zErrMsg);
  vtab->zErrMsg = sqlite3_mprintf("%s", e.what());
  if (const auto* je = dynamic_cast<const jet::Error*>(&e)) {
    if (je->number() == jet::err::kDuplicateKey || je->number() == jet::err::kNullInIndex ||
        je->number() == jet::err::kRequiredNull || je->number() == jet::err::kZeroLength)
      return SQLITE_CONSTRAINT;
    if (je->number() == jet::err::kReadOnly) return SQLITE_READONLY;
    if (je->number() == jet::err::kCorrupt) return SQLITE_CORRUPT;
  }
  return SQLITE_ERROR;
}

int connect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** err) {
  auto* bridge = static_cast<Bridge*>(aux);
  if (argc < 4) {
    *err = sqlite3_mprintf("jet: the table's number is missing");
    return SQLITE_ERROR;
  }
  const size_t n = static_cast<size_t>(std::strtoul(argv[3], nullptr, 10));
  if (n >= bridge->tables().size()) {
    *err = sqlite3_mprintf("jet: no table %s", argv[3]);
    return SQLITE_ERROR;
  }
  const jet::TableInfo& info = bridge->tables()[n].info;
  std::string ddl = "CREATE TABLE x(";
  for (size_t i = 0; i < info.columns.size(); ++i) {
    if (i) ddl += ", ";
    ddl += quoteName(info.columns[i].name);
    ddl += ' ';
    ddl += declaredType(info.columns[i]);
  }
  ddl += ")";
  int rc = sqlite3_declare_vtab(db, ddl.c_str());
  if (rc != SQLITE_OK) {
    *err = sqlite3_mprintf("jet: cannot declare %s: %s", info.name.c_str(), sqlite3_errmsg(db));
    return rc;
  }
  sqlite3_vtab_config(db, SQLITE_VTAB_CONSTRAINT_SUPPORT, 1);
  auto* v = new Vtab;
  v->bridge = bridge;
  v->table = n;
  *out = &v->base;
  return SQLITE_OK;
}

int disconnect(sqlite3_vtab* vtab) {
  delete reinterpret_cast<Vtab*>(vtab);
  return SQLITE_OK;
}

int bestIndex(sqlite3_vtab* vtab, sqlite3_index_info* info) {
  auto* v = reinterpret_cast<Vtab*>(vtab);
  try {
    planIndex(v->t(), info);
    return SQLITE_OK;
  } catch (const std::exception& e) {
    return fail(vtab, e);
  }
}

int open(sqlite3_vtab* vtab, sqlite3_vtab_cursor** out) {
  auto* c = new Cursor;
  c->vtab = reinterpret_cast<Vtab*>(vtab);
  *out = &c->base;
  return SQLITE_OK;
}

int close(sqlite3_vtab_cursor* cur) {
  delete reinterpret_cast<Cursor*>(cur);
  return SQLITE_OK;
}

int filter(sqlite3_vtab_cursor* cur, int idxNum, const char* idxStr, int argc, sqlite3_value** argv) {
  auto* c = reinterpret_cast<Cursor*>(cur);
  BridgeTable& t = c->vtab->t();
  try {
    c->seek.reset();
    if (!c->reading && c->vtab->bridge->local() && !t.linked) c->reading = c->vtab->bridge->db().readOperation();
    if (idxNum != 0) {
      c->scan.reset();
      c->seek = std::make_unique<IndexSeek>(*c->vtab->bridge, t, idxNum, argc, argv);
      c->eof = !c->seek->next();
      return SQLITE_OK;
    }
    if (c->scan || c->local) {
      c->scan ? c->scan->rewind() : c->local->rewind();
    } else if (jet::FileDatabase* db = c->vtab->bridge->local(); db && !t.linked) {
      c->def = c->vtab->bridge->definition(t);
      c->local = std::make_unique<jet::TableScan>(db->pageFile(), *c->def, db->codec());
      c->row = std::make_unique<LazyRow>(*db, c->def);
    } else {
      c->scan = c->vtab->bridge->db().openTable(t.info.name);
    }
    c->eof = !c->step();
    return SQLITE_OK;
  } catch (const std::exception& e) {
    return fail(cur->pVtab, e);
  }
}

int next(sqlite3_vtab_cursor* cur) {
  auto* c = reinterpret_cast<Cursor*>(cur);
  try {
    c->eof = c->seek ? !c->seek->next() : !c->step();
    return SQLITE_OK;
  } catch (const std::exception& e) {
    return fail(cur->pVtab, e);
  }
}

int eof(sqlite3_vtab_cursor* cur) { return reinterpret_cast<Cursor*>(cur)->eof ? 1 : 0; }

int column(sqlite3_vtab_cursor* cur, sqlite3_context* ctx, int i) {
  auto* c = reinterpret_cast<Cursor*>(cur);
  // An UPDATE that leaves this column as it is does not need its value.
  if (sqlite3_vtab_nochange(ctx)) return SQLITE_OK;
  try {
    const size_t n = static_cast<size_t>(i);
    BridgeTable& t = c->vtab->t();
    // Only the columns a statement reads are decoded.
    const size_t count = c->seek || c->local ? t.info.columns.size() : c->scan->values().size();
    if (n >= count) {
      sqlite3_result_null(ctx);
      return SQLITE_OK;
    }
    const jet::Value& value = c->seek ? c->seek->value(n) : c->local ? c->row->value(n) : c->scan->values()[n];
    if (t.info.columns[n].type == jet::ColumnType::Complex) {
      if (jet::isNull(value)) {
        sqlite3_result_null(ctx);
      } else {
        std::string json = c->vtab->bridge->complexJson(t, n, value);
        sqlite3_result_text(ctx, json.data(), static_cast<int>(json.size()), SQLITE_TRANSIENT);
      }
      return SQLITE_OK;
    }
    setResult(ctx, value);
    return SQLITE_OK;
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
    return SQLITE_ERROR;
  }
}

int rowid(sqlite3_vtab_cursor* cur, sqlite3_int64* out) {
  auto* c = reinterpret_cast<Cursor*>(cur);
  *out = rowidOf(c->rowId());
  return SQLITE_OK;
}

jet::RowId rowIdOf(sqlite3_int64 rowid) {
  return {static_cast<uint32_t>(rowid >> 16), static_cast<uint16_t>(rowid & 0xFFFF)};
}

// INSERT (argv[0] NULL), UPDATE (argv[0] the row) and DELETE (argc 1) through the engine's write
// path. A column an UPDATE leaves alone keeps its stored value (long values and complex keys
// included); complex columns take the JSON they are shown as.
int update(sqlite3_vtab* vtab, int argc, sqlite3_value** argv, sqlite3_int64* newRowid) {
  auto* v = reinterpret_cast<Vtab*>(vtab);
  BridgeTable& t = v->t();
  jet::Database& db = v->bridge->db();
  try {
    if (t.linked) throw jet::Error(jet::err::kReadOnly, "Cannot update. The linked table '" + t.info.name + "' is read-only here.");
    if (argc == 1) {
      db.deleteRow(t.info.name, rowIdOf(sqlite3_value_int64(argv[0])));
      return SQLITE_OK;
    }
    const bool insert = sqlite3_value_type(argv[0]) == SQLITE_NULL;
    if (sqlite3_value_type(argv[1]) != SQLITE_NULL &&
        (insert || sqlite3_value_int64(argv[1]) != sqlite3_value_int64(argv[0])))
      throw jet::Error(jet::err::kInvalidOperation, "Invalid operation: a row's address (rowid) cannot be set.");
    const size_t n = t.info.columns.size();
    std::vector<jet::Value> values;
    jet::RowId id{};
    if (insert) {
      values.resize(n);
    } else {
      id = rowIdOf(sqlite3_value_int64(argv[0]));
      values = v->bridge->storedRow(t, id);
      values.resize(n);
    }
    std::vector<jet::ComplexChange> complex;
    for (size_t i = 0; i < n && static_cast<int>(i) + 2 < argc; ++i) {
      sqlite3_value* x = argv[i + 2];
      if (!insert && sqlite3_value_nochange(x)) continue;
      const jet::ColumnInfo& c = t.info.columns[i];
      if (c.type == jet::ColumnType::Complex) {
        // The export's JSON array replaces the row's values; Null leaves none.
        if (sqlite3_value_type(x) == SQLITE_NULL) {
          if (!insert) complex.push_back({i, jet::ComplexValue{c.complexKind, {}, {}, {}}});
          continue;
        }
        JsonScalar json;
        json.kind = sqlite3_value_type(x) == SQLITE_TEXT ? JsonScalar::Array : JsonScalar::String;
        json.text = std::string(reinterpret_cast<const char*>(sqlite3_value_text(x)), size_t(sqlite3_value_bytes(x)));
        complex.push_back({i, complexFromJson(c, json)});
        continue;
      }
      values[i] = columnValue(c, x);
    }
    // SQLite hands a virtual table a field an INSERT leaves out as Null, the same as an explicit
    // Null (its column defaults apply to ordinary tables only). Left out is by far the common case,
    // so a Null field takes the column's default value when it has one, as a left-out field does
    // in Access; a Null is stored in such a field by an UPDATE.
    if (insert) {
      std::vector<jet::Value> defaults;
      for (size_t i = 0; i < n; ++i) {
        if (!jet::isNull(values[i]) || t.info.columns[i].type == jet::ColumnType::Complex) continue;
        if (defaults.empty()) defaults = db.defaultValues(t.info.name);
        if (i < defaults.size() && !jet::isNull(defaults[i])) values[i] = defaults[i];
      }
    }
    jet::checkNewRow(t.info, db.format(), values);
    if (insert) {
      *newRowid = rowidOf(complex.empty() ? db.insertRow(t.info.name, std::move(values))
                                          : db.insertRow(t.info.name, std::move(values), complex));
    } else if (complex.empty()) {
      db.updateRow(t.info.name, id, std::move(values));
    } else {
      db.updateRow(t.info.name, id, std::move(values), complex);
    }
    if (!complex.empty())
      for (auto& reader : t.complex) reader.reset();
    return SQLITE_OK;
  } catch (const std::exception& e) {
    return fail(vtab, e);
  }
}

// Transactions: the bridge keeps one engine transaction for every table a statement writes.
template <void (Bridge::*step)()>
int transactionStep(sqlite3_vtab* vtab) {
  try {
    (reinterpret_cast<Vtab*>(vtab)->bridge->*step)();
    return SQLITE_OK;
  } catch (const std::exception& e) {
    return fail(vtab, e);
  }
}

template <void (Bridge::*step)(int)>
int savepointStep(sqlite3_vtab* vtab, int n) {
  try {
    (reinterpret_cast<Vtab*>(vtab)->bridge->*step)(n);
    return SQLITE_OK;
  } catch (const std::exception& e) {
    return fail(vtab, e);
  }
}

sqlite3_module makeModule() {
  sqlite3_module m{};
  m.iVersion = 2;
  m.xCreate = connect;
  m.xConnect = connect;
  m.xBestIndex = bestIndex;
  m.xDisconnect = disconnect;
  m.xDestroy = disconnect;
  m.xOpen = open;
  m.xClose = close;
  m.xFilter = filter;
  m.xNext = next;
  m.xEof = eof;
  m.xColumn = column;
  m.xRowid = rowid;
  m.xUpdate = update;
  m.xBegin = transactionStep<&Bridge::begin>;
  // The engine commits in xSync, the one step of SQLite's commit whose failure counts: SQLite
  // ignores what xCommit returns, so a commit refused there (the writer's turn not had within the
  // busy timeout, a full disk) would be reported as success with nothing written. A failed xSync
  // makes SQLite roll the transaction back and report the error; xCommit then finds nothing open.
  m.xSync = transactionStep<&Bridge::commit>;
  m.xCommit = transactionStep<&Bridge::commit>;
  m.xRollback = transactionStep<&Bridge::rollback>;
  m.xSavepoint = savepointStep<&Bridge::savepoint>;
  m.xRelease = savepointStep<&Bridge::release>;
  m.xRollbackTo = savepointStep<&Bridge::rollbackTo>;
  return m;
}

const sqlite3_module kModule = makeModule();

}  // namespace

std::string quoteName(const std::string& name) {
  std::string out = "\"";
  for (char ch : name) {
    if (ch == '"') out.push_back('"');
    out.push_back(ch);
  }
  out.push_back('"');
  return out;
}

std::string declareTableSql(Bridge& bridge, size_t slot) {
  return "CREATE VIRTUAL TABLE main." + quoteName(bridge.tables()[slot].info.name) + " USING jet(" + std::to_string(slot) +
         ")";
}

void declareTables(sqlite3* db, Bridge& bridge) {
  int rc = sqlite3_create_module_v2(db, "jet", &kModule, &bridge, nullptr);
  if (rc != SQLITE_OK) throw jet::Error(jet::err::kInvalidOperation, std::string("SQLite: ") + sqlite3_errmsg(db));
  for (size_t i = 0; i < bridge.tables().size(); ++i) {
    const std::string ddl = declareTableSql(bridge, i);
    char* msg = nullptr;
    if (sqlite3_exec(db, ddl.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
      std::string why = msg ? msg : "unknown error";
      sqlite3_free(msg);
      throw jet::Error(jet::err::kInvalidOperation,
                       "The table '" + bridge.tables()[i].info.name + "' cannot be shown in SQL: " + why);
    }
  }
}

}  // namespace sql
