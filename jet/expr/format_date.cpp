// Custom date formats: d dd ddd dddd ddddd dddddd, w ww, m mm mmm mmmm (minutes after an hour or
// before seconds), q, y, yy yyyy, h hh, n nn, s ss, ttttt, c, AM/PM am/pm A/P a/p AMPM, the
// separators / and :, quoted and escaped literals.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "jet/base/names.h"
#include "jet/expr/dates.h"
#include "jet/expr/format.h"

namespace jet::expr {

namespace {

bool startsWithI(std::string_view s, size_t at, std::string_view word) {
  return s.size() - at >= word.size() && sameName(s.substr(at, word.size()), word);
}

size_t runOf(std::string_view s, size_t at) {
  char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s[at])));
  size_t n = 0;
  while (at + n < s.size() && std::tolower(static_cast<unsigned char>(s[at + n])) == c) ++n;
  return n;
}

std::string two(int64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%02lld", static_cast<long long>(v));
  return buf;
}

struct Piece {
  enum Kind { Literal, Token } kind;
  std::string text;  // the literal, or the token in lower case ("dd", "mmmm", "ampm", "a/p"...)
  bool upperCase = false;  // AM/PM written in capitals
};

std::vector<Piece> tokens(std::string_view s) {
  std::vector<Piece> out;
  for (size_t i = 0; i < s.size();) {
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
    if (s[i] == '"') {
      size_t close = s.find('"', i + 1);
      size_t end = close == std::string_view::npos ? s.size() : close;
      out.push_back({Piece::Literal, std::string(s.substr(i + 1, end - i - 1))});
      i = end + 1;
    } else if (s[i] == '\\') {
      if (i + 1 < s.size()) out.push_back({Piece::Literal, std::string(1, s[i + 1])});
      i += 2;
    } else if (startsWithI(s, i, "am/pm") || startsWithI(s, i, "a/p")) {
      size_t len = startsWithI(s, i, "am/pm") ? 5 : 3;
      out.push_back({Piece::Token, len == 5 ? "am/pm" : "a/p", std::isupper(static_cast<unsigned char>(s[i])) != 0});
      i += len;
    } else if (startsWithI(s, i, "ampm")) {
      out.push_back({Piece::Token, "am/pm", true});
      i += 4;
    } else if (std::strchr("dwmqyhnstc", c)) {
      size_t n = runOf(s, i);
      out.push_back({Piece::Token, std::string(n, c)});
      i += n;
    } else {
      out.push_back({Piece::Literal, std::string(1, s[i])});
      ++i;
    }
  }
  return out;
}

}  // namespace

bool isDateFormat(std::string_view s) {
  for (const Piece& p : tokens(s))
    if (p.kind == Piece::Token) return true;
  return false;
}

std::string formatDate(double serial, std::string_view format, int firstDay, int firstWeek) {
  std::vector<Piece> ps = tokens(format);
  DateParts p = splitDate(serial);
  bool twelveHour = false;
  for (const Piece& x : ps) twelveHour = twelveHour || (x.kind == Piece::Token && (x.text == "am/pm" || x.text == "a/p"));
  std::string out;
  int lastToken = -1;  // index of the last token, for "m" after an hour
  for (size_t i = 0; i < ps.size(); ++i) {
    const Piece& x = ps[i];
    if (x.kind == Piece::Literal) {
      out += x.text;
      continue;
    }
    const std::string& t = x.text;
    int hour = twelveHour ? (p.hour % 12 == 0 ? 12 : p.hour % 12) : p.hour;
    if (t[0] == 'm' && t.size() <= 2) {
      bool afterHour = lastToken >= 0 && ps[static_cast<size_t>(lastToken)].text[0] == 'h';
      bool beforeSecond = false;
      for (size_t j = i + 1; j < ps.size(); ++j) {
        if (ps[j].kind != Piece::Token) continue;
        beforeSecond = ps[j].text[0] == 's';
        break;
      }
      int v = (afterHour || beforeSecond) ? p.minute : p.month;
      out += t.size() == 1 ? std::to_string(v) : two(v);
    } else if (t[0] == 'm') {
      out += monthName(p.month, t.size() == 3);
    } else if (t == "d") {
      out += std::to_string(p.day);
    } else if (t == "dd") {
      out += two(p.day);
    } else if (t == "ddd" || t == "dddd") {
      out += weekdayName(weekday(serial, 1), t.size() == 3);
    } else if (t == "ddddd") {
      out += formatDate(serial, "m/d/yyyy", firstDay, firstWeek);
    } else if (t.size() >= 6 && t[0] == 'd') {
      out += formatDate(serial, "dddd, mmmm d, yyyy", firstDay, firstWeek);
    } else if (t == "w") {
      out += std::to_string(weekday(serial, firstDay));
    } else if (t[0] == 'w') {
      // Week of the year, with January 1's week as week 1 unless told otherwise.
      int64_t jan1 = dayNumber(dateSerial(p.year, 1, 1));
      int64_t start = jan1 - (weekday(static_cast<double>(jan1), firstDay) - 1);
      if (firstWeek == 2 && jan1 - start > 3) start += 7;
      if (firstWeek == 3 && start < jan1) start += 7;
      int64_t week = (dayNumber(serial) - start) / 7 + 1;
      out += std::to_string(week < 1 ? 1 : week);
    } else if (t[0] == 'q') {
      out += std::to_string((p.month - 1) / 3 + 1);
    } else if (t == "y") {
      out += std::to_string(dayNumber(serial) - dayNumber(dateSerial(p.year, 1, 1)) + 1);
    } else if (t[0] == 'y') {
      out += t.size() <= 2 ? two(p.year % 100) : std::to_string(p.year);
    } else if (t == "h") {
      out += std::to_string(hour);
    } else if (t[0] == 'h') {
      out += two(hour);
    } else if (t[0] == 'n') {
      out += t.size() == 1 ? std::to_string(p.minute) : two(p.minute);
    } else if (t[0] == 's') {
      out += t.size() == 1 ? std::to_string(p.second) : two(p.second);
    } else if (t[0] == 't') {
      out += formatDate(serial, "h:nn:ss AM/PM", firstDay, firstWeek);
    } else if (t[0] == 'c') {
      out += generalDate(serial);
    } else if (t == "am/pm") {
      std::string s = p.hour < 12 ? "AM" : "PM";
      out += x.upperCase ? s : std::string(p.hour < 12 ? "am" : "pm");
    } else if (t == "a/p") {
      out += x.upperCase ? (p.hour < 12 ? "A" : "P") : (p.hour < 12 ? "a" : "p");
    }
    lastToken = static_cast<int>(i);
  }
  return out;
}

}  // namespace jet::expr
