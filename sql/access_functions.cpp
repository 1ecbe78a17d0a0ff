// Access's functions as SQL functions of the connection, so that translated queries call them by
// their own names: dates as SQL's 'YYYY-MM-DD HH:MM:SS' text in and out, conversions rounding
// half to even as Access does, IIf and Nz, Format's common forms, and the aggregates SQLite lacks
// (First, Last, StDev, Var).
#include "sql/access_functions.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <ctime>
#include <set>
#include <string>

#include "jet/base/error.h"
#include "jet/base/value.h"
#include "jet/base/value_text.h"
#include "sql/values.h"

namespace sql {

namespace {

std::string text(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_value_bytes(v))) : "";
}

bool null(sqlite3_value* v) { return sqlite3_value_type(v) == SQLITE_NULL; }

void resultText(sqlite3_context* ctx, const std::string& s) {
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// A date argument as OLE days: date text, or a number of days as Access counts them.
bool dateOf(sqlite3_value* v, double& days) {
  const int type = sqlite3_value_type(v);
  if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
    days = sqlite3_value_double(v);
    return true;
  }
  if (type != SQLITE_TEXT) return false;
  std::string t = text(v);
  if (t.size() > 10 && t[10] == 'T') t[10] = ' ';
  try {
    days = std::get<jet::DateTime>(jet::fromText(jet::ColumnType::DateTime, t)).days;
    return true;
  } catch (const jet::Error&) {
    return false;
  }
}

void resultDate(sqlite3_context* ctx, double days) { resultText(ctx, dateSqlText(days)); }

double halfEven(double x, int places) {
  const double scale = std::pow(10.0, places);
  return std::nearbyint(x * scale) / scale;  // the default rounding mode rounds half to even
}

struct Parts {
  int64_t year;
  int month, day, hour, minute, second, weekday;  // weekday 1 = Sunday
};

Parts partsOf(double days) {
  jet::OleParts p = jet::splitOleDate(days);
  Parts r{p.year, p.month, p.day, 0, 0, 0, 0};
  const int64_t seconds = p.msOfDay / 1000;
  r.hour = static_cast<int>(seconds / 3600);
  r.minute = static_cast<int>(seconds / 60 % 60);
  r.second = static_cast<int>(seconds % 60);
  // 1899-12-30 (day 0) was a Saturday.
  r.weekday = static_cast<int>(((p.dayNumber % 7) + 7 + 6) % 7) + 1;
  return r;
}

int64_t dayNumberOf(int64_t year, int64_t month, int64_t day) {
  // Months beyond 1..12 and days beyond the month roll over, as DateSerial does.
  year += (month - 1) / 12;
  month = (month - 1) % 12 + 1;
  if (month < 1) {
    month += 12;
    --year;
  }
  // Days from 1899-12-30 by the civil-from-days inverse.
  const int64_t y = year - (month <= 2);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  // Days since 1970-01-01, then from 1899-12-30 (25569 days earlier).
  return era * 146097 + doe - 719468 + 25569 + (day - 1);
}

using Fn = void (*)(sqlite3_context*, int, sqlite3_value**);

void fnIIf(sqlite3_context* ctx, int, sqlite3_value** a) {
  const bool yes = !null(a[0]) && sqlite3_value_double(a[0]) != 0;
  sqlite3_result_value(ctx, a[yes ? 1 : 2]);
}

void fnNz(sqlite3_context* ctx, int n, sqlite3_value** a) {
  if (!null(a[0])) sqlite3_result_value(ctx, a[0]);
  else if (n > 1) sqlite3_result_value(ctx, a[1]);
  else resultText(ctx, "");
}

template <int Part>
void fnDatePart(sqlite3_context* ctx, int, sqlite3_value** a) {
  double d;
  if (!dateOf(a[0], d)) return sqlite3_result_null(ctx);
  const Parts p = partsOf(d);
  const int64_t values[] = {p.year, p.month, p.day, p.hour, p.minute, p.second, p.weekday};
  sqlite3_result_int64(ctx, values[Part]);
}

// The interval words of DatePart, DateAdd and DateDiff.
int intervalOf(const std::string& w) {
  static const char* const kWords[] = {"yyyy", "m", "d", "h", "n", "s", "w", "q", "y", "ww"};
  for (int i = 0; i < 10; ++i)
    if (strcasecmp(w.c_str(), kWords[i]) == 0) return i;
  return -1;
}

void fnDatePartNamed(sqlite3_context* ctx, int, sqlite3_value** a) {
  double d;
  const int interval = intervalOf(text(a[0]));
  if (null(a[1]) || !dateOf(a[1], d) || interval < 0) return sqlite3_result_null(ctx);
  const Parts p = partsOf(d);
  const int64_t dayOfYear = static_cast<int64_t>(std::floor(d)) - dayNumberOf(p.year, 1, 1) + 1;
  const int64_t values[] = {p.year, p.month, p.day, p.hour, p.minute, p.second, p.weekday, (p.month - 1) / 3 + 1,
                            dayOfYear, (dayOfYear + 6 - p.weekday + 7 - 1) / 7 + 0};
  sqlite3_result_int64(ctx, values[interval]);
}

void fnDateSerial(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (null(a[0]) || null(a[1]) || null(a[2])) return sqlite3_result_null(ctx);
  resultDate(ctx, static_cast<double>(dayNumberOf(sqlite3_value_int64(a[0]), sqlite3_value_int64(a[1]), 1) +
                                      sqlite3_value_int64(a[2]) - 1));
}

void fnDateAdd(sqlite3_context* ctx, int, sqlite3_value** a) {
  double d;
  const int interval = intervalOf(text(a[0]));
  if (null(a[1]) || !dateOf(a[2], d) || interval < 0) return sqlite3_result_null(ctx);
  const int64_t n = sqlite3_value_int64(a[1]);
  const Parts p = partsOf(d);
  const double time = d - std::floor(d);
  switch (interval) {
    case 0:
    case 1:
    case 7: {
      const int64_t months = interval == 0 ? n * 12 : interval == 7 ? n * 3 : n;
      int64_t day = dayNumberOf(p.year, p.month + months, 1);
      // The day stays, or becomes the last of a shorter month.
      const Parts first = partsOf(static_cast<double>(day));
      int last = 31;
      while (last > 28 && partsOf(static_cast<double>(day + last - 1)).month != first.month) --last;
      day += std::min(p.day, last) - 1;
      return resultDate(ctx, static_cast<double>(day) + time);
    }
    case 2:
    case 6:
    case 8: return resultDate(ctx, d + static_cast<double>(n));
    case 9: return resultDate(ctx, d + static_cast<double>(n * 7));
    case 3: return resultDate(ctx, d + static_cast<double>(n) / 24);
    case 4: return resultDate(ctx, d + static_cast<double>(n) / 1440);
    case 5: return resultDate(ctx, d + static_cast<double>(n) / 86400);
  }
}

void fnDateDiff(sqlite3_context* ctx, int, sqlite3_value** a) {
  double d1, d2;
  const int interval = intervalOf(text(a[0]));
  if (!dateOf(a[1], d1) || !dateOf(a[2], d2) || interval < 0) return sqlite3_result_null(ctx);
  const Parts p1 = partsOf(d1), p2 = partsOf(d2);
  const int64_t days = static_cast<int64_t>(std::floor(d2)) - static_cast<int64_t>(std::floor(d1));
  const double seconds = std::nearbyint((d2 - d1) * 86400);
  int64_t r = 0;
  switch (interval) {
    case 0: r = p2.year - p1.year; break;
    case 1: r = (p2.year - p1.year) * 12 + p2.month - p1.month; break;
    case 7: r = (p2.year - p1.year) * 4 + (p2.month - 1) / 3 - (p1.month - 1) / 3; break;
    case 2:
    case 8: r = days; break;
    case 6: r = days / 7; break;
    case 9: r = (days + p1.weekday - 1 - ((days + p1.weekday - 1) % 7 + 7) % 7) / 7; break;
    case 3: r = static_cast<int64_t>(seconds / 3600); break;
    case 4: r = static_cast<int64_t>(seconds / 60); break;
    case 5: r = static_cast<int64_t>(seconds); break;
  }
  sqlite3_result_int64(ctx, r);
}

void fnNow(sqlite3_context* ctx, int, sqlite3_value**) {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  const double days = static_cast<double>(dayNumberOf(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday)) +
                      (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0;
  resultDate(ctx, days);
}

void fnDate(sqlite3_context* ctx, int, sqlite3_value**) {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  resultDate(ctx, static_cast<double>(dayNumberOf(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday)));
}

template <int Places>
void fnRoundTo(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (null(a[0])) return sqlite3_result_null(ctx);
  const double r = halfEven(sqlite3_value_double(a[0]), Places);
  if (Places == 0) sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(r));
  else sqlite3_result_double(ctx, r);
}

void fnRound(sqlite3_context* ctx, int n, sqlite3_value** a) {
  if (null(a[0])) return sqlite3_result_null(ctx);
  sqlite3_result_double(ctx, halfEven(sqlite3_value_double(a[0]), n > 1 ? sqlite3_value_int(a[1]) : 0));
}

void fnCDbl(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (null(a[0])) return sqlite3_result_null(ctx);
  sqlite3_result_double(ctx, sqlite3_value_double(a[0]));
}

void fnCStr(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (null(a[0])) return sqlite3_result_null(ctx);
  if (sqlite3_value_type(a[0]) == SQLITE_FLOAT) return resultText(ctx, jet::toText(jet::Value(sqlite3_value_double(a[0]))));
  resultText(ctx, text(a[0]));
}

void fnCDate(sqlite3_context* ctx, int, sqlite3_value** a) {
  double d;
  if (!dateOf(a[0], d)) return sqlite3_result_null(ctx);
  resultDate(ctx, d);
}

template <bool Floor>
void fnIntFix(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (null(a[0])) return sqlite3_result_null(ctx);
  const double x = sqlite3_value_double(a[0]);
  sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(Floor ? std::floor(x) : std::trunc(x)));
}

void fnSgn(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (null(a[0])) return sqlite3_result_null(ctx);
  const double x = sqlite3_value_double(a[0]);
  sqlite3_result_int(ctx, x > 0 ? 1 : x < 0 ? -1 : 0);
}

void fnVal(sqlite3_context* ctx, int, sqlite3_value** a) {
  std::string s = text(a[0]);
  std::string digits;
  for (char c : s)
    if (c != ' ' && c != '\t') digits.push_back(c);
  sqlite3_result_double(ctx, std::strtod(digits.c_str(), nullptr));
}

// Characters, not bytes, for the text functions.
std::u32string chars(const std::string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t cp = len == 1 ? c : c & (0x3F >> (len - 1));
    for (int k = 1; k < len && i + static_cast<size_t>(k) < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + static_cast<size_t>(k)]) & 0x3F);
    out.push_back(cp);
    i += static_cast<size_t>(len);
  }
  return out;
}

std::string utf8(const std::u32string& s) {
  std::string out;
  for (char32_t c : s) {
    if (c < 0x80) out.push_back(static_cast<char>(c));
    else if (c < 0x800) out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    else if (c < 0x10000)
      out += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    else
      out += {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
              static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
  }
  return out;
}

void fnLeft(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (null(a[0])) return sqlite3_result_null(ctx);
  std::u32string s = chars(text(a[0]));
  resultText(ctx, utf8(s.substr(0, static_cast<size_t>(std::max<int64_t>(0, sqlite3_value_int64(a[1]))))));
}

void fnRight(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (null(a[0])) return sqlite3_result_null(ctx);
  std::u32string s = chars(text(a[0]));
  const size_t n = std::min(s.size(), static_cast<size_t>(std::max<int64_t>(0, sqlite3_value_int64(a[1]))));
  resultText(ctx, utf8(s.substr(s.size() - n)));
}

void fnMid(sqlite3_context* ctx, int n, sqlite3_value** a) {
  if (null(a[0])) return sqlite3_result_null(ctx);
  std::u32string s = chars(text(a[0]));
  const size_t start = static_cast<size_t>(std::max<int64_t>(1, sqlite3_value_int64(a[1]))) - 1;
  if (start >= s.size()) return resultText(ctx, "");
  const size_t len = n > 2 ? static_cast<size_t>(std::max<int64_t>(0, sqlite3_value_int64(a[2]))) : std::u32string::npos;
  resultText(ctx, utf8(s.substr(start, len)));
}

void fnLen(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (null(a[0])) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(chars(text(a[0])).size()));
}

template <int (*Map)(int)>
void fnCase(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (null(a[0])) return sqlite3_result_null(ctx);
  std::string s = text(a[0]);
  for (char& c : s)
    if (!(c & 0x80)) c = static_cast<char>(Map(static_cast<unsigned char>(c)));
  resultText(ctx, s);
}

void fnInStr(sqlite3_context* ctx, int n, sqlite3_value** a) {
  const int first = n > 2 ? 1 : 0;
  if (null(a[first]) || null(a[first + 1])) return sqlite3_result_null(ctx);
  std::u32string hay = chars(text(a[first])), needle = chars(text(a[first + 1]));
  const size_t start = n > 2 ? static_cast<size_t>(std::max<int64_t>(1, sqlite3_value_int64(a[0]))) - 1 : 0;
  auto lower = [](std::u32string s) {
    for (char32_t& c : s)
      if (c < 0x80) c = static_cast<char32_t>(std::tolower(static_cast<int>(c)));
    return s;
  };
  const size_t at = start > hay.size() ? std::u32string::npos : lower(hay).find(lower(needle), start);
  sqlite3_result_int64(ctx, at == std::u32string::npos ? 0 : static_cast<sqlite3_int64>(at + 1));
}

void fnSpace(sqlite3_context* ctx, int, sqlite3_value** a) {
  resultText(ctx, std::string(static_cast<size_t>(std::clamp<int64_t>(sqlite3_value_int64(a[0]), 0, 1 << 20)), ' '));
}

void fnIsNull(sqlite3_context* ctx, int, sqlite3_value** a) { sqlite3_result_int(ctx, null(a[0]) ? 1 : 0); }

void fnIsNumeric(sqlite3_context* ctx, int, sqlite3_value** a) {
  const int t = sqlite3_value_type(a[0]);
  if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) return sqlite3_result_int(ctx, 1);
  std::string s = text(a[0]);
  char* end = nullptr;
  std::strtod(s.c_str(), &end);
  sqlite3_result_int(ctx, t == SQLITE_TEXT && !s.empty() && end && *end == 0 ? 1 : 0);
}

// Aggregates SQLite lacks.
struct FirstLast {
  sqlite3_value* value;
};

template <bool Last>
void stepFirstLast(sqlite3_context* ctx, int, sqlite3_value** a) {
  auto* s = static_cast<FirstLast*>(sqlite3_aggregate_context(ctx, sizeof(FirstLast)));
  if (!s) return;
  if (s->value && !Last) return;
  sqlite3_value_free(s->value);
  s->value = sqlite3_value_dup(a[0]);
}

void finalFirstLast(sqlite3_context* ctx) {
  auto* s = static_cast<FirstLast*>(sqlite3_aggregate_context(ctx, 0));
  if (!s || !s->value) return sqlite3_result_null(ctx);
  sqlite3_result_value(ctx, s->value);
  sqlite3_value_free(s->value);
}

struct Moments {
  int64_t n;
  double mean, m2;
};

void stepMoments(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (null(a[0])) return;
  auto* s = static_cast<Moments*>(sqlite3_aggregate_context(ctx, sizeof(Moments)));
  if (!s) return;
  const double x = sqlite3_value_double(a[0]);
  ++s->n;
  const double delta = x - s->mean;
  s->mean += delta / static_cast<double>(s->n);
  s->m2 += delta * (x - s->mean);
}

template <bool Sample, bool Root>
void finalMoments(sqlite3_context* ctx) {
  auto* s = static_cast<Moments*>(sqlite3_aggregate_context(ctx, 0));
  const int64_t minimum = Sample ? 2 : 1;
  if (!s || s->n < minimum) return sqlite3_result_null(ctx);
  const double v = s->m2 / static_cast<double>(Sample ? s->n - 1 : s->n);
  sqlite3_result_double(ctx, Root ? std::sqrt(v) : v);
}

struct Scalar {
  const char* name;
  int args;  // -1: any number
  Fn fn;
};

const Scalar kScalars[] = {
    {"IIf", 3, fnIIf},
    {"Nz", 1, fnNz},
    {"Nz", 2, fnNz},
    {"Year", 1, fnDatePart<0>},
    {"Month", 1, fnDatePart<1>},
    {"Day", 1, fnDatePart<2>},
    {"Hour", 1, fnDatePart<3>},
    {"Minute", 1, fnDatePart<4>},
    {"Second", 1, fnDatePart<5>},
    {"Weekday", 1, fnDatePart<6>},
    {"DatePart", 2, fnDatePartNamed},
    {"DateSerial", 3, fnDateSerial},
    {"DateAdd", 3, fnDateAdd},
    {"DateDiff", 3, fnDateDiff},
    {"Now", 0, fnNow},
    {"Date", 0, fnDate},
    {"CCur", 1, fnRoundTo<4>},
    {"CInt", 1, fnRoundTo<0>},
    {"CLng", 1, fnRoundTo<0>},
    {"CByte", 1, fnRoundTo<0>},
    {"Round", 1, fnRound},
    {"Round", 2, fnRound},
    {"CDbl", 1, fnCDbl},
    {"CSng", 1, fnCDbl},
    {"CDec", 1, fnCDbl},
    {"CStr", 1, fnCStr},
    {"CDate", 1, fnCDate},
    {"CVDate", 1, fnCDate},
    {"Int", 1, fnIntFix<true>},
    {"Fix", 1, fnIntFix<false>},
    {"Sgn", 1, fnSgn},
    {"Val", 1, fnVal},
    {"Left", 2, fnLeft},
    {"Right", 2, fnRight},
    {"Mid", 2, fnMid},
    {"Mid", 3, fnMid},
    {"Len", 1, fnLen},
    {"UCase", 1, fnCase<std::toupper>},
    {"LCase", 1, fnCase<std::tolower>},
    {"InStr", 2, fnInStr},
    {"InStr", 3, fnInStr},
    {"Space", 1, fnSpace},
    {"IsNull", 1, fnIsNull},
    {"IsNumeric", 1, fnIsNumeric},
    {"Format", 1, formatFunction},
    {"Format", 2, formatFunction},
};

// SQLite's own functions that behave as Access's of the same name.
const char* const kBuiltIn[] = {"Sum", "Avg", "Count", "Min", "Max", "Abs", "Trim", "LTrim", "RTrim", "Replace"};

}  // namespace

bool knownFunction(const std::string& name) {
  for (const Scalar& s : kScalars)
    if (strcasecmp(s.name, name.c_str()) == 0) return true;
  for (const char* b : kBuiltIn)
    if (strcasecmp(b, name.c_str()) == 0) return true;
  static const char* const kAggregates[] = {"First", "Last", "StDev", "StDevP", "Var", "VarP"};
  for (const char* g : kAggregates)
    if (strcasecmp(g, name.c_str()) == 0) return true;
  return false;
}

void registerAccessFunctions(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  for (const Scalar& s : kScalars) {
    const bool volatileFn = std::strcmp(s.name, "Now") == 0 || std::strcmp(s.name, "Date") == 0;
    sqlite3_create_function_v2(db, s.name, s.args, volatileFn ? SQLITE_UTF8 : flags, nullptr, s.fn, nullptr, nullptr,
                               nullptr);
  }
  sqlite3_create_function_v2(db, "First", 1, SQLITE_UTF8, nullptr, nullptr, stepFirstLast<false>, finalFirstLast, nullptr);
  sqlite3_create_function_v2(db, "Last", 1, SQLITE_UTF8, nullptr, nullptr, stepFirstLast<true>, finalFirstLast, nullptr);
  sqlite3_create_function_v2(db, "StDev", 1, flags, nullptr, nullptr, stepMoments, finalMoments<true, true>, nullptr);
  sqlite3_create_function_v2(db, "StDevP", 1, flags, nullptr, nullptr, stepMoments, finalMoments<false, true>, nullptr);
  sqlite3_create_function_v2(db, "Var", 1, flags, nullptr, nullptr, stepMoments, finalMoments<true, false>, nullptr);
  sqlite3_create_function_v2(db, "VarP", 1, flags, nullptr, nullptr, stepMoments, finalMoments<false, false>, nullptr);
}

}  // namespace sql
