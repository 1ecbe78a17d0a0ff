// Decimal arithmetic on a 128-bit integer: operands are aligned to a common scale, and a result
// wider than 96 bits gives up digits after the point until it fits.
#include "jet/expr/decimal_number.h"

#include <cstdio>
#include <cstdlib>

#include "jet/expr/eval_error.h"

namespace jet::expr {

namespace {

using u128 = unsigned __int128;
constexpr int kMaxScale = 28;
const u128 kLimit = u128(1) << 96;
const u128 kHeadroom = u128(1) << 124;  // below this a value can still be multiplied by 10

// Rounds `v` down by n digits, half to even, with the dropped digits all counted.
u128 shiftDown(u128 v, int n) {
  if (n <= 0) return v;
  bool sticky = false;
  for (int i = 0; i + 1 < n; ++i) {
    if (v % 10 != 0) sticky = true;
    v /= 10;
  }
  u128 q = v / 10;
  int r = static_cast<int>(v % 10);
  if (r > 5 || (r == 5 && (sticky || (q & 1)))) ++q;
  return q;
}

DecimalNumber normalized(bool negative, int scale, u128 magnitude) {
  while (scale > kMaxScale || (magnitude >= kLimit && scale > 0)) {
    magnitude = shiftDown(magnitude, 1);
    --scale;
  }
  if (magnitude >= kLimit) throwOverflow();
  DecimalNumber d;
  d.negative = negative && magnitude != 0;
  d.scale = scale;
  d.magnitude = magnitude;
  return d;
}

// Brings both to one scale; when the larger scale cannot be reached without overflow, the more
// precise operand is rounded instead.
void align(DecimalNumber& a, DecimalNumber& b) {
  DecimalNumber* lo = a.scale < b.scale ? &a : &b;
  DecimalNumber* hi = lo == &a ? &b : &a;
  while (lo->scale < hi->scale) {
    if (lo->magnitude < kHeadroom / 10) {
      lo->magnitude *= 10;
      ++lo->scale;
    } else {
      hi->magnitude = shiftDown(hi->magnitude, 1);
      --hi->scale;
    }
  }
}

}  // namespace

DecimalNumber DecimalNumber::fromValue(const Decimal& d) {
  DecimalNumber n;
  n.negative = d.negative;
  n.scale = d.scale > kMaxScale ? kMaxScale : d.scale;
  n.magnitude = (u128(d.magnitude[2]) << 64) | (u128(d.magnitude[1]) << 32) | d.magnitude[0];
  if (n.magnitude == 0) n.negative = false;
  return n;
}

DecimalNumber DecimalNumber::fromInt(int64_t v) {
  DecimalNumber n;
  n.negative = v < 0;
  n.magnitude = v < 0 ? static_cast<u128>(-static_cast<__int128>(v)) : static_cast<u128>(v);
  return n;
}

DecimalNumber DecimalNumber::fromCurrency(int64_t scaled) {
  DecimalNumber n = fromInt(scaled);
  n.scale = 4;
  return n;
}

DecimalNumber DecimalNumber::fromDouble(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  DecimalNumber n;
  if (!parse(buf, n)) throwOverflow();
  return n;
}

bool DecimalNumber::parse(std::string_view s, DecimalNumber& out) {
  out = DecimalNumber{};
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  u128 mag = 0;
  int scale = 0, digits = 0, dropped = 0;
  bool point = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      ++digits;
      if (mag < kHeadroom / 10) {
        mag = mag * 10 + static_cast<unsigned>(c - '0');
        if (point) ++scale;
      } else if (!point) {
        ++dropped;  // integer digits beyond 38: too large in any case
      }
    } else {
      break;
    }
  }
  if (digits == 0 || dropped) return false;
  int exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool eneg = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) eneg = s[i++] == '-';
    if (i >= s.size()) return false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      exponent = exponent * 10 + (s[i] - '0');
      if (exponent > 400) return false;
    }
    if (eneg) exponent = -exponent;
  }
  if (i != s.size()) return false;
  scale -= exponent;
  while (scale < 0) {
    if (mag >= kHeadroom / 10) return false;
    mag *= 10;
    ++scale;
  }
  try {
    out = normalized(negative, scale, mag);
  } catch (const Error&) {
    return false;
  }
  return true;
}

Decimal DecimalNumber::toValue() const {
  Decimal d;
  d.negative = negative;
  d.scale = static_cast<uint8_t>(scale);
  d.precision = 28;
  d.magnitude = {static_cast<uint32_t>(magnitude), static_cast<uint32_t>(magnitude >> 32),
                 static_cast<uint32_t>(magnitude >> 64)};
  return d;
}

double DecimalNumber::toDouble() const { return std::strtod(toText().c_str(), nullptr); }

std::string DecimalNumber::toText() const {
  std::string digits;
  u128 m = magnitude;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(m % 10)));
    m /= 10;
  } while (m);
  while (static_cast<int>(digits.size()) <= scale) digits.insert(digits.begin(), '0');
  std::string out = negative ? "-" : "";
  size_t intLen = digits.size() - static_cast<size_t>(scale);
  out += digits.substr(0, intLen);
  std::string frac = digits.substr(intLen);
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  if (!frac.empty()) out += "." + frac;
  return out;
}

DecimalNumber DecimalNumber::rounded(int digits) const {
  if (digits >= scale) return *this;
  return normalized(negative, digits, shiftDown(magnitude, scale - digits));
}

DecimalNumber DecimalNumber::withScale(int digits) const {
  DecimalNumber d = rounded(digits);
  while (d.scale < digits) {
    d.magnitude *= 10;
    ++d.scale;
    if (d.magnitude >= kLimit) throwOverflow();
  }
  return d;
}

DecimalNumber operator+(const DecimalNumber& x, const DecimalNumber& y) {
  DecimalNumber a = x, b = y;
  align(a, b);
  if (a.negative == b.negative) return normalized(a.negative, a.scale, a.magnitude + b.magnitude);
  if (a.magnitude >= b.magnitude) return normalized(a.negative, a.scale, a.magnitude - b.magnitude);
  return normalized(b.negative, a.scale, b.magnitude - a.magnitude);
}

DecimalNumber operator-(const DecimalNumber& a, const DecimalNumber& b) {
  DecimalNumber n = b;
  n.negative = !n.negative && n.magnitude != 0;
  return a + n;
}

DecimalNumber operator*(const DecimalNumber& x, const DecimalNumber& y) {
  DecimalNumber a = x, b = y;
  // Both below 2^96: drop digits after the point until the product fits 128 bits.
  auto bits = [](u128 v) { int n = 0; while (v) { v >>= 1; ++n; } return n; };
  while (bits(a.magnitude) + bits(b.magnitude) > 127) {
    DecimalNumber& big = a.scale >= b.scale ? a : b;
    if (big.scale == 0) throwOverflow();
    big.magnitude = shiftDown(big.magnitude, 1);
    --big.scale;
  }
  return normalized(a.negative != b.negative, a.scale + b.scale, a.magnitude * b.magnitude);
}

DecimalNumber operator/(const DecimalNumber& a, const DecimalNumber& b) {
  if (b.magnitude == 0) throwDivisionByZero();
  u128 num = a.magnitude;
  int scale = a.scale - b.scale;
  // Widen the dividend as far as 128 bits allow, so the quotient carries as many digits as it can.
  while (num < kHeadroom / 10 && scale < kMaxScale + 10) {
    num *= 10;
    ++scale;
  }
  u128 q = num / b.magnitude, r = num % b.magnitude;
  // Round half to even on the remainder.
  u128 twice = r * 2;
  if (twice > b.magnitude || (twice == b.magnitude && (q & 1))) ++q;
  while (scale < 0) {
    if (q >= kHeadroom / 10) throwOverflow();
    q *= 10;
    ++scale;
  }
  DecimalNumber n = normalized(a.negative != b.negative, scale, q);
  while (n.scale > 0 && n.magnitude % 10 == 0) {
    n.magnitude /= 10;
    --n.scale;
  }
  return n;
}

int compare(const DecimalNumber& x, const DecimalNumber& y) {
  DecimalNumber d = x - y;
  if (d.magnitude == 0) return 0;
  return d.negative ? -1 : 1;
}

}  // namespace jet::expr
