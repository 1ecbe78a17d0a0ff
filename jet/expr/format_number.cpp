// Custom number formats: digit placeholders 0 and #, the decimal point, thousands separators and
// the commas that scale by a thousand, percent, E+/E- exponents, quoted and escaped literals, and
// up to four sections (positive; negative; zero; Null). Format rounds half away from zero.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "jet/expr/format.h"

namespace jet::expr {

namespace {

// A decimal number as its digits: value = 0.d1d2d3... * 10^point.
struct Digits {
  bool negative = false;
  std::string digits;  // no leading zeros; empty for zero
  int point = 0;

  bool isZero() const { return digits.empty(); }

  // Rounds half away from zero to `places` digits after the point.
  void round(int places) {
    int keep = point + places;
    if (keep >= static_cast<int>(digits.size())) return;
    if (keep < 0) {
      digits.clear();
      return;
    }
    bool up = digits[static_cast<size_t>(keep)] >= '5';
    digits.resize(static_cast<size_t>(keep));
    if (up) {
      int i = keep - 1;
      for (; i >= 0 && digits[static_cast<size_t>(i)] == '9'; --i) digits[static_cast<size_t>(i)] = '0';
      if (i < 0) {
        digits.insert(digits.begin(), '1');
        ++point;
      } else {
        ++digits[static_cast<size_t>(i)];
      }
    }
    trim();
  }
  void trim() {
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    size_t lead = digits.find_first_not_of('0');
    if (lead == std::string::npos) {
      digits.clear();
      point = 0;
      return;
    }
    digits.erase(0, lead);
    point -= static_cast<int>(lead);
  }
  // The integer part as text ("" for none) and `places` digits after the point.
  std::string integerPart() const {
    std::string s;
    for (int i = 0; i < point; ++i) s += i < static_cast<int>(digits.size()) ? digits[static_cast<size_t>(i)] : '0';
    return s;
  }
  std::string fraction(int places) const {
    std::string s;
    for (int i = point; i < point + places; ++i)
      s += i >= 0 && i < static_cast<int>(digits.size()) ? digits[static_cast<size_t>(i)] : '0';
    return s;
  }
};

Digits digitsOf(const Var& v) {
  Digits d;
  std::string text;
  if (v.type == Type::Double || v.type == Type::Single || v.type == Type::Date || v.type == Type::String) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", v.type == Type::Single ? 6 : 14, toDouble(v));
    text = buf;
  } else {
    text = toText(v.type == Type::Boolean ? Var::wholeNumber(std::get<bool>(v.value) ? -1 : 0) : v);
  }
  size_t i = 0;
  if (text[0] == '-') {
    d.negative = true;
    ++i;
  }
  int exp = 0;
  size_t e = text.find_first_of("eE");
  if (e != std::string::npos) exp = std::atoi(text.c_str() + e + 1);
  std::string mant = text.substr(i, e == std::string::npos ? std::string::npos : e - i);
  size_t dot = mant.find('.');
  int intLen = static_cast<int>(dot == std::string::npos ? mant.size() : dot);
  if (dot != std::string::npos) mant.erase(dot, 1);
  d.digits = mant;
  d.point = intLen + exp;
  d.trim();
  return d;
}

struct Section {
  std::string text;
  int intZeros = 0, intPlaces = 0, decZeros = 0, decPlaces = 0;
  bool point = false, grouping = false, scientific = false;
  int scaleCommas = 0, percents = 0, expZeros = 0;
};

// Walks a section once to learn its placeholders.
Section analyse(std::string_view s) {
  Section sec;
  sec.text = std::string(s);
  bool inExp = false;
  int pendingCommas = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      size_t close = s.find('"', i + 1);
      i = close == std::string_view::npos ? s.size() : close;
      continue;
    }
    if (c == '\\') {
      ++i;
      continue;
    }
    if ((c == 'E' || c == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-') && !inExp) {
      sec.scientific = inExp = true;
      ++i;
      continue;
    }
    if (c == '0' || c == '#') {
      if (pendingCommas) sec.grouping = true;
      pendingCommas = 0;
      if (inExp) {
        if (c == '0') ++sec.expZeros;
      } else if (sec.point) {
        ++sec.decPlaces;
        if (c == '0') sec.decZeros = sec.decPlaces;
      } else {
        ++sec.intPlaces;
        if (c == '0' || sec.intZeros) ++sec.intZeros;
      }
    } else if (c == ',' && !sec.point && !inExp) {
      if (sec.intPlaces) ++pendingCommas;
    } else if (c == '.' && !sec.point && !inExp) {
      sec.point = true;
      sec.scaleCommas += pendingCommas;
      pendingCommas = 0;
    } else if (c == '%') {
      ++sec.percents;
    }
  }
  if (!sec.point) sec.scaleCommas += pendingCommas;
  return sec;
}

std::string grouped(const std::string& digits) {
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string render(const Section& sec, Digits d) {
  for (int i = 0; i < sec.percents; ++i) d.point += 2;
  d.point -= 3 * sec.scaleCommas;
  int exponent = 0;
  if (sec.scientific && !d.isZero()) {
    int intDigits = std::max(1, sec.intPlaces);
    exponent = d.point - intDigits;
    d.point = intDigits;
    d.round(sec.decPlaces);
    if (d.point > intDigits) {  // rounding carried into a new digit
      ++exponent;
      d.point = intDigits;
    }
  } else {
    d.round(sec.decPlaces);
  }
  std::string intDigits = d.integerPart();
  if (static_cast<int>(intDigits.size()) < sec.intZeros)
    intDigits.insert(0, static_cast<size_t>(sec.intZeros - static_cast<int>(intDigits.size())), '0');
  std::string frac = d.fraction(sec.decPlaces);
  while (static_cast<int>(frac.size()) > sec.decZeros && !frac.empty() && frac.back() == '0') frac.pop_back();

  std::string out;
  const std::string& s = sec.text;
  bool inExp = false, pastPoint = false, intDone = false;
  int intSeen = 0, decSeen = 0, expSeen = 0;
  std::string expDigits = std::to_string(std::abs(exponent));
  if (static_cast<int>(expDigits.size()) < sec.expZeros)
    expDigits.insert(0, static_cast<size_t>(sec.expZeros - static_cast<int>(expDigits.size())), '0');
  // Integer digits go to the placeholders from the right; those beyond them go to the first one.
  size_t intLen = intDigits.size();
  auto intDigitFor = [&](int placeholderIndex) {
    // placeholderIndex counts from the left; the digit it shows counts from the right.
    int fromRight = sec.intPlaces - 1 - placeholderIndex;
    std::string r;
    if (placeholderIndex == 0 && static_cast<int>(intLen) > sec.intPlaces)
      r = intDigits.substr(0, intLen - static_cast<size_t>(sec.intPlaces) + 1);
    else if (fromRight < static_cast<int>(intLen))
      r = std::string(1, intDigits[intLen - 1 - static_cast<size_t>(fromRight)]);
    return r;
  };
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      size_t close = s.find('"', i + 1);
      out += s.substr(i + 1, (close == std::string::npos ? s.size() : close) - i - 1);
      i = close == std::string::npos ? s.size() : close;
    } else if (c == '\\') {
      if (i + 1 < s.size()) out += s[++i];
    } else if ((c == 'E' || c == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-') && !inExp) {
      inExp = true;
      out += c;
      if (exponent < 0) out += '-';
      else if (s[i + 1] == '+') out += '+';
      ++i;
    } else if (c == '0' || c == '#') {
      if (inExp) {
        if (expSeen++ == 0) out += expDigits;
      } else if (pastPoint) {
        if (decSeen < static_cast<int>(frac.size())) out += frac[static_cast<size_t>(decSeen)];
        ++decSeen;
      } else if (sec.grouping) {
        if (!intDone) out += grouped(intDigits);
        intDone = true;
      } else {
        out += intDigitFor(intSeen++);
      }
    } else if (c == '.') {
      if (!pastPoint && !inExp) {
        pastPoint = true;
        if (sec.intPlaces == 0) out += intDigits;
        out += '.';
      } else {
        out += c;
      }
    } else if (c == ',') {
      // thousands separator or scaling: never printed itself
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

bool isNumberFormat(std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      size_t close = s.find('"', i + 1);
      if (close == std::string_view::npos) break;
      i = close;
    } else if (c == '\\') {
      ++i;
    } else if (c == '0' || c == '#' || c == '%') {
      return true;
    }
  }
  return false;
}

std::string formatNumber(const Var& v, std::string_view format) {
  std::vector<std::string> sections = formatSections(format);
  Digits d = digitsOf(v);
  bool negative = d.negative && !d.isZero();
  d.negative = false;
  // Sections: positive (and all when alone); negative; zero; Null (chosen by the caller).
  const std::string* chosen = &sections[0];
  bool minus = false;
  if (negative) {
    if (sections.size() >= 2 && !sections[1].empty()) chosen = &sections[1];
    else minus = true;
  }
  Section sec = analyse(*chosen);
  // The zero section applies to values that show as zero in the first section.
  Digits shown = d;
  shown.round(sec.decPlaces + 2 * sec.percents - 3 * sec.scaleCommas);
  if (sections.size() >= 3 && !sections[2].empty() && (d.isZero() || shown.isZero())) {
    minus = false;
    sec = analyse(sections[2]);
  }
  std::string out = render(sec, d);
  if (minus && !shown.isZero()) out = "-" + out;
  return out;
}

}  // namespace jet::expr
