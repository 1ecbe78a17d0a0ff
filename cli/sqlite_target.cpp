#include "cli/sqlite_target.h"


#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "jet/base/value_text.h"
#include <algorithm>
#include <cstdio>

namespace migrate {

namespace {

std::string quote(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  return out + "\"";
}

// The stored type each source type becomes.
const char* sqliteType(const jet::ColumnInfo& c) {
  switch (c.type) {
    case jet::ColumnType::Boolean: case jet::ColumnType::Byte: case jet::ColumnType::Integer:
    case jet::ColumnType::Long: case jet::ColumnType::Complex:
      return "INTEGER";
    case jet::ColumnType::Single: case jet::ColumnType::Double: return "REAL";
    case jet::ColumnType::Binary: case jet::ColumnType::Ole: return "BLOB";
    case jet::ColumnType::Text: case jet::ColumnType::Memo: case jet::ColumnType::Currency:
    case jet::ColumnType::Numeric: case jet::ColumnType::DateTime: case jet::ColumnType::Guid:
    case jet::ColumnType::DateTimeExtended:
      return "TEXT";
    case jet::ColumnType::BigInt:
      return "INTEGER";
  }
  return "BLOB";
}

const jet::ColumnInfo* columnByNumber(const jet::TableInfo& t, uint16_t number) {
  for (const auto& c : t.columns)
    if (c.number == number) return &c;
  return nullptr;
}

std::string columnList(const jet::TableInfo& t, const jet::IndexInfo& ix) {
  std::string out;
  for (const jet::IndexColumn& ic : ix.columns) {
    const jet::ColumnInfo* c = columnByNumber(t, ic.columnNumber);
    if (!c) continue;
    if (!out.empty()) out += ", ";
    out += quote(c->name) + (ic.ascending ? "" : " DESC");
  }
  return out;
}

std::string names(const std::vector<std::string>& list) {
  std::string out;
  for (const auto& n : list) out += (out.empty() ? "" : ", ") + quote(n);
  return out;
}

std::string referentialActions(int32_t flags) {
  std::string out;
  if (flags & jet::kRelationUpdateCascade) out += " ON UPDATE CASCADE";
  if (flags & jet::kRelationDeleteCascade)
    out += " ON DELETE CASCADE";
  else if (flags & jet::kRelationCascadeNull)
    out += " ON DELETE SET NULL";
  return out;
}

bool inPrimaryKey(const jet::TableInfo& t, const jet::ColumnInfo& c) {
  for (const auto& ix : t.indexes)
    if (ix.primaryKey)
      for (const auto& ic : ix.columns)
        if (ic.columnNumber == c.number) return true;
  return false;
}

// The temporary file of the migration under way, removed when the program is interrupted.
char interruptedTemp[4096];
struct sigaction previousInt, previousTerm;

void removeTempAndDie(int sig) {
  if (interruptedTemp[0]) ::unlink(interruptedTemp);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void guardTemp(const std::string& path) {
  if (path.size() >= sizeof interruptedTemp) return;
  std::memcpy(interruptedTemp, path.c_str(), path.size() + 1);
  struct sigaction sa {};
  sa.sa_handler = removeTempAndDie;
  ::sigaction(SIGINT, &sa, &previousInt);
  ::sigaction(SIGTERM, &sa, &previousTerm);
}

void unguardTemp() {
  if (!interruptedTemp[0]) return;
  ::sigaction(SIGINT, &previousInt, nullptr);
  ::sigaction(SIGTERM, &previousTerm, nullptr);
  interruptedTemp[0] = 0;
}

class SqliteReader : public RowReader {
 public:
  SqliteReader(sqlite3* db, const jet::TableInfo& t) : db_(db) {
    std::string sql = "SELECT ";
    for (size_t i = 0; i < t.columns.size(); ++i) sql += (i ? ", " : "") + quote(t.columns[i].name);
    sql += " FROM " + quote(t.name) + " WHERE rowid = ?";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK)
      throw Refused(std::string("SQLite: ") + sqlite3_errmsg(db));
    key_ = rowKeyColumn(t);
  }
  ~SqliteReader() override { sqlite3_finalize(stmt_); }

  bool row(int64_t number, const std::vector<jet::Value>& source, TextRow& out) override {
    // Tables keyed by their auto-number keep it as the row id; the others number rows as loaded.
    int64_t rowid = number;
    if (key_ >= 0) {
      auto* k = std::get_if<int64_t>(&source[key_]);
      if (!k) return false;
      rowid = *k;
    }
    sqlite3_reset(stmt_);
    sqlite3_bind_int64(stmt_, 1, rowid);
    if (sqlite3_step(stmt_) != SQLITE_ROW) return false;
    const int n = sqlite3_column_count(stmt_);
    out.assign(n, std::nullopt);
    for (int i = 0; i < n; ++i) {
      switch (sqlite3_column_type(stmt_, i)) {
        case SQLITE_NULL: break;
        case SQLITE_INTEGER: out[i] = std::to_string(sqlite3_column_int64(stmt_, i)); break;
        case SQLITE_FLOAT: {
          char buf[40];
          std::snprintf(buf, sizeof buf, "%.17g", sqlite3_column_double(stmt_, i));
          out[i] = buf;
          break;
        }
        case SQLITE_BLOB: {
          static const char kHex[] = "0123456789abcdef";
          auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, i));
          int size = sqlite3_column_bytes(stmt_, i);
          std::string s = "\\x";
          for (int k = 0; k < size; ++k) {
            s.push_back(kHex[p[k] >> 4]);
            s.push_back(kHex[p[k] & 15]);
          }
          out[i] = s;
          break;
        }
        default:
          out[i] = std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i)),
                               sqlite3_column_bytes(stmt_, i));
      }
    }
    return true;
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  int key_ = -1;
};

class SqliteTarget : public Target {
 public:
  explicit SqliteTarget(std::string path) : path_(std::move(path)) {}

  ~SqliteTarget() override {
    if (insert_) sqlite3_finalize(insert_);
    if (db_) sqlite3_close(db_);
    if (!temp_.empty() && !committed_) ::unlink(temp_.c_str());
    unguardTemp();
  }

  void open() {
    if (std::filesystem::exists(path_)) throw Refused(path_ + " exists already; migrate writes a new SQLite file");
    std::string pattern = path_ + ".tmp-XXXXXX";
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw Refused("cannot create a file beside " + path_ + ": " + std::strerror(errno));
    ::close(fd);
    temp_ = pattern;
    guardTemp(temp_);
    if (sqlite3_open_v2(temp_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
      throw Refused("cannot open " + temp_ + " with SQLite");
    // The temporary file is thrown away on any failure, so it needs no journal of its own.
    exec("PRAGMA journal_mode = OFF");
    exec("PRAGMA synchronous = OFF");
    exec("PRAGMA cache_size = -65536");
    exec("PRAGMA foreign_keys = OFF");
  }

  void begin(const SourceSchema&) override { exec("BEGIN"); }

  void createTable(const jet::TableInfo& t, const std::vector<Relationship>& outgoing) override {
    const int key = rowKeyColumn(t);
    std::string sql = "CREATE TABLE " + quote(t.name) + " (";
    for (size_t i = 0; i < t.columns.size(); ++i) {
      const jet::ColumnInfo& c = t.columns[i];
      sql += (i ? ", " : "") + quote(c.name) + " " + sqliteType(c);
      if (static_cast<int>(i) == key) {
        sql += " PRIMARY KEY";
        continue;
      }
      if (c.required || c.type == jet::ColumnType::Boolean || inPrimaryKey(t, c)) sql += " NOT NULL";
    }
    // A key other than the row's own must be declared with the table: SQLite adds none later.
    for (const jet::IndexInfo& ix : t.indexes)
      if (ix.primaryKey && key < 0) sql += ", PRIMARY KEY (" + columnList(t, ix) + ")";
    for (const Relationship& r : outgoing)
      sql += ", CONSTRAINT " + quote(r.name) + " FOREIGN KEY (" + names(r.columns) + ") REFERENCES " +
             quote(r.referencedTable) + " (" + names(r.referencedColumns) + ")" + referentialActions(r.flags);
    exec(sql + ")");
  }

  void beginRows(const jet::TableInfo& t) override {
    table_ = &t;
    std::string sql = "INSERT INTO " + quote(t.name) + " VALUES (";
    for (size_t i = 0; i < t.columns.size(); ++i) sql += i ? ", ?" : "?";
    sql += ")";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &insert_, nullptr) != SQLITE_OK) fail("preparing the insert");
    large_.clear();
    // One text buffer per column, sized before any is bound: growing would move them.
    scratch_.assign(t.columns.size(), std::string());
    for (const auto& c : t.columns) large_.push_back(c.type == jet::ColumnType::BigInt);
  }

  void addRow(const std::vector<jet::Value>& values, int64_t number) override {
    for (size_t i = 0; i < values.size(); ++i) bind(static_cast<int>(i), values[i], large_[i]);
    if (sqlite3_step(insert_) != SQLITE_DONE) {
      std::string message = sqlite3_errmsg(db_);
      sqlite3_reset(insert_);
      throw Refused("table " + table_->name + ", row " + std::to_string(number) + ": SQLite refused the row: " +
                    message);
    }
    sqlite3_reset(insert_);
  }

  void endRows() override {
    sqlite3_finalize(insert_);
    insert_ = nullptr;
  }

  void finishTable(const jet::TableInfo& t, std::optional<int64_t>) override {
    // The row key follows on from the highest row id by itself.
    for (const jet::IndexInfo* ix : indexesToBuild(t)) {
      if (ix->primaryKey) continue;
      std::string cols = columnList(t, *ix);
      if (cols.empty()) continue;
      std::string name = uniqueName(t.name + "_" + ix->name, 1000, names_);
      exec(std::string(ix->unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + quote(name) + " ON " +
           quote(t.name) + " (" + cols + ")");
    }
  }

  void addRelationships(const std::vector<Relationship>& relationships) override {
    // Declared with their tables; checked now that every row is in.
    if (relationships.empty()) return;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, "PRAGMA foreign_key_check", -1, &st, nullptr) != SQLITE_OK)
      fail("checking the foreign keys");
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      std::string table = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      std::string parent = reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
      int64_t rowid = sqlite3_column_int64(st, 1);
      sqlite3_finalize(st);
      throw Refused("table " + table + ", row id " + std::to_string(rowid) + ": no matching row in " + parent +
                    " for its relationship");
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) fail("checking the foreign keys");
  }

  bool addView(const std::string& name, const std::string& select, std::string& why) override {
    char* message = nullptr;
    const std::string ddl = "CREATE VIEW " + quote(name) + " AS " + select;
    if (sqlite3_exec(db_, ddl.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      why = message ? message : "refused";
      sqlite3_free(message);
      return false;
    }
    // SQLite checks a view's names only when it is read.
    sqlite3_stmt* st = nullptr;
    const std::string read = "SELECT * FROM " + quote(name);
    if (sqlite3_prepare_v2(db_, read.c_str(), -1, &st, nullptr) == SQLITE_OK) {
      sqlite3_finalize(st);
      return true;
    }
    why = sqlite3_errmsg(db_);
    sqlite3_finalize(st);
    exec("DROP VIEW " + quote(name));
    return false;
  }

  int64_t countRows(const jet::TableInfo& t) override {
    sqlite3_stmt* st = nullptr;
    std::string sql = "SELECT count(*) FROM " + quote(t.name);
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) fail("counting rows");
    int64_t n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    sqlite3_finalize(st);
    return n;
  }

  std::unique_ptr<RowReader> readRows(const jet::TableInfo& t) override {
    return std::make_unique<SqliteReader>(db_, t);
  }

  void commit() override {
    exec("COMMIT");
    if (sqlite3_close(db_) != SQLITE_OK) fail("closing the file");
    db_ = nullptr;
    int fd = ::open(temp_.c_str(), O_RDONLY);
    if (fd < 0 || ::fsync(fd) != 0) {
      if (fd >= 0) ::close(fd);
      throw Refused("cannot write " + temp_ + ": " + std::strerror(errno));
    }
    ::close(fd);
    // A hard link never replaces a file that appeared at PATH meanwhile.
    if (::link(temp_.c_str(), path_.c_str()) != 0)
      throw Refused("cannot put the SQLite file in place at " + path_ + ": " + std::strerror(errno));
    ::unlink(temp_.c_str());
    committed_ = true;
    std::string dir = std::filesystem::absolute(path_).parent_path().string();
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
      ::fsync(dfd);
      ::close(dfd);
    }
  }

 private:
  [[noreturn]] void fail(const std::string& what) {
    throw Refused("SQLite, " + what + ": " + sqlite3_errmsg(db_));
  }

  void exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      std::string text = message ? message : "failed";
      sqlite3_free(message);
      throw Refused("SQLite refused " + sql.substr(0, 200) + ": " + text);
    }
  }

  // Column `index`'s value; texts made here stay in scratch_ until the row is stepped.
  void bind(int index, const jet::Value& v, bool large) {
    const int at = index + 1;
    if (large) {
      if (auto n = largeNumber(v)) {
        sqlite3_bind_int64(insert_, at, *n);
        return;
      }
    }
    struct Visitor {
      sqlite3_stmt* st;
      int at;
      std::string& scratch;
      void operator()(const jet::Null&) const { sqlite3_bind_null(st, at); }
      void operator()(bool b) const { sqlite3_bind_int(st, at, b ? 1 : 0); }
      void operator()(int64_t i) const { sqlite3_bind_int64(st, at, i); }
      void operator()(const jet::Currency& c) const { text(jet::currencyText(c.scaled, true)); }
      void operator()(float f) const { sqlite3_bind_double(st, at, f); }
      void operator()(double d) const { sqlite3_bind_double(st, at, d); }
      void operator()(const jet::DateTime& d) const {
        auto s = timestampText(d.days, false);
        if (s) text(*s);
        else sqlite3_bind_double(st, at, d.days);  // outside the calendar: the raw day count
      }
      void operator()(const std::string& s) const {
        sqlite3_bind_text(st, at, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
      }
      void operator()(const jet::Bytes& b) const {
        if (b.empty()) {
          sqlite3_bind_zeroblob(st, at, 0);  // a null pointer would bind Null
          return;
        }
        sqlite3_bind_blob(st, at, b.data(), static_cast<int>(b.size()), SQLITE_STATIC);
      }
      void operator()(const jet::Guid& g) const { text(uuidText(g)); }
      void operator()(const jet::Decimal& d) const { text(exactDecimal(d)); }
      void operator()(const jet::DateTimeExtended& d) const { text(jet::extendedDateText(d, false)); }
      void text(std::string s) const {
        scratch = std::move(s);
        sqlite3_bind_text(st, at, scratch.data(), static_cast<int>(scratch.size()), SQLITE_STATIC);
      }
    };
    std::visit(Visitor{insert_, at, scratch_[index]}, v);
  }

  std::string path_;
  std::string temp_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  const jet::TableInfo* table_ = nullptr;
  std::vector<bool> large_;
  std::vector<std::string> scratch_;
  std::vector<std::string> names_;
  bool committed_ = false;
};

}  // namespace

std::unique_ptr<Target> openSqliteTarget(const std::string& path) {
  auto t = std::make_unique<SqliteTarget>(path);
  t->open();
  return t;
}

}  // namespace migrate
