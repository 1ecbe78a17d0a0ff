// The text, number, test and conversion functions, and the one table of all functions.
#include "jet/expr/like.h"
#include "jet/expr/functions.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

#include "jet/expr/dates.h"
#include "jet/expr/eval_error.h"
#include "jet/expr/operators.h"

namespace jet::expr {

namespace {

using Args = std::span<const Var>;

// Text functions count characters, not bytes.

std::string utf8(std::u32string_view s) {
  std::string out;
  for (char32_t c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Windows-1252's characters 0x80..0x9F (0 where the code page has none).
const char32_t kCp1252High[32] = {0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                  0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                  0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

std::string str(const Var& v) { return toText(v); }
std::u32string u32(const Var& v) { return decodeUtf8(toText(v)); }
Var text(std::u32string_view s) { return Var::string(utf8(s)); }

int64_t count(const Var& v) {
  int64_t n = wholeArg(v);
  if (n < 0) throwInvalidCall();
  return n;
}

// Space and String refuse to build texts beyond what a Memo field holds.
int64_t length(const Var& v) {
  int64_t n = count(v);
  if (n > (1 << 26)) throw Error(7, "Out of memory");
  return n;
}

// Compare mode argument: 0 binary (case matters), 1 text; text is the engine's default.
bool binaryCompare(Args a, size_t i) { return given(a, i) && wholeArg(a[i]) == 0; }

size_t find(const std::u32string& hay, const std::u32string& needle, size_t from, bool binary) {
  if (binary) return hay.find(needle, from);
  return decodeUtf8(lower(utf8(hay))).find(decodeUtf8(lower(utf8(needle))), from);
}

Var fnIIf(Args a) { return (!a[0].isNull() && toBool(a[0])) ? a[1] : a[2]; }
Var fnNz(Args a) {
  if (!a[0].isNull()) return a[0];
  return a.size() > 1 ? a[1] : Var::string("");
}
Var fnIsNull(Args a) { return Var::boolean(a[0].isNull()); }
Var fnIsNumeric(Args a) {
  double d;
  if (a[0].type == Type::String) return Var::boolean(parseNumber(std::get<std::string>(a[0].value), d));
  return Var::boolean(isNumeric(a[0].type));
}
Var fnIsDate(Args a) {
  double d;
  if (a[0].type == Type::String) return Var::boolean(parseDate(std::get<std::string>(a[0].value), d));
  return Var::boolean(a[0].type == Type::Date);
}
Var fnLen(Args a) {
  if (a[0].isNull()) return Var::null();
  return Var::wholeNumber(static_cast<int64_t>(u32(a[0]).size()));
}
Var fnLeft(Args a) {
  if (a[0].isNull()) return Var::null();
  return text(u32(a[0]).substr(0, static_cast<size_t>(std::min<int64_t>(count(a[1]), 1 << 30))));
}
Var fnRight(Args a) {
  if (a[0].isNull()) return Var::null();
  std::u32string s = u32(a[0]);
  size_t n = static_cast<size_t>(std::min<int64_t>(count(a[1]), static_cast<int64_t>(s.size())));
  return text(s.substr(s.size() - n));
}
Var fnMid(Args a) {
  if (a[0].isNull()) return Var::null();
  int64_t start = wholeArg(a[1]);
  if (start < 1) throwInvalidCall();
  std::u32string s = u32(a[0]);
  if (static_cast<size_t>(start) > s.size()) return Var::string("");
  size_t n = a.size() > 2 && !a[2].isNull() ? static_cast<size_t>(std::min<int64_t>(count(a[2]), 1 << 30)) : std::u32string::npos;
  return text(s.substr(static_cast<size_t>(start - 1), n));
}
Var trimmed(Args a, bool left, bool right) {
  if (a[0].isNull()) return Var::null();
  std::string s = str(a[0]);
  size_t b = 0, e = s.size();
  if (left) while (b < e && s[b] == ' ') ++b;
  if (right) while (e > b && s[e - 1] == ' ') --e;
  return Var::string(s.substr(b, e - b));
}
Var fnTrim(Args a) { return trimmed(a, true, true); }
Var fnLTrim(Args a) { return trimmed(a, true, false); }
Var fnRTrim(Args a) { return trimmed(a, false, true); }
Var fnUCase(Args a) { return a[0].isNull() ? Var::null() : Var::string(upper(str(a[0]))); }
Var fnLCase(Args a) { return a[0].isNull() ? Var::null() : Var::string(lower(str(a[0]))); }

Var fnInStr(Args a) {
  // InStr([start,] text, sought[, compare])
  size_t first = a.size() >= 3 ? 1 : 0;
  int64_t start = 1;
  if (first) {
    if (a[0].isNull()) throwInvalidUseOfNull();
    start = wholeArg(a[0]);
    if (start < 1) throwInvalidCall();
  }
  if (a[first].isNull() || a[first + 1].isNull()) return Var::null();
  std::u32string hay = u32(a[first]), needle = u32(a[first + 1]);
  if (static_cast<size_t>(start) > hay.size()) return Var::wholeNumber(0);
  if (needle.empty()) return Var::wholeNumber(start);
  size_t at = find(hay, needle, static_cast<size_t>(start - 1), binaryCompare(a, first + 2));
  return Var::wholeNumber(at == std::u32string::npos ? 0 : static_cast<int64_t>(at + 1));
}

Var fnInStrRev(Args a) {
  // InStrRev(text, sought[, start[, compare]])
  if (a[0].isNull() || a[1].isNull()) return Var::null();
  std::u32string hay = u32(a[0]), needle = u32(a[1]);
  int64_t start = given(a, 2) ? wholeArg(a[2]) : -1;
  if (start == 0 || start < -1) throwInvalidCall();
  if (start == -1) start = static_cast<int64_t>(hay.size());
  if (start > static_cast<int64_t>(hay.size())) return Var::wholeNumber(0);
  if (needle.empty()) return Var::wholeNumber(start);
  bool binary = binaryCompare(a, 3);
  std::u32string h = binary ? hay : decodeUtf8(lower(utf8(hay))), n = binary ? needle : decodeUtf8(lower(utf8(needle)));
  if (n.size() > static_cast<size_t>(start)) return Var::wholeNumber(0);
  size_t at = h.rfind(n, static_cast<size_t>(start) - n.size());
  return Var::wholeNumber(at == std::u32string::npos ? 0 : static_cast<int64_t>(at + 1));
}

Var fnReplace(Args a) {
  // Replace(text, find, with[, start[, count[, compare]]]): the result begins at `start`.
  for (size_t i = 0; i < 3; ++i)
    if (a[i].isNull()) throwInvalidUseOfNull();
  std::u32string s = u32(a[0]), f = u32(a[1]), w = u32(a[2]);
  int64_t start = given(a, 3) ? wholeArg(a[3]) : 1;
  int64_t limit = given(a, 4) ? wholeArg(a[4]) : -1;
  if (start < 1 || limit < -1) throwInvalidCall();
  if (static_cast<size_t>(start) > s.size()) return Var::string("");
  s = s.substr(static_cast<size_t>(start - 1));
  if (f.empty() || limit == 0) return text(s);
  bool binary = binaryCompare(a, 5);
  std::u32string out;
  size_t pos = 0;
  for (int64_t done = 0; limit < 0 || done < limit; ++done) {
    size_t at = find(s, f, pos, binary);
    if (at == std::u32string::npos) break;
    out += s.substr(pos, at - pos);
    out += w;
    pos = at + f.size();
  }
  out += s.substr(pos);
  return text(out);
}

Var fnSpace(Args a) {
  if (a[0].isNull()) throwInvalidUseOfNull();
  return Var::string(std::string(static_cast<size_t>(length(a[0])), ' '));
}
Var fnString(Args a) {
  if (a[0].isNull() || a[1].isNull()) return Var::null();
  char32_t c;
  if (a[1].type == Type::String) {
    std::u32string s = u32(a[1]);
    if (s.empty()) throwInvalidCall();
    c = s[0];
  } else {
    int64_t code = wholeArg(a[1]) % 256;
    c = static_cast<char32_t>(code < 0 ? code + 256 : code);
  }
  return text(std::u32string(static_cast<size_t>(length(a[0])), c));
}
Var fnStrComp(Args a) {
  if (a[0].isNull() || a[1].isNull()) return Var::null();
  std::string p = str(a[0]), q = str(a[1]);
  int c = binaryCompare(a, 2) ? (p < q ? -1 : p > q ? 1 : 0) : compareText(p, q);
  return Var::wholeNumber(c);
}
Var fnStrReverse(Args a) {
  if (a[0].isNull()) throwInvalidUseOfNull();
  std::u32string s = u32(a[0]);
  std::reverse(s.begin(), s.end());
  return text(s);
}
Var fnChr(Args a) {
  int64_t n = wholeArg(a[0]);
  if (n < 0 || n > 255) throwInvalidCall();
  char32_t c = n >= 0x80 && n < 0xA0 ? kCp1252High[n - 0x80] : static_cast<char32_t>(n);
  if (c == 0) c = static_cast<char32_t>(n);
  return text(std::u32string(1, c));
}
Var fnChrW(Args a) {
  int64_t n = wholeArg(a[0]);
  if (n < -32768 || n > 0x10FFFF) throwInvalidCall();
  return text(std::u32string(1, static_cast<char32_t>(n < 0 ? n + 65536 : n)));
}
Var fnAsc(Args a) {
  if (a[0].isNull()) throwInvalidUseOfNull();
  std::u32string s = u32(a[0]);
  if (s.empty()) throwInvalidCall();
  char32_t c = s[0];
  if (c < 0x80 || (c >= 0xA0 && c < 0x100)) return Var::wholeNumber(c);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == c) return Var::wholeNumber(0x80 + i);
  return Var::wholeNumber('?');
}
Var fnAscW(Args a) {
  if (a[0].isNull()) throwInvalidUseOfNull();
  std::u32string s = u32(a[0]);
  if (s.empty()) throwInvalidCall();
  return Var::wholeNumber(static_cast<int64_t>(s[0]));
}

Var fnStr(Args a) {
  if (a[0].isNull()) return Var::null();
  Var v = a[0].type == Type::String ? Var::dbl(toDouble(a[0])) : a[0];
  std::string s = toText(v);
  if (v.type != Type::Date && v.type != Type::Boolean && (s.empty() || s[0] != '-')) s = " " + s;
  return Var::string(s);
}

Var fnVal(Args a) {
  if (a[0].isNull()) throwInvalidUseOfNull();
  std::string s;
  for (char c : str(a[0]))
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') s += c;
  if (s.size() > 2 && s[0] == '&') {
    size_t e = 2;
    while (e < s.size() && std::isxdigit(static_cast<unsigned char>(s[e]))) ++e;
    double d;
    return Var::dbl(parseNumber(s.substr(0, e), d) ? d : 0.0);
  }
  size_t i = 0;
  std::string num;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) num += s[i++];
  bool point = false;
  for (; i < s.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(s[i]))) num += s[i];
    else if (s[i] == '.' && !point) { point = true; num += '.'; }
    else break;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    size_t j = i + 1;
    std::string e = "e";
    if (j < s.size() && (s[j] == '-' || s[j] == '+')) e += s[j++];
    size_t k = j;
    while (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) e += s[k++];
    if (k > j) num += e;
  }
  double d = std::strtod(num.c_str(), nullptr);
  if (!std::isfinite(d)) throwOverflow();
  return Var::dbl(d);
}

template <Type T>
Var fnConvert(Args a) { return convert(a[0], T); }
Var fnCVar(Args a) { return a[0]; }

// Int rounds down, Fix towards zero, both keeping the value's type.
Var wholePart(const Var& v, bool down) {
  if (v.isNull()) return v;
  switch (v.type) {
    case Type::Byte: case Type::Integer: case Type::Long: case Type::LongLong: return v;
    case Type::Boolean: return Var::integer(std::get<bool>(v.value) ? -1 : 0, Type::Integer);
    case Type::Currency: {
      int64_t s = std::get<Currency>(v.value).scaled, q = s / 10000 * 10000;
      if (down && s < 0 && q != s) q -= 10000;
      return Var::currency(q);
    }
    case Type::Decimal: {
      DecimalNumber d = toDecimal(v), t = d;
      while (t.scale > 0) { t.magnitude /= 10; --t.scale; }
      if (t.magnitude == 0) t.negative = false;
      if (down && d.negative && compare(t, d) != 0) t = t - DecimalNumber::fromInt(1);
      return Var::decimal(t);
    }
    case Type::Single: {
      float f = std::get<float>(v.value);
      return Var::single(down ? std::floor(f) : std::trunc(f));
    }
    case Type::Date: {
      double d = std::get<DateTime>(v.value).days;
      return Var::date(down ? std::floor(d) : std::trunc(d));
    }
    default: {
      double d = toDouble(v);
      return Var::dbl(down ? std::floor(d) : std::trunc(d));
    }
  }
}
Var fnInt(Args a) { return wholePart(a[0], true); }
Var fnFix(Args a) { return wholePart(a[0], false); }
Var fnAbs(Args a) {
  const Var& v = a[0];
  if (v.isNull()) return v;
  std::optional<int> sign = compareValues(v, Var::wholeNumber(0));
  if (v.type == Type::String) return Var::dbl(std::fabs(toDouble(v)));
  if (v.type == Type::Date) return Var::dbl(std::fabs(toDouble(v)));
  return sign && *sign < 0 ? negate(v) : v.type == Type::Boolean ? Var::wholeNumber(0) : v;
}
Var fnSgn(Args a) {
  if (a[0].isNull()) return Var::null();
  std::optional<int> s = compareValues(a[0].type == Type::String ? Var::dbl(toDouble(a[0])) : a[0], Var::wholeNumber(0));
  return Var::integer(*s, Type::Integer);
}
Var fnRound(Args a) {
  const Var& v = a[0];
  if (v.isNull()) return v;
  int64_t places = given(a, 1) ? wholeArg(a[1]) : 0;
  if (places < 0 || places > 22) throwInvalidCall();
  switch (v.type) {
    case Type::Byte: case Type::Integer: case Type::Long: case Type::LongLong: return v;
    case Type::Boolean: return Var::integer(std::get<bool>(v.value) ? -1 : 0, Type::Integer);
    case Type::Currency:
      return Var::currency(toCurrency(Var::decimal(toDecimal(v).rounded(static_cast<int>(places)))));
    case Type::Decimal: return Var::decimal(toDecimal(v).rounded(static_cast<int>(places)));
    case Type::Single: return Var::single(static_cast<float>(roundHalfEven(std::get<float>(v.value), static_cast<int>(places))));
    default: return Var::dbl(roundHalfEven(toDouble(v), static_cast<int>(places)));
  }
}
template <double (*F)(double), bool Positive>
Var math(Args a) {
  if (a[0].isNull()) return Var::null();
  double d = toDouble(a[0]);
  if (Positive && d <= 0) throwInvalidCall();
  double r = F(d);
  if (!std::isfinite(r)) throwOverflow();
  return Var::dbl(r);
}
Var fnSqr(Args a) {
  if (a[0].isNull()) return Var::null();
  double d = toDouble(a[0]);
  if (d < 0) throwInvalidCall();
  return Var::dbl(std::sqrt(d));
}
double logOf(double d) { return std::log(d); }
double expOf(double d) { return std::exp(d); }
double sinOf(double d) { return std::sin(d); }
double cosOf(double d) { return std::cos(d); }
double tanOf(double d) { return std::tan(d); }
double atnOf(double d) { return std::atan(d); }

Var radix(Args a, int base) {
  if (a[0].isNull()) return Var::null();
  Var n = a[0].type == Type::String ? Var::dbl(toDouble(a[0])) : a[0];
  int64_t v = toWhole(n, Type::Long);
  // Negative Integers show 16 bits, other negatives 32.
  uint64_t u = v >= 0 ? static_cast<uint64_t>(v)
               : (n.type == Type::Integer || n.type == Type::Byte || n.type == Type::Boolean) ? static_cast<uint16_t>(v)
                                                                                            : static_cast<uint32_t>(v);
  std::string s;
  do {
    s.insert(s.begin(), "0123456789ABCDEF"[u % static_cast<uint64_t>(base)]);
    u /= static_cast<uint64_t>(base);
  } while (u);
  return Var::string(s);
}
Var fnHex(Args a) { return radix(a, 16); }
Var fnOct(Args a) { return radix(a, 8); }

Var fnChoose(Args a) {
  if (a[0].isNull()) return Var::null();
  int64_t i = static_cast<int64_t>(std::trunc(toDouble(a[0])));
  if (i < 1 || i >= static_cast<int64_t>(a.size())) return Var::null();
  return a[static_cast<size_t>(i)];
}
Var fnSwitch(Args a) {
  if (a.size() % 2) throwInvalidCall();
  for (size_t i = 0; i + 1 < a.size(); i += 2)
    if (!a[i].isNull() && toBool(a[i])) return a[i + 1];
  return Var::null();
}

const FunctionInfo kFunctions[] = {
    {"IIf", 3, 3, true, fnIIf},
    {"Nz", 1, 2, true, fnNz},
    {"IsNull", 1, 1, true, fnIsNull},
    {"IsNumeric", 1, 1, true, fnIsNumeric},
    {"IsDate", 1, 1, true, fnIsDate},
    {"Choose", 2, 30, true, fnChoose},
    {"Switch", 2, 30, true, fnSwitch},
    {"Len", 1, 1, true, fnLen},
    {"Left", 2, 2, true, fnLeft},
    {"Right", 2, 2, true, fnRight},
    {"Mid", 2, 3, true, fnMid},
    {"Trim", 1, 1, true, fnTrim},
    {"LTrim", 1, 1, true, fnLTrim},
    {"RTrim", 1, 1, true, fnRTrim},
    {"UCase", 1, 1, true, fnUCase},
    {"LCase", 1, 1, true, fnLCase},
    {"InStr", 2, 4, true, fnInStr},
    {"InStrRev", 2, 4, true, fnInStrRev},
    {"Replace", 3, 6, true, fnReplace},
    {"Space", 1, 1, true, fnSpace},
    {"String", 2, 2, true, fnString},
    {"StrComp", 2, 3, true, fnStrComp},
    {"StrReverse", 1, 1, true, fnStrReverse},
    {"Chr", 1, 1, true, fnChr},
    {"ChrW", 1, 1, true, fnChrW},
    {"Asc", 1, 1, true, fnAsc},
    {"AscW", 1, 1, true, fnAscW},
    {"Str", 1, 1, true, fnStr},
    {"Val", 1, 1, true, fnVal},
    {"Hex", 1, 1, true, fnHex},
    {"Oct", 1, 1, true, fnOct},
    {"CInt", 1, 1, true, fnConvert<Type::Integer>},
    {"CLng", 1, 1, true, fnConvert<Type::Long>},
    {"CByte", 1, 1, true, fnConvert<Type::Byte>},
    {"CSng", 1, 1, true, fnConvert<Type::Single>},
    {"CDbl", 1, 1, true, fnConvert<Type::Double>},
    {"CCur", 1, 1, true, fnConvert<Type::Currency>},
    {"CDec", 1, 1, true, fnConvert<Type::Decimal>},
    {"CStr", 1, 1, true, fnConvert<Type::String>},
    {"CDate", 1, 1, true, fnConvert<Type::Date>},
    {"CVDate", 1, 1, true, fnConvert<Type::Date>},
    {"CBool", 1, 1, true, fnConvert<Type::Boolean>},
    {"CVar", 1, 1, true, fnCVar},
    {"Int", 1, 1, true, fnInt},
    {"Fix", 1, 1, true, fnFix},
    {"Abs", 1, 1, true, fnAbs},
    {"Sgn", 1, 1, true, fnSgn},
    {"Round", 1, 2, true, fnRound},
    {"Sqr", 1, 1, true, fnSqr},
    {"Exp", 1, 1, true, math<expOf, false>},
    {"Log", 1, 1, true, math<logOf, true>},
    {"Sin", 1, 1, true, math<sinOf, false>},
    {"Cos", 1, 1, true, math<cosOf, false>},
    {"Tan", 1, 1, true, math<tanOf, false>},
    {"Atn", 1, 1, true, math<atnOf, false>},
    {"Format", 1, 4, true, formatFunction},
};

}  // namespace

int64_t wholeArg(const Var& v) {
  if (v.isNull()) throwInvalidUseOfNull();
  return toWhole(v, Type::Long);
}

std::span<const FunctionInfo> textAndNumberFunctions() { return kFunctions; }

const FunctionInfo* findFunction(std::string_view name) {
  // The '$' forms (Left$, Format$...) are the same functions.
  if (!name.empty() && name.back() == '$') name.remove_suffix(1);
  for (auto table : {textAndNumberFunctions(), dateFunctions()})
    for (const FunctionInfo& f : table)
      if (equalsText(f.name, name)) return &f;
  return nullptr;
}

}  // namespace jet::expr
