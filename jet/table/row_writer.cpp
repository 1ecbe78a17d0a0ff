#include "jet/table/row_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/base/value_text.h"
#include "jet/table/calculated_value.h"

namespace jet {

namespace {

[[noreturn]] void conversionError() { throw Error(err::kConversion, "Data type conversion error."); }

int64_t integer(const Value& v) {
  if (auto* i = std::get_if<int64_t>(&v)) return *i;
  if (auto* b = std::get_if<bool>(&v)) return *b ? -1 : 0;
  if (auto* d = std::get_if<double>(&v)) {
    if (std::nearbyint(*d) == *d && std::fabs(*d) < 9.2e18) return int64_t(*d);
  }
  conversionError();
}

double real(const Value& v) {
  if (auto* d = std::get_if<double>(&v)) return *d;
  if (auto* f = std::get_if<float>(&v)) return *f;
  if (auto* i = std::get_if<int64_t>(&v)) return double(*i);
  if (auto* c = std::get_if<Currency>(&v)) return double(c->scaled) / 10000.0;
  if (auto* t = std::get_if<DateTime>(&v)) return t->days;
  conversionError();
}

Bytes bytesOf(const Value& v) {
  if (auto* b = std::get_if<Bytes>(&v)) return *b;
  if (auto* s = std::get_if<std::string>(&v)) return Bytes(s->begin(), s->end());
  conversionError();
}

// Appends the stored form of a text value; a Text column refuses text longer than itself.
void appendTextField(const Tdef& def, const ColumnDef& col, const Value& v, TextCodec& codec, Bytes& out) {
  const std::string* s = std::get_if<std::string>(&v);
  if (!s) conversionError();
  size_t bytes;  // what the text counts for against the column's length
  if (def.format == Format::Jet4Layout) {
    bytes = appendJet4Text(*s, col.compressedText(), out) * 2;
  } else {
    const Bytes encoded = codec.encodeCodePage(*s);
    out.insert(out.end(), encoded.begin(), encoded.end());
    bytes = encoded.size();
  }
  if (col.type != ColumnType::Text) return;
  if (bytes > col.length)
    throw Error(err::kTextTooLong, "The field is too small to accept the amount of data you attempted to add. "
                                   "Try inserting or pasting less data.");
}

// Plain text written straight into the row (no calculated or unknown-typed column).
bool plainText(const ColumnDef& c) { return c.type == ColumnType::Text && !c.unknownType() && !c.calculated(); }

// The common fixed-size numbers written straight into the row, with the same checks as
// encodeValue; false for the types left to it.
bool encodeFixedInPlace(const ColumnDef& c, const Value& v, uint8_t* out) {
  if (c.unknownType() || c.calculated()) return false;
  switch (c.type) {
    case ColumnType::Long:
    case ColumnType::Complex: {
      if (c.length < 4) return false;
      const int64_t n = integer(v);
      if (n < INT32_MIN || n > INT32_MAX) conversionError();
      put32(out, uint32_t(int32_t(n)));
      return true;
    }
    case ColumnType::Currency:
      if (c.length < 8) return false;
      if (auto* m = std::get_if<Currency>(&v)) {
        put64(out, uint64_t(m->scaled));
        return true;
      }
      return false;
    case ColumnType::Double:
    case ColumnType::DateTime: {
      if (c.length < 8) return false;
      const double d = real(v);
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      put64(out, bits);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

Bytes encodeValue(const Tdef& def, const ColumnDef& col, const Value& v, TextCodec& codec) {
  if (col.calculated() && !col.unknownType()) {
    // The result as a column of its type keeps it, wrapped.
    if (col.type == ColumnType::Boolean) return wrapCalculated({uint8_t(isNull(v) || integer(v) == 0 ? 0x00 : 0xFF)});
    if (col.type == ColumnType::Numeric) {
      auto* d = std::get_if<Decimal>(&v);
      if (!d) conversionError();
      return wrapCalculated(encodeCalculatedDecimal(*d));
    }
    ColumnDef result = col;
    result.extFlags &= uint8_t(~colflag::kCalculated);
    if (result.type == ColumnType::Text) result.length = uint16_t(std::max<int>(0, col.length - int(kCalculatedOverhead)));
    return wrapCalculated(encodeValue(def, result, v, codec));
  }
  Bytes out;
  auto putInt = [&](int64_t n, size_t size, int64_t lo, int64_t hi) {
    if (n < lo || n > hi) conversionError();
    out.resize(size);
    for (size_t i = 0; i < size; ++i) out[i] = uint8_t(uint64_t(n) >> (8 * i));
  };
  if (col.unknownType()) return bytesOf(v);
  switch (col.type) {
    case ColumnType::Boolean:
      return out;
    case ColumnType::Byte: putInt(integer(v), 1, 0, 255); return out;
    case ColumnType::Integer: putInt(integer(v), 2, -32768, 32767); return out;
    case ColumnType::Long:
    case ColumnType::Complex: putInt(integer(v), 4, INT32_MIN, INT32_MAX); return out;
    case ColumnType::BigInt: putInt(integer(v), 8, INT64_MIN, INT64_MAX); return out;
    case ColumnType::DateTimeExtended: {
      auto* d = std::get_if<DateTimeExtended>(&v);
      if (!d) conversionError();
      return storedExtendedDate(*d);
    }
    case ColumnType::Currency: {
      int64_t scaled;
      if (auto* c = std::get_if<Currency>(&v)) scaled = c->scaled;
      else if (auto* i = std::get_if<int64_t>(&v)) scaled = *i * 10000;
      else scaled = int64_t(std::llround(real(v) * 10000.0));
      out.resize(8);
      put64(out.data(), uint64_t(scaled));
      return out;
    }
    case ColumnType::Single: {
      float f = float(real(v));
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      out.resize(4);
      put32(out.data(), bits);
      return out;
    }
    case ColumnType::Double:
    case ColumnType::DateTime: {
      double d = real(v);
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      out.resize(8);
      put64(out.data(), bits);
      return out;
    }
    case ColumnType::Guid: {
      auto* g = std::get_if<Guid>(&v);
      if (!g) conversionError();
      return Bytes(g->bytes.begin(), g->bytes.end());
    }
    case ColumnType::Numeric: {
      auto* d = std::get_if<Decimal>(&v);
      if (!d) conversionError();
      out.assign(17, 0);
      out[0] = d->negative ? 0x80 : 0;
      put32(&out[5], d->magnitude[2]);
      put32(&out[9], d->magnitude[1]);
      put32(&out[13], d->magnitude[0]);
      return out;
    }
    case ColumnType::Text:
    case ColumnType::Memo:
      appendTextField(def, col, v, codec, out);
      return out;
    case ColumnType::Binary: {
      out = bytesOf(v);
      if (out.size() > col.length)
        throw Error(err::kTextTooLong, "The field is too small to accept the amount of data you attempted to add. "
                                       "Try inserting or pasting less data.");
      return out;
    }
    case ColumnType::Ole:
      return bytesOf(v);
  }
  return bytesOf(v);
}

void encodeRowInto(const Tdef& def, const std::vector<Value>& values, TextCodec& codec, const LongValueStore& store,
                   Bytes& row) {
  if (values.size() != def.columns.size())
    throw Error(err::kInvalidArgument, "Invalid argument: a row needs one value per field.");
  const bool jet3 = def.format == Format::Jet3Layout;
  const size_t countSize = jet3 ? 1 : 2;
  uint16_t columnCount = def.maxColumns;
  int varCount = 0;
  uint32_t fixedSize = 0;  // def.fixedSize(), found in the same pass
  for (const ColumnDef& c : def.columns) {
    columnCount = std::max<uint16_t>(columnCount, uint16_t(c.number + 1));
    if (!c.fixed()) varCount = std::max(varCount, c.varIndex + 1);
    else if (c.type != ColumnType::Boolean) fixedSize = std::max<uint32_t>(fixedSize, uint32_t(c.fixedOffset) + c.length);
  }
  const size_t maskSize = (columnCount + 7u) / 8u;
  // Working lists kept from one row to the next: a bulk load encodes millions of rows.
  thread_local std::vector<uint8_t> mask;
  thread_local std::vector<const ColumnDef*> byVar;
  thread_local std::vector<const Value*> varValue;
  thread_local std::vector<size_t> offsets;
  mask.assign(maskSize, 0);
  row.clear();
  row.reserve(countSize + fixedSize + 64 * size_t(varCount) + 2 * size_t(varCount) + 8 + maskSize);
  row.resize(countSize + fixedSize, 0);
  if (jet3) row[0] = uint8_t(columnCount);
  else put16(row.data(), columnCount);

  byVar.assign(size_t(varCount), nullptr);
  varValue.assign(size_t(varCount), nullptr);
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    const Value& v = values[i];
    if (c.inNullMask()) {
      bool on = false;
      if (auto* b = std::get_if<bool>(&v)) on = *b;
      else if (!isNull(v)) on = integer(v) != 0;
      if (on) mask[c.number / 8] |= uint8_t(1u << (c.number % 8));
      continue;
    }
    if (!c.fixed()) {
      byVar[c.varIndex] = &c;
      varValue[c.varIndex] = &v;
      continue;
    }
    if (isNull(v)) continue;
    if (!encodeFixedInPlace(c, v, row.data() + countSize + c.fixedOffset)) {
      Bytes b = encodeValue(def, c, v, codec);
      if (b.size() > c.length) conversionError();
      std::copy(b.begin(), b.end(), row.begin() + long(countSize + c.fixedOffset));
    }
    mask[c.number / 8] |= uint8_t(1u << (c.number % 8));
  }
  offsets.clear();
  for (int k = 0; k < varCount; ++k) {
    offsets.push_back(row.size());
    const ColumnDef* c = byVar[size_t(k)];
    if (!c || isNull(*varValue[size_t(k)])) continue;
    if (plainText(*c)) {
      appendTextField(def, *c, *varValue[size_t(k)], codec, row);
    } else {
      Bytes b = encodeValue(def, *c, *varValue[size_t(k)], codec);
      if (c->isLongValue()) b = store(*c, b);
      row.insert(row.end(), b.begin(), b.end());
    }
    mask[c->number / 8] |= uint8_t(1u << (c->number % 8));
  }
  size_t eod = row.size();
  offsets.push_back(eod);

  if (varCount == 0 && def.varColumnCount == 0) {
    // No variable-length column: the null mask follows the fixed data.
  } else if (!jet3) {
    // The offsets last to first, then their count.
    if (eod > 0xFFFF) throw Error(err::kTextTooLong, "Record is too large.");
    const size_t at = row.size();
    row.resize(at + 2 * offsets.size() + 2);
    uint8_t* out = row.data() + at;
    for (size_t i = offsets.size(); i-- > 0; out += 2) put16(out, uint16_t(offsets[i]));
    put16(out, uint16_t(varCount));
  } else {
    // One-byte offsets; a jump table records at which offset entries each further 256 bytes begin.
    size_t trailing = offsets.size() + 1 + maskSize;
    size_t jumps = 0;
    while ((eod + trailing + jumps - 1) / 256 != jumps) jumps = (eod + trailing + jumps - 1) / 256;
    size_t realJumps = eod / 256;
    if (realJumps > jumps || jumps - realJumps > 1) throw Error(err::kTextTooLong, "Record is too large.");
    for (size_t i = offsets.size(); i-- > 0;) row.push_back(uint8_t(offsets[i] & 0xFF));
    std::vector<uint8_t> table(jumps, 0xFF);
    for (size_t j = 0; j < realJumps; ++j) {
      size_t i = 0;
      while (i < offsets.size() && offsets[i] < 256 * (j + 1)) ++i;
      table[j] = uint8_t(i);
    }
    for (size_t j = jumps; j-- > 0;) row.push_back(table[j]);
    row.push_back(uint8_t(varCount));
  }
  row.insert(row.end(), mask.begin(), mask.end());
}

Bytes encodeRow(const Tdef& def, const std::vector<Value>& values, TextCodec& codec, const LongValueStore& store) {
  Bytes row;
  encodeRowInto(def, values, codec, store, row);
  return row;
}

}  // namespace jet
