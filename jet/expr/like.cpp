// Like patterns compiled into single-character elements and matched with one backtracking point
// per '*' (the last one seen), which is enough because every other element takes one character.
#include "jet/expr/like.h"

#include <string>
#include <vector>

#include "jet/base/error.h"
#include "jet/expr/variant.h"

namespace jet::expr {

namespace {


struct Element {
  enum Kind { Star, One, Digit, Set, Literal } kind;
  char32_t ch = 0;
  Element(Kind k, char32_t c = 0) : kind(k), ch(c) {}
  bool negate = false;
  std::vector<std::pair<char32_t, char32_t>> ranges;

  bool matches(char32_t c) const {
    switch (kind) {
      case One: return true;
      case Digit: return c >= U'0' && c <= U'9';
      case Literal: return c == ch;
      case Set: {
        bool in = false;
        for (auto [lo, hi] : ranges) in = in || (c >= lo && c <= hi);
        return in != negate;
      }
      case Star: return false;
    }
    return false;
  }
};

std::vector<Element> compile(const std::u32string& p) {
  std::vector<Element> out;
  for (size_t i = 0; i < p.size(); ++i) {
    char32_t c = p[i];
    if (c == U'*') {
      if (out.empty() || out.back().kind != Element::Star) out.emplace_back(Element::Star);
    } else if (c == U'?') {
      out.emplace_back(Element::One);
    } else if (c == U'#') {
      out.emplace_back(Element::Digit);
    } else if (c == U'[') {
      size_t close = p.find(U']', i + 1);
      if (close == std::u32string::npos) throw Error(93, "Invalid pattern string");
      Element e(Element::Set);
      size_t j = i + 1;
      if (j < close && p[j] == U'!') {
        e.negate = true;
        ++j;
      }
      if (j == close && !e.negate) {
        // "[]" matches the empty string: nothing to add.
        i = close;
        continue;
      }
      for (; j < close; ++j) {
        if (j + 2 < close && p[j + 1] == U'-') {
          if (p[j] > p[j + 2]) throw Error(93, "Invalid pattern string");
          e.ranges.push_back({p[j], p[j + 2]});
          j += 2;
        } else {
          e.ranges.push_back({p[j], p[j]});
        }
      }
      out.push_back(e);
      i = close;
    } else {
      out.emplace_back(Element::Literal, c);
    }
  }
  return out;
}

}  // namespace

bool matchLike(std::string_view text, std::string_view pattern) {
  const std::u32string t = decodeUtf8(lower(text));
  const std::vector<Element> p = compile(decodeUtf8(lower(pattern)));
  size_t ti = 0, pi = 0;
  size_t starP = SIZE_MAX, starT = 0;
  while (ti < t.size()) {
    if (pi < p.size() && p[pi].kind == Element::Star) {
      starP = pi++;
      starT = ti;
    } else if (pi < p.size() && p[pi].matches(t[ti])) {
      ++pi;
      ++ti;
    } else if (starP != SIZE_MAX) {
      pi = starP + 1;
      ti = ++starT;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi].kind == Element::Star) ++pi;
  return pi == p.size();
}

std::u32string decodeUtf8(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out += cp;
    i += static_cast<size_t>(len);
  }
  return out;
}

}  // namespace jet::expr
