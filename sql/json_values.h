// Values read back from the JSON form the export writes and the SQL bridge shows (see
// jet/base/value_json.h): the import's JSON lines, and complex columns written through SQL.
#pragma once

#include <string>

#include "jet/base/complex_value.h"
#include "jet/base/schema.h"
#include "jet/base/value.h"

namespace sql {

// A value read from JSON: null, true/false, a number (kept as its text), a string, or an array
// (kept as its JSON text, for complex columns).
struct JsonScalar {
  enum Kind { Null, Bool, Number, String, Array } kind = Null;
  bool boolean = false;
  std::string text;  // number, string or array
};

// The value for a column from its text in the export's encodings (binary as hex with or without
// "0x", Decimal with the column's precision). Throws jet::Error 3421 when it does not convert.
jet::Value valueFromExportText(const jet::ColumnInfo& column, const std::string& text);

// The value for a column from a JSON scalar (in the export's encodings; JSON numbers are accepted
// for every numeric type). Throws jet::Error 3421 when it does not convert.
jet::Value valueFromJson(const jet::ColumnInfo& column, const JsonScalar& s);
// The same into `into`, whose text storage is reused when it holds a text already.
void valueFromJson(const jet::ColumnInfo& column, const JsonScalar& s, jet::Value& into);
// A complex column's value from the export's JSON: null (none), or an array of attachments
// ({"name","type","data": hex}, files stored as Access stores them), of the values of a
// multi-valued field, or of versions ({"value","modified"}, newest first). Throws jet::Error 3421
// when it does not convert.
jet::ComplexValue complexFromJson(const jet::ColumnInfo& column, const JsonScalar& s);

}  // namespace sql
