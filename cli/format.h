// The tool's record formats: CSV (RFC 4180) and JSON lines, written from values and read back
// into values of a table's columns.
#pragma once

#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/complex_value.h"
#include "jet/base/schema.h"
#include "jet/base/value.h"
#include "jet/base/value_json.h"
#include "sql/json_values.h"

namespace cli {

// CSV: one field, quoted when it holds a comma, quote, CR or LF. Null is empty; an empty text is
// written as "" so that the two stay apart.
void appendCsvField(std::string& out, const jet::Value& v);
void appendCsvText(std::string& out, const std::string& text);

// JSON: the values' JSON form, shared with the SQL bridge (see jet/base/value_json.h).
using jet::appendJsonComplex;
using jet::appendJsonString;
using jet::appendJsonValue;
// CSV: attachment names, or the values, joined by ';'.
void appendCsvComplex(std::string& out, const jet::ComplexValue& v);

using sql::JsonScalar;
using JsonObject = std::vector<std::pair<std::string, JsonScalar>>;
// Parses one JSON object of scalars and arrays ({"a": 1, "b": [...]}). Throws std::runtime_error
// on bad JSON.
JsonObject parseJsonObject(const std::string& line);
// The same into `reuse`, whose first N entries it fills (keeping their storage for the next line);
// returns N. Entries beyond N are left from earlier lines.
size_t parseJsonObject(const std::string& line, JsonObject& reuse);

// JSON lines read from a stream a large block at a time, each line parsed where it lies.
class JsonLineReader {
 public:
  explicit JsonLineReader(std::istream& in);
  ~JsonLineReader();
  JsonLineReader(const JsonLineReader&) = delete;
  JsonLineReader& operator=(const JsonLineReader&) = delete;

  // Moves to the next line (LF or CR LF ends it); false at the end of input.
  bool next();
  // Lines read so far, the current one included.
  int64_t number() const;
  // Whether the current line holds nothing but spaces and tabs.
  bool blank() const;
  // The current line as one object of scalars, as parseJsonObject(line, reuse).
  size_t parse(JsonObject& reuse);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Reads the next CSV record; false at the end of input. Fields that were quoted are kept apart
// from unquoted empty ones (Null). `line` counts physical lines read so far.
struct CsvField {
  std::string text;
  bool quoted = false;
};
bool readCsvRecord(std::istream& in, std::vector<CsvField>& record, int64_t& line);

using sql::complexFromJson;
using sql::valueFromJson;
// The value for a column from a CSV field (in the export's encodings). Throws jet::Error 3421
// when it does not convert.
jet::Value valueFromCsv(const jet::ColumnInfo& column, const CsvField& f);

}  // namespace cli
