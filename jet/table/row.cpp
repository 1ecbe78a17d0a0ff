#include "jet/table/row.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "jet/base/bytes.h"
#include "jet/base/value_text.h"
#include "jet/table/calculated_value.h"

namespace jet {

bool RowLayout::present(uint16_t number) const {
  if (number >= columnCount) return false;
  size_t maskSize = (columnCount + 7u) / 8u;
  return (data[size - maskSize + number / 8] >> (number % 8)) & 1;
}

namespace {

// What a row recording `columnCount` columns must hold: whether it has the variable part, and how
// far its fixed part reaches.
struct RowShape {
  bool variablePart = false;
  size_t fixedEnd = 0;
};

RowShape shapeOf(const Tdef& def, uint16_t columnCount) {
  RowShape shape;
  for (const ColumnDef& c : def.columns) {
    if (c.number >= columnCount) continue;
    if (!c.fixed()) shape.variablePart = true;
    else if (c.type != ColumnType::Boolean) shape.fixedEnd = std::max<size_t>(shape.fixedEnd, size_t(c.fixedOffset) + c.length);
  }
  return shape;
}

}  // namespace


void parseRow(const Tdef& def, const uint8_t* row, size_t size, RowLayout& out) {
  out.data = row;
  out.size = size;
  out.varOffsets.clear();
  const bool jet3 = def.format == Format::Jet3Layout;
  const size_t countSize = jet3 ? 1 : 2;
  if (size < countSize) throwCorrupt("a row is cut short");
  out.columnCount = jet3 ? row[0] : le16(row);
  const size_t maskSize = (out.columnCount + 7u) / 8u;
  if (size < countSize + maskSize) throwCorrupt("a row is shorter than its null mask");
  const size_t maskStart = size - maskSize;
  // Only rows written while the table had a variable column carry the variable part; without one
  // the null mask follows the fixed data directly. Rows that carry an empty variable part anyway
  // read the same, as nothing in it is looked at.
  if (out.columnCount == 0 && !def.columns.empty()) throwCorrupt("a row records no columns");
  const RowShape shape = shapeOf(def, out.columnCount);
  if (maskStart < countSize + shape.fixedEnd) throwCorrupt("a row's fixed part is cut short");
  if (!shape.variablePart) return;
  if (size < countSize + maskSize + countSize) throwCorrupt("a row is shorter than its null mask");
  size_t varCount;
  if (!jet3) {
    varCount = le16(row + maskStart - 2);
    if (maskStart < 2 + 2 * (varCount + 1) + countSize) throwCorrupt("a row's variable-column table is cut short");
    out.varOffsets.resize(varCount + 1);
    for (size_t i = 0; i <= varCount; ++i) out.varOffsets[i] = le16(row + maskStart - 4 - 2 * i);
  } else {
    varCount = row[maskStart - 1];
    size_t numJumps = (size - 1) / 256;
    if (maskStart < 1 + numJumps + varCount + 1 + countSize) throwCorrupt("a row's variable-column table is cut short");
    size_t colOffset = maskStart - 1 - numJumps - 1;  // the first offset byte
    // The last jump entry is unused when the offsets do not reach that far.
    if (numJumps > 0 && (colOffset - varCount) / 256 < numJumps) --numJumps;
    out.varOffsets.resize(varCount + 1);
    size_t jumpsUsed = 0;
    for (size_t i = 0; i <= varCount; ++i) {
      while (jumpsUsed < numJumps && i == row[maskStart - 2 - jumpsUsed]) ++jumpsUsed;
      out.varOffsets[i] = uint16_t(row[colOffset - i] + 256 * jumpsUsed);
    }
  }
  for (size_t i = 0; i < varCount; ++i) {
    if (out.varOffsets[i] > out.varOffsets[i + 1] || out.varOffsets[i + 1] > maskStart)
      throwCorrupt("a row's variable-column offsets are out of order");
  }
}

bool columnBytes(const Tdef& def, const ColumnDef& col, const RowLayout& row, const uint8_t*& data,
                 size_t& len) {
  if (!row.present(col.number)) return false;
  if (col.fixed()) {
    size_t start = (def.format == Format::Jet3Layout ? 1 : 2) + size_t(col.fixedOffset);
    if (start + col.length + (row.columnCount + 7u) / 8u > row.size) throwCorrupt("a row's fixed part is cut short");
    data = row.data + start;
    len = col.length;
    return true;
  }
  if (size_t(col.varIndex) + 1 >= row.varOffsets.size()) return false;  // written before the column existed
  uint16_t s = row.varOffsets[col.varIndex], e = row.varOffsets[col.varIndex + 1];
  data = row.data + s;
  len = size_t(e - s);
  return true;
}

void RowReader::decodeText(const uint8_t* data, size_t len, Value& out) {
  std::string* s = std::get_if<std::string>(&out);
  if (!s) {
    out = std::string();
    s = &std::get<std::string>(out);
  }
  if (def_.format == Format::Jet4Layout) decodeJet4Text(data, len, *s);
  else codec_.decodeCodePage(data, len, *s);
}

namespace {

Bytes& bytesOf(Value& v) {
  if (Bytes* b = std::get_if<Bytes>(&v)) return *b;
  v = Bytes();
  return std::get<Bytes>(v);
}

void needLength(size_t len, size_t want) {
  if (len < want) throwCorrupt("a column value is shorter than its type");
}

}  // namespace

void RowReader::decodeColumn(const ColumnDef& col, const uint8_t* d, size_t len, Value& out) {
  if (col.unknownType()) {  // a type this engine does not know: raw bytes
    bytesOf(out).assign(d, d + len);
    return;
  }
  if (!longValues_ && col.isLongValue()) {
    bytesOf(out).assign(d, d + len);
    return;
  }
  if (col.calculated() && !col.isLongValue()) {
    std::tie(d, len) = unwrapCalculated(d, len);
    if (col.type == ColumnType::Boolean) {  // kept as a byte, not in the null mask
      out = len > 0 && d[0] != 0;
      return;
    }
    // A result of a fixed-size type may be stored empty: Null.
    if (len == 0 && col.type != ColumnType::Text) {
      out = Null{};
      return;
    }
    if (col.type == ColumnType::Numeric) {
      out = decodeCalculatedDecimal(d, len);
      return;
    }
  }
  switch (col.type) {
    case ColumnType::Boolean:
      out = true;
      return;
    case ColumnType::Byte:
      needLength(len, 1);
      out = int64_t(d[0]);
      return;
    case ColumnType::Integer:
      needLength(len, 2);
      out = int64_t(int16_t(le16(d)));
      return;
    case ColumnType::Long:
    case ColumnType::Complex:
      needLength(len, 4);
      out = int64_t(int32_t(le32(d)));
      return;
    case ColumnType::Currency:
      needLength(len, 8);
      out = Currency{int64_t(le64(d))};
      return;
    case ColumnType::BigInt:
      needLength(len, 8);
      out = int64_t(le64(d));
      return;
    case ColumnType::DateTimeExtended:
      out = fromStoredExtendedDate(d, len);
      return;
    case ColumnType::Single: {
      needLength(len, 4);
      uint32_t bits = le32(d);
      float f;
      std::memcpy(&f, &bits, 4);
      out = f;
      return;
    }
    case ColumnType::Double:
    case ColumnType::DateTime: {
      needLength(len, 8);
      uint64_t bits = le64(d);
      double v;
      std::memcpy(&v, &bits, 8);
      if (col.type == ColumnType::Double) out = v;
      else out = DateTime{v};
      return;
    }
    case ColumnType::Guid: {
      needLength(len, 16);
      Guid g;
      std::memcpy(g.bytes.data(), d, 16);
      out = g;
      return;
    }
    case ColumnType::Numeric: {
      needLength(len, 17);
      // A sign byte, then the 128-bit magnitude as four 32-bit words, most significant first.
      Decimal v;
      v.negative = d[0] != 0;
      v.scale = col.scale;
      v.precision = col.precision;
      v.magnitude = {le32(d + 13), le32(d + 9), le32(d + 5)};
      out = v;
      return;
    }
    case ColumnType::Text:
      decodeText(d, len, out);
      return;
    case ColumnType::Binary:
      bytesOf(out).assign(d, d + len);
      return;
    case ColumnType::Memo: {
      longValues_->read(d, len, scratch_);
      auto [text, size] = col.calculated() ? unwrapCalculated(scratch_.data(), scratch_.size())
                                           : std::pair<const uint8_t*, size_t>{scratch_.data(), scratch_.size()};
      decodeText(text, size, out);
      return;
    }
    case ColumnType::Ole:
      longValues_->read(d, len, bytesOf(out));
      return;
  }
  bytesOf(out).assign(d, d + len);
}

void RowReader::decode(const uint8_t* row, size_t size, std::vector<Value>& out) {
  parseRow(def_, row, size, layout_);
  out.resize(def_.columns.size());
  for (size_t i = 0; i < def_.columns.size(); ++i) {
    const ColumnDef& col = def_.columns[i];
    if (col.inNullMask()) {
      out[i] = layout_.present(col.number);
      continue;
    }
    const uint8_t* d;
    size_t len;
    if (!columnBytes(def_, col, layout_, d, len)) {
      out[i] = Null{};
      continue;
    }
    decodeColumn(col, d, len, out[i]);
  }
}

}  // namespace jet
