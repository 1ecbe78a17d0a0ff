// Serial dates split and built, read from text and written as text, in US English.
#include "jet/expr/dates.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <vector>

#include "jet/base/names.h"
#include "jet/base/value_text.h"
#include "jet/expr/eval_error.h"

namespace jet::expr {

namespace {

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// 1..12 for a month name or its first three letters, 0 otherwise.
int monthFromName(std::string_view w) {
  for (int m = 0; m < 12; ++m) {
    std::string_view full = kMonths[m];
    if (sameName(w, full) || (w.size() == 3 && sameName(w, full.substr(0, 3))) || (m == 8 && sameName(w, "Sept"))) return m + 1;
  }
  return 0;
}

int64_t windowYear(int64_t y, size_t digits) {
  if (digits <= 2) return y < 30 ? 2000 + y : 1900 + y;
  return y;
}

bool validDate(int64_t y, int64_t m, int64_t d) {
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  static const int kLen[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= (m == 2 && leap ? 29 : kLen[m - 1]);
}

struct Token {
  enum Kind { Number, Word, Colon, Sep } kind;
  std::string text;
};

}  // namespace

DateParts splitDate(double serial) {
  OleParts p = splitOleDate(serial);
  if (!p.valid || p.year < 100 || p.year > 9999) throwInvalidCall();
  DateParts d;
  d.year = p.year;
  d.month = p.month;
  d.day = p.day;
  int64_t s = (p.msOfDay + 500) / 1000;
  if (s >= 86400) s = 86399;
  d.hour = static_cast<int>(s / 3600);
  d.minute = static_cast<int>(s / 60 % 60);
  d.second = static_cast<int>(s % 60);
  return d;
}

int64_t dayNumber(double serial) {
  OleParts p = splitOleDate(serial);
  if (!p.valid) throwInvalidCall();
  return p.dayNumber;
}

int64_t secondsOfDay(double serial) {
  OleParts p = splitOleDate(serial);
  if (!p.valid) throwInvalidCall();
  int64_t s = (p.msOfDay + 500) / 1000;
  return s >= 86400 ? 86399 : s;
}

double dateSerial(int64_t year, int64_t month, int64_t day) {
  if (year >= 0 && year < 100) year = windowYear(year, 2);
  int64_t m0 = month - 1;
  year += floorDiv(m0, 12);
  m0 -= floorDiv(m0, 12) * 12;
  if (year < 100 || year > 9999) throwInvalidCall();
  double serial = static_cast<double>(oleDayFromCivil(year, static_cast<int>(m0 + 1), 1) + day - 1);
  if (serial < -657434.0 || serial > 2958465.0) throwInvalidCall();
  return serial;
}

double timeSerial(int64_t hour, int64_t minute, int64_t second) {
  return static_cast<double>(hour * 3600 + minute * 60 + second) / 86400.0;
}

double withTime(double dateValue, double timeFraction) {
  double day = std::trunc(dateValue);
  // Before 1899-12-30 the time counts forwards from the (negative) day's midnight.
  return day < 0 ? day - timeFraction : day + timeFraction;
}

int weekday(double serial, int firstDay) {
  // Day 0 (1899-12-30) was a Saturday.
  int64_t sundayBased = ((dayNumber(serial) + 6) % 7 + 7) % 7 + 1;  // 1 = Sunday
  return static_cast<int>((sundayBased - firstDay + 7) % 7 + 1);
}

std::string monthName(int month, bool abbreviate) {
  if (month < 1 || month > 12) throwInvalidCall();
  std::string s = kMonths[month - 1];
  return abbreviate ? s.substr(0, 3) : s;
}

std::string weekdayName(int weekdayOneIsSunday, bool abbreviate) {
  if (weekdayOneIsSunday < 1 || weekdayOneIsSunday > 7) throwInvalidCall();
  std::string s = kDays[weekdayOneIsSunday - 1];
  return abbreviate ? s.substr(0, 3) : s;
}

bool parseDate(std::string_view text, double& out) {
  std::vector<Token> toks;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::isdigit(c)) {
      size_t j = i;
      while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
      toks.push_back({Token::Number, std::string(text.substr(i, j - i))});
      i = j;
    } else if (std::isalpha(c)) {
      size_t j = i;
      while (j < text.size() && std::isalpha(static_cast<unsigned char>(text[j]))) ++j;
      toks.push_back({Token::Word, std::string(text.substr(i, j - i))});
      i = j;
    } else if (c == ':') {
      toks.push_back({Token::Colon, ":"});
      ++i;
    } else if (c == '/' || c == '-' || c == ',' || c == '.' || c == ' ' || c == '\t') {
      if (c != ' ' && c != '\t' && c != ',') toks.push_back({Token::Sep, std::string(1, static_cast<char>(c))});
      ++i;
    } else {
      return false;
    }
  }
  // The time: numbers joined by colons, then an optional AM/PM; or a number directly followed by AM/PM.
  int64_t hms[3] = {0, 0, 0};
  bool hasTime = false;
  std::vector<Token> date;
  for (size_t i = 0; i < toks.size(); ++i) {
    bool colonNext = i + 1 < toks.size() && toks[i + 1].kind == Token::Colon;
    bool ampmNext = i + 1 < toks.size() && toks[i + 1].kind == Token::Word &&
                    (sameName(toks[i + 1].text, "AM") || sameName(toks[i + 1].text, "PM") || sameName(toks[i + 1].text, "A") ||
                     sameName(toks[i + 1].text, "P"));
    if (!hasTime && toks[i].kind == Token::Number && (colonNext || ampmNext)) {
      hasTime = true;
      int n = 0;
      while (i < toks.size() && toks[i].kind == Token::Number && n < 3) {
        if (toks[i].text.size() > 2) return false;
        hms[n++] = std::stoll(toks[i].text);
        if (i + 1 < toks.size() && toks[i + 1].kind == Token::Colon) {
          i += 2;
        } else {
          ++i;
          break;
        }
      }
      if (hms[1] > 59 || hms[2] > 59) return false;
      if (i < toks.size() && toks[i].kind == Token::Word && (toks[i].text.size() <= 2)) {
        char a = static_cast<char>(std::tolower(static_cast<unsigned char>(toks[i].text[0])));
        if (toks[i].text.size() == 2 && std::tolower(static_cast<unsigned char>(toks[i].text[1])) != 'm') return false;
        if (a != 'a' && a != 'p') return false;
        if (hms[0] < 1 || hms[0] > 12) return false;
        hms[0] = hms[0] % 12 + (a == 'p' ? 12 : 0);
        ++i;
      }
      if (hms[0] > 23) return false;
      --i;
      continue;
    }
    date.push_back(toks[i]);
  }
  double day = 0;
  std::vector<std::string> nums;
  int month = 0;
  bool monthFirst = false;
  for (const Token& t : date) {
    if (t.kind == Token::Number) {
      nums.push_back(t.text);
    } else if (t.kind == Token::Word) {
      if (sameName(t.text, "T") && nums.size() == 3) continue;  // ISO 8601's "2000-01-15T13:45"
      int m = monthFromName(t.text);
      if (m == 0 || month != 0) return false;
      month = m;
      monthFirst = nums.empty();
    } else if (t.kind == Token::Colon) {
      return false;
    }
  }
  (void)monthFirst;
  if (!date.empty()) {
    int64_t y = 0, m = 0, d = 0;
    if (month) {
      // "Jan 2, 2000", "2 Jan 2000", "2-Jan-00".
      if (nums.size() != 2) return false;
      m = month;
      size_t yi = nums[0].size() > 2 ? 0 : 1;
      d = std::stoll(nums[1 - yi]);
      y = windowYear(std::stoll(nums[yi]), nums[yi].size());
    } else {
      if (nums.size() != 3) return false;
      for (const std::string& n : nums)
        if (n.size() > 4) return false;
      if (nums[0].size() >= 3) {
        y = std::stoll(nums[0]);
        m = std::stoll(nums[1]);
        d = std::stoll(nums[2]);
      } else {
        m = std::stoll(nums[0]);
        d = std::stoll(nums[1]);
        y = windowYear(std::stoll(nums[2]), nums[2].size());
        if (m > 12 && d <= 12) std::swap(m, d);
      }
    }
    if (!validDate(y, m, d)) return false;
    day = static_cast<double>(oleDayFromCivil(y, static_cast<int>(m), static_cast<int>(d)));
  } else if (!hasTime) {
    return false;
  }
  out = withTime(day, timeSerial(hms[0], hms[1], hms[2]));
  return true;
}

std::string generalDate(double serial) {
  DateParts p = splitDate(serial);
  char buf[64];
  std::string out;
  bool hasTime = p.hour || p.minute || p.second;
  bool dayZero = dayNumber(serial) == 0;
  if (!dayZero) {
    std::snprintf(buf, sizeof buf, "%d/%d/%lld", p.month, p.day, static_cast<long long>(p.year));
    out = buf;
  }
  if (hasTime || dayZero) {
    int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
    std::snprintf(buf, sizeof buf, "%s%d:%02d:%02d %s", out.empty() ? "" : " ", h12, p.minute, p.second,
                  p.hour < 12 ? "AM" : "PM");
    out += buf;
  }
  return out;
}

}  // namespace jet::expr
