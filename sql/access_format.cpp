// Access's Format function for translated queries: named formats and patterns of date parts or
// digits, in the English (United States) settings.
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "jet/base/error.h"
#include "jet/base/value.h"
#include "jet/base/value_text.h"
#include "sql/access_functions.h"

namespace sql {

namespace {

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

struct When {
  int64_t year;
  int month, day, hour, minute, second, weekday;  // weekday 0 = Sunday
  bool hasTime;
};

bool whenOf(sqlite3_value* v, When& w) {
  double days;
  const int type = sqlite3_value_type(v);
  if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
    days = sqlite3_value_double(v);
  } else if (type == SQLITE_TEXT) {
    std::string t(reinterpret_cast<const char*>(sqlite3_value_text(v)));
    if (t.size() > 10 && t[10] == 'T') t[10] = ' ';
    try {
      days = std::get<jet::DateTime>(jet::fromText(jet::ColumnType::DateTime, t)).days;
    } catch (const jet::Error&) {
      return false;
    }
  } else {
    return false;
  }
  jet::OleParts p = jet::splitOleDate(days);
  if (!p.valid) return false;
  const int64_t s = p.msOfDay / 1000;
  w = {p.year, p.month, p.day, static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60), static_cast<int>(s % 60),
       static_cast<int>(((p.dayNumber % 7) + 7 + 6) % 7), p.msOfDay != 0};
  return true;
}

std::string two(int64_t n) {
  char b[24];
  std::snprintf(b, sizeof b, "%02lld", static_cast<long long>(n));
  return b;
}

std::string clock(const When& w, bool seconds, bool twelve) {
  int h = w.hour;
  std::string suffix;
  if (twelve) {
    suffix = h < 12 ? " AM" : " PM";
    h = h % 12 == 0 ? 12 : h % 12;
  }
  std::string s = (twelve ? std::to_string(h) : two(h)) + ":" + two(w.minute);
  if (seconds) s += ":" + two(w.second);
  return s + suffix;
}

std::string shortDate(const When& w) {
  return std::to_string(w.month) + "/" + std::to_string(w.day) + "/" + std::to_string(w.year);
}

// A pattern of date parts.
std::string datePattern(const When& w, const std::string& f) {
  std::string out;
  bool twelve = false;
  for (size_t i = 0; i < f.size(); ++i)
    if (strncasecmp(f.c_str() + i, "AM/PM", 5) == 0) twelve = true;
  for (size_t i = 0; i < f.size();) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(f[i])));
    size_t n = 1;
    while (i + n < f.size() && std::tolower(static_cast<unsigned char>(f[i + n])) == c) ++n;
    if (strncasecmp(f.c_str() + i, "AM/PM", 5) == 0) {
      out += w.hour < 12 ? "AM" : "PM";
      i += 5;
      continue;
    }
    // m right after h, or right before s, means minutes.
    bool minutes = false;
    if (c == 'm' && n <= 2) {
      const size_t h = i ? f.find_last_of("hH", i - 1) : std::string::npos;
      const size_t before = h == std::string::npos ? std::string::npos : f.find_first_not_of(" :", h + 1);
      const size_t after = f.find_first_not_of(" :", i + n);
      minutes = (h != std::string::npos && before == i) ||
                (after != std::string::npos && (f[after] == 's' || f[after] == 'S'));
    }
    switch (c) {
      case 'y':
        out += n >= 3 ? std::to_string(w.year) : two(w.year % 100);
        break;
      case 'q': out += std::to_string((w.month - 1) / 3 + 1); break;
      case 'm':
        if (minutes) out += n == 1 ? std::to_string(w.minute) : two(w.minute);
        else if (n == 1) out += std::to_string(w.month);
        else if (n == 2) out += two(w.month);
        else if (n == 3) out += std::string(kMonths[w.month - 1]).substr(0, 3);
        else out += kMonths[w.month - 1];
        break;
      case 'n': out += n == 1 ? std::to_string(w.minute) : two(w.minute); break;
      case 'd':
        if (n == 1) out += std::to_string(w.day);
        else if (n == 2) out += two(w.day);
        else if (n == 3) out += std::string(kDays[w.weekday]).substr(0, 3);
        else out += kDays[w.weekday];
        break;
      case 'h': {
        int h = twelve ? (w.hour % 12 == 0 ? 12 : w.hour % 12) : w.hour;
        out += n == 1 ? std::to_string(h) : two(h);
        break;
      }
      case 's': out += n == 1 ? std::to_string(w.second) : two(w.second); break;
      default: out.append(f, i, n);
    }
    i += n;
  }
  return out;
}

std::string grouped(const std::string& digits) {
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

// A number with `places` decimals, rounded half away from zero as Format does, with or without
// thousands separators.
std::string fixed(double x, int places, bool group) {
  const double scale = std::pow(10.0, places);
  double r = std::round(std::fabs(x) * scale) / scale;
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", places, r);
  std::string s = b;
  const size_t dot = s.find('.');
  std::string whole = s.substr(0, dot), frac = dot == std::string::npos ? "" : s.substr(dot);
  if (group) whole = grouped(whole);
  return (x < 0 && r != 0 ? "-" : "") + whole + frac;
}

// A pattern of digits: 0 a digit always shown, # one shown when needed, ',' grouping, '%' percent.
std::string numberPattern(double x, const std::string& f) {
  std::string prefix, suffix, body;
  size_t first = f.find_first_of("0#"), last = f.find_last_of("0#");
  if (first == std::string::npos) return f;
  prefix = f.substr(0, first);
  suffix = f.substr(last + 1);
  body = f.substr(first, last - first + 1);
  if (f.find('%') != std::string::npos) x *= 100;
  const size_t dot = body.find('.');
  int places = 0;
  if (dot != std::string::npos) places = static_cast<int>(body.size() - dot - 1);
  std::string s = fixed(x, places, body.find(',') != std::string::npos);
  // Leading # drop a lone zero.
  if (body[0] == '#' && (s == "0" || s.rfind("0.", 0) == 0)) s.erase(0, 1);
  std::string sign;
  if (!s.empty() && s[0] == '-') {
    sign = "-";
    s.erase(0, 1);
  }
  return sign + prefix + s + suffix;
}

}  // namespace

void formatFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  sqlite3_value* v = argv[0];
  if (sqlite3_value_type(v) == SQLITE_NULL) return sqlite3_result_null(ctx);
  const std::string f = argc > 1 && sqlite3_value_type(argv[1]) != SQLITE_NULL
                            ? reinterpret_cast<const char*>(sqlite3_value_text(argv[1]))
                            : "";
  const bool number = sqlite3_value_type(v) == SQLITE_INTEGER || sqlite3_value_type(v) == SQLITE_FLOAT;
  const double x = sqlite3_value_double(v);
  std::string out;
  When w{};
  auto named = [&](const char* name) { return strcasecmp(f.c_str(), name) == 0; };
  if (f.empty()) {
    out = reinterpret_cast<const char*>(sqlite3_value_text(v));
  } else if (named("General Number")) {
    out = jet::toText(jet::Value(x));
  } else if (named("Currency")) {
    out = fixed(x, 2, true);
    out = out[0] == '-' ? "($" + out.substr(1) + ")" : "$" + out;
  } else if (named("Fixed")) {
    out = fixed(x, 2, false);
  } else if (named("Standard")) {
    out = fixed(x, 2, true);
  } else if (named("Percent")) {
    out = fixed(x * 100, 2, false) + "%";
  } else if (named("Yes/No") || named("True/False") || named("On/Off")) {
    const bool yes = x != 0;
    out = named("Yes/No") ? (yes ? "Yes" : "No") : named("True/False") ? (yes ? "True" : "False") : (yes ? "On" : "Off");
  } else if (!number || f.find_first_of("0#") == std::string::npos) {
    if (!whenOf(v, w)) {
      out = reinterpret_cast<const char*>(sqlite3_value_text(v));
    } else if (named("General Date")) {
      out = shortDate(w) + (w.hasTime ? " " + clock(w, true, true) : "");
    } else if (named("Long Date")) {
      out = std::string(kDays[w.weekday]) + ", " + kMonths[w.month - 1] + " " + std::to_string(w.day) + ", " +
            std::to_string(w.year);
    } else if (named("Medium Date")) {
      out = two(w.day) + "-" + std::string(kMonths[w.month - 1]).substr(0, 3) + "-" + two(w.year % 100);
    } else if (named("Short Date")) {
      out = shortDate(w);
    } else if (named("Long Time")) {
      out = clock(w, true, true);
    } else if (named("Medium Time")) {
      out = clock(w, false, true);
    } else if (named("Short Time")) {
      out = clock(w, false, false);
    } else {
      out = datePattern(w, f);
    }
  } else {
    out = numberPattern(x, f);
  }
  sqlite3_result_text(ctx, out.data(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
}

}  // namespace sql
