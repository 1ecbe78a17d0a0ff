// Decimal arithmetic for expressions: a 96-bit magnitude with a sign and a scale of 0 to 28 digits,
// as the Decimal column type holds it, with the four operations and comparison. Results that need
// more than 96 bits drop digits after the point (rounding half to even); an integer part that does
// not fit raises error 6 "Overflow".
#pragma once

#include <cstdint>
#include <string>

#include "jet/base/value.h"

namespace jet::expr {

struct DecimalNumber {
  bool negative = false;
  int scale = 0;                 // 0..28
  unsigned __int128 magnitude = 0;  // below 2^96

  static DecimalNumber fromValue(const Decimal& d);
  static DecimalNumber fromInt(int64_t v);
  // The nearest decimal to a double, taken from its 15 significant digits (as the text form shows it).
  static DecimalNumber fromDouble(double v);
  // Currency's scaled integer (scale 4).
  static DecimalNumber fromCurrency(int64_t scaled);
  // Plain decimal text "[-]digits[.digits][E[+-]n]"; false when the text is not such a number.
  static bool parse(std::string_view text, DecimalNumber& out);

  Decimal toValue() const;
  double toDouble() const;
  // Digits with the point, trailing zeros after the point dropped ("12.5", "-3", "0.001").
  std::string toText() const;
  bool isZero() const { return magnitude == 0; }
  // Rounded half to even to `digits` places after the point.
  DecimalNumber rounded(int digits) const;
  // Exactly `digits` places after the point: rounded, or extended with zeros (error 6 when the
  // value then needs more than 96 bits).
  DecimalNumber withScale(int digits) const;
};

DecimalNumber operator+(const DecimalNumber& a, const DecimalNumber& b);
DecimalNumber operator-(const DecimalNumber& a, const DecimalNumber& b);
DecimalNumber operator*(const DecimalNumber& a, const DecimalNumber& b);
// Raises error 11 "Division by zero" for a zero divisor.
DecimalNumber operator/(const DecimalNumber& a, const DecimalNumber& b);
// -1, 0 or 1.
int compare(const DecimalNumber& a, const DecimalNumber& b);

}  // namespace jet::expr
