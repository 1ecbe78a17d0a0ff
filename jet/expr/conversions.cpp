// The conversions between expression subtypes, and the text forms of numbers, in US English.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "jet/expr/dates.h"
#include "jet/expr/eval_error.h"
#include "jet/expr/variant.h"

namespace jet::expr {

namespace {

bool inRange(double d, double lo, double hi) { return d >= lo && d <= hi; }

void wholeRange(Type t, int64_t& lo, int64_t& hi) {
  switch (t) {
    case Type::Byte: lo = 0; hi = 255; break;
    case Type::Integer: lo = -32768; hi = 32767; break;
    case Type::Long: lo = INT32_MIN; hi = INT32_MAX; break;
    default: lo = INT64_MIN; hi = INT64_MAX; break;
  }
}

// The 15 significant digits of |x| and the position of the point: x = 0.d1d2...d15 * 10^pointPos.
void digitsOf(double x, std::string& digits, int& pointPos) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(x));
  digits.clear();
  for (const char* p = buf; *p && *p != 'e'; ++p)
    if (std::isdigit(static_cast<unsigned char>(*p))) digits += *p;
  pointPos = std::atoi(std::strchr(buf, 'e') + 1) + 1;
}

}  // namespace

Var Var::wholeNumber(int64_t v) {
  if (v >= -32768 && v <= 32767) return integer(v, Type::Integer);
  if (v >= INT32_MIN && v <= INT32_MAX) return integer(v, Type::Long);
  return integer(v, Type::LongLong);
}

Var Var::fromValue(const Value& v) {
  struct Visitor {
    Var operator()(const Null&) const { return Var::null(); }
    Var operator()(bool b) const { return Var::boolean(b); }
    Var operator()(int64_t i) const {
      return Var::integer(i, i >= INT32_MIN && i <= INT32_MAX ? Type::Long : Type::LongLong);
    }
    Var operator()(const Currency& c) const { return Var::currency(c.scaled); }
    Var operator()(float f) const { return Var::single(f); }
    Var operator()(double d) const { return Var::dbl(d); }
    Var operator()(const DateTime& d) const { return Var::date(d.days); }
    Var operator()(const std::string& s) const { return Var::string(s); }
    Var operator()(const Bytes& b) const { return {Type::Binary, b}; }
    Var operator()(const Guid& g) const { return Var::string(jet::toText(Value(g))); }
    Var operator()(const Decimal& d) const { return {Type::Decimal, d}; }
    Var operator()(const DateTimeExtended& d) const {
      // Days from 0001-01-01; day 693593 is 1899-12-30.
      double serial = static_cast<double>(d.days - 693593);
      if (d.days < 36161 || d.days > 3652058) return Var::string(jet::toText(Value(d)));
      return Var::date(withTime(serial, (d.seconds + d.ticks / 1e7) / 86400.0));
    }
  };
  return std::visit(Visitor{}, v);
}

bool isNumeric(Type t) { return t >= Type::Boolean && t <= Type::Decimal; }
bool isWhole(Type t) { return t >= Type::Byte && t <= Type::LongLong; }

bool parseNumber(std::string_view s, double& out) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  if (s.empty()) return false;
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
    int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
    uint64_t v = 0;
    for (char c : s.substr(2)) {
      int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
              : (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) ? std::tolower(c) - 'a' + 10
                                                                             : -1;
      if (d < 0 || d >= base || v > (UINT64_MAX >> 4)) return false;
      v = v * base + d;
    }
    if (v > 0xFFFFFFFFull) return false;
    // Hexadecimal and octal text are 16-bit when they fit 16 bits, else 32-bit, both signed.
    out = v <= 0xFFFF ? static_cast<double>(static_cast<int16_t>(v)) : static_cast<double>(static_cast<int32_t>(v));
    return true;
  }
  std::string plain;
  bool digits = false, point = false, exp = false, sign = false, dollar = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digits = true;
      plain += c;
    } else if ((c == '-' || c == '+') && !sign && !digits && !point) {
      sign = true;
      plain += c;
    } else if (c == '$' && !dollar && !digits) {
      dollar = true;
    } else if (c == ',' && digits && !point && !exp) {
      // thousands separator
    } else if (c == '.' && !point && !exp) {
      point = true;
      plain += c;
    } else if ((c == 'e' || c == 'E' || c == 'd' || c == 'D') && digits && !exp) {
      exp = true;
      plain += 'e';
      if (i + 1 < s.size() && (s[i + 1] == '-' || s[i + 1] == '+')) plain += s[++i];
      if (i + 1 >= s.size()) return false;
    } else {
      return false;
    }
  }
  if (!digits) return false;
  char* end = nullptr;
  out = std::strtod(plain.c_str(), &end);
  return end == plain.c_str() + plain.size() && std::isfinite(out);
}

double roundHalfEven(double x, int places) {
  if (!std::isfinite(x) || x == 0) return x;
  std::string digits;
  int pointPos;
  digitsOf(x, digits, pointPos);
  int keep = pointPos + places;  // digits kept
  if (keep >= static_cast<int>(digits.size())) return x;
  if (keep < 0) return 0.0;
  std::string kept = digits.substr(0, static_cast<size_t>(keep));
  char next = digits[static_cast<size_t>(keep)];
  bool restNonZero = digits.find_first_not_of('0', static_cast<size_t>(keep) + 1) != std::string::npos;
  bool lastOdd = !kept.empty() && (kept.back() - '0') % 2 == 1;
  bool up = next > '5' || (next == '5' && (restNonZero || lastOdd));
  std::string text = (x < 0 ? "-0." : "0.") + (kept.empty() ? std::string("0") : kept) + "e" + std::to_string(pointPos);
  double r = std::strtod(text.c_str(), nullptr);
  if (up) r += (x < 0 ? -1 : 1) * std::pow(10.0, -places);
  return r;
}

std::string numberText(double v, int significant) {
  if (v == 0) return "0";
  if (!std::isfinite(v)) throwOverflow();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", significant - 1, v);
  std::string s = buf;
  size_t e = s.find('e');
  std::string mant = s.substr(0, e);
  int exponent = std::atoi(s.c_str() + e + 1);
  if (mant.find('.') != std::string::npos) {
    while (mant.back() == '0') mant.pop_back();
    if (mant.back() == '.') mant.pop_back();
  }
  if (exponent >= significant || exponent < -4) {
    // Scientific: "1.5E-07", "1E+15".
    char eb[16];
    std::snprintf(eb, sizeof eb, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return mant + eb;
  }
  std::snprintf(buf, sizeof buf, "%.*f", std::max(0, significant - 1 - exponent), v);
  std::string f = buf;
  if (f.find('.') != std::string::npos) {
    while (f.back() == '0') f.pop_back();
    if (f.back() == '.') f.pop_back();
  }
  return f;
}

double toDouble(const Var& v) {
  switch (v.type) {
    case Type::Null: throwInvalidUseOfNull();
    case Type::Boolean: return std::get<bool>(v.value) ? -1.0 : 0.0;
    case Type::Byte: case Type::Integer: case Type::Long: case Type::LongLong:
      return static_cast<double>(std::get<int64_t>(v.value));
    case Type::Single: return std::get<float>(v.value);
    case Type::Double: return std::get<double>(v.value);
    case Type::Currency: return static_cast<double>(std::get<Currency>(v.value).scaled) / 10000.0;
    case Type::Decimal: return DecimalNumber::fromValue(std::get<Decimal>(v.value)).toDouble();
    case Type::Date: return std::get<DateTime>(v.value).days;
    case Type::String: {
      double d;
      if (parseNumber(std::get<std::string>(v.value), d)) return d;
      if (parseDate(std::get<std::string>(v.value), d)) return d;
      throwTypeMismatch();
    }
    case Type::Binary: throwTypeMismatch();
  }
  throwTypeMismatch();
}

int64_t toWhole(const Var& v, Type target) {
  int64_t lo, hi;
  wholeRange(target, lo, hi);
  int64_t r;
  if (isWhole(v.type)) {
    r = std::get<int64_t>(v.value);
  } else if (v.type == Type::Boolean) {
    r = std::get<bool>(v.value) ? -1 : 0;
  } else if (v.type == Type::Currency) {
    // Half to even on the exact scaled value.
    int64_t s = std::get<Currency>(v.value).scaled, q = s / 10000, rem = s % 10000;
    if (rem > 5000 || (rem == 5000 && (q & 1))) ++q;
    if (rem < -5000 || (rem == -5000 && (q & 1))) --q;
    r = q;
  } else if (v.type == Type::Decimal) {
    DecimalNumber d = DecimalNumber::fromValue(std::get<Decimal>(v.value)).rounded(0);
    if (d.magnitude > static_cast<unsigned __int128>(INT64_MAX)) throwOverflow();
    r = d.negative ? -static_cast<int64_t>(d.magnitude) : static_cast<int64_t>(d.magnitude);
  } else {
    double d = std::nearbyint(toDouble(v));  // the default rounding mode: half to even
    if (!inRange(d, static_cast<double>(lo) - 0.5, static_cast<double>(hi) + 0.5) || !inRange(d, -9.2e18, 9.2e18))
      throwOverflow();
    r = static_cast<int64_t>(d);
  }
  if (r < lo || r > hi) throwOverflow();
  return r;
}

int64_t toCurrency(const Var& v) {
  switch (v.type) {
    case Type::Currency: return std::get<Currency>(v.value).scaled;
    case Type::Boolean: case Type::Byte: case Type::Integer: case Type::Long: case Type::LongLong: {
      int64_t i = v.type == Type::Boolean ? (std::get<bool>(v.value) ? -1 : 0) : std::get<int64_t>(v.value);
      if (i > INT64_MAX / 10000 || i < INT64_MIN / 10000) throwOverflow();
      return i * 10000;
    }
    case Type::Decimal: case Type::Single: case Type::Double: case Type::Date: case Type::String: {
      DecimalNumber d = v.type == Type::Decimal ? DecimalNumber::fromValue(std::get<Decimal>(v.value))
                                                : DecimalNumber::fromDouble(toDouble(v));
      d = d.rounded(4);
      unsigned __int128 m = d.magnitude;
      for (int s = d.scale; s < 4; ++s) m *= 10;
      if (m > static_cast<unsigned __int128>(INT64_MAX)) throwOverflow();
      return d.negative ? -static_cast<int64_t>(m) : static_cast<int64_t>(m);
    }
    default: break;
  }
  if (v.isNull()) throwInvalidUseOfNull();
  throwTypeMismatch();
}

DecimalNumber toDecimal(const Var& v) {
  switch (v.type) {
    case Type::Decimal: return DecimalNumber::fromValue(std::get<Decimal>(v.value));
    case Type::Currency: return DecimalNumber::fromCurrency(std::get<Currency>(v.value).scaled);
    case Type::Byte: case Type::Integer: case Type::Long: case Type::LongLong:
      return DecimalNumber::fromInt(std::get<int64_t>(v.value));
    case Type::Boolean: return DecimalNumber::fromInt(std::get<bool>(v.value) ? -1 : 0);
    case Type::String: {
      DecimalNumber d;
      std::string s = std::get<std::string>(v.value);
      std::string plain;
      for (char c : s)
        if (c != ',' && c != '$' && c != ' ') plain += c;
      if (DecimalNumber::parse(plain, d)) return d;
      return DecimalNumber::fromDouble(toDouble(v));
    }
    default: {
      double d = toDouble(v);
      if (std::fabs(d) >= 7.9228162514264337593543950335e28) throwOverflow();
      return DecimalNumber::fromDouble(d);
    }
  }
}

bool toBool(const Var& v) {
  if (v.type == Type::Boolean) return std::get<bool>(v.value);
  if (v.type == Type::String) {
    std::string_view s = std::get<std::string>(v.value);
    if (compareText(s, "True") == 0) return true;
    if (compareText(s, "False") == 0) return false;
    double d;
    if (parseNumber(s, d)) return d != 0;
    throwTypeMismatch();
  }
  if (v.type == Type::Decimal) return !DecimalNumber::fromValue(std::get<Decimal>(v.value)).isZero();
  if (v.type == Type::Currency) return std::get<Currency>(v.value).scaled != 0;
  return toDouble(v) != 0;
}

double toDate(const Var& v) {
  double d;
  if (v.type == Type::String) {
    if (parseDate(std::get<std::string>(v.value), d)) return d;
    if (parseNumber(std::get<std::string>(v.value), d)) return toDate(Var::dbl(d));
    throwTypeMismatch();
  }
  d = toDouble(v);
  if (d < -657434.0 || d >= 2958466.0) throwOverflow();
  return d;
}

std::string toText(const Var& v) {
  switch (v.type) {
    case Type::Null: return "";
    case Type::Boolean: return std::get<bool>(v.value) ? "True" : "False";
    case Type::Byte: case Type::Integer: case Type::Long: case Type::LongLong:
      return std::to_string(std::get<int64_t>(v.value));
    case Type::Single: return numberText(std::get<float>(v.value), 7);
    case Type::Double: return numberText(std::get<double>(v.value), 15);
    case Type::Currency: return DecimalNumber::fromCurrency(std::get<Currency>(v.value).scaled).toText();
    case Type::Decimal: return DecimalNumber::fromValue(std::get<Decimal>(v.value)).toText();
    case Type::Date: return generalDate(std::get<DateTime>(v.value).days);
    case Type::String: return std::get<std::string>(v.value);
    case Type::Binary: {
      const Bytes& b = std::get<Bytes>(v.value);
      return std::string(b.begin(), b.end());
    }
  }
  return "";
}

Var convert(const Var& v, Type target) {
  if (v.isNull()) throwInvalidUseOfNull();
  switch (target) {
    case Type::Boolean: return Var::boolean(toBool(v));
    case Type::Byte: case Type::Integer: case Type::Long: case Type::LongLong:
      return Var::integer(toWhole(v, target), target);
    case Type::Single: {
      double d = toDouble(v);
      if (std::fabs(d) > std::numeric_limits<float>::max()) throwOverflow();
      return Var::single(static_cast<float>(d));
    }
    case Type::Double: return Var::dbl(toDouble(v));
    case Type::Currency: return Var::currency(toCurrency(v));
    case Type::Decimal: return Var::decimal(toDecimal(v));
    case Type::Date: return Var::date(toDate(v));
    case Type::String: return Var::string(toText(v));
    default: throwTypeMismatch();
  }
}

namespace {

// Folds ASCII and the Latin-1 letters (two-byte UTF-8 after 0xC3) to one case.
std::string fold(std::string_view s, bool toUpper) {
  std::string out(s);
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (c < 0x80) {
      out[i] = static_cast<char>(toUpper ? std::toupper(c) : std::tolower(c));
    } else if (c == 0xC3 && i + 1 < out.size()) {
      unsigned char d = static_cast<unsigned char>(out[i + 1]);
      if (toUpper && d >= 0xA0 && d <= 0xBE && d != 0xB7) out[i + 1] = static_cast<char>(d - 0x20);
      if (!toUpper && d >= 0x80 && d <= 0x9E && d != 0x97) out[i + 1] = static_cast<char>(d + 0x20);
      ++i;
    }
  }
  return out;
}

}  // namespace

std::string upper(std::string_view s) { return fold(s, true); }
std::string lower(std::string_view s) { return fold(s, false); }

bool equalsText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 0x80 || y >= 0x80) return compareText(a, b) == 0;
    if (std::tolower(x) != std::tolower(y)) return false;
  }
  return true;
}

int compareText(std::string_view a, std::string_view b) {
  int c = lower(a).compare(lower(b));
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace jet::expr
