#include "cli/migrate.h"

#include <chrono>
#include <cstdio>
#include <ostream>

#include "cli/migrate_target.h"
#include "cli/postgres_target.h"
#include "cli/sqlite_target.h"
#include "sql/saved_queries.h"

namespace migrate {

std::function<void(const std::string&, int64_t)> faultHook;

namespace {

using Clock = std::chrono::steady_clock;

// One line per table, rewritten in place a few times a second while its rows load.
class Progress {
 public:
  Progress(std::ostream& err, bool on) : err_(err), on_(on) {}

  void start(const std::string& table) {
    table_ = table;
    begun_ = last_ = Clock::now();
  }
  void rows(int64_t n) {
    if (!on_ || (n & 4095)) return;
    auto now = Clock::now();
    if (now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    show(n, false);
  }
  void done(int64_t n) {
    if (on_) show(n, true);
  }

 private:
  void show(int64_t n, bool last) {
    double secs = std::chrono::duration<double>(Clock::now() - begun_).count();
    char line[160];
    std::snprintf(line, sizeof line, "\r%s: %lld rows, %.0f rows/s\033[K%s", table_.substr(0, 80).c_str(),
                  static_cast<long long>(n), secs > 0 ? n / secs : 0.0, last ? "\n" : "");
    err_ << line << std::flush;
  }

  std::ostream& err_;
  bool on_;
  std::string table_;
  Clock::time_point begun_, last_;
};

std::unique_ptr<Target> open(const Options& o) {
  if (o.target.rfind("sqlite:", 0) == 0) {
    if (!o.schema.empty()) throw Refused("--schema applies to PostgreSQL targets only");
    std::string path = o.target.substr(7);
    if (path.empty()) throw Refused("sqlite: needs the path of the new file");
    return openSqliteTarget(path);
  }
  if (o.target.rfind("postgresql://", 0) == 0 || o.target.rfind("postgres://", 0) == 0)
    return openPostgresTarget(o.target, o.schema);
  throw Refused("unknown target " + o.target + " (sqlite:PATH or postgresql://...)");
}

// Values the targets hold under rules of their own; refused here so that the message can name
// table, row and column whatever the target.
void checkRow(const jet::TableInfo& t, const std::vector<jet::Value>& row, int64_t number) {
  for (size_t i = 0; i < row.size(); ++i) {
    const jet::ColumnInfo& c = t.columns[i];
    const jet::Value& v = row[i];
    auto refuse = [&](const std::string& why) {
      throw Refused("table " + t.name + ", row " + std::to_string(number) + ", column " + c.name + ": " + why);
    };
    if (jet::isNull(v)) {
      if (c.required) refuse("Null in a required field");
      continue;
    }
    if (auto* d = std::get_if<jet::DateTime>(&v); d && !inCalendar(d->days))
      refuse("a date outside the years 100 to 9999");
  }
}

void verifyTable(jet::Database& source, Target& target, Dialect dialect, const jet::TableInfo& t) {
  auto cursor = source.openTable(t.name);
  auto reader = target.readRows(t);
  TextRow got;
  int64_t number = 0;
  while (cursor->next()) {
    ++number;
    const std::vector<jet::Value>& row = cursor->values();
    if (!reader->row(number, row, got))
      throw Refused("verification: table " + t.name + ", row " + std::to_string(number) + " is missing");
    if (got.size() != row.size())
      throw Refused("verification: table " + t.name + ", row " + std::to_string(number) + " has " +
                    std::to_string(got.size()) + " values");
    for (size_t i = 0; i < row.size(); ++i)
      if (!sameValue(dialect, t.columns[i], row[i], got[i]))
        throw Refused("verification: table " + t.name + ", row " + std::to_string(number) + ", column " +
                      t.columns[i].name + " reads back as " + (got[i] ? "'" + got[i]->substr(0, 80) + "'" : "Null") +
                      ", not " + (jet::isNull(row[i]) ? "Null" : "'" + jet::toText(row[i]).substr(0, 80) + "'"));
  }
}

// Defines each translatable saved select or union query as a view, in rounds (a view needs the
// views it reads); returns a note for each query that could not be carried, and why.
std::vector<std::string> addViews(jet::Database& source, const SourceSchema& schema, Dialect dialect, Target& target,
                                  size_t& carried) {
  std::vector<jet::QueryDefinition> definitions;
  const std::vector<sql::SavedQuery> queries = sql::readSavedQueries(source, definitions);
  const sql::Dialect to = dialect == Dialect::Sqlite ? sql::Dialect::Sqlite : sql::Dialect::Postgres;
  std::vector<std::string> notes;
  std::vector<std::pair<size_t, std::string>> pending;  // query, its SELECT
  std::vector<std::string> why(queries.size());
  for (size_t i = 0; i < queries.size(); ++i) {
    const sql::SavedQuery& q = queries[i];
    if (q.type != sql::QueryType::Select && q.type != sql::QueryType::Union && q.type != sql::QueryType::Crosstab) {
      notes.push_back("saved query " + q.name + " not carried (" + sql::queryTypeName(q.type) + " query)");
      continue;
    }
    try {
      pending.emplace_back(i, sql::selectIn(to, definitions[i], schema.tables));
    } catch (const sql::Untranslatable& e) {
      notes.push_back("saved query " + q.name + " not carried: " + e.what());
    }
  }
  for (bool progress = true; progress && !pending.empty();) {
    progress = false;
    std::vector<std::pair<size_t, std::string>> left;
    for (auto& [i, select] : pending) {
      if (target.addView(queries[i].name, select, why[i])) {
        ++carried;
        progress = true;
      } else {
        left.emplace_back(i, select);
      }
    }
    pending = std::move(left);
  }
  for (auto& [i, select] : pending)
    notes.push_back("saved query " + queries[i].name + " not carried: the target refuses its translation: " + why[i]);
  return notes;
}

}  // namespace

void run(const Options& o, std::ostream& out, std::ostream& err) {
  jet::OpenOptions open_options;
  open_options.readOnly = true;
  open_options.password = o.password;
  std::unique_ptr<jet::Database> source = jet::Database::open(o.file, open_options);
  SourceSchema schema = readSchema(*source, o.tables);
  for (const auto& t : schema.tables)
    for (const auto& c : t.columns)
      if ((c.rawType ? c.rawType : static_cast<uint8_t>(c.type)) == static_cast<uint8_t>(jet::ColumnType::Complex)) throw Refused(complexColumnRefusal(t, c));
  if (!o.quiet)
    for (const std::string& note : schema.notes) err << "note: " << note << '\n';

  const Dialect dialect = o.target.rfind("sqlite:", 0) == 0 ? Dialect::Sqlite : Dialect::Postgres;
  std::unique_ptr<Target> target = open(o);
  target->begin(schema);
  for (const auto& t : schema.tables) {
    std::vector<Relationship> outgoing;
    for (const auto& r : schema.relationships)
      if (r.table == t.name) outgoing.push_back(r);
    target->createTable(t, outgoing);
  }

  Progress progress(err, o.progress && !o.quiet);
  std::vector<int64_t> counts;
  int64_t total = 0;
  for (const auto& t : schema.tables) {
    progress.start(t.name);
    int autoColumn = -1;
    for (size_t i = 0; i < t.columns.size(); ++i)
      if (t.columns[i].autoNumber && t.columns[i].type == jet::ColumnType::Long) autoColumn = static_cast<int>(i);
    std::optional<int64_t> highest;
    auto cursor = source->openTable(t.name);
    target->beginRows(t);
    int64_t n = 0;
    while (cursor->next()) {
      const std::vector<jet::Value>& row = cursor->values();
      ++n;
      checkRow(t, row, n);
      if (faultHook) faultHook(t.name, n);
      if (autoColumn >= 0)
        if (auto* v = std::get_if<int64_t>(&row[autoColumn]); v && (!highest || *v > *highest)) highest = *v;
      target->addRow(row, n);
      progress.rows(n);
    }
    target->endRows();
    progress.done(n);
    target->finishTable(t, highest);
    counts.push_back(n);
    total += n;
  }
  target->addRelationships(schema.relationships);
  // The saved select queries travel as views when the whole database does.
  size_t views = 0;
  if (o.tables.empty()) {
    const std::vector<std::string> notCarried = addViews(*source, schema, dialect, *target, views);
    for (const std::string& n : notCarried) err << "note: " << n << '\n';
  }

  for (size_t i = 0; i < schema.tables.size(); ++i) {
    int64_t there = target->countRows(schema.tables[i]);
    if (there != counts[i])
      throw Refused("table " + schema.tables[i].name + ": " + std::to_string(there) + " rows arrived of " +
                    std::to_string(counts[i]));
  }
  if (o.verify)
    for (const auto& t : schema.tables) verifyTable(*source, *target, dialect, t);
  target->commit();
  if (!o.quiet)
    out << "migrated " << schema.tables.size() << " tables, " << total << " rows, " << schema.relationships.size()
        << " relationships" << (views ? ", " + std::to_string(views) + " saved queries as views" : "")
        << (o.verify ? ", verified" : "") << '\n';
}

}  // namespace migrate
