// Text forms of values: one culture-invariant form per type, and its exact inverse.
#include "jet/base/value.h"

#include <charconv>
#include <cmath>
#include <algorithm>
#include <limits>

#include "jet/base/error.h"
#include "jet/base/names.h"
#include "jet/base/value_text.h"

namespace jet {

namespace {

[[noreturn]] void conversionError() { throw Error(err::kConversion, "Data type conversion error."); }

const char kHexLower[] = "0123456789abcdef";
const char kHexUpper[] = "0123456789ABCDEF";

void appendPadded(std::string& out, int64_t value, int width) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value < 0 ? -value : value);
  (void)ec;
  if (value < 0) out.push_back('-');
  for (int n = static_cast<int>(end - buf); n < width; ++n) out.push_back('0');
  out.append(buf, end);
}

template <typename F>
std::string shortest(F value) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  (void)ec;
  return std::string(buf, end);
}

// Days since 1970-01-01 -> civil date (proleptic Gregorian), and back.
void civilFromDays(int64_t z, int64_t& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  if (m <= 2) ++y;
}

int64_t daysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// 1899-12-30 relative to 1970-01-01.
constexpr int64_t kOleEpoch = -25569;
// 0001-01-01 (day zero of Date/Time Extended) relative to 1970-01-01, and the last day it holds.
constexpr int64_t kExtendedEpoch = -719162;
constexpr int64_t kMaxExtendedDay = 3652058;  // 9999-12-31
// Years 100 to 9999, the range of dates the format's tools accept.
constexpr double kMinOleDay = -657434.0;
constexpr double kMaxOleDay = 2958465.0;

bool isLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int daysInMonth(int64_t y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

// Reads all of s as a floating-point number (a leading '+' allowed).
template <typename F>
bool parseFloat(std::string_view s, F& out) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty() || s.front() == '+') return false;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && ptr == s.data() + s.size();
}

// A plain decimal number "[-+]digits[.digits]" (or an exponent form) scaled to `scale` digits
// after the point, rounding half to even beyond them. The magnitude is 128-bit so that 96-bit
// decimals fit. False when the text is not a number or does not fit.
bool parseScaled(std::string_view s, int scale, bool& negative, unsigned __int128& magnitude) {
  negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  // The digits and the point first, then the exponent; the digits are read again below where
  // they lie, so that no copy of them is made.
  int digits = 0, pointAt = -1;
  size_t i = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.' && pointAt < 0) {
      pointAt = digits;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  const std::string_view mantissa = s.substr(0, i);
  int exponent = 0;
  if (i < s.size()) {
    if (s[i] != 'e' && s[i] != 'E') return false;
    std::string_view e = s.substr(i + 1);
    if (!e.empty() && e.front() == '+') e.remove_prefix(1);
    auto [ptr, ec] = std::from_chars(e.data(), e.data() + e.size(), exponent);
    if (ec != std::errc() || ptr != e.data() + e.size() || e.empty()) return false;
    if (exponent > 60 || exponent < -60) return false;
  }
  if (pointAt < 0) pointAt = digits;
  // Digits kept: all up to (pointAt + exponent + scale); missing ones are zeros. The first digit
  // dropped and whether any later one is not zero decide the rounding, half to even.
  const int keep = pointAt + exponent + scale;
  const unsigned __int128 limit = (~static_cast<unsigned __int128>(0)) / 10 - 10;
  unsigned __int128 value = 0;
  int first = 0, k = 0;
  bool restNonZero = false;
  for (char c : mantissa) {
    if (c == '.') continue;
    const int digit = c - '0';
    if (k < keep) {
      if (value > limit) return false;
      value = value * 10 + unsigned(digit);
    } else if (k == keep) {
      first = digit;
    } else if (digit != 0) {
      restNonZero = true;
    }
    ++k;
  }
  for (; k < keep; ++k) {
    if (value > limit) return false;
    value *= 10;
  }
  if (keep < digits && (first > 5 || (first == 5 && (restNonZero || (value & 1))))) ++value;
  magnitude = value;
  return true;
}

bool parseInteger(std::string_view s, int64_t lo, int64_t hi, int64_t& out) {
  // Plain digits, the usual case, read as they stand; anything else (a sign '+', a fraction, an
  // exponent) is scaled and rounded below.
  int64_t plain;
  if (auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), plain);
      ec == std::errc() && ptr == s.data() + s.size()) {
    if (plain < lo || plain > hi) return false;
    out = plain;
    return true;
  }
  bool negative;
  unsigned __int128 magnitude;
  if (!parseScaled(s, 0, negative, magnitude)) return false;
  if (magnitude > static_cast<unsigned __int128>(std::numeric_limits<int64_t>::max()) + 1) return false;
  int64_t v = negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(magnitude)) : static_cast<int64_t>(magnitude);
  if (!negative && magnitude > static_cast<unsigned __int128>(std::numeric_limits<int64_t>::max())) return false;
  if (v < lo || v > hi) return false;
  out = v;
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "NN" fixed-width decimal field.
bool readFixed(std::string_view s, size_t at, size_t width, int& out) {
  if (at + width > s.size()) return false;
  int v = 0;
  for (size_t i = at; i < at + width; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  out = v;
  return true;
}

// "HH:MM[:SS[.fff]]" -> milliseconds since midnight.
bool parseTime(std::string_view s, int64_t& ms) {
  int h, m, sec = 0, frac = 0;
  size_t hLen = (s.size() > 1 && s[1] == ':') ? 1 : 2;
  if (!readFixed(s, 0, hLen, h) || s.size() < hLen + 3 || s[hLen] != ':' || !readFixed(s, hLen + 1, 2, m))
    return false;
  size_t at = hLen + 3;
  if (at < s.size()) {
    if (s[at] != ':' || !readFixed(s, at + 1, 2, sec)) return false;
    at += 3;
    if (at < s.size()) {
      if (s[at] != '.') return false;
      size_t digits = s.size() - at - 1;
      if (digits < 1 || digits > 3 || !readFixed(s, at + 1, digits, frac)) return false;
      for (size_t k = digits; k < 3; ++k) frac *= 10;
      at = s.size();
    }
  }
  if (h > 23 || m > 59 || sec > 59) return false;
  ms = ((h * 60 + m) * 60 + sec) * 1000LL + frac;
  return true;
}

// "YYYY-MM-DD" -> OLE day number.
bool parseDate(std::string_view s, int64_t& day) {
  int y, m, d;
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
  if (!readFixed(s, 0, 4, y) || !readFixed(s, 5, 2, m) || !readFixed(s, 8, 2, d)) return false;
  if (y < 100 || m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m)) return false;
  day = daysFromCivil(y, m, d) - kOleEpoch;
  return true;
}

// "YYYY-MM-DD[( |T)HH:MM[:SS[.fffffff]]]" (years 1 to 9999) -> Date/Time Extended.
DateTimeExtended parseExtendedDate(std::string_view s) {
  int y, m, d;
  if (s.size() < 10 || s[4] != '-' || s[7] != '-' || !readFixed(s, 0, 4, y) || !readFixed(s, 5, 2, m) ||
      !readFixed(s, 8, 2, d) || y < 1 || m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m))
    conversionError();
  DateTimeExtended out;
  out.days = daysFromCivil(y, m, d) - kExtendedEpoch;
  if (s.size() == 10) return out;
  if (s[10] != ' ' && s[10] != 'T') conversionError();
  std::string_view t = trim(s.substr(11));
  if (!t.empty() && t.back() == 'Z') t.remove_suffix(1);
  int h, mi, sec = 0;
  if (!readFixed(t, 0, 2, h) || t.size() < 5 || t[2] != ':' || !readFixed(t, 3, 2, mi)) conversionError();
  size_t at = 5;
  if (at < t.size()) {
    if (t[at] != ':' || !readFixed(t, at + 1, 2, sec)) conversionError();
    at += 3;
  }
  if (at < t.size()) {
    const size_t digits = t.size() - at - 1;
    int frac;
    if (t[at] != '.' || digits < 1 || digits > 7 || !readFixed(t, at + 1, digits, frac)) conversionError();
    for (size_t k = digits; k < 7; ++k) frac *= 10;
    out.ticks = frac;
  }
  if (h > 23 || mi > 59 || sec > 59) conversionError();
  out.seconds = (h * 60 + mi) * 60 + sec;
  return out;
}

Value parseDateTime(std::string_view s) {
  int64_t day = 0, ms = 0;
  if (s.size() >= 10 && s[4] == '-') {
    if (!parseDate(s.substr(0, 10), day)) conversionError();
    if (s.size() > 10) {
      if (s[10] != ' ' && s[10] != 'T') conversionError();
      std::string_view t = trim(s.substr(11));
      if (!t.empty() && t.back() == 'Z') t.remove_suffix(1);
      if (!parseTime(t, ms)) conversionError();
    }
  } else if (parseTime(s, ms)) {
    day = 0;
  } else {
    double days;
    if (!parseFloat(s, days) || !std::isfinite(days)) conversionError();
    return DateTime{days};
  }
  return DateTime{composeOleDate(day, ms)};
}

Bytes parseHex(std::string_view s) {
  if (s.size() < 2 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) conversionError();
  s.remove_prefix(2);
  if (s.size() % 2) conversionError();
  Bytes out(s.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    int hi = hexDigit(s[2 * i]), lo = hexDigit(s[2 * i + 1]);
    if (hi < 0 || lo < 0) conversionError();
    out[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return out;
}

Guid parseGuid(std::string_view s) {
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') conversionError();
  uint8_t text[16];
  size_t at = 0;
  for (int i = 0; i < 16; ++i) {
    if (s[at] == '-') ++at;
    int hi = hexDigit(s[at]), lo = hexDigit(s[at + 1]);
    if (hi < 0 || lo < 0) conversionError();
    text[i] = static_cast<uint8_t>(hi * 16 + lo);
    at += 2;
  }
  // The text lists the first three groups most significant byte first; the file keeps them
  // little-endian.
  static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  Guid g;
  for (int i = 0; i < 16; ++i) g.bytes[i] = text[kOrder[i]];
  return g;
}

Decimal parseDecimal(std::string_view s, uint8_t scale) {
  bool negative;
  unsigned __int128 magnitude;
  if (scale > 28 || !parseScaled(s, scale, negative, magnitude)) conversionError();
  if (magnitude >> 96) conversionError();
  Decimal d;
  d.negative = negative;
  d.scale = scale;
  d.magnitude = {static_cast<uint32_t>(magnitude), static_cast<uint32_t>(magnitude >> 32),
                 static_cast<uint32_t>(magnitude >> 64)};
  return d;
}

std::string u128ToString(unsigned __int128 v) {
  if (v == 0) return "0";
  std::string s;
  while (v) {
    s.push_back(static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  }
  return std::string(s.rbegin(), s.rend());
}

}  // namespace

OleParts splitOleDate(double days) {
  OleParts p;
  if (!std::isfinite(days) || days < kMinOleDay - 1 || days > kMaxOleDay + 1) return p;
  // The whole part counts days from 1899-12-30 (backwards when negative); the fraction is the
  // time of day, forwards from that day's midnight whatever the sign.
  double whole = std::trunc(days);
  int64_t ms = std::llround(std::fabs(days - whole) * 86400000.0);
  int64_t day = static_cast<int64_t>(whole);
  if (ms >= 86400000) {
    ms -= 86400000;
    // The time always counts forwards, so a time that rounds up to midnight is the next calendar
    // day, also before 1899-12-30: -1.99999999 (1899-12-29 23:59:59.99...) is 1899-12-30 00:00.
    day += 1;
  }
  p.valid = true;
  p.msOfDay = ms;
  int64_t y;
  civilFromDays(day + kOleEpoch, y, p.month, p.day);
  p.year = y;
  p.dayNumber = day;
  return p;
}

int64_t oleDayFromCivil(int64_t year, int month, int day) { return daysFromCivil(year, month, day) - kOleEpoch; }

double composeOleDate(int64_t day, int64_t msOfDay) {
  double fraction = static_cast<double>(msOfDay) / 86400000.0;
  return day < 0 ? static_cast<double>(day) - fraction : static_cast<double>(day) + fraction;
}

namespace {

// Two digits of a number below 100.
char* put2(char* p, int64_t v) {
  p[0] = static_cast<char>('0' + v / 10);
  p[1] = static_cast<char>('0' + v % 10);
  return p + 2;
}

}  // namespace

void appendDateText(std::string& out, double days, bool isoT, bool withMillis) {
  OleParts p = splitOleDate(days);
  if (!p.valid) {
    out += shortest(days);
    return;
  }
  const int64_t ms = p.msOfDay;
  const int64_t seconds = ms / 1000;
  const bool dateOnly = ms == 0 || (!withMillis && seconds == 0);
  const bool timeOnly = p.dayNumber == 0 && !dateOnly && !isoT;
  char buf[48];
  char* at = buf;
  if (!timeOnly) {
    if (p.year >= 1000 && p.year <= 9999) {
      at = put2(put2(at, p.year / 100), p.year % 100);
    } else {
      out.append(buf, at);
      appendPadded(out, p.year, 4);
      at = buf;
    }
    *at++ = '-';
    at = put2(at, p.month);
    *at++ = '-';
    at = put2(at, p.day);
  }
  if (!(dateOnly && !isoT)) {
    if (!timeOnly) *at++ = isoT ? 'T' : ' ';
    at = put2(at, seconds / 3600);
    *at++ = ':';
    at = put2(at, seconds / 60 % 60);
    *at++ = ':';
    at = put2(at, seconds % 60);
    if (withMillis && ms % 1000) {
      *at++ = '.';
      *at++ = static_cast<char>('0' + ms % 1000 / 100);
      at = put2(at, ms % 100);
    }
  }
  out.append(buf, at);
}

std::string dateText(double days, bool isoT, bool withMillis) {
  std::string out;
  appendDateText(out, days, isoT, withMillis);
  return out;
}

std::string extendedDateText(const DateTimeExtended& d, bool isoT) {
  int64_t y;
  int m, day;
  civilFromDays(d.days + kExtendedEpoch, y, m, day);
  std::string out;
  appendPadded(out, y, 4);
  out.push_back('-');
  appendPadded(out, m, 2);
  out.push_back('-');
  appendPadded(out, day, 2);
  out.push_back(isoT ? 'T' : ' ');
  appendPadded(out, d.seconds / 3600, 2);
  out.push_back(':');
  appendPadded(out, d.seconds / 60 % 60, 2);
  out.push_back(':');
  appendPadded(out, d.seconds % 60, 2);
  out.push_back('.');
  appendPadded(out, d.ticks, 7);
  return out;
}

Bytes storedExtendedDate(const DateTimeExtended& d) {
  Bytes out(kExtendedDateBytes, 0);
  auto digits = [&](size_t at, size_t width, int64_t v) {
    for (size_t i = at + width; i-- > at; v /= 10) out[i] = uint8_t('0' + v % 10);
  };
  digits(0, 19, d.days);
  out[19] = ':';
  digits(20, 12, d.seconds);
  digits(32, 7, d.ticks);
  out[39] = ':';
  out[40] = '7';
  return out;
}

DateTimeExtended fromStoredExtendedDate(const uint8_t* data, size_t len) {
  if (len < 39) throwCorrupt("a Date/Time Extended value is cut short");
  auto digits = [&](size_t at, size_t width) {
    int64_t v = 0;
    for (size_t i = at; i < at + width; ++i) {
      if (data[i] < '0' || data[i] > '9') throwCorrupt("a Date/Time Extended value holds something other than digits");
      v = v * 10 + (data[i] - '0');
    }
    return v;
  };
  DateTimeExtended d;
  d.days = digits(0, 19);
  const int64_t seconds = digits(20, 12);
  d.ticks = int32_t(digits(32, 7));
  if (d.days > kMaxExtendedDay || seconds >= 86400) throwCorrupt("a Date/Time Extended value is out of range");
  d.seconds = int32_t(seconds);
  return d;
}

void appendCurrencyText(std::string& out, int64_t scaled, bool fixedFour) {
  const uint64_t mag = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  char buf[32];
  char* at = buf;
  if (scaled < 0) *at++ = '-';
  at = std::to_chars(at, buf + sizeof buf, mag / 10000).ptr;
  unsigned frac = static_cast<unsigned>(mag % 10000);
  int digits = 4;
  if (!fixedFour)
    while (digits > 0 && frac % 10 == 0) {
      frac /= 10;
      --digits;
    }
  if (digits) {
    *at++ = '.';
    for (int k = digits - 1; k >= 0; --k) {
      at[k] = static_cast<char>('0' + frac % 10);
      frac /= 10;
    }
    at += digits;
  }
  out.append(buf, at);
}

std::string currencyText(int64_t scaled, bool fixedFour) {
  std::string out;
  appendCurrencyText(out, scaled, fixedFour);
  return out;
}

std::string decimalText(const Decimal& d) {
  unsigned __int128 mag = (static_cast<unsigned __int128>(d.magnitude[2]) << 64) |
                          (static_cast<unsigned __int128>(d.magnitude[1]) << 32) | d.magnitude[0];
  std::string digits = u128ToString(mag);
  if (digits.size() <= d.scale) digits.insert(0, d.scale + 1 - digits.size(), '0');
  if (d.scale) digits.insert(digits.size() - d.scale, 1, '.');
  return d.negative ? "-" + digits : digits;
}

std::string guidText(const Guid& g) {
  static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string out = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    uint8_t b = g.bytes[kOrder[i]];
    out.push_back(kHexUpper[b >> 4]);
    out.push_back(kHexUpper[b & 15]);
  }
  out.push_back('}');
  return out;
}

std::string hexText(const Bytes& bytes, bool prefix) {
  std::string out;
  out.reserve(bytes.size() * 2 + 2);
  if (prefix) out = "0x";
  for (uint8_t b : bytes) {
    out.push_back(kHexLower[b >> 4]);
    out.push_back(kHexLower[b & 15]);
  }
  return out;
}

void appendText(std::string& out, const Value& v) {
  struct Visitor {
    std::string& out;
    void operator()(const Null&) const {}
    void operator()(bool b) const { out += b ? "True" : "False"; }
    void operator()(int64_t i) const {
      char buf[24];
      out.append(buf, std::to_chars(buf, buf + sizeof buf, i).ptr);
    }
    void operator()(const Currency& c) const { appendCurrencyText(out, c.scaled, false); }
    void operator()(float f) const {
      char buf[64];
      out.append(buf, std::to_chars(buf, buf + sizeof buf, f).ptr);
    }
    void operator()(double d) const {
      char buf[64];
      out.append(buf, std::to_chars(buf, buf + sizeof buf, d).ptr);
    }
    void operator()(const DateTime& d) const { appendDateText(out, d.days, false, false); }
    void operator()(const std::string& s) const { out += s; }
    void operator()(const Bytes& b) const { out += hexText(b, true); }
    void operator()(const Guid& g) const { out += guidText(g); }
    void operator()(const Decimal& d) const { out += decimalText(d); }
    void operator()(const DateTimeExtended& d) const { out += extendedDateText(d, false); }
  };
  std::visit(Visitor{out}, v);
}

std::string toText(const Value& v) {
  std::string out;
  appendText(out, v);
  return out;
}

Value fromText(ColumnType type, const std::string& text, uint8_t scale) {
  if (type == ColumnType::Text || type == ColumnType::Memo) return text;
  std::string_view s = trim(text);
  if (s.empty()) conversionError();
  switch (type) {
    case ColumnType::Boolean: {
      if (sameName(s, "true") || sameName(s, "yes") || sameName(s, "on")) return true;
      if (sameName(s, "false") || sameName(s, "no") || sameName(s, "off")) return false;
      double d;
      if (parseFloat(s, d) && !std::isnan(d)) return d != 0;
      conversionError();
    }
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Complex:
    case ColumnType::BigInt: {
      int64_t lo = INT64_MIN, hi = INT64_MAX;
      if (type == ColumnType::Byte) lo = 0, hi = 255;
      if (type == ColumnType::Integer) lo = -32768, hi = 32767;
      if (type == ColumnType::Long || type == ColumnType::Complex) lo = INT32_MIN, hi = INT32_MAX;
      int64_t v;
      if (!parseInteger(s, lo, hi, v)) conversionError();
      return v;
    }
    case ColumnType::Currency: {
      bool negative;
      unsigned __int128 mag;
      if (!parseScaled(s, 4, negative, mag)) conversionError();
      if (mag > static_cast<unsigned __int128>(INT64_MAX) + (negative ? 1 : 0)) conversionError();
      return Currency{negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(mag)) : static_cast<int64_t>(mag)};
    }
    case ColumnType::Single: {
      float f;
      if (!parseFloat(s, f)) conversionError();
      return f;
    }
    case ColumnType::Double: {
      double d;
      if (!parseFloat(s, d)) conversionError();
      return d;
    }
    case ColumnType::DateTime:
      return parseDateTime(s);
    case ColumnType::DateTimeExtended:
      return parseExtendedDate(s);
    case ColumnType::Guid:
      return parseGuid(s);
    case ColumnType::Numeric:
      return parseDecimal(s, scale);
    default:
      return parseHex(s);
  }
}

}  // namespace jet
