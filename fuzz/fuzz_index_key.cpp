// Index keys of arbitrary values: two values of one column type, taken from the input, are encoded
// ascending and descending under every collation. Encoding either works or fails with a jet::Error;
// the same value always gives the same key; a descending key orders two values exactly opposite
// to the ascending one; numbers order as their values do.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "jet/base/error.h"
#include "jet/index/index_key.h"

namespace {

constexpr jet::ColumnType kTypes[] = {
    jet::ColumnType::Boolean,  jet::ColumnType::Byte,   jet::ColumnType::Integer, jet::ColumnType::Long,
    jet::ColumnType::Currency, jet::ColumnType::Single, jet::ColumnType::Double,  jet::ColumnType::DateTime,
    jet::ColumnType::Text,     jet::ColumnType::Memo,   jet::ColumnType::Guid,    jet::ColumnType::Numeric};

struct Input {
  const uint8_t* p;
  size_t n;
  uint64_t take(size_t bytes) {
    uint64_t v = 0;
    for (size_t i = 0; i < bytes && n; ++i, ++p, --n) v |= uint64_t(*p) << (8 * i);
    return v;
  }
};

jet::Value valueOf(jet::ColumnType type, Input& in, bool& numeric, double& number) {
  numeric = false;
  if (in.take(1) % 8 == 0) return jet::Null{};
  switch (type) {
    case jet::ColumnType::Boolean: return bool(in.take(1) & 1);
    case jet::ColumnType::Byte: numeric = true; number = double(in.take(1)); return int64_t(number);
    case jet::ColumnType::Integer: numeric = true; number = double(int16_t(in.take(2))); return int64_t(number);
    case jet::ColumnType::Long: numeric = true; number = double(int32_t(in.take(4))); return int64_t(number);
    case jet::ColumnType::Currency: {
      int64_t v = int64_t(in.take(8));
      return jet::Currency{v};
    }
    case jet::ColumnType::Single: {
      uint32_t bits = uint32_t(in.take(4));
      float f;
      std::memcpy(&f, &bits, 4);
      numeric = std::isfinite(f);
      number = f;
      return f;
    }
    case jet::ColumnType::Double:
    case jet::ColumnType::DateTime: {
      uint64_t bits = in.take(8);
      double d;
      std::memcpy(&d, &bits, 8);
      numeric = std::isfinite(d) && type == jet::ColumnType::Double;
      number = d;
      if (type == jet::ColumnType::DateTime) return jet::DateTime{d};
      return d;
    }
    case jet::ColumnType::Guid: {
      jet::Guid g;
      for (auto& b : g.bytes) b = uint8_t(in.take(1));
      return g;
    }
    case jet::ColumnType::Numeric: {
      jet::Decimal d;
      d.negative = in.take(1) & 1;
      d.scale = uint8_t(in.take(1) % 29);
      d.precision = 28;
      for (auto& w : d.magnitude) w = uint32_t(in.take(4));
      return d;
    }
    default: {
      size_t len = size_t(in.take(1)) % 64;
      std::string s;
      for (size_t i = 0; i < len && in.n; ++i) s += char(in.take(1));
      return s;
    }
  }
}

bool belowZero(const jet::Value& v) {
  const auto* d = std::get_if<jet::Decimal>(&v);
  return d && d->negative && (d->magnitude[0] | d->magnitude[1] | d->magnitude[2]) != 0;
}

int sign(int v) { return v < 0 ? -1 : v > 0; }

int compareKeys(const jet::Bytes& a, const jet::Bytes& b) {
  const size_t n = std::min(a.size(), b.size());
  int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (c != 0) return sign(c);
  return a.size() < b.size() ? -1 : a.size() > b.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  Input in{data, size};
  const jet::ColumnType type = kTypes[in.take(1) % (sizeof kTypes / sizeof kTypes[0])];
  const auto collation = static_cast<jet::TextCollation>(in.take(1) % 3);
  bool numA, numB;
  double a = 0, b = 0;
  const jet::Value va = valueOf(type, in, numA, a);
  const jet::Value vb = valueOf(type, in, numB, b);
  int order[2] = {0, 0};
  bool prefixRelated = false;
  for (int dir = 0; dir < 2; ++dir) {
    jet::KeyColumn column;
    column.type = type;
    column.ascending = dir == 0;
    column.collation = collation;
    column.scale = 4;
    jet::Bytes ka, kb, again;
    try {
      jet::appendKeyEntry(column, va, ka);
      jet::appendKeyEntry(column, vb, kb);
      jet::appendKeyEntry(column, va, again);
    } catch (const jet::Error&) {
      return 0;
    }
    if (again != ka) std::abort();
    order[dir] = compareKeys(ka, kb);
    const size_t n = std::min(ka.size(), kb.size());
    if (ka.size() != kb.size() && (n == 0 || std::memcmp(ka.data(), kb.data(), n) == 0)) prefixRelated = true;
  }
  // Inverting the bytes reverses any order the bytes themselves decide; text keys where one is a
  // prefix of the other are settled by the text's terminator instead and are left out.
  const bool text = type == jet::ColumnType::Text || type == jet::ColumnType::Memo;
  // Descending Decimal keys invert the magnitude but not the sign byte, as Access writes them, so
  // negatives stay before positives in both directions; only values of one sign reverse.
  const bool mixedSignDecimals = type == jet::ColumnType::Numeric && belowZero(va) != belowZero(vb);
  if (order[0] != -order[1] && !(text && prefixRelated) && !mixedSignDecimals) std::abort();
  if (numA && numB && a != b && order[0] != (a < b ? -1 : 1)) std::abort();
  return 0;
}
