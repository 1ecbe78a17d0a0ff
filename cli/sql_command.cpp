// The sql and queries commands over the SQL bridge: statements from the command line or standard
// input run in one in-memory SQLite connection whose tables are the file's, rows written as
// CSV, JSON lines or an aligned table; saved queries listed, shown, or run.
#include "cli/command.h"

#include <sqlite3.h>

#include <algorithm>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "cli/format.h"
#include "jet/base/error.h"
#include "sql/connection.h"
#include "sql/saved_queries.h"
#include "sql/values.h"

namespace cli {

namespace {

// One result set at a time: its column names, then its rows.
class RowWriter {
 public:
  virtual ~RowWriter() = default;
  virtual void begin(sqlite3_stmt* stmt) = 0;
  virtual void row(sqlite3_stmt* stmt) = 0;
  virtual void end() {}
};

jet::Value valueAt(sqlite3_stmt* stmt, int i) { return sql::plainValue(sqlite3_column_value(stmt, i)); }

class CsvWriter : public RowWriter {
 public:
  explicit CsvWriter(std::ostream& out) : out_(out) {}
  void begin(sqlite3_stmt* stmt) override {
    std::string b;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      if (i) b.push_back(',');
      appendCsvText(b, sqlite3_column_name(stmt, i));
    }
    out_ << b << '\n';
  }
  void row(sqlite3_stmt* stmt) override {
    buf_.clear();
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      if (i) buf_.push_back(',');
      appendCsvField(buf_, valueAt(stmt, i));
    }
    buf_.push_back('\n');
    out_ << buf_;
  }

 private:
  std::ostream& out_;
  std::string buf_;
};

class JsonWriter : public RowWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}
  void begin(sqlite3_stmt* stmt) override {
    keys_.clear();
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      std::string k;
      appendJsonString(k, sqlite3_column_name(stmt, i));
      keys_.push_back(k + ":");
    }
  }
  void row(sqlite3_stmt* stmt) override {
    buf_ = "{";
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      if (i) buf_.push_back(',');
      buf_ += keys_[static_cast<size_t>(i)];
      appendJsonValue(buf_, valueAt(stmt, i));
    }
    buf_ += "}\n";
    out_ << buf_;
  }

 private:
  std::ostream& out_;
  std::vector<std::string> keys_;
  std::string buf_;
};

// Characters of a UTF-8 text (for the widths of the aligned table).
size_t displayWidth(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

class TableWriter : public RowWriter {
 public:
  explicit TableWriter(std::ostream& out) : out_(out) {}
  void begin(sqlite3_stmt* stmt) override {
    header_.clear();
    rows_.clear();
    numeric_.assign(static_cast<size_t>(sqlite3_column_count(stmt)), true);
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) header_.push_back(sqlite3_column_name(stmt, i));
    ++sets_;
  }
  void row(sqlite3_stmt* stmt) override {
    std::vector<std::string> r;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const int type = sqlite3_column_type(stmt, i);
      if (type == SQLITE_TEXT || type == SQLITE_BLOB) numeric_[static_cast<size_t>(i)] = false;
      r.push_back(type == SQLITE_NULL ? "" : jet::toText(valueAt(stmt, i)));
    }
    rows_.push_back(std::move(r));
  }
  void end() override {
    if (sets_ > 1) out_ << '\n';
    std::vector<size_t> width(header_.size());
    for (size_t i = 0; i < header_.size(); ++i) width[i] = displayWidth(header_[i]);
    for (const auto& r : rows_)
      for (size_t i = 0; i < r.size(); ++i) width[i] = std::max(width[i], displayWidth(r[i]));
    auto line = [&](const std::vector<std::string>& cells, bool alignNumbers) {
      std::string s;
      for (size_t i = 0; i < cells.size(); ++i) {
        if (i) s += " | ";
        std::string pad(width[i] - displayWidth(cells[i]), ' ');
        s += alignNumbers && numeric_[i] ? pad + cells[i] : cells[i] + (i + 1 < cells.size() ? pad : "");
      }
      out_ << s << '\n';
    };
    line(header_, false);
    std::string rule;
    for (size_t i = 0; i < width.size(); ++i) rule += (i ? "-+-" : "") + std::string(width[i], '-');
    out_ << rule << '\n';
    for (const auto& r : rows_) line(r, true);
    out_ << "(" << rows_.size() << (rows_.size() == 1 ? " row)\n" : " rows)\n");
  }

 private:
  std::ostream& out_;
  std::vector<std::string> header_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<bool> numeric_;
  int sets_ = 0;
};

// Line and column (from 1) of a byte offset in a text.
std::string positionIn(const std::string& text, size_t offset) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Whether every statement only reads (then the file is opened read-only, taking no lock).
bool onlyReads(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (std::isspace(static_cast<unsigned char>(text[i])) || text[i] == ';')) ++i;
    if (i >= text.size()) break;
    if (text.compare(i, 2, "--") == 0) {
      i = text.find('\n', i);
      if (i == std::string::npos) break;
      continue;
    }
    std::string word;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])))
      word.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(text[i++]))));
    if (word != "SELECT" && word != "VALUES" && word != "EXPLAIN") return false;
    // Skip to the end of the statement.
    const std::string rest = text.substr(i);
    size_t end = rest.size();
    for (size_t k = 0; k < rest.size(); ++k) {
      if (rest[k] != ';') continue;
      if (sqlite3_complete(text.substr(0, i + k + 1).c_str())) {
        end = k + 1;
        break;
      }
    }
    i += end;
  }
  return true;
}

class StatementError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Binds the values --param gives to a saved query's parameters.
void bindParameters(sqlite3_stmt* stmt, const sql::SavedQuery& query, const std::vector<std::pair<std::string, std::string>>& params) {
  for (size_t i = 0; i < query.parameters.size(); ++i) {
    const std::string& name = query.parameters[i].name;
    auto given = std::find_if(params.begin(), params.end(), [&](const auto& p) { return p.first == name; });
    if (given == params.end()) throw StatementError("the query '" + query.name + "' needs --param \"" + name + "=...\"");
    sql::bindParameter(stmt, static_cast<int>(i + 1), query.parameters[i], given->second);
  }
}

// Runs the statements of `text` in order, writing each one's rows; stops at the first failure.
void runStatements(sql::Connection& c, const std::string& text, RowWriter& writer,
                   const std::vector<std::pair<std::string, std::string>>& params, const sql::SavedQuery* query) {
  sqlite3* db = c.handle();
  const char* all = text.c_str();
  const char* tail = all;
  int number = 0;
  while (tail && *tail) {
    const char* start = tail;
    sqlite3_stmt* stmt = nullptr;
    auto failure = [&](const std::string& message) {
      int at = sqlite3_error_offset(db);
      const size_t offset = static_cast<size_t>(start - all) + static_cast<size_t>(std::max(at, 0));
      std::string where = "statement " + std::to_string(number) + ", " + positionIn(text, offset);
      if (query) where = "query '" + query->name + "'";
      return StatementError(message + " (" + where + ")");
    };
    ++number;
    if (sqlite3_prepare_v2(db, start, -1, &stmt, &tail) != SQLITE_OK) throw failure(sqlite3_errmsg(db));
    if (!stmt) break;
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owned(stmt, sqlite3_finalize);
    if (query) bindParameters(stmt, *query, params);
    const bool rows = sqlite3_column_count(stmt) > 0;
    // A query reads one committed state from its first row to its last (a statement that writes
    // takes the writer's turn itself).
    auto reading = rows && sqlite3_stmt_readonly(stmt) ? c.database().readOperation() : nullptr;
    if (rows) writer.begin(stmt);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) writer.row(stmt);
    if (rc != SQLITE_DONE) throw failure(sqlite3_errmsg(db));
    if (rows) writer.end();
  }
}

std::string readAll(std::istream& in) { return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}; }

// NAME=VALUE pairs of --param.
std::vector<std::pair<std::string, std::string>> parameters(const Args& a) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const std::string& p : a.params) {
    const size_t eq = p.find('=');
    if (eq == std::string::npos || eq == 0) throw UsageError("--param needs NAME=VALUE, not " + p);
    out.emplace_back(p.substr(0, eq), p.substr(eq + 1));
  }
  return out;
}

}  // namespace

int cmdSql(const Args& a, Io& io) {
  std::istream& in = io.in;
  std::ostream& out = io.out;
  std::ostream& err = io.err;
  need(a, 1, 2);
  if (!a.query.empty() && a.positional.size() > 1) throw UsageError("give either SQL or --query, not both");
  const std::string format = a.format.empty() ? "csv" : a.format;
  std::unique_ptr<RowWriter> writer;
  if (format == "csv") writer = std::make_unique<CsvWriter>(out);
  else if (format == "jsonl") writer = std::make_unique<JsonWriter>(out);
  else if (format == "table") writer = std::make_unique<TableWriter>(out);
  else throw UsageError("unknown sql format " + format);
  std::string text;
  if (a.query.empty()) text = a.positional.size() > 1 ? a.positional[1] : readAll(in);
  bool readOnly = a.query.empty() && onlyReads(text);
  auto c = sql::Connection::open(
      a.positional[0], {.readOnly = readOnly, .password = a.password, .busyTimeoutMs = dao::Engine().BusyTimeout() * 1000});
  const sql::SavedQuery* query = nullptr;
  if (!a.query.empty()) {
    for (const sql::SavedQuery& q : c->queries())
      if (q.name == a.query) query = &q;
    if (!query) throw jet::Error(jet::err::kTableNotFound, "There is no saved query '" + a.query + "'.");
    if (query->sqliteSql.empty())
      throw jet::Error(jet::err::kInvalidOperation, "The query '" + query->name + "' cannot run: " + query->reason);
    text = query->sqliteSql;
  }
  if (query && query->columnsFromData) {
    const auto params = parameters(a);
    try {
      text = c->crosstab(*query, [&](sqlite3_stmt* stmt) { bindParameters(stmt, *query, params); });
    } catch (const sql::SqlError& e) {
      throw jet::Error(jet::err::kInvalidOperation, "The query '" + query->name + "' cannot run: " + e.what());
    }
  }
  // An action query is one change of the file; a make-table query makes it itself.
  const bool makeTable = query && query->type == sql::QueryType::MakeTable;
  const bool action = query && !makeTable && query->type != sql::QueryType::Select && query->type != sql::QueryType::Union &&
                      query->type != sql::QueryType::Crosstab;
  try {
    if (makeTable) {
      const auto params = parameters(a);
      try {
        c->makeTable(query->target, text, [&](sqlite3_stmt* stmt) { bindParameters(stmt, *query, params); });
      } catch (const sql::SqlError& e) {
        throw StatementError(std::string(e.what()) + " (query '" + query->name + "')");
      }
      return 0;
    }
    if (action) c->begin();
    runStatements(*c, text, *writer, parameters(a), query);
    if (action) c->commit();
  } catch (const StatementError& e) {
    // An open transaction the statements began is given up: the file stays as it was.
    if (c->inTransaction()) c->rollback();
    out.flush();
    err << "tabulonix-cli: " << e.what() << '\n';
    return 1;
  }
  if (c->inTransaction()) {
    c->rollback();
    err << "tabulonix-cli: the statements left a transaction open; it was rolled back\n";
    return 1;
  }
  return 0;
}

int cmdQueries(const Args& a, Io& io) {
  std::ostream& out = io.out;
  need(a, 1, 2);
  auto c = sql::Connection::open(
      a.positional[0], {.readOnly = true, .password = a.password, .busyTimeoutMs = dao::Engine().BusyTimeout() * 1000});
  if (a.positional.size() == 2) {
    for (const sql::SavedQuery& q : c->queries())
      if (q.name == a.positional[1]) {
        out << q.accessSql << '\n';
        return 0;
      }
    throw jet::Error(jet::err::kTableNotFound, "There is no saved query '" + a.positional[1] + "'.");
  }
  for (const sql::SavedQuery& q : c->queries()) {
    out << q.name << '\t' << sql::queryTypeName(q.type) << '\t';
    if (q.isView) out << "view";
    else if (!q.sqliteSql.empty()) out << q.reason;
    else out << "not translated: " << q.reason;
    out << '\n';
  }
  return 0;
}

}  // namespace cli
