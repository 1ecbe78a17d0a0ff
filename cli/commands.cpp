#include "cli/commands.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>

#include "cli/format.h"
#include "cli/migrate.h"
#include "cli/row_pipe.h"
#include "db/dao.h"
#include "db/session.h"
#include "jet/database.h"
#include "jet/repair.h"
#include "jet/row_rules.h"

namespace cli {

namespace {

const char kUsage[] =
    "usage: tabulonix-cli COMMAND FILE [ARGS] [--password PWD] [--no-sync]\n"
    "  tables FILE                          user tables, in catalog order\n"
    "  columns FILE TABLE                   name, type, size, attributes of each field\n"
    "  export FILE TABLE [--format csv|jsonl]\n"
    "  info FILE                            format, pages, and each table's row count\n"
    "  create FILE [--format jet3|jet4|accdb2007|accdb2010|accdb2016|accdb2019]\n"
    "  create-table FILE TABLE NAME:TYPE[:SIZE][:FLAG...]...   flags: auto required allowzero\n"
    "  import FILE TABLE [--format jsonl|csv]   rows on standard input\n"
    "  update FILE TABLE POSITION           a JSON object of new values on standard input\n"
    "  delete FILE TABLE POSITION [LAST]\n"
    "  rename-table FILE OLD NEW\n"
    "  drop-table FILE TABLE\n"
    "  check FILE\n"
    "  compact FILE DESTINATION             a compacted copy (the destination must not exist)\n"
    "  repair FILE DESTINATION              a new database of every row a damaged file still holds\n"
    "  migrate FILE TARGET [--tables T1,T2,...] [--schema NAME] [--verify] [--quiet]\n"
    "                                       TARGET: sqlite:PATH (a new file) or postgresql://...\n"
    "  --no-sync   do not force writes to the disk: faster, and a killed program still leaves a\n"
    "              sound file, but a power cut or system crash may damage it (for throwaway work)\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Args {
  std::string command;
  std::vector<std::string> positional;
  std::string format;
  std::string password;
  std::string tables;
  std::string schema;
  bool verify = false;
  bool quiet = false;
  bool noSync = false;
};

Args parseArgs(const std::vector<std::string>& args) {
  Args a;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& s = args[i];
    auto option = [&](const char* name, std::string& into) {
      std::string prefix = std::string(name) + "=";
      if (s == name) {
        if (i + 1 >= args.size()) throw UsageError(std::string(name) + " needs a value");
        into = args[++i];
        return true;
      }
      if (s.rfind(prefix, 0) == 0) {
        into = s.substr(prefix.size());
        return true;
      }
      return false;
    };
    if (option("--format", a.format) || option("--password", a.password) || option("--tables", a.tables) ||
        option("--schema", a.schema))
      continue;
    if (s == "--verify" || s == "--quiet") {
      (s == "--verify" ? a.verify : a.quiet) = true;
      continue;
    }
    if (s == "--no-sync") {
      a.noSync = true;
      continue;
    }
    if (s.size() > 2 && s.rfind("--", 0) == 0) throw UsageError("unknown option " + s);
    if (a.command.empty()) {
      a.command = s;
    } else {
      a.positional.push_back(s);
    }
  }
  if (a.command.empty()) throw UsageError("no command");
  return a;
}

void need(const Args& a, size_t min, size_t max) {
  if (a.positional.size() < min || a.positional.size() > max)
    throw UsageError("wrong number of arguments for " + a.command);
}

int64_t parsePosition(const std::string& s) {
  int64_t v = 0;
  if (s.empty() || s.size() > 12) throw UsageError("not a position: " + s);
  for (char c : s) {
    if (c < '0' || c > '9') throw UsageError("not a position: " + s);
    v = v * 10 + (c - '0');
  }
  return v;
}

std::unique_ptr<jet::Database> openEngine(const Args& a, bool readOnly) {
  jet::OpenOptions o;
  o.readOnly = readOnly;
  o.password = a.password;
  return jet::Database::open(a.positional.at(0), o);
}

// Commands that only read open the file read-only, which takes no lock: they work beside a program
// that has the file open for changes.
dao::Database openDao(const Args& a, bool readOnly) {
  return dao::Engine().OpenDatabase(a.positional.at(0), false, readOnly,
                                    a.password.empty() ? "" : ";PWD=" + a.password);
}

class Output {
 public:
  explicit Output(std::ostream& out) : out_(out) { buf_.reserve(1 << 17); }
  ~Output() { flush(); }
  std::string& buf() { return buf_; }
  void maybeFlush() {
    if (buf_.size() >= (1 << 16)) flush();
  }
  void flush() {
    out_.write(buf_.data(), static_cast<std::streamsize>(buf_.size()));
    buf_.clear();
  }

 private:
  std::ostream& out_;
  std::string buf_;
};

bool isUserTable(const jet::CatalogObject& o) {
  return (o.kind == jet::ObjectKind::Table || o.kind == jet::ObjectKind::LinkedTable) &&
         (static_cast<int32_t>(o.flags) & dao::dbSystemObject) == 0;
}

int cmdTables(const Args& a, std::ostream& out) {
  need(a, 1, 1);
  dao::Database db = openDao(a, true);
  dao::TableDefs defs = db.GetTableDefs();
  for (int i = 0; i < defs.Count(); ++i) {
    dao::TableDef t = defs.Item(i);
    if ((t.Attributes() & dao::dbSystemObject) == 0) out << t.Name() << '\n';
  }
  db.Close();
  return 0;
}

int cmdColumns(const Args& a, std::ostream& out) {
  need(a, 2, 2);
  dao::Database db = openDao(a, true);
  dao::Fields fields = db.GetTableDefs().Item(a.positional[1]).GetFields();
  for (int i = 0; i < fields.Count(); ++i) {
    dao::Field f = fields.Item(i);
    out << f.Name() << '\t' << f.Type() << '\t' << f.Size() << '\t' << f.Attributes() << '\n';
  }
  db.Close();
  return 0;
}

int cmdExport(const Args& a, std::ostream& out) {
  need(a, 2, 2);
  const std::string format = a.format.empty() ? "csv" : a.format;
  if (format != "csv" && format != "jsonl") throw UsageError("unknown export format " + format);
  auto db = openEngine(a, true);
  auto cursor = db->openTable(a.positional[1]);
  const jet::TableInfo& info = cursor->table();
  // Complex columns hold a key per row; their values come from the column's hidden table.
  std::vector<std::unique_ptr<jet::ComplexValues>> complex(info.columns.size());
  for (size_t i = 0; i < info.columns.size(); ++i)
    if (info.columns[i].type == jet::ColumnType::Complex) complex[i] = db->complexValues(info.name, info.columns[i].name);
  Output o(out);
  std::string& b = o.buf();
  if (format == "csv") {
    for (size_t i = 0; i < info.columns.size(); ++i) {
      if (i) b.push_back(',');
      appendCsvText(b, info.columns[i].name);
    }
    b.push_back('\n');
    while (cursor->next()) {
      const std::vector<jet::Value>& row = cursor->values();
      for (size_t i = 0; i < row.size(); ++i) {
        if (i) b.push_back(',');
        if (complex[i]) appendCsvComplex(b, complex[i]->of(row[i]));
        else appendCsvField(b, row[i]);
      }
      b.push_back('\n');
      o.maybeFlush();
    }
  } else {
    std::vector<std::string> keys;
    for (const auto& c : info.columns) {
      std::string k;
      appendJsonString(k, c.name);
      keys.push_back(k + ":");
    }
    while (cursor->next()) {
      const std::vector<jet::Value>& row = cursor->values();
      b.push_back('{');
      for (size_t i = 0; i < row.size(); ++i) {
        if (i) b.push_back(',');
        b += keys[i];
        if (complex[i]) appendJsonComplex(b, complex[i]->of(row[i]));
        else appendJsonValue(b, row[i]);
      }
      b += "}\n";
      o.maybeFlush();
    }
  }
  return 0;
}

int cmdInfo(const Args& a, std::ostream& out) {
  need(a, 1, 1);
  auto db = openEngine(a, true);
  out << "format\t" << jet::versionName(db->version()) << '\n'
      << "version\t" << jet::daoVersionOf(db->version()) << '\n'
      << "page size\t" << db->pageSize() << '\n'
      << "code page\t" << db->codePage() << '\n'
      << "sort order\t" << db->sortOrder() << '\n'
      << "pages\t" << db->pageCount() << '\n';
  for (const jet::CatalogObject& o : db->objects()) {
    if (!isUserTable(o)) continue;
    if (o.kind == jet::ObjectKind::LinkedTable) {
      out << "table\t" << o.name << "\tlinked to " << o.linkedDatabase << '\n';
    } else {
      out << "table\t" << o.name << '\t' << db->table(o.name).rowCount << " rows\n";
    }
  }
  return 0;
}

int cmdCreate(const Args& a, std::ostream&) {
  need(a, 1, 1);
  static const std::map<std::string, int32_t> kFormats = {
      {"jet3", dao::dbVersion30},        {"jet4", dao::dbVersion40},        {"accdb2007", dao::dbVersion120},
      {"accdb2010", dao::dbVersion140}, {"accdb2016", dao::dbVersion160}, {"accdb2019", dao::dbVersion170}};
  const auto format = kFormats.find(a.format.empty() ? "jet4" : a.format);
  if (format == kFormats.end()) throw UsageError("unknown database format " + a.format);
  // Silently making an unprotected file when a password was asked for would mislead the user.
  if (!a.password.empty()) throw UsageError("create cannot give a new database a password");
  dao::Engine().CreateDatabase(a.positional[0], ";LANGID=0x0409;CP=1252;COUNTRY=0", format->second).Close();
  return 0;
}

// NAME:TYPE[:SIZE][:FLAG...]; TYPE one of the application's ten type names (or GUID, Decimal,
// Binary, OLE, and BigInt / DateTimeExtended for the files that hold them, for the other types).
int cmdCreateTable(const Args& a, std::ostream&) {
  if (a.positional.size() < 3) throw UsageError("create-table needs a table name and at least one field");
  struct Outline {
    std::string name;
    int16_t type;
    int32_t size;
    bool autoNumber = false, required = false, allowZero = false;
  };
  static const std::map<std::string, std::pair<int16_t, int32_t>> kExtra = {
      {"GUID", {dao::dbGUID, 16}}, {"Decimal", {dao::dbDecimal, 16}}, {"Binary", {dao::dbBinary, 255}},
      {"OLE", {dao::dbLongBinary, 0}}, {"BigInt", {dao::dbBigInt, 8}},
      {"DateTimeExtended", {dao::dbDateTimeExtended, 42}}};
  std::vector<Outline> outlines;
  for (size_t i = 2; i < a.positional.size(); ++i) {
    std::vector<std::string> parts;
    std::string s = a.positional[i];
    size_t start = 0;
    while (true) {
      size_t colon = s.find(':', start);
      parts.push_back(s.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
    if (parts.size() < 2 || parts[0].empty()) throw UsageError("field must be NAME:TYPE[:SIZE][:FLAG...]: " + s);
    Outline sp;
    sp.name = parts[0];
    sp.type = modTools::GetFieldType(parts[1]);
    sp.size = modTools::GetFieldSize(parts[1]);
    if (sp.type == 0) {
      auto it = kExtra.find(parts[1]);
      if (it == kExtra.end()) throw UsageError("unknown field type " + parts[1]);
      sp.type = it->second.first;
      sp.size = it->second.second;
    }
    if (parts.size() > 2 && !parts[2].empty()) sp.size = static_cast<int32_t>(parsePosition(parts[2]));
    for (size_t k = 3; k < parts.size(); ++k) {
      if (parts[k] == "auto") sp.autoNumber = true;
      else if (parts[k] == "required") sp.required = true;
      else if (parts[k] == "allowzero") sp.allowZero = true;
      else throw UsageError("unknown field flag " + parts[k]);
    }
    outlines.push_back(sp);
  }
  dao::Database db = openDao(a, false);
  dao::TableDef t = db.CreateTableDef(a.positional[1]);
  for (const Outline& sp : outlines) {
    dao::Field f = t.CreateField(sp.name, sp.type, sp.size);
    t.GetFields().Append(f);
    f.SetRequired(sp.required);
    f.SetAllowZeroLength(sp.allowZero);
    f.SetAttributes(sp.autoNumber ? dao::dbAutoIncrField : 0);
  }
  db.GetTableDefs().Append(t);
  db.Close();
  return 0;
}

size_t columnIndex(const jet::TableInfo& info, const std::string& name) {
  for (size_t i = 0; i < info.columns.size(); ++i) {
    const std::string& c = info.columns[i].name;
    if (c.size() == name.size() &&
        std::equal(c.begin(), c.end(), name.begin(), [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); }))
      return i;
  }
  throw jet::Error(jet::err::kUnknownField, "Item not found in this collection: no field '" + name + "'.");
}

// A reader of JSON lines for a RowPipe: each line one object naming some of the table's columns
// (the others are Null), converted and checked as DAO checks a record before it is saved.
RowPipe::Reader jsonRowReader(std::istream& in, const jet::TableInfo& info, jet::Format format) {
  struct State {
    explicit State(std::istream& in) : lines(in) {}
    JsonLineReader lines;
    JsonObject object;
    // Lines usually name the same columns in the same order: the column of each key position is
    // remembered and only looked up again when the key differs.
    std::vector<std::pair<std::string, size_t>> known;
    std::vector<char> named;  // which columns the current line names
  };
  auto state = std::make_shared<State>(in);
  state->named.resize(info.columns.size());
  return [state, &info, format](PipedRow& row) {
    State& st = *state;
    do {
      if (!st.lines.next()) return false;
      row.line = st.lines.number();
    } while (st.lines.blank());
    row.values.resize(info.columns.size());
    row.complex.clear();
    std::fill(st.named.begin(), st.named.end(), 0);
    const size_t n = st.lines.parse(st.object);
    if (st.known.size() < n) st.known.resize(n, {std::string(), SIZE_MAX});
    for (size_t k = 0; k < n; ++k) {
      const auto& [key, scalar] = st.object[k];
      if (st.known[k].second == SIZE_MAX || st.known[k].first != key) st.known[k] = {key, columnIndex(info, key)};
      const size_t i = st.known[k].second;
      if (info.columns[i].type == jet::ColumnType::Complex) {
        // Written with the row to the column's hidden table; the key is the engine's. Given, even
        // empty, it is the field's whole value: an append-only memo's history then gets no
        // version of its own.
        row.complex.push_back({i, complexFromJson(info.columns[i], scalar)});
        continue;
      }
      valueFromJson(info.columns[i], scalar, row.values[i]);
      st.named[i] = 1;
    }
    for (size_t i = 0; i < row.values.size(); ++i)
      if (!st.named[i]) row.values[i] = jet::Null{};
    jet::checkNewRow(info, format, row.values);
    return true;
  };
}

// A reader of CSV records for a RowPipe, after the header record that named the columns.
RowPipe::Reader csvRowReader(std::istream& in, const jet::TableInfo& info, jet::Format format,
                             std::vector<size_t> map, int64_t line) {
  return [&in, &info, format, map = std::move(map), fields = std::vector<CsvField>(), line](PipedRow& row) mutable {
    for (;;) {
      row.line = line + 1;  // a record is reported at the line it starts on
      if (!readCsvRecord(in, fields, line)) return false;
      if (fields.size() == 1 && fields[0].text.empty() && !fields[0].quoted) continue;  // blank line
      if (fields.size() != map.size())
        throw jet::Error(jet::err::kConversion, "expected " + std::to_string(map.size()) + " fields, found " +
                                                    std::to_string(fields.size()) + ".");
      row.values.assign(info.columns.size(), jet::Null{});
      row.complex.clear();
      for (size_t k = 0; k < map.size(); ++k) row.values[map[k]] = valueFromCsv(info.columns[map[k]], fields[k]);
      jet::checkNewRow(info, format, row.values);
      return true;
    }
  };
}

int cmdImport(const Args& a, std::istream& in, std::ostream& out, std::ostream& err) {
  need(a, 2, 2);
  const std::string format = a.format.empty() ? "jsonl" : a.format;
  if (format != "csv" && format != "jsonl") throw UsageError("unknown import format " + format);
  auto db = openEngine(a, false);
  const jet::TableInfo info = db->table(a.positional[1]);
  // Rows known to be written: up to the last commit. The rows queued after it are counted when
  // the import stops.
  int64_t line = 0, rows = 0, committed = 0;
  try {
    RowPipe::Reader reader;
    if (format == "jsonl") {
      reader = jsonRowReader(in, info, db->format());
    } else {
      std::vector<CsvField> header;
      std::vector<size_t> map;
      if (readCsvRecord(in, header, line))
        for (const CsvField& f : header) map.push_back(columnIndex(info, f.text));
      reader = csvRowReader(in, info, db->format(), std::move(map), line);
    }
    // Reading and converting run beside the engine; a refused row stops both.
    RowPipe pipe(std::move(reader));
    while (PipedRow* row = pipe.next()) {
      line = row->line;
      if (row->error) std::rethrow_exception(row->error);
      if (row->complex.empty()) {
        // The row is taken; its storage comes back holding an earlier row's, to be filled again.
        db->queueInsertReusing(info.name, row->values);
        if (db->queueFull()) {
          db->commitQueued();
          committed = rows + 1;
        }
      } else {
        // A row with complex values is written on its own, after the rows queued before it.
        db->commitQueued();
        db->insertRow(info.name, std::move(row->values), row->complex);
        committed = rows + 1;
      }
      ++rows;
    }
    db->commitQueued();
    committed = rows;
  } catch (const std::exception& e) {
    // Every row before the refused one is still queued or already written: keep them.
    const auto* engine = dynamic_cast<const jet::Error*>(&e);
    err << "tabulonix-cli: line " << line << ": "
        << (engine ? engine->description() + " (error " + std::to_string(engine->number()) + ")" : e.what()) << '\n';
    try {
      int64_t queued = int64_t(db->queuedRows());
      db->commitQueued();
      committed += queued;
      db->close();
    } catch (const std::exception& e2) {
      err << "tabulonix-cli: " << e2.what() << '\n';
    }
    err << "tabulonix-cli: " << committed << " rows imported before it\n";
    return 1;
  }
  db->close();
  out << rows << " rows imported\n";
  return 0;
}

// The row addresses of a table in stored order, up to and including position `last`.
std::vector<jet::RowId> rowsUpTo(jet::TableCursor& cursor, int64_t last) {
  std::vector<jet::RowId> ids;
  while (static_cast<int64_t>(ids.size()) <= last && cursor.next()) ids.push_back(cursor.rowId());
  return ids;
}

int cmdUpdate(const Args& a, std::istream& in, std::ostream&) {
  need(a, 3, 3);
  int64_t position = parsePosition(a.positional[2]);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  JsonObject changes = parseJsonObject(text);
  auto db = openEngine(a, false);
  auto cursor = db->openTable(a.positional[1]);
  jet::TableInfo info = cursor->table();
  std::vector<jet::RowId> ids = rowsUpTo(*cursor, position);
  if (static_cast<int64_t>(ids.size()) <= position) throw jet::Error(jet::err::kNoCurrentRecord, "No current record.");
  std::vector<jet::Value> row = cursor->values();
  std::vector<jet::ComplexChange> complex;
  for (auto& [key, scalar] : changes) {
    size_t i = columnIndex(info, key);
    if (info.columns[i].type == jet::ColumnType::Complex) {
      // The new values replace the field's old ones; the row keeps its key.
      complex.push_back({i, complexFromJson(info.columns[i], scalar)});
      continue;
    }
    if (info.columns[i].autoNumber) throw jet::Error(jet::err::kCannotUpdateField, "Field cannot be updated.");
    row[i] = valueFromJson(info.columns[i], scalar);
    jet::checkValueFits(info, db->format(), i, row[i]);
  }
  jet::checkRow(info, row);
  cursor.reset();
  db->updateRow(info.name, ids[position], row, complex);
  db->close();
  return 0;
}

int cmdDelete(const Args& a, std::ostream&) {
  need(a, 3, 4);
  int64_t first = parsePosition(a.positional[2]);
  int64_t last = a.positional.size() > 3 ? parsePosition(a.positional[3]) : first;
  if (last < first) throw UsageError("LAST comes before POSITION");
  auto db = openEngine(a, false);
  auto cursor = db->openTable(a.positional[1]);
  std::string table = cursor->table().name;
  std::vector<jet::RowId> ids = rowsUpTo(*cursor, last);
  cursor.reset();
  if (static_cast<int64_t>(ids.size()) <= last) throw jet::Error(jet::err::kNoCurrentRecord, "No current record.");
  // Large ranges go in large commits (each is all or nothing), as import does.
  constexpr int64_t kRowsPerCommit = 65536;
  for (int64_t p = first; p <= last; p += kRowsPerCommit) {
    const int64_t end = std::min(last + 1, p + kRowsPerCommit);
    db->deleteRows(table, std::vector<jet::RowId>(ids.begin() + p, ids.begin() + end));
  }
  db->close();
  return 0;
}

int cmdRename(const Args& a, std::ostream&) {
  need(a, 3, 3);
  dao::Database db = openDao(a, false);
  db.GetTableDefs().Item(a.positional[1]).SetName(a.positional[2]);
  db.Close();
  return 0;
}

int cmdDrop(const Args& a, std::ostream&) {
  need(a, 2, 2);
  dao::Database db = openDao(a, false);
  db.GetTableDefs().Delete(a.positional[1]);
  db.Close();
  return 0;
}

int cmdCheck(const Args& a, std::ostream& out) {
  need(a, 1, 1);
  auto db = openEngine(a, true);
  jet::CheckReport report = db->check();
  for (const std::string& p : report.problems) out << p << '\n';
  if (report.ok()) out << "ok\n";
  return report.ok() ? 0 : 1;
}

int cmdCompact(const Args& a, std::ostream& out) {
  need(a, 2, 2);
  jet::Database::compact(a.positional[0], a.positional[1], a.password);
  out << "compacted " << a.positional[0] << " into " << a.positional[1] << '\n';
  return 0;
}

int cmdMigrate(const Args& a, std::ostream& out, std::ostream& err) {
  need(a, 2, 2);
  migrate::Options o;
  o.file = a.positional[0];
  o.target = a.positional[1];
  o.schema = a.schema;
  o.password = a.password;
  o.verify = a.verify;
  o.quiet = a.quiet;
  o.progress = &err == &std::cerr && ::isatty(STDERR_FILENO);
  for (size_t from = 0; !a.tables.empty() && from <= a.tables.size();) {
    size_t comma = a.tables.find(',', from);
    if (comma == std::string::npos) comma = a.tables.size();
    if (comma > from) o.tables.push_back(a.tables.substr(from, comma - from));
    from = comma + 1;
  }
  migrate::run(o, out, err);
  return 0;
}

void reportLine(std::ostream& out, const jet::RepairedTable& t) {
  out << t.name << ": " << t.rowsRecovered << " rows recovered, " << t.rowsLost << " rows lost, " << t.longValuesLost
      << " long values lost, " << t.pagesSkipped << " pages skipped";
  if (!t.note.empty()) out << " (" << t.note << ")";
  out << '\n';
}

int cmdRepair(const Args& a, std::ostream& out, std::ostream& err) {
  need(a, 2, 2);
  const jet::RepairReport report = jet::repairDatabase(a.positional[0], a.positional[1], a.password);
  out << "repaired " << a.positional[0] << " into " << a.positional[1] << '\n';
  if (report.formatInferred) out << "the header page is damaged: format and page size taken from the pages\n";
  if (report.catalogRebuilt) out << "the catalog's definition is damaged: a new catalog, every table found by scanning\n";
  for (const jet::RepairedTable& t : report.tables) reportLine(out, t);
  reportLine(out, report.total());
  if (report.problems.empty()) return 0;
  for (const std::string& p : report.problems) err << "tabulonix-cli: the repaired copy fails its check: " << p << '\n';
  return 1;
}

}  // namespace

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
  try {
    Args a = parseArgs(args);
    // Writes are forced to the disk unless --no-sync says otherwise (or the environment turned
    // that off for the whole process).
    static const bool syncByDefault = jet::Database::syncToDisk();
    jet::Database::setSyncToDisk(!a.noSync && syncByDefault);
    if (a.command == "tables") return cmdTables(a, out);
    if (a.command == "columns") return cmdColumns(a, out);
    if (a.command == "export") return cmdExport(a, out);
    if (a.command == "info") return cmdInfo(a, out);
    if (a.command == "create") return cmdCreate(a, out);
    if (a.command == "create-table") return cmdCreateTable(a, out);
    if (a.command == "import") return cmdImport(a, in, out, err);
    if (a.command == "update") return cmdUpdate(a, in, out);
    if (a.command == "delete") return cmdDelete(a, out);
    if (a.command == "rename-table") return cmdRename(a, out);
    if (a.command == "drop-table") return cmdDrop(a, out);
    if (a.command == "check") return cmdCheck(a, out);
    if (a.command == "compact") return cmdCompact(a, out);
    if (a.command == "repair") return cmdRepair(a, out, err);
    if (a.command == "migrate") return cmdMigrate(a, out, err);
    if (a.command == "help" || a.command == "-h") {
      out << kUsage;
      return 0;
    }
    throw UsageError("unknown command " + a.command);
  } catch (const UsageError& e) {
    err << "tabulonix-cli: " << e.what() << '\n' << kUsage;
    return 2;
  } catch (const jet::Error& e) {
    err << "tabulonix-cli: " << e.description() << " (error " << e.number() << ")\n";
    return 1;
  } catch (const std::exception& e) {
    err << "tabulonix-cli: " << e.what() << '\n';
    return 1;
  }
}

}  // namespace cli
