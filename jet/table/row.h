// Rows of a table. A row starts with its column count, then the fixed part (each fixed column at its
// offset), then variable data; it ends with the variable-offset table, the variable-column count and
// the null mask (one bit per column number, set when the column holds a value; Boolean columns keep
// their value there). Jet 3 stores one-byte offsets plus a jump table of 256-byte boundaries. A row
// of a table without variable-length columns has no variable part at all.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/text_codec.h"
#include "jet/base/value.h"
#include "jet/storage/long_value.h"
#include "jet/table/table_def.h"

namespace jet {

// Where each column's bytes sit in one row.
struct RowLayout {
  uint16_t columnCount = 0;           // as the row records it (older rows may have fewer)
  std::vector<uint16_t> varOffsets;   // variable-column starts plus the end of variable data
  const uint8_t* data = nullptr;
  size_t size = 0;

  bool present(uint16_t columnNumber) const;  // the null-mask bit
};

// Parses a row body. Throws 3049 when its structure does not fit in `size`. The variable part is
// read only when one of the columns the row records is variable-length.
void parseRow(const Tdef& def, const uint8_t* row, size_t size, RowLayout& out);

// The bytes of one column in a parsed row; false when the column is Null (or absent from the row).
bool columnBytes(const Tdef& def, const ColumnDef& col, const RowLayout& row, const uint8_t*& data,
                 size_t& len);

// Decodes rows of one table into values in field order, reusing the output's storage.
class RowReader {
 public:
  RowReader(const Tdef& def, TextCodec& codec, LongValueReader& longValues)
      : def_(def), codec_(codec), longValues_(&longValues) {}
  // A reader that leaves long values unread: Memo and OLE columns come back as their stored field
  // (the reference and any data kept in the row), Bytes that encodeRow writes back unchanged.
  RowReader(const Tdef& def, TextCodec& codec) : def_(def), codec_(codec), longValues_(nullptr) {}

  void decode(const uint8_t* row, size_t size, std::vector<Value>& out);
  // Decodes a single column's stored bytes (already known not Null).
  void decodeColumn(const ColumnDef& col, const uint8_t* data, size_t len, Value& out);

 private:
  void decodeText(const uint8_t* data, size_t len, Value& out);

  const Tdef& def_;
  TextCodec& codec_;
  LongValueReader* longValues_;
  RowLayout layout_;
  std::vector<uint8_t> scratch_;
};

}  // namespace jet
