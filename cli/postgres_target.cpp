#include "cli/postgres_target.h"

#include <algorithm>
#include <cstring>

#include "cli/libpq.h"
#include "jet/base/value_text.h"

namespace migrate {

namespace {

constexpr size_t kNameLimit = 63;       // longer names are cut short by the server
constexpr size_t kCopyChunk = 1 << 20;  // bytes handed to libpq at a time

std::string quote(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  return out + "\"";
}

std::string postgresType(const jet::ColumnInfo& c, jet::Format format) {
  switch (c.type) {
    case jet::ColumnType::Boolean: return "boolean";
    case jet::ColumnType::Byte: return "smallint";
    case jet::ColumnType::Integer: return "smallint";
    case jet::ColumnType::Long: return "integer";
    case jet::ColumnType::Complex: return "integer";  // refused before a table is made
    case jet::ColumnType::Currency: return "numeric(19,4)";
    case jet::ColumnType::Single: return "real";
    case jet::ColumnType::Double: return "double precision";
    case jet::ColumnType::DateTime: return "timestamp(3)";
    case jet::ColumnType::Binary: case jet::ColumnType::Ole: return "bytea";
    case jet::ColumnType::BigInt: return "bigint";
    // Seven fraction digits are more than a PostgreSQL timestamp keeps: the text form keeps them.
    case jet::ColumnType::DateTimeExtended: return "varchar(27)";
    case jet::ColumnType::Memo: return "text";
    case jet::ColumnType::Guid: return "uuid";
    case jet::ColumnType::Text: return "varchar(" + std::to_string(textLength(c, format)) + ")";
    case jet::ColumnType::Numeric: {
      int p = std::clamp<int>(c.precision, 1, 1000), s = std::min<int>(c.scale, p);
      return "numeric(" + std::to_string(p) + "," + std::to_string(s) + ")";
    }
  }
  return "bytea";
}

const jet::ColumnInfo* columnByNumber(const jet::TableInfo& t, uint16_t number) {
  for (const auto& c : t.columns)
    if (c.number == number) return &c;
  return nullptr;
}

std::string names(const std::vector<std::string>& list) {
  std::string out;
  for (const auto& n : list) out += (out.empty() ? "" : ", ") + quote(n);
  return out;
}

size_t utf8Length(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

void put16(std::string& b, uint16_t v) {
  b.push_back(static_cast<char>(v >> 8));
  b.push_back(static_cast<char>(v));
}
void put32(std::string& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<char>(v >> s));
}
void put64(std::string& b, uint64_t v) {
  for (int s = 56; s >= 0; s -= 8) b.push_back(static_cast<char>(v >> s));
}

// Undoes COPY's text escapes of one field.
std::string unescape(const char* p, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != '\\' || i + 1 == n) {
      out.push_back(p[i]);
      continue;
    }
    char c = p[++i];
    switch (c) {
      case 'b': out.push_back('\b'); break;
      case 'f': out.push_back('\f'); break;
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      case 'v': out.push_back('\v'); break;
      default: out.push_back(c);
    }
  }
  return out;
}

class Connection {
 public:
  explicit Connection(PGconn* c) : c_(c) {}
  ~Connection() { libpq().PQfinish(c_); }
  PGconn* get() const { return c_; }

 private:
  PGconn* c_;
};

class Result {
 public:
  explicit Result(PGresult* r) : r_(r) {}
  ~Result() { libpq().PQclear(r_); }
  PGresult* get() const { return r_; }

 private:
  PGresult* r_;
};

class PostgresReader : public RowReader {
 public:
  PostgresReader(PGconn* c, std::string sql) : c_(c) {
    Result r(libpq().PQexec(c_, sql.c_str()));
    if (libpq().PQresultStatus(r.get()) != PGRES_COPY_OUT)
      throw Refused(std::string("PostgreSQL, reading back: ") + libpq().PQerrorMessage(c_));
  }
  ~PostgresReader() override {
    // Drain what was not read so that the connection can be used again.
    char* buf = nullptr;
    while (!done_ && libpq().PQgetCopyData(c_, &buf, 0) > 0) libpq().PQfreemem(buf);
    while (PGresult* r = libpq().PQgetResult(c_)) libpq().PQclear(r);
  }

  bool row(int64_t, const std::vector<jet::Value>&, TextRow& out) override {
    char* buf = nullptr;
    int n = libpq().PQgetCopyData(c_, &buf, 0);
    if (n < 0) {
      done_ = true;
      return false;
    }
    out.clear();
    size_t len = static_cast<size_t>(n);
    if (len && buf[len - 1] == '\n') --len;
    size_t start = 0;
    for (size_t i = 0; i <= len; ++i) {
      if (i < len && buf[i] != '\t') continue;
      if (i - start == 2 && buf[start] == '\\' && buf[start + 1] == 'N')
        out.push_back(std::nullopt);
      else
        out.push_back(unescape(buf + start, i - start));
      start = i + 1;
    }
    libpq().PQfreemem(buf);
    return true;
  }

 private:
  PGconn* c_;
  bool done_ = false;
};

class PostgresTarget : public Target {
 public:
  PostgresTarget(PGconn* c, std::string schema) : conn_(c), schema_(std::move(schema)) {}

  ~PostgresTarget() override {
    // Whatever was not committed is rolled back when the connection closes.
  }

  void begin(const SourceSchema& s) override {
    auto tooLong = [](const std::string& n) { return n.size() > kNameLimit; };
    for (const auto& t : s.tables) {
      if (tooLong(t.name)) throw Refused("table " + t.name + ": the name is longer than PostgreSQL's 63 bytes");
      for (const auto& c : t.columns)
        if (tooLong(c.name))
          throw Refused("table " + t.name + ", column " + c.name + ": the name is longer than PostgreSQL's 63 bytes");
    }
    format_ = s.format;
    exec("BEGIN");
    // Read back in the order written: one plain scan from the table's start.
    exec("SET LOCAL synchronize_seqscans = off");
    exec("SET LOCAL max_parallel_workers_per_gather = 0");
    // Names the schema holds already: any table of ours among them refuses the whole migration.
    const char* params[1] = {schema_.c_str()};
    Result r(libpq().PQexecParams(conn_.get(),
                          "SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                          "WHERE n.nspname = $1",
                          1, nullptr, params, nullptr, nullptr, 0));
    if (libpq().PQresultStatus(r.get()) != PGRES_TUPLES_OK) fail("reading the catalog");
    for (int i = 0; i < libpq().PQntuples(r.get()); ++i) taken_.push_back(libpq().PQgetvalue(r.get(), i, 0));
    for (const auto& t : s.tables)
      if (std::find(taken_.begin(), taken_.end(), t.name) != taken_.end())
        throw Refused("schema " + schema_ + " already holds a table " + t.name + "; nothing was written");
    if (schema_ != "public") exec("CREATE SCHEMA IF NOT EXISTS " + quote(schema_));
    for (const auto& t : s.tables) taken_.push_back(t.name);
  }

  void createTable(const jet::TableInfo& t, const std::vector<Relationship>&) override {
    std::string sql = "CREATE TABLE " + qualified(t.name) + " (";
    for (size_t i = 0; i < t.columns.size(); ++i) {
      const jet::ColumnInfo& c = t.columns[i];
      sql += (i ? ", " : "") + quote(c.name) + " " + postgresType(c, format_);
      if (c.autoNumber && c.type == jet::ColumnType::Long) sql += " GENERATED BY DEFAULT AS IDENTITY";
      if (c.autoGuid && c.type == jet::ColumnType::Guid) sql += " DEFAULT gen_random_uuid()";
      if (c.required || c.type == jet::ColumnType::Boolean) sql += " NOT NULL";
      if (c.type == jet::ColumnType::Byte) sql += " CHECK (" + quote(c.name) + " BETWEEN 0 AND 255)";
    }
    exec(sql + ")");
  }

  void beginRows(const jet::TableInfo& t) override {
    table_ = &t;
    Result r(libpq().PQexec(conn_.get(), ("COPY " + qualified(t.name) + " FROM STDIN (FORMAT binary)").c_str()));
    if (libpq().PQresultStatus(r.get()) != PGRES_COPY_IN) fail("starting the copy into " + t.name);
    buf_.clear();
    buf_.append("PGCOPY\n\377\r\n\0", 11);
    put32(buf_, 0);
    put32(buf_, 0);
  }

  void addRow(const std::vector<jet::Value>& values, int64_t number) override {
    put16(buf_, static_cast<uint16_t>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) field(table_->columns[i], values[i], number);
    if (buf_.size() >= kCopyChunk) flush();
  }

  void endRows() override {
    put16(buf_, 0xFFFF);
    flush();
    if (libpq().PQputCopyEnd(conn_.get(), nullptr) != 1) fail("ending the copy");
    Result r(libpq().PQgetResult(conn_.get()));
    if (libpq().PQresultStatus(r.get()) != PGRES_COMMAND_OK) copyFailed(r.get());
    while (PGresult* more = libpq().PQgetResult(conn_.get())) libpq().PQclear(more);
  }

  void finishTable(const jet::TableInfo& t, std::optional<int64_t> highest) override {
    for (const jet::IndexInfo* index : indexesToBuild(t)) {
      const jet::IndexInfo& ix = *index;
      std::string cols, plain;
      for (const jet::IndexColumn& ic : ix.columns) {
        const jet::ColumnInfo* c = columnByNumber(t, ic.columnNumber);
        if (!c) continue;
        cols += (cols.empty() ? "" : ", ") + quote(c->name) + (ic.ascending ? "" : " DESC");
        plain += (plain.empty() ? "" : ", ") + quote(c->name);
      }
      if (cols.empty()) continue;
      std::string name = uniqueName(t.name + "_" + ix.name, kNameLimit, taken_);
      if (ix.primaryKey) {
        // A key constraint has no column directions; a descending key also gets an index that has.
        exec("ALTER TABLE " + qualified(t.name) + " ADD CONSTRAINT " + quote(name) + " PRIMARY KEY (" + plain + ")");
        if (cols != plain)
          exec("CREATE INDEX " + quote(uniqueName(name + "_order", kNameLimit, taken_)) + " ON " + qualified(t.name) +
               " (" + cols + ")");
      } else {
        exec(std::string(ix.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + quote(name) + " ON " +
             qualified(t.name) + " (" + cols + ")");
      }
    }
    for (const auto& c : t.columns)
      if (c.autoNumber && c.type == jet::ColumnType::Long && highest && *highest >= 1 && *highest < INT32_MAX)
        exec("ALTER TABLE " + qualified(t.name) + " ALTER COLUMN " + quote(c.name) + " RESTART WITH " +
             std::to_string(*highest + 1));
  }

  void addRelationships(const std::vector<Relationship>& relationships) override {
    for (const Relationship& r : relationships) {
      std::string sql = "ALTER TABLE " + qualified(r.table) + " ADD CONSTRAINT " +
                        quote(uniqueName(r.name, kNameLimit, taken_)) + " FOREIGN KEY (" + names(r.columns) +
                        ") REFERENCES " + qualified(r.referencedTable) + " (" + names(r.referencedColumns) + ")";
      if (r.flags & jet::kRelationUpdateCascade) sql += " ON UPDATE CASCADE";
      if (r.flags & jet::kRelationDeleteCascade)
        sql += " ON DELETE CASCADE";
      else if (r.flags & jet::kRelationCascadeNull)
        sql += " ON DELETE SET NULL";
      exec(sql);
    }
  }

  bool addView(const std::string& name, const std::string& select, std::string& why) override {
    // Each view in a savepoint of its own: a refused one leaves the transaction usable.
    exec("SAVEPOINT saved_query");
    exec("SET LOCAL search_path TO " + quote(schema_) + ", public");
    Result r(libpq().PQexec(conn_.get(), ("CREATE VIEW " + qualified(name) + " AS " + select).c_str()));
    const bool ok = libpq().PQresultStatus(r.get()) == PGRES_COMMAND_OK;
    if (!ok) {
      why = libpq().PQresultErrorMessage(r.get());
      why = why.substr(0, why.find('\n'));  // the message, without the quoted statement
      exec("ROLLBACK TO SAVEPOINT saved_query");
    }
    exec("RELEASE SAVEPOINT saved_query");
    return ok;
  }

  int64_t countRows(const jet::TableInfo& t) override {
    Result r(libpq().PQexec(conn_.get(), ("SELECT count(*) FROM " + qualified(t.name)).c_str()));
    if (libpq().PQresultStatus(r.get()) != PGRES_TUPLES_OK) fail("counting the rows of " + t.name);
    return std::stoll(libpq().PQgetvalue(r.get(), 0, 0));
  }

  std::unique_ptr<RowReader> readRows(const jet::TableInfo& t) override {
    std::string cols;
    for (const auto& c : t.columns) cols += (cols.empty() ? "" : ", ") + quote(c.name);
    return std::make_unique<PostgresReader>(conn_.get(),
                                            "COPY (SELECT " + cols + " FROM " + qualified(t.name) + ") TO STDOUT");
  }

  void commit() override { exec("COMMIT"); }

 private:
  std::string qualified(const std::string& table) const { return quote(schema_) + "." + quote(table); }

  [[noreturn]] void fail(const std::string& what) {
    std::string message = libpq().PQerrorMessage(conn_.get());
    while (!message.empty() && message.back() == '\n') message.pop_back();
    throw Refused("PostgreSQL, " + what + ": " + message);
  }

  void exec(const std::string& sql) {
    Result r(libpq().PQexec(conn_.get(), sql.c_str()));
    if (libpq().PQresultStatus(r.get()) != PGRES_COMMAND_OK) fail("refused " + sql.substr(0, 200));
  }

  void flush() {
    if (buf_.empty()) return;
    if (libpq().PQputCopyData(conn_.get(), buf_.data(), static_cast<int>(buf_.size())) != 1) {
      // The server ended the copy early: its reason is in the result.
      libpq().PQputCopyEnd(conn_.get(), nullptr);
      Result r(libpq().PQgetResult(conn_.get()));
      copyFailed(r.get());
    }
    buf_.clear();
  }

  // The server's reason, with its "COPY t, line N, column c" context as table, row and column.
  [[noreturn]] void copyFailed(PGresult* r) {
    std::string primary = r ? libpq().PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) ? libpq().PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : ""
                            : libpq().PQerrorMessage(conn_.get());
    std::string context = r && libpq().PQresultErrorField(r, PG_DIAG_CONTEXT) ? libpq().PQresultErrorField(r, PG_DIAG_CONTEXT) : "";
    std::string where = "table " + table_->name;
    size_t line = context.find(", line ");
    if (line != std::string::npos) {
      size_t end = context.find_first_of(",:\n", line + 7);
      where += ", row " + context.substr(line + 7, end - line - 7);
      size_t col = context.find(", column ", line);
      if (col != std::string::npos) {
        size_t cend = context.find(':', col + 9);
        where += ", column " + context.substr(col + 9, cend == std::string::npos ? cend : cend - col - 9);
      }
    }
    throw Refused(where + ": PostgreSQL refused the value: " + primary);
  }

  [[noreturn]] void refuse(const jet::ColumnInfo& c, int64_t row, const std::string& why) {
    throw Refused("table " + table_->name + ", row " + std::to_string(row) + ", column " + c.name + ": " + why);
  }

  void bytes(const void* p, size_t n) {
    put32(buf_, static_cast<uint32_t>(n));
    buf_.append(static_cast<const char*>(p), n);
  }

  void field(const jet::ColumnInfo& c, const jet::Value& v, int64_t row) {
    if (c.type == jet::ColumnType::BigInt && !jet::isNull(v)) {
      auto n = largeNumber(v);
      if (!n) refuse(c, row, "not an eight-byte number");
      put32(buf_, 8);
      put64(buf_, static_cast<uint64_t>(*n));
      return;
    }
    switch (v.index()) {
      case 0: put32(buf_, 0xFFFFFFFFu); return;  // Null
      case 1: put32(buf_, 1); buf_.push_back(std::get<bool>(v) ? 1 : 0); return;
      case 2: {
        int64_t i = std::get<int64_t>(v);
        if (c.type == jet::ColumnType::Long) {
          put32(buf_, 4);
          put32(buf_, static_cast<uint32_t>(i));
        } else if (c.type == jet::ColumnType::Byte || c.type == jet::ColumnType::Integer) {
          put32(buf_, 2);
          put16(buf_, static_cast<uint16_t>(i));
        } else {
          put32(buf_, 8);
          put64(buf_, static_cast<uint64_t>(i));
        }
        return;
      }
      case 3: {
        std::string n = postgresNumeric(jet::currencyText(std::get<jet::Currency>(v).scaled, true));
        bytes(n.data(), n.size());
        return;
      }
      case 4: {
        float f = std::get<float>(v);
        uint32_t u;
        std::memcpy(&u, &f, 4);
        put32(buf_, 4);
        put32(buf_, u);
        return;
      }
      case 5: {
        double d = std::get<double>(v);
        uint64_t u;
        std::memcpy(&u, &d, 8);
        put32(buf_, 8);
        put64(buf_, u);
        return;
      }
      case 6: {
        auto us = postgresMicroseconds(std::get<jet::DateTime>(v).days);
        if (!us) refuse(c, row, "a date outside the years 100 to 9999");
        put32(buf_, 8);
        put64(buf_, static_cast<uint64_t>(*us));
        return;
      }
      case 7: {
        const std::string& s = std::get<std::string>(v);
        if (s.find('\0') != std::string::npos) refuse(c, row, "text holding a zero character, which PostgreSQL cannot store");
        if (c.type == jet::ColumnType::Text && utf8Length(s) > static_cast<size_t>(textLength(c, format_)))
          refuse(c, row, "text longer than the field's " + std::to_string(textLength(c, format_)) + " characters");
        bytes(s.data(), s.size());
        return;
      }
      case 8: {
        const jet::Bytes& b = std::get<jet::Bytes>(v);
        bytes(b.data(), b.size());
        return;
      }
      case 9: {
        auto u = uuidBytes(std::get<jet::Guid>(v));
        bytes(u.data(), u.size());
        return;
      }
      case 10: {
        std::string n = postgresNumeric(exactDecimal(std::get<jet::Decimal>(v)));
        bytes(n.data(), n.size());
        return;
      }
      case 11: {
        std::string t = jet::extendedDateText(std::get<jet::DateTimeExtended>(v), false);
        bytes(t.data(), t.size());
        return;
      }
    }
  }

  Connection conn_;
  std::string schema_;
  std::vector<std::string> taken_;
  const jet::TableInfo* table_ = nullptr;
  jet::Format format_ = jet::Format::Jet4Layout;
  std::string buf_;
};

}  // namespace

std::string postgresNumeric(const std::string& decimal) {
  bool negative = !decimal.empty() && decimal[0] == '-';
  std::string s = negative ? decimal.substr(1) : decimal;
  size_t point = s.find('.');
  std::string whole = s.substr(0, point), frac = point == std::string::npos ? "" : s.substr(point + 1);
  const int dscale = static_cast<int>(frac.size());
  // Align both parts to groups of four digits.
  whole.insert(0, (4 - whole.size() % 4) % 4, '0');
  frac.append((4 - frac.size() % 4) % 4, '0');
  std::vector<uint16_t> digits;
  auto group = [](const std::string& g) { return static_cast<uint16_t>(std::stoi(g)); };
  for (size_t i = 0; i < whole.size(); i += 4) digits.push_back(group(whole.substr(i, 4)));
  for (size_t i = 0; i < frac.size(); i += 4) digits.push_back(group(frac.substr(i, 4)));
  int weight = static_cast<int>(whole.size() / 4) - 1;
  size_t lead = 0;
  while (lead < digits.size() && digits[lead] == 0) ++lead, --weight;
  digits.erase(digits.begin(), digits.begin() + static_cast<long>(lead));
  while (!digits.empty() && digits.back() == 0) digits.pop_back();
  if (digits.empty()) weight = 0, negative = false;
  std::string out;
  put16(out, static_cast<uint16_t>(digits.size()));
  put16(out, static_cast<uint16_t>(static_cast<int16_t>(weight)));
  put16(out, negative ? 0x4000 : 0);
  put16(out, static_cast<uint16_t>(dscale));
  for (uint16_t d : digits) put16(out, d);
  return out;
}

std::unique_ptr<Target> openPostgresTarget(const std::string& uri, const std::string& schema) {
  PGconn* c = libpq().PQconnectdb(uri.c_str());
  if (libpq().PQstatus(c) != CONNECTION_OK) {
    std::string message = libpq().PQerrorMessage(c);
    libpq().PQfinish(c);
    while (!message.empty() && message.back() == '\n') message.pop_back();
    throw Refused("cannot connect to the PostgreSQL server: " + message);
  }
  libpq().PQsetClientEncoding(c, "UTF8");
  return std::make_unique<PostgresTarget>(c, schema.empty() ? "public" : schema);
}

}  // namespace migrate
