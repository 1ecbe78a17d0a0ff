#include "jet/catalog/catalog_writer.h"

#include <algorithm>
#include <cstring>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/index/index_key.h"

namespace jet {

namespace {

[[noreturn]] void invalid() { throw Error(err::kInvalidArgument, "Invalid argument."); }

size_t dataPageHeader(Format f) { return f == Format::Jet4 ? 14 : 10; }

int64_t asInt(const Value& v) {
  if (auto p = std::get_if<int64_t>(&v)) return *p;
  if (auto b = std::get_if<bool>(&v)) return *b ? -1 : 0;
  invalid();
}

Bytes textBytes(Format f, const std::string& s) { return encodeName(f, s); }

// Bytes of a fixed-length value.
void putFixed(const ColumnDef& c, const Value& v, uint8_t* out) {
  switch (c.type) {
    case ColumnType::Byte: out[0] = uint8_t(asInt(v)); break;
    case ColumnType::Integer: le::put16(out, uint16_t(asInt(v))); break;
    case ColumnType::Long: le::put32(out, uint32_t(asInt(v))); break;
    case ColumnType::Currency: {
      auto cur = std::get_if<Currency>(&v);
      if (!cur) invalid();
      uint64_t x = uint64_t(cur->scaled);
      for (int i = 0; i < 8; ++i) out[i] = uint8_t(x >> (8 * i));
      break;
    }
    case ColumnType::Single: {
      auto p = std::get_if<float>(&v);
      if (!p) invalid();
      std::memcpy(out, p, 4);
      break;
    }
    case ColumnType::Double:
    case ColumnType::DateTime: {
      double d;
      if (auto p = std::get_if<double>(&v)) d = *p;
      else if (auto t = std::get_if<DateTime>(&v)) d = t->days;
      else invalid();
      std::memcpy(out, &d, 8);
      break;
    }
    case ColumnType::Guid: {
      auto g = std::get_if<Guid>(&v);
      if (!g) invalid();
      std::memcpy(out, g->bytes.data(), 16);
      break;
    }
    default: invalid();
  }
}

Value getFixed(const ColumnDef& c, const uint8_t* p) {
  switch (c.type) {
    case ColumnType::Byte: return int64_t(p[0]);
    case ColumnType::Integer: return int64_t(int16_t(le::get16(p)));
    case ColumnType::Long: return int64_t(int32_t(le::get32(p)));
    case ColumnType::Currency: {
      uint64_t x = 0;
      for (int i = 0; i < 8; ++i) x |= uint64_t(p[i]) << (8 * i);
      return Currency{int64_t(x)};
    }
    case ColumnType::Single: {
      float f;
      std::memcpy(&f, p, 4);
      return f;
    }
    case ColumnType::Double: {
      double d;
      std::memcpy(&d, p, 8);
      return d;
    }
    case ColumnType::DateTime: {
      double d;
      std::memcpy(&d, p, 8);
      return DateTime{d};
    }
    case ColumnType::Guid: {
      Guid g;
      std::memcpy(g.bytes.data(), p, 16);
      return g;
    }
    default: return Bytes(p, p + c.length);
  }
}

Bytes varBytes(Format f, const ColumnDef& c, const Value& v, bool raw) {
  Bytes data;
  if (raw && (c.type == ColumnType::Memo || c.type == ColumnType::Ole)) {
    if (auto b = std::get_if<Bytes>(&v)) return *b;
  }
  if (auto s = std::get_if<std::string>(&v)) data = textBytes(f, *s);
  else if (auto b = std::get_if<Bytes>(&v)) data = *b;
  else invalid();
  if (c.type == ColumnType::Memo || c.type == ColumnType::Ole) return inlineLongValue(data);
  if (c.length && data.size() > c.length) invalid();
  return data;
}

}  // namespace

std::vector<Value> rowByNumber(const TableDef& def, const std::vector<std::pair<uint16_t, Value>>& values) {
  std::vector<Value> row(def.columns.size(), Null{});
  for (const auto& [number, v] : values) {
    size_t pos = def.findColumn(number);
    if (pos >= def.columns.size()) invalid();
    row[pos] = v;
  }
  return row;
}

size_t maxRowSize(Format f) { return pageSizeOf(f) - dataPageHeader(f) - 2; }


Bytes encodeRow(const TableDef& def, const std::vector<Value>& values, bool rawLongValues) {
  const Format f = def.format;
  if (values.size() != def.columns.size()) invalid();
  uint16_t colCount = def.maxColumns ? def.maxColumns : uint16_t(def.columns.size());
  for (const auto& c : def.columns) colCount = std::max<uint16_t>(colCount, c.number + 1);
  const size_t maskSize = (colCount + 7) / 8;
  Bytes mask(maskSize, 0);

  size_t fixedEnd = 0;
  uint16_t varCount = 0;
  for (const auto& c : def.columns) {
    if (c.fixed() && c.type != ColumnType::Boolean) fixedEnd = std::max<size_t>(fixedEnd, c.fixedOffset + c.length);
    if (!c.fixed()) varCount = std::max<uint16_t>(varCount, c.varIndex + 1);
  }
  const size_t start = f == Format::Jet4 ? 2 : 1;
  Bytes row(start + fixedEnd, 0);
  if (f == Format::Jet4) le::put16(row.data(), colCount);
  else row[0] = uint8_t(colCount);

  std::vector<Bytes> var(varCount);
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const auto& c = def.columns[i];
    const Value& v = values[i];
    const bool null = isNull(v);
    if (c.type == ColumnType::Boolean) {
      if (!null && asInt(v) != 0) mask[c.number / 8] |= uint8_t(1 << (c.number % 8));
      continue;
    }
    if (null) continue;
    mask[c.number / 8] |= uint8_t(1 << (c.number % 8));
    if (c.fixed()) putFixed(c, v, row.data() + start + c.fixedOffset);
    else var[c.varIndex] = varBytes(f, c, v, rawLongValues);
  }

  std::vector<size_t> offsets;
  for (const auto& v : var) {
    offsets.push_back(row.size());
    row.insert(row.end(), v.begin(), v.end());
  }
  offsets.push_back(row.size());

  if (varCount == 0) {
    // No variable-length column: the null mask follows the fixed data.
  } else if (f == Format::Jet4) {
    for (size_t i = offsets.size(); i-- > 0;) le::append16(row, uint16_t(offsets[i]));
    le::append16(row, varCount);
  } else {
    // One-byte offsets; a jump table names the first column past each 256-byte boundary. The
    // table's length follows from the row's length, so settle both together.
    const size_t body = row.size();
    size_t jumps = 0;
    for (;;) {
      size_t total = body + offsets.size() + jumps + 1 + maskSize;
      size_t want = (total - 1) / 256;
      if (want == jumps) break;
      jumps = want;
    }
    for (size_t i = offsets.size(); i-- > 0;) row.push_back(uint8_t(offsets[i] & 0xFF));
    // Jump entries from the last boundary down to the first (the first sits next to the count).
    std::vector<uint8_t> jumpTable(jumps, 0xFF);
    for (size_t j = 0; j < jumps; ++j) {
      for (size_t i = 0; i < offsets.size(); ++i)
        if (offsets[i] >= 256 * (j + 1)) {
          jumpTable[j] = uint8_t(i);
          break;
        }
    }
    for (size_t j = jumps; j-- > 0;) row.push_back(jumpTable[j]);
    row.push_back(uint8_t(varCount));
  }
  row.insert(row.end(), mask.begin(), mask.end());
  if (row.size() > maxRowSize(f)) invalid();
  return row;
}

std::vector<Value> decodeRow(const TableDef& def, const uint8_t* row, size_t size, bool rawLongValues) {
  const Format f = def.format;
  auto bad = [] { throw Error(err::kCorrupt, "A row is damaged."); };
  if (size < 2) bad();
  const size_t colCount = f == Format::Jet4 ? le::get16(row) : row[0];
  const size_t maskSize = (colCount + 7) / 8;
  if (size < maskSize + 2) bad();
  const uint8_t* mask = row + size - maskSize;
  std::vector<size_t> offsets;
  size_t varCount = 0;
  bool variablePart = false;  // absent from rows written while the table had no variable column
  for (const auto& c : def.columns) variablePart = variablePart || (!c.fixed() && c.number < colCount);
  if (!variablePart) {
    if (size < maskSize + (f == Format::Jet4 ? 2 : 1)) bad();
  } else if (f == Format::Jet4) {
    varCount = le::get16(row + size - maskSize - 2);
    if (size < maskSize + 2 + 2 * (varCount + 1)) bad();
    for (size_t i = 0; i <= varCount; ++i) offsets.push_back(le::get16(row + size - maskSize - 4 - 2 * i));
  } else {
    varCount = row[size - maskSize - 1];
    size_t jumps = (size - 1) / 256;
    const size_t rowEnd = size - 1;
    size_t colPtr = rowEnd - maskSize - jumps - 1;
    if (size < maskSize + 2 + jumps + varCount) bad();
    // A last jump entry that no offset needs is padding: it keeps its byte but is not consulted.
    if ((colPtr - varCount) / 256 < jumps) --jumps;
    size_t used = 0;
    for (size_t i = 0; i <= varCount; ++i) {
      while (used < jumps && i == row[rowEnd - maskSize - used - 1]) ++used;
      offsets.push_back(row[colPtr - i] + used * 256);
    }
  }
  const size_t start = f == Format::Jet4 ? 2 : 1;
  std::vector<Value> out;
  for (const auto& c : def.columns) {
    const bool present = c.number < colCount && (mask[c.number / 8] >> (c.number % 8)) & 1;
    if (c.type == ColumnType::Boolean) {
      out.push_back(present);
      continue;
    }
    if (!present) {
      out.push_back(Null{});
      continue;
    }
    if (c.fixed()) {
      if (start + c.fixedOffset + c.length > size) bad();
      out.push_back(getFixed(c, row + start + c.fixedOffset));
      continue;
    }
    if (c.varIndex >= varCount) {
      out.push_back(Null{});
      continue;
    }
    size_t a = offsets[c.varIndex], b = offsets[c.varIndex + 1];
    if (a > b || b > size) bad();
    Bytes data(row + a, row + b);
    if (c.type == ColumnType::Memo || c.type == ColumnType::Ole) {
      if (rawLongValues) {
        out.push_back(data);
        continue;
      }
      if (data.size() < 12) bad();
      uint32_t len = le::get32(data.data());
      if (!(len & 0x80000000u)) {
        out.push_back(Null{});
        continue;
      }
      len &= 0x3FFFFFFF;
      if (12 + len > data.size()) bad();
      Bytes payload(data.begin() + 12, data.begin() + 12 + len);
      if (c.type == ColumnType::Memo) out.push_back(decodeName(f, payload.data(), payload.size()));
      else out.push_back(payload);
      continue;
    }
    if (c.type == ColumnType::Text) {
      if (f == Format::Jet4 && data.size() >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        // Compressed text: runs of one-byte characters, switched by a zero byte.
        std::string s;
        bool compressed = true;
        Bytes u;
        for (size_t i = 2; i < data.size();) {
          if (data[i] == 0) {
            compressed = !compressed;
            ++i;
            continue;
          }
          if (compressed) {
            u.push_back(data[i]);
            u.push_back(0);
            ++i;
          } else {
            if (i + 1 >= data.size()) break;
            u.push_back(data[i]);
            u.push_back(data[i + 1]);
            i += 2;
          }
        }
        out.push_back(decodeName(f, u.data(), u.size()));
      } else {
        out.push_back(decodeName(f, data.data(), data.size()));
      }
      continue;
    }
    out.push_back(data);
  }
  return out;
}

}  // namespace jet
