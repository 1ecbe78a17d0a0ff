#include "cli/migrate_values.h"

#include <cmath>
#include <cstdlib>

#include "cli/migrate_schema.h"
#include "jet/base/value_text.h"

namespace migrate {

namespace {

constexpr int64_t kDaysTo2000 = 36526;  // 1899-12-30 to 2000-01-01

void pad(std::string& out, int64_t v, int width) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v > 0);
  while (n < width) digits[n++] = '0';
  while (n > 0) out.push_back(digits[--n]);
}

bool isFloat(const jet::ColumnInfo& c) {
  return c.type == jet::ColumnType::Single || c.type == jet::ColumnType::Double;
}

}  // namespace

std::string exactDecimal(const jet::Decimal& d) {
  jet::Decimal m = d;
  if (m.magnitude[0] == 0 && m.magnitude[1] == 0 && m.magnitude[2] == 0) m.negative = false;
  return jet::decimalText(m);
}

std::optional<std::string> timestampText(double days, bool trimZeros) {
  jet::OleParts p = jet::splitOleDate(days);
  if (!p.valid || p.year < 100 || p.year > 9999) return std::nullopt;
  std::string out;
  out.reserve(24);
  pad(out, p.year, 4);
  out.push_back('-');
  pad(out, p.month, 2);
  out.push_back('-');
  pad(out, p.day, 2);
  out.push_back(' ');
  const int64_t seconds = p.msOfDay / 1000, ms = p.msOfDay % 1000;
  pad(out, seconds / 3600, 2);
  out.push_back(':');
  pad(out, seconds / 60 % 60, 2);
  out.push_back(':');
  pad(out, seconds % 60, 2);
  if (ms) {
    out.push_back('.');
    pad(out, ms, 3);
    if (trimZeros)
      while (out.back() == '0') out.pop_back();
  }
  return out;
}

bool inCalendar(double days) {
  jet::OleParts p = jet::splitOleDate(days);
  return p.valid && p.year >= 100 && p.year <= 9999;
}

std::optional<int64_t> postgresMicroseconds(double days) {
  jet::OleParts p = jet::splitOleDate(days);
  if (!p.valid || p.year < 100 || p.year > 9999) return std::nullopt;
  return ((p.dayNumber - kDaysTo2000) * 86400000 + p.msOfDay) * 1000;
}

std::array<uint8_t, 16> uuidBytes(const jet::Guid& g) {
  // The file keeps the first three groups little-endian.
  static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::array<uint8_t, 16> out{};
  for (int i = 0; i < 16; ++i) out[i] = g.bytes[kOrder[i]];
  return out;
}

std::string uuidText(const jet::Guid& g) {
  static const char kHex[] = "0123456789abcdef";
  std::array<uint8_t, 16> b = uuidBytes(g);
  std::string out;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    out.push_back(kHex[b[i] >> 4]);
    out.push_back(kHex[b[i] & 15]);
  }
  return out;
}

std::optional<int64_t> largeNumber(const jet::Value& v) {
  if (auto* i = std::get_if<int64_t>(&v)) return *i;
  auto* b = std::get_if<jet::Bytes>(&v);
  if (!b || b->size() != 8) return std::nullopt;
  uint64_t u = 0;
  for (int i = 7; i >= 0; --i) u = (u << 8) | (*b)[i];
  return static_cast<int64_t>(u);
}

std::optional<std::string> expectedText(Dialect dialect, const jet::ColumnInfo& column, const jet::Value& v) {
  const bool pg = dialect == Dialect::Postgres;
  if (column.type == jet::ColumnType::BigInt) {
    auto n = largeNumber(v);
    if (!n) return std::nullopt;
    return std::to_string(*n);
  }
  struct Visitor {
    bool pg;
    std::optional<std::string> operator()(const jet::Null&) const { return std::nullopt; }
    std::optional<std::string> operator()(bool b) const { return pg ? (b ? "t" : "f") : (b ? "1" : "0"); }
    std::optional<std::string> operator()(int64_t i) const { return std::to_string(i); }
    std::optional<std::string> operator()(const jet::Currency& c) const { return jet::currencyText(c.scaled, true); }
    std::optional<std::string> operator()(float f) const { return jet::toText(jet::Value(f)); }
    std::optional<std::string> operator()(double d) const { return jet::toText(jet::Value(d)); }
    std::optional<std::string> operator()(const jet::DateTime& d) const { return timestampText(d.days, pg); }
    std::optional<std::string> operator()(const std::string& s) const { return s; }
    std::optional<std::string> operator()(const jet::Bytes& b) const { return "\\x" + jet::hexText(b, false); }
    std::optional<std::string> operator()(const jet::Guid& g) const { return uuidText(g); }
    std::optional<std::string> operator()(const jet::Decimal& d) const { return exactDecimal(d); }
    std::optional<std::string> operator()(const jet::DateTimeExtended& d) const {
      return jet::extendedDateText(d, false);
    }
  };
  return std::visit(Visitor{pg}, v);
}

bool sameValue(Dialect dialect, const jet::ColumnInfo& column, const jet::Value& value,
               const std::optional<std::string>& got) {
  std::optional<std::string> want = expectedText(dialect, column, value);
  if (!want || !got) return !want && !got;
  if (isFloat(column) && *want != *got) {
    const char* text = got->c_str();
    char* end = nullptr;
    double d = std::strtod(text, &end);
    if (end == text || *end) return false;
    if (auto* f = std::get_if<float>(&value)) return static_cast<float>(d) == *f || (std::isnan(d) && std::isnan(*f));
    if (auto* x = std::get_if<double>(&value)) return d == *x || (std::isnan(d) && std::isnan(*x));
    return false;
  }
  return *want == *got;
}

}  // namespace migrate
