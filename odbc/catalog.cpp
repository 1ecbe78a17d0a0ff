// Catalog result sets from the file's table definitions, saved queries and relationships.
#include "odbc/catalog.h"

#include <sqlite3.h>

#include <algorithm>

#include "jet/database.h"
#include "odbc/statement.h"
#include "odbc/text.h"
#include "odbc/types.h"
#include "sql/connection.h"

namespace odbc {

namespace {

using V = RowsResult::Value;

std::unique_ptr<RowsResult> make(std::initializer_list<std::pair<const char*, SQLSMALLINT>> cols) {
  std::vector<ColumnDesc> d;
  for (const auto& [name, type] : cols) d.push_back(catalogColumn(name, type));
  return std::make_unique<RowsResult>(std::move(d));
}

V str(const std::string& s) { return V(s); }
V num(int64_t v) { return V(v); }
V null() { return V(); }

bool lower(char c) { return c >= 'A' && c <= 'Z'; }
char fold(char c) { return lower(c) ? static_cast<char>(c + 32) : c; }

bool match(const char* n, const char* p) {
  for (;; ++n, ++p) {
    if (*p == '\0') return *n == '\0';
    if (*p == '%') {
      while (*p == '%') ++p;
      if (*p == '\0') return true;
      for (; *n; ++n)
        if (match(n, p)) return true;
      return false;
    }
    if (*n == '\0') return false;
    if (*p == '\\' && (p[1] == '%' || p[1] == '_' || p[1] == '\\')) {
      ++p;
      if (fold(*n) != fold(*p)) return false;
      continue;
    }
    if (*p != '_' && fold(*n) != fold(*p)) return false;
  }
}

// The tables a table argument names: a pattern over the user tables (and system tables when
// asked), an exact name for the functions that take one.
std::vector<std::string> userTables(Dbc& dbc, const Arg& table, bool pattern, bool identifiers) {
  std::vector<std::string> out;
  for (const std::string& name : dbc.conn->tableNames())
    if (!table.set || (pattern ? matchesPattern(name, table.text, identifiers) : sameName(name, table.text)))
      out.push_back(name);
  return out;
}

const jet::TableInfo* tableInfo(Dbc& dbc, const std::string& name) {
  try {
    return &dbc.conn->table(name);
  } catch (const jet::Error&) {
    return nullptr;
  }
}

const jet::ColumnInfo* columnByNumber(const jet::TableInfo& t, uint16_t number) {
  for (const jet::ColumnInfo& c : t.columns)
    if (c.number == number) return &c;
  return nullptr;
}

std::vector<std::string> splitTypes(const std::string& list) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : list + ",") {
    if (c == ',') {
      while (!cur.empty() && cur.back() == ' ') cur.pop_back();
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else if (c != '\'' && !(cur.empty() && c == ' ')) {
      cur.push_back(c);
    }
  }
  return out;
}

// The columns of a view, as a statement over it describes them.
std::vector<ColumnDesc> viewColumns(Dbc& dbc, const std::string& view) {
  std::string quoted = "\"";
  for (char c : view) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  quoted += "\"";
  sqlite3_stmt* stmt = nullptr;
  std::vector<ColumnDesc> out;
  if (sqlite3_prepare_v2(dbc.conn->handle(), ("SELECT * FROM " + quoted).c_str(), -1, &stmt, nullptr) == SQLITE_OK)
    out = describe(*dbc.conn, stmt, false);
  sqlite3_finalize(stmt);
  return out;
}

void addColumnRow(RowsResult& r, const std::string& table, const ColumnDesc& d, int position, bool odbc2,
                  const std::string& remarks, const std::string& def) {
  const bool numeric = d.sqlType == SQL_TINYINT || d.sqlType == SQL_SMALLINT || d.sqlType == SQL_INTEGER ||
                       d.sqlType == SQL_BIGINT || d.sqlType == SQL_DECIMAL || d.sqlType == SQL_NUMERIC ||
                       d.sqlType == SQL_REAL || d.sqlType == SQL_DOUBLE;
  const bool timestamp = d.sqlType == SQL_TYPE_TIMESTAMP;
  const bool chars = d.sqlType == SQL_WVARCHAR || d.sqlType == SQL_WLONGVARCHAR || d.sqlType == SQL_VARBINARY ||
                     d.sqlType == SQL_LONGVARBINARY;
  r.add({null(), null(), str(table), str(d.label), num(concise(d.sqlType, odbc2)), str(d.typeName),
         num(static_cast<int64_t>(d.size)), num(octetLength(d)),
         (numeric && d.sqlType != SQL_REAL && d.sqlType != SQL_DOUBLE) || timestamp ? num(d.digits) : null(),
         numeric ? num(10) : null(), num(d.nullable == SQL_NO_NULLS ? SQL_NO_NULLS : SQL_NULLABLE),
         remarks.empty() ? null() : str(remarks), def.empty() ? null() : str(def),
         num(timestamp ? SQL_DATETIME : d.sqlType), timestamp ? num(SQL_CODE_TIMESTAMP) : null(),
         chars ? num(octetLength(d)) : null(), num(position), str(d.nullable == SQL_NO_NULLS ? "NO" : "YES")});
}

}  // namespace

bool matchesPattern(const std::string& name, const std::string& pattern, bool identifier) {
  if (identifier) return sameName(name, pattern);
  return match(name.c_str(), pattern.c_str());
}

std::unique_ptr<Result> tables(Dbc& dbc, const Arg& catalog, const Arg& schema, const Arg& table, const Arg& types) {
  auto r = make({{"TABLE_CAT", SQL_VARCHAR}, {"TABLE_SCHEM", SQL_VARCHAR}, {"TABLE_NAME", SQL_VARCHAR},
                 {"TABLE_TYPE", SQL_VARCHAR}, {"REMARKS", SQL_VARCHAR}});
  const bool empty = (!schema.set || schema.text.empty()) && (!table.set || table.text.empty());
  if (catalog.set && catalog.text == SQL_ALL_CATALOGS && empty) return r;  // no catalogs
  if (schema.set && schema.text == SQL_ALL_SCHEMAS && (!catalog.set || catalog.text.empty()) &&
      (!table.set || table.text.empty()))
    return r;  // no schemas
  if (types.set && types.text == SQL_ALL_TABLE_TYPES && empty && (!catalog.set || catalog.text.empty())) {
    for (const char* t : {"SYSTEM TABLE", "TABLE", "VIEW"}) r->add({null(), null(), null(), str(t), null()});
    return r;
  }
  std::vector<std::string> wanted = types.set ? splitTypes(types.text) : std::vector<std::string>{};
  auto want = [&](const char* type) {
    if (wanted.empty()) return std::string(type) != "SYSTEM TABLE";
    for (const std::string& w : wanted)
      if (sameName(w, type)) return true;
    return false;
  };
  std::vector<std::pair<std::string, std::string>> rows;  // type, name
  const Arg name = table.set && table.text.empty() ? Arg{} : table;
  if (want("TABLE"))
    for (const std::string& t : userTables(dbc, name, true, false)) rows.push_back({"TABLE", t});
  if (want("VIEW"))
    for (const sql::SavedQuery& q : dbc.conn->queries())
      if (q.isView && (!name.set || matchesPattern(q.name, name.text))) rows.push_back({"VIEW", q.name});
  if (want("SYSTEM TABLE"))
    for (const jet::CatalogObject& o : dbc.conn->database().objects())
      if (o.kind == jet::ObjectKind::SystemTable && (!name.set || matchesPattern(o.name, name.text)))
        rows.push_back({"SYSTEM TABLE", o.name});
  std::stable_sort(rows.begin(), rows.end());
  for (const auto& [type, n] : rows) r->add({null(), null(), str(n), str(type), null()});
  return r;
}

std::unique_ptr<Result> columns(Dbc& dbc, const Arg& table, const Arg& column, bool identifiers) {
  auto r = make({{"TABLE_CAT", SQL_VARCHAR},     {"TABLE_SCHEM", SQL_VARCHAR},      {"TABLE_NAME", SQL_VARCHAR},
                 {"COLUMN_NAME", SQL_VARCHAR},   {"DATA_TYPE", SQL_SMALLINT},       {"TYPE_NAME", SQL_VARCHAR},
                 {"COLUMN_SIZE", SQL_INTEGER},   {"BUFFER_LENGTH", SQL_INTEGER},    {"DECIMAL_DIGITS", SQL_SMALLINT},
                 {"NUM_PREC_RADIX", SQL_SMALLINT}, {"NULLABLE", SQL_SMALLINT},      {"REMARKS", SQL_VARCHAR},
                 {"COLUMN_DEF", SQL_VARCHAR},    {"SQL_DATA_TYPE", SQL_SMALLINT},   {"SQL_DATETIME_SUB", SQL_SMALLINT},
                 {"CHAR_OCTET_LENGTH", SQL_INTEGER}, {"ORDINAL_POSITION", SQL_INTEGER}, {"IS_NULLABLE", SQL_VARCHAR}});
  const jet::Format format = dbc.conn->database().format();
  auto wantColumn = [&](const std::string& n) { return !column.set || matchesPattern(n, column.text, identifiers); };
  std::vector<std::string> names = userTables(dbc, table, true, identifiers);
  for (const sql::SavedQuery& q : dbc.conn->queries())
    if (q.isView && (!table.set || matchesPattern(q.name, table.text, identifiers))) names.push_back(q.name);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (const jet::TableInfo* t = tableInfo(dbc, name)) {
      int position = 0;
      for (const jet::ColumnInfo& c : t->columns) {
        ++position;
        if (wantColumn(c.name))
          addColumnRow(*r, t->name, describeColumn(c, format), position, dbc.odbc2(), c.description, c.defaultValue);
      }
      continue;
    }
    int position = 0;
    for (const ColumnDesc& d : viewColumns(dbc, name)) {
      ++position;
      if (wantColumn(d.label)) addColumnRow(*r, name, d, position, dbc.odbc2(), "", "");
    }
  }
  return r;
}

std::unique_ptr<Result> primaryKeys(Dbc& dbc, const Arg& table) {
  auto r = make({{"TABLE_CAT", SQL_VARCHAR}, {"TABLE_SCHEM", SQL_VARCHAR}, {"TABLE_NAME", SQL_VARCHAR},
                 {"COLUMN_NAME", SQL_VARCHAR}, {"KEY_SEQ", SQL_SMALLINT}, {"PK_NAME", SQL_VARCHAR}});
  for (const std::string& name : userTables(dbc, table, false, true)) {
    const jet::TableInfo* t = tableInfo(dbc, name);
    if (!t) continue;
    for (const jet::IndexInfo& ix : t->indexes) {
      if (!ix.primaryKey) continue;
      int seq = 0;
      for (const jet::IndexColumn& ic : ix.columns)
        if (const jet::ColumnInfo* c = columnByNumber(*t, ic.columnNumber))
          r->add({null(), null(), str(t->name), str(c->name), num(++seq), str(ix.name)});
      break;
    }
  }
  return r;
}

std::unique_ptr<Result> statistics(Dbc& dbc, const Arg& table, SQLUSMALLINT unique) {
  auto r = make({{"TABLE_CAT", SQL_VARCHAR},       {"TABLE_SCHEM", SQL_VARCHAR},   {"TABLE_NAME", SQL_VARCHAR},
                 {"NON_UNIQUE", SQL_SMALLINT},     {"INDEX_QUALIFIER", SQL_VARCHAR}, {"INDEX_NAME", SQL_VARCHAR},
                 {"TYPE", SQL_SMALLINT},           {"ORDINAL_POSITION", SQL_SMALLINT}, {"COLUMN_NAME", SQL_VARCHAR},
                 {"ASC_OR_DESC", SQL_CHAR},        {"CARDINALITY", SQL_INTEGER},   {"PAGES", SQL_INTEGER},
                 {"FILTER_CONDITION", SQL_VARCHAR}});
  for (const std::string& name : userTables(dbc, table, false, true)) {
    const jet::TableInfo* t = tableInfo(dbc, name);
    if (!t) continue;
    r->add({null(), null(), str(t->name), null(), null(), null(), num(SQL_TABLE_STAT), null(), null(), null(),
            num(t->rowCount), null(), null()});
    std::vector<const jet::IndexInfo*> order;
    for (const jet::IndexInfo& ix : t->indexes) {
      // Names starting with a dot are the engine's own bookkeeping of relationships, never shown.
      if (!ix.name.empty() && ix.name[0] == '.') continue;
      if (unique != SQL_INDEX_UNIQUE || ix.unique || ix.primaryKey) order.push_back(&ix);
    }
    std::stable_sort(order.begin(), order.end(), [](const jet::IndexInfo* a, const jet::IndexInfo* b) {
      const bool ua = a->unique || a->primaryKey, ub = b->unique || b->primaryKey;
      if (ua != ub) return ua;
      return a->name < b->name;
    });
    for (const jet::IndexInfo* ix : order) {
      int position = 0;
      for (const jet::IndexColumn& ic : ix->columns)
        if (const jet::ColumnInfo* c = columnByNumber(*t, ic.columnNumber))
          r->add({null(), null(), str(t->name), num(ix->unique || ix->primaryKey ? 0 : 1), null(), str(ix->name),
                  num(SQL_INDEX_OTHER), num(++position), str(c->name), str(ic.ascending ? "A" : "D"), null(), null(),
                  null()});
    }
  }
  return r;
}

std::unique_ptr<Result> foreignKeys(Dbc& dbc, const Arg& pkTable, const Arg& fkTable) {
  auto r = make({{"PKTABLE_CAT", SQL_VARCHAR},  {"PKTABLE_SCHEM", SQL_VARCHAR}, {"PKTABLE_NAME", SQL_VARCHAR},
                 {"PKCOLUMN_NAME", SQL_VARCHAR}, {"FKTABLE_CAT", SQL_VARCHAR},  {"FKTABLE_SCHEM", SQL_VARCHAR},
                 {"FKTABLE_NAME", SQL_VARCHAR},  {"FKCOLUMN_NAME", SQL_VARCHAR}, {"KEY_SEQ", SQL_SMALLINT},
                 {"UPDATE_RULE", SQL_SMALLINT},  {"DELETE_RULE", SQL_SMALLINT}, {"FK_NAME", SQL_VARCHAR},
                 {"PK_NAME", SQL_VARCHAR},       {"DEFERRABILITY", SQL_SMALLINT}});
  if ((!pkTable.set || pkTable.text.empty()) && (!fkTable.set || fkTable.text.empty()))
    throw Failure("HY009", "Invalid use of null pointer: a primary or a foreign table is needed");
  std::vector<sql::Relationship> rels = dbc.conn->relationships();
  std::stable_sort(rels.begin(), rels.end(), [&](const sql::Relationship& a, const sql::Relationship& b) {
    // With a primary table named, rows are ordered by the foreign table; otherwise by the primary.
    return pkTable.set && !pkTable.text.empty() ? a.foreignTable < b.foreignTable : a.table < b.table;
  });
  for (const sql::Relationship& rel : rels) {
    if (pkTable.set && !pkTable.text.empty() && !sameName(rel.table, pkTable.text)) continue;
    if (fkTable.set && !fkTable.text.empty() && !sameName(rel.foreignTable, fkTable.text)) continue;
    std::string pkName;
    if (const jet::TableInfo* t = tableInfo(dbc, rel.table))
      for (const jet::IndexInfo& ix : t->indexes)
        if (ix.primaryKey) pkName = ix.name;
    const int64_t update = (rel.attributes & jet::kRelationUpdateCascade) ? SQL_CASCADE : SQL_NO_ACTION;
    const int64_t del = (rel.attributes & jet::kRelationDeleteCascade) ? SQL_CASCADE : SQL_NO_ACTION;
    for (size_t i = 0; i < rel.columns.size() && i < rel.foreignColumns.size(); ++i)
      r->add({null(), null(), str(rel.table), str(rel.columns[i]), null(), null(), str(rel.foreignTable),
              str(rel.foreignColumns[i]), num(static_cast<int64_t>(i + 1)), num(update), num(del), str(rel.name),
              pkName.empty() ? null() : str(pkName), num(SQL_NOT_DEFERRABLE)});
  }
  return r;
}

std::unique_ptr<Result> specialColumns(Dbc& dbc, SQLUSMALLINT identifierType, const Arg& table) {
  auto r = make({{"SCOPE", SQL_SMALLINT},        {"COLUMN_NAME", SQL_VARCHAR},   {"DATA_TYPE", SQL_SMALLINT},
                 {"TYPE_NAME", SQL_VARCHAR},     {"COLUMN_SIZE", SQL_INTEGER},   {"BUFFER_LENGTH", SQL_INTEGER},
                 {"DECIMAL_DIGITS", SQL_SMALLINT}, {"PSEUDO_COLUMN", SQL_SMALLINT}});
  if (identifierType != SQL_BEST_ROWID) return r;
  const jet::Format format = dbc.conn->database().format();
  for (const std::string& name : userTables(dbc, table, false, true)) {
    const jet::TableInfo* t = tableInfo(dbc, name);
    if (!t) continue;
    for (const jet::IndexInfo& ix : t->indexes) {
      if (!ix.primaryKey) continue;
      for (const jet::IndexColumn& ic : ix.columns)
        if (const jet::ColumnInfo* c = columnByNumber(*t, ic.columnNumber)) {
          const ColumnDesc d = describeColumn(*c, format);
          r->add({num(SQL_SCOPE_SESSION), str(c->name), num(concise(d.sqlType, dbc.odbc2())), str(d.typeName),
                  num(static_cast<int64_t>(d.size)), num(octetLength(d)), num(d.digits), num(SQL_PC_NOT_PSEUDO)});
        }
    }
  }
  return r;
}

std::unique_ptr<Result> procedures() {
  return make({{"PROCEDURE_CAT", SQL_VARCHAR}, {"PROCEDURE_SCHEM", SQL_VARCHAR}, {"PROCEDURE_NAME", SQL_VARCHAR},
               {"NUM_INPUT_PARAMS", SQL_INTEGER}, {"NUM_OUTPUT_PARAMS", SQL_INTEGER},
               {"NUM_RESULT_SETS", SQL_INTEGER}, {"REMARKS", SQL_VARCHAR}, {"PROCEDURE_TYPE", SQL_SMALLINT}});
}

std::unique_ptr<Result> typeInfo(Dbc& dbc, SQLSMALLINT sqlType) {
  auto r = make({{"TYPE_NAME", SQL_VARCHAR},        {"DATA_TYPE", SQL_SMALLINT},     {"COLUMN_SIZE", SQL_INTEGER},
                 {"LITERAL_PREFIX", SQL_VARCHAR},   {"LITERAL_SUFFIX", SQL_VARCHAR}, {"CREATE_PARAMS", SQL_VARCHAR},
                 {"NULLABLE", SQL_SMALLINT},        {"CASE_SENSITIVE", SQL_SMALLINT}, {"SEARCHABLE", SQL_SMALLINT},
                 {"UNSIGNED_ATTRIBUTE", SQL_SMALLINT}, {"FIXED_PREC_SCALE", SQL_SMALLINT},
                 {"AUTO_UNIQUE_VALUE", SQL_SMALLINT}, {"LOCAL_TYPE_NAME", SQL_VARCHAR}, {"MINIMUM_SCALE", SQL_SMALLINT},
                 {"MAXIMUM_SCALE", SQL_SMALLINT},   {"SQL_DATA_TYPE", SQL_SMALLINT}, {"SQL_DATETIME_SUB", SQL_SMALLINT},
                 {"NUM_PREC_RADIX", SQL_INTEGER},   {"INTERVAL_PRECISION", SQL_SMALLINT}});
  const SQLSMALLINT wanted = concise(sqlType, false);
  auto opt = [](const char* s) { return s ? str(s) : null(); };
  auto small = [](SQLSMALLINT v) { return v < 0 ? null() : num(v); };
  for (const TypeInfo& t : typeInfos()) {
    if (wanted != SQL_ALL_TYPES && t.sqlType != wanted) continue;
    const bool timestamp = t.sqlType == SQL_TYPE_TIMESTAMP;
    r->add({str(t.name), num(concise(t.sqlType, dbc.odbc2())), num(t.size), opt(t.prefix), opt(t.suffix),
            opt(t.createParams), num(SQL_NULLABLE), num(t.caseSensitive), num(t.searchable), small(t.isUnsigned),
            num(t.fixedPrecScale), small(t.autoUnique), str(t.name), small(t.minScale), small(t.maxScale),
            num(timestamp ? SQL_DATETIME : t.sqlType), timestamp ? num(SQL_CODE_TIMESTAMP) : null(),
            t.radix ? num(t.radix) : null(), null()});
  }
  return r;
}

}  // namespace odbc
