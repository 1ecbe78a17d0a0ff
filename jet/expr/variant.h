// A value while an expression is evaluated: the engine's jet::Value together with the subtype the
// expression language distinguishes (Byte, Integer, Long and LongLong share the Value's int64_t),
// and the conversions between subtypes (the CInt/CDbl/CStr... rules).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "jet/base/value.h"
#include "jet/expr/decimal_number.h"

namespace jet::expr {

// Ordered as the arithmetic widens: Byte < Integer < Long < LongLong < Single < Double < Currency <
// Decimal (with the exceptions the operators apply).
enum class Type : uint8_t { Null, Boolean, Byte, Integer, Long, LongLong, Single, Double, Currency, Decimal, Date, String, Binary };

struct Var {
  Type type = Type::Null;
  Value value;  // Null, bool, int64_t, float, double, Currency, Decimal, DateTime, std::string or Bytes

  bool isNull() const { return type == Type::Null; }

  static Var null() { return {}; }
  static Var boolean(bool b) { return {Type::Boolean, b}; }
  // An integer of the given subtype (Byte, Integer, Long, LongLong); the caller checks the range.
  static Var integer(int64_t v, Type t) { return {t, v}; }
  static Var single(float v) { return {Type::Single, v}; }
  static Var dbl(double v) { return {Type::Double, v}; }
  static Var currency(int64_t scaled) { return {Type::Currency, Currency{scaled}}; }
  static Var decimal(const DecimalNumber& d) { return {Type::Decimal, d.toValue()}; }
  static Var date(double serial) { return {Type::Date, DateTime{serial}}; }
  static Var string(std::string s) { return {Type::String, std::move(s)}; }
  // The smallest of Integer, Long, LongLong that holds v.
  static Var wholeNumber(int64_t v);
  // A column value: integers become Long (LongLong beyond 32 bits), GUIDs their braced text, Date/Time
  // Extended a Date when it lies in Date's range (else its text).
  static Var fromValue(const Value& v);
};

bool isNumeric(Type t);  // Byte..Decimal and Boolean
bool isWhole(Type t);    // Byte..LongLong

// Conversions, as the C... functions do them. Null is never accepted here (error 94); strings are
// read as numbers or dates in the US English form; a string that does not convert is error 13;
// out of range is error 6. Whole-number targets round half to even.
double toDouble(const Var& v);
int64_t toWhole(const Var& v, Type target);  // target Byte, Integer, Long or LongLong
int64_t toCurrency(const Var& v);            // scaled by 10,000
DecimalNumber toDecimal(const Var& v);
bool toBool(const Var& v);
double toDate(const Var& v);
// The text form (CStr): Double to 15 significant digits, Single to 7, Date as the general date,
// Boolean "True"/"False". Null gives "" here (the callers that must refuse it check first).
std::string toText(const Var& v);
// Converts to the given subtype (Boolean..String).
Var convert(const Var& v, Type target);

// A number written as text in the US English form: optional spaces, sign, "$", thousands commas,
// digits with a point, an exponent, or &H/&O. False when the whole text is not one.
bool parseNumber(std::string_view text, double& out);
// A double rounded half to even to `digits` places after the point, taken from its 15 significant
// digits (so 2.675 rounds as the text "2.675" reads, not as its binary value).
double roundHalfEven(double x, int digits);
// The text form of a double with at most `significant` digits ("1E+15", "1.5E-07", "0.3").
std::string numberText(double v, int significant);

// Text comparison the engine's default way: case-insensitive. -1, 0, 1.
int compareText(std::string_view a, std::string_view b);
// The same test for equality only, without building folded copies when both are ASCII.
bool equalsText(std::string_view a, std::string_view b);
std::string upper(std::string_view s);
std::string lower(std::string_view s);

}  // namespace jet::expr
