#include "sql/make_table.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <memory>
#include <optional>
#include <vector>

#include "jet/base/error.h"
#include "jet/base/names.h"
#include "jet/base/text_codec.h"
#include "jet/database.h"
#include "sql/bridge.h"
#include "sql/connection.h"
#include "sql/statement.h"

namespace sql {

namespace {

// The rows wait in SQLite's temporary storage while the file changes, so that a query may read
// the table it replaces.
constexpr const char* kRows = "temp.\"make_table_rows\"";

// What a computed column's values were: the kinds seen, the range of its integers, the length of
// its longest text.
struct Seen {
  bool integer = false, real = false, text = false, blob = false, dates = true;
  int64_t low = 0, high = 0;
  size_t longest = 0;

  void add(sqlite3_stmt* row, int i) {
    switch (sqlite3_column_type(row, i)) {
      case SQLITE_INTEGER: {
        const int64_t v = sqlite3_column_int64(row, i);
        low = integer ? std::min(low, v) : v;
        high = integer ? std::max(high, v) : v;
        integer = true;
        break;
      }
      case SQLITE_FLOAT: real = true; break;
      case SQLITE_TEXT: {
        const std::string s(reinterpret_cast<const char*>(sqlite3_column_text(row, i)), size_t(sqlite3_column_bytes(row, i)));
        text = true;
        dates = dates && isDate(s);
        longest = std::max(longest, jet::utf16Length(s));
        break;
      }
      case SQLITE_BLOB: blob = true; break;
      default: break;
    }
  }
  // SQL's form of a date: 'YYYY-MM-DD' or 'YYYY-MM-DD HH:MM:SS'.
  static bool isDate(const std::string& s) {
    static const char kShape[] = "dddd-dd-dd dd:dd:dd";
    if (s.size() != 10 && s.size() != 19) return false;
    for (size_t i = 0; i < s.size(); ++i)
      if (kShape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(s[i])) : s[i] != kShape[i]) return false;
    return true;
  }

  jet::NewColumn column() const {
    jet::NewColumn c;
    if (blob) c.type = jet::ColumnType::Ole;
    else if (text && dates && !integer && !real) c.type = jet::ColumnType::DateTime;
    else if (text) c.type = longest > 255 ? jet::ColumnType::Memo : jet::ColumnType::Text;
    else if (real || (integer && (low < INT32_MIN || high > INT32_MAX))) c.type = jet::ColumnType::Double;
    else if (integer) c.type = jet::ColumnType::Long;
    c.size = c.type == jet::ColumnType::Text ? 255 : 0;
    return c;
  }
};

// A column read straight from a table column takes its type and size.
std::optional<jet::NewColumn> fromSource(Bridge& bridge, sqlite3_stmt* select, int i) {
  const char* table = sqlite3_column_table_name(select, i);
  const char* column = sqlite3_column_origin_name(select, i);
  if (!table || !column) return std::nullopt;
  for (const BridgeTable& t : bridge.tables()) {
    if (!jet::sameName(t.info.name, table)) continue;
    for (const jet::ColumnInfo& info : t.info.columns) {
      if (!jet::sameName(info.name, column)) continue;
      jet::NewColumn c;
      c.type = info.type == jet::ColumnType::Complex ? jet::ColumnType::Memo : info.type;
      const bool wide = bridge.db().format() != jet::Format::Jet3Layout;
      if (c.type == jet::ColumnType::Text) c.size = std::max(1, info.length / (wide ? 2 : 1));
      c.precision = info.precision ? info.precision : c.precision;
      c.scale = info.scale;
      return c;
    }
  }
  return std::nullopt;
}

}  // namespace

int64_t makeTable(sqlite3* db, Bridge& bridge, const std::string& target, const std::string& select,
                  const std::function<void(sqlite3_stmt*)>& bind, const std::function<void(const std::string&)>& schema) {
  if (!sqlite3_get_autocommit(db))
    throw jet::Error(jet::err::kInvalidOperation, "A make-table query is a change of its own: run it outside a transaction.");

  // The new table's columns: named as the query names them, typed from their sources or values.
  Statement query = prepare(db, select);
  bind(query.get());
  const int count = sqlite3_column_count(query.get());
  jet::NewTable table;
  table.name = target;
  std::vector<bool> typed(static_cast<size_t>(count), false);
  for (int i = 0; i < count; ++i) {
    std::optional<jet::NewColumn> c = fromSource(bridge, query.get(), i);
    typed[size_t(i)] = c.has_value();
    table.columns.push_back(c ? *c : jet::NewColumn{});
    // A name Access gives a result column may hold what a field name cannot ("Table2.col2" where
    // two tables' columns share a name): those characters become '_'.
    std::string name = sqlite3_column_name(query.get(), i);
    for (char& ch : name)
      if (ch == '.' || ch == '!' || ch == '`' || ch == '[' || ch == ']') ch = '_';
    table.columns.back().name = name;
  }
  query.reset();

  run(db, std::string("DROP TABLE IF EXISTS ") + kRows);
  Statement copy = prepare(db, std::string("CREATE TABLE ") + kRows + " AS " + select);
  bind(copy.get());
  if (sqlite3_step(copy.get()) != SQLITE_DONE) throw SqlError(sqlite3_errmsg(db), -1);
  copy.reset();
  struct DropRows {
    sqlite3* db;
    ~DropRows() { sqlite3_exec(db, (std::string("DROP TABLE IF EXISTS ") + kRows).c_str(), nullptr, nullptr, nullptr); }
  } dropRows{db};
  // Computed columns take their type from their values, read once before the rows are written.
  if (std::find(typed.begin(), typed.end(), false) != typed.end()) {
    std::vector<Seen> seen(static_cast<size_t>(count));
    for (Statement rows = prepare(db, std::string("SELECT * FROM ") + kRows); sqlite3_step(rows.get()) == SQLITE_ROW;)
      for (int i = 0; i < count; ++i)
        if (!typed[size_t(i)]) seen[size_t(i)].add(rows.get(), i);
    for (size_t i = 0; i < typed.size(); ++i)
      if (!typed[i]) {
        const std::string name = table.columns[i].name;
        table.columns[i] = seen[i].column();
        table.columns[i].name = name;
      }
  }

  // One change of the file: the old table dropped, the new one made and filled. On failure the
  // engine's transaction and SQLite's schema are both rolled back, and the bridge's view with them.
  jet::Database& file = bridge.db();
  std::string old;
  for (const BridgeTable& t : bridge.tables())
    if (jet::sameName(t.info.name, target)) old = t.info.name;
  const size_t slots = bridge.tables().size();
  run(db, "BEGIN");
  try {
    bridge.begin();
    if (!old.empty()) {
      file.dropTable(old);
      schema("DROP TABLE main." + quoteName(old));
    }
    file.createTable(table);
    schema(declareTableSql(bridge, bridge.reloadTable(target)));
    run(db, "INSERT INTO main." + quoteName(target) + std::string(" SELECT * FROM ") + kRows);
    const int64_t written = sqlite3_changes64(db);
    run(db, "COMMIT");
    return written;
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (file.inTransaction()) file.rollbackTransaction();
    if (bridge.tables().size() > slots) bridge.tables().pop_back();
    try {
      if (!old.empty()) bridge.reloadTable(old);
    } catch (const jet::Error&) {
      // The original error is the one to report.
    }
    throw;
  }
}

}  // namespace sql
