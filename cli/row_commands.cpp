// The commands over a table's rows: export them, import new ones from standard input (JSON lines
// or CSV, read and checked beside the engine's writing), update one, delete a range.
#include <algorithm>
#include <istream>
#include <iterator>
#include <memory>
#include <ostream>

#include "cli/command.h"
#include "cli/format.h"
#include "cli/row_pipe.h"
#include "jet/base/names.h"
#include "jet/row_rules.h"

namespace cli {

namespace {

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

size_t columnIndex(const jet::TableInfo& info, const std::string& name) {
  if (const int i = jet::columnIndex(info.columns, name); i >= 0) return size_t(i);
  throw jet::Error(jet::err::kUnknownField, "Item not found in this collection: no field '" + name + "'.");
}

// A reader of JSON lines for a RowPipe: each line one object naming some of the table's columns
// (the others take their default values), converted and checked as DAO checks a record before it
// is saved.
RowPipe::Reader jsonRowReader(std::istream& in, const jet::TableInfo& info, jet::Format format,
                               std::vector<jet::Value> defaults) {
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
  return [state, &info, format, defaults = std::move(defaults)](PipedRow& row) {
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
      if (!st.named[i]) row.values[i] = i < defaults.size() ? defaults[i] : jet::Value(jet::Null{});
    jet::checkNewRow(info, format, row.values);
    return true;
  };
}

// A reader of CSV records for a RowPipe, after the header record that named the columns.
RowPipe::Reader csvRowReader(std::istream& in, const jet::TableInfo& info, jet::Format format,
                             std::vector<size_t> map, int64_t line, std::vector<jet::Value> defaults) {
  return [&in, &info, format, map = std::move(map), fields = std::vector<CsvField>(), line,
          defaults = std::move(defaults)](PipedRow& row) mutable {
    for (;;) {
      row.line = line + 1;  // a record is reported at the line it starts on
      if (!readCsvRecord(in, fields, line)) return false;
      if (fields.size() == 1 && fields[0].text.empty() && !fields[0].quoted) continue;  // blank line
      if (fields.size() != map.size())
        throw jet::Error(jet::err::kConversion, "expected " + std::to_string(map.size()) + " fields, found " +
                                                    std::to_string(fields.size()) + ".");
      row.values.assign(defaults.begin(), defaults.end());
      row.complex.clear();
      for (size_t k = 0; k < map.size(); ++k) row.values[map[k]] = valueFromCsv(info.columns[map[k]], fields[k]);
      jet::checkNewRow(info, format, row.values);
      return true;
    }
  };
}

// The row addresses of a table in stored order, up to and including position `last`.
std::vector<jet::RowId> rowsUpTo(jet::TableCursor& cursor, int64_t last) {
  std::vector<jet::RowId> ids;
  while (static_cast<int64_t>(ids.size()) <= last && cursor.next()) ids.push_back(cursor.rowId());
  return ids;
}

}  // namespace

int cmdExport(const Args& a, Io& io) {
  need(a, 2, 2);
  const std::string format = a.format.empty() ? "csv" : a.format;
  if (format != "csv" && format != "jsonl") throw UsageError("unknown export format " + format);
  auto db = openEngine(a, true);
  auto reading = db->readOperation();  // one committed state from the first row to the last
  auto cursor = db->openTable(a.positional[1]);
  const jet::TableInfo& info = cursor->table();
  // Complex columns hold a key per row; their values come from the column's hidden table.
  std::vector<std::unique_ptr<jet::ComplexValues>> complex(info.columns.size());
  for (size_t i = 0; i < info.columns.size(); ++i)
    if (info.columns[i].type == jet::ColumnType::Complex) {
      complex[i] = db->complexValues(info.name, info.columns[i].name);
      if (info.columns[i].complexKind == jet::ComplexKind::Unsupported)
        io.err << "tabulonix-cli: field " << info.columns[i].name
               << " is a complex field of a kind this engine does not know; its values are exported as stored\n";
    }
  Output o(io.out);
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

int cmdImport(const Args& a, Io& io) {
  std::istream& in = io.in;
  std::ostream& err = io.err;
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
      reader = jsonRowReader(in, info, db->format(), db->defaultValues(info.name));
    } else {
      std::vector<CsvField> header;
      std::vector<size_t> map;
      if (readCsvRecord(in, header, line))
        for (const CsvField& f : header) map.push_back(columnIndex(info, f.text));
      reader = csvRowReader(in, info, db->format(), std::move(map), line, db->defaultValues(info.name));
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
  io.out << rows << " rows imported\n";
  return 0;
}

int cmdUpdate(const Args& a, Io& io) {
  std::istream& in = io.in;
  need(a, 3, 3);
  int64_t position = parsePosition(a.positional[2]);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  JsonObject changes = parseJsonObject(text);
  auto db = openEngine(a, false);
  auto turn = db->writeOperation();  // the row found by its position is the row changed
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

int cmdDelete(const Args& a, Io&) {
  need(a, 3, 4);
  int64_t first = parsePosition(a.positional[2]);
  int64_t last = a.positional.size() > 3 ? parsePosition(a.positional[3]) : first;
  if (last < first) throw UsageError("LAST comes before POSITION");
  auto db = openEngine(a, false);
  auto turn = db->writeOperation();  // the rows found by their positions are the rows deleted
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

}  // namespace cli
