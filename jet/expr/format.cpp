// The Format function: named formats, and custom number, date and text formats.
#include "jet/expr/format.h"

#include <cctype>

#include "jet/expr/dates.h"
#include "jet/expr/eval_error.h"
#include "jet/expr/functions.h"

namespace jet::expr {

namespace {

// Named number and date formats as US English defines them.
const std::pair<const char*, const char*> kNamedNumber[] = {
    {"currency", "$#,##0.00;($#,##0.00)"},
    {"fixed", "0.00"},
    {"standard", "#,##0.00"},
    {"percent", "0.00%"},
    {"scientific", "0.00E+00"},
};
const std::pair<const char*, const char*> kNamedDate[] = {
    {"long date", "dddd, mmmm d, yyyy"},
    {"medium date", "dd-mmm-yy"},
    {"short date", "m/d/yyyy"},
    {"long time", "h:nn:ss AM/PM"},
    {"medium time", "hh:nn AM/PM"},
    {"short time", "hh:nn"},
};

// Text formats: '@' a character or a space, '&' a character or nothing, filled from the right
// ('!' fills from the left); '<' lower case, '>' upper case.
std::string formatText(const std::string& value, std::string_view f) {
  std::string v = value;
  int places = 0;
  bool fromLeft = false;
  for (char c : f) {
    if (c == '@' || c == '&') ++places;
    if (c == '<') v = lower(v);
    if (c == '>') v = upper(v);
    if (c == '!') fromLeft = true;
  }
  if (places == 0) return v;
  std::string out;
  size_t extra = v.size() > static_cast<size_t>(places) ? v.size() - static_cast<size_t>(places) : 0;
  // The characters each placeholder shows: from the right, or from the left with '!'.
  size_t missing = v.size() < static_cast<size_t>(places) ? static_cast<size_t>(places) - v.size() : 0;
  size_t next = 0;
  int index = 0;
  for (size_t i = 0; i < f.size(); ++i) {
    char c = f[i];
    if (c == '@' || c == '&') {
      size_t slot = static_cast<size_t>(index++);
      bool empty = fromLeft ? slot >= v.size() : slot < missing;
      if (empty) {
        if (c == '@') out += ' ';
        continue;
      }
      if (fromLeft) {
        out += v[next++];
        if (slot + 1 == static_cast<size_t>(places)) out += v.substr(next);
      } else {
        if (next == 0 && extra) {
          out += v.substr(0, extra + 1);
          next = extra + 1;
        } else {
          out += v[next++];
        }
      }
    } else if (c == '"') {
      size_t close = f.find('"', i + 1);
      out += f.substr(i + 1, (close == std::string_view::npos ? f.size() : close) - i - 1);
      i = close == std::string_view::npos ? f.size() : close;
    } else if (c == '\\') {
      if (i + 1 < f.size()) out += f[++i];
    } else if (c != '<' && c != '>' && c != '!') {
      out += c;
    }
  }
  return out;
}

std::string lowerAscii(std::string_view s) { return lower(s); }

bool asNumber(const Var& v, Var& out) {
  if (isNumeric(v.type) || v.type == Type::Date) {
    out = v.type == Type::Date ? Var::dbl(std::get<DateTime>(v.value).days) : v;
    return true;
  }
  double d;
  if (v.type == Type::String && parseNumber(std::get<std::string>(v.value), d)) {
    out = Var::dbl(d);
    return true;
  }
  return false;
}

bool asDate(const Var& v, double& out) {
  if (v.type == Type::Date) {
    out = std::get<DateTime>(v.value).days;
    return true;
  }
  if (v.type == Type::String) return parseDate(std::get<std::string>(v.value), out);
  if (isNumeric(v.type)) {
    out = toDouble(v);
    return out >= -657434.0 && out < 2958466.0;
  }
  return false;
}

}  // namespace

std::vector<std::string> formatSections(std::string_view f) {
  std::vector<std::string> out(1);
  for (size_t i = 0; i < f.size(); ++i) {
    char c = f[i];
    if (c == '"') {
      size_t close = f.find('"', i + 1);
      size_t end = close == std::string_view::npos ? f.size() - 1 : close;
      out.back() += f.substr(i, end - i + 1);
      i = end;
    } else if (c == '\\' && i + 1 < f.size()) {
      out.back() += f.substr(i, 2);
      ++i;
    } else if (c == ';') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

Var formatFunction(std::span<const Var> a) {
  const Var& v = a[0];
  std::string f = a.size() > 1 && !a[1].isNull() ? toText(a[1]) : "";
  int firstDay = 1, firstWeek = 1;
  if (given(a, 2)) firstDay = static_cast<int>(wholeArg(a[2]));
  if (given(a, 3)) firstWeek = static_cast<int>(wholeArg(a[3]));
  if (firstDay == 0) firstDay = 1;
  if (firstWeek == 0) firstWeek = 1;
  if (firstDay < 1 || firstDay > 7 || firstWeek < 1 || firstWeek > 3) throwInvalidCall();
  if (v.isNull()) {
    std::vector<std::string> sections = formatSections(f);
    if (f.empty()) return Var::null();
    return Var::string(sections.size() >= 4 ? formatNumber(Var::wholeNumber(0), sections[3]) : "");
  }
  if (f.empty()) return Var::string(toText(v));
  const std::string name = lowerAscii(f);
  Var number;
  double serial;
  if (name == "general number") return Var::string(asNumber(v, number) ? toText(number) : toText(v));
  if (name == "yes/no" || name == "true/false" || name == "on/off") {
    if (!asNumber(v, number)) return Var::string(toText(v));
    bool on = toBool(number);
    const char* words[3][2] = {{"No", "Yes"}, {"False", "True"}, {"Off", "On"}};
    int k = name == "yes/no" ? 0 : name == "true/false" ? 1 : 2;
    return Var::string(words[k][on]);
  }
  for (auto [n, custom] : kNamedNumber)
    if (name == n) return Var::string(asNumber(v, number) ? formatNumber(number, custom) : toText(v));
  if (name == "general date") return Var::string(asDate(v, serial) ? generalDate(serial) : toText(v));
  for (auto [n, custom] : kNamedDate)
    if (name == n) return Var::string(asDate(v, serial) ? formatDate(serial, custom, firstDay, firstWeek) : toText(v));
  std::vector<std::string> sections = formatSections(f);
  if (isNumberFormat(sections[0]) && v.type != Type::Date) {
    if (asNumber(v, number)) return Var::string(formatNumber(number, f));
    return Var::string(toText(v));
  }
  if (isDateFormat(sections[0]) && asDate(v, serial)) return Var::string(formatDate(serial, sections[0], firstDay, firstWeek));
  if (isNumberFormat(sections[0]) && asNumber(v, number)) return Var::string(formatNumber(number, f));
  return Var::string(formatText(toText(v), sections[0]));
}

}  // namespace jet::expr
