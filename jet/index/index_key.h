// Index keys: the byte strings an index orders its rows by.
//
// A key is the concatenation of one entry per index column. Each entry starts with a flag byte
// (0x7F ascending / 0x80 descending for a value, 0x00 / 0xFF for Null) followed by the value in a
// form whose plain byte order (memcmp) is the column's sort order; descending columns store the
// inverted bytes. Text is encoded through the General sort order tables of the column's collation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/schema.h"
#include "jet/base/value.h"

namespace jet {

// The character tables a text column's keys are built with.
enum class TextCollation : uint8_t {
  General97,      // Jet 3 files: General sort order of the 2 KB page format
  GeneralLegacy,  // Jet 4 .mdb files: the General order written by the engine since Jet 4
  General,        // the newer General order (columns whose sort-order version is 1)
  Unsupported,    // any other sort order: keys cannot be computed
};

// The collation of a text column from the sort order stored with it. A sort order of 0 means the
// format's default (General). Anything but General (1033) is Unsupported.
TextCollation textCollation(Format format, uint16_t sortOrder, uint16_t sortVersion);

// One column of an index as the key encoder needs it.
struct KeyColumn {
  ColumnType type = ColumnType::Long;
  bool ascending = true;
  TextCollation collation = TextCollation::GeneralLegacy;  // Text and Memo only
  uint8_t scale = 0;                                       // Decimal only
  // Decimal only: files before Access 2007 set the sign byte after inverting a descending or
  // negative value; later ones invert it with the rest (legacyDecimalKeys of the file's version).
  bool legacyDecimal = true;
};

// Why keys for this column cannot be computed ("" when they can): an unknown sort order or a type
// that indexes cannot hold (Binary, OLE object and unknown types).
std::string keyColumnProblem(const KeyColumn& column);

// Text keys take at most this many UTF-16 code units of a value; the rest does not take part.
constexpr size_t kMaxIndexTextChars = 255;

// Appends the entry of one column value to key. Throws jet::Error 3421 when the value does not
// fit the column's type and 3219 when the column cannot be encoded (see keyColumnProblem).
void appendKeyEntry(const KeyColumn& column, const Value& value, Bytes& key);

// The whole key of a row: values[i] belongs to columns[i].
Bytes encodeKey(const std::vector<KeyColumn>& columns, const std::vector<Value>& values);

// True when the entry of this column would be the Null flag (Boolean columns never are: a Null
// Boolean is encoded as False).
bool isNullKeyValue(const KeyColumn& column, const Value& value);

}  // namespace jet
