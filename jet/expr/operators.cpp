// Arithmetic, comparison, concatenation and logic on expression values.
#include "jet/expr/operators.h"

#include <cmath>
#include <limits>

#include "jet/expr/dates.h"
#include "jet/expr/eval_error.h"

namespace jet::expr {

namespace {

int rank(Type t) {
  switch (t) {
    case Type::Byte: return 0;
    case Type::Boolean: case Type::Integer: return 1;
    case Type::Long: return 2;
    case Type::LongLong: return 3;
    case Type::Single: return 4;
    case Type::Double: return 5;
    case Type::Currency: return 6;
    case Type::Decimal: return 7;
    default: return 5;
  }
}

// Text and dates become Double, Booleans Integer, for the arithmetic.
Var numericOperand(const Var& v) {
  switch (v.type) {
    case Type::String: {
      double d;
      if (!parseNumber(std::get<std::string>(v.value), d)) throwTypeMismatch();
      return Var::dbl(d);
    }
    case Type::Date: return Var::dbl(std::get<DateTime>(v.value).days);
    case Type::Boolean: return Var::integer(std::get<bool>(v.value) ? -1 : 0, Type::Integer);
    case Type::Binary: throwTypeMismatch();
    default: return v;
  }
}

Type widerOf(Type a, Type b) {
  Type t = rank(a) >= rank(b) ? a : b;
  if (t == Type::Single && (a == Type::Long || a == Type::LongLong || b == Type::Long || b == Type::LongLong))
    return Type::Double;
  return t;
}

// A whole-number result in the narrowest of `t` and the wider whole types that holds it; Long
// results that do not fit become Double, as variant arithmetic does.
Var wholeResult(__int128 r, Type t) {
  if (t == Type::Byte && r >= 0 && r <= 255) return Var::integer(static_cast<int64_t>(r), Type::Byte);
  if ((t == Type::Byte || t == Type::Integer) && r >= -32768 && r <= 32767)
    return Var::integer(static_cast<int64_t>(r), Type::Integer);
  if (t != Type::LongLong && r >= INT32_MIN && r <= INT32_MAX) return Var::integer(static_cast<int64_t>(r), Type::Long);
  if (t == Type::LongLong) {
    if (r < INT64_MIN || r > INT64_MAX) throwOverflow();
    return Var::integer(static_cast<int64_t>(r), Type::LongLong);
  }
  return Var::dbl(static_cast<double>(r));
}

Var doubleResult(double d) {
  if (!std::isfinite(d)) throwOverflow();
  return Var::dbl(d);
}

Var arithmetic(Op op, const Var& x, const Var& y) {
  Var a = numericOperand(x), b = numericOperand(y);
  Type t = widerOf(a.type, b.type);
  if (op == Op::Div) {
    if (t == Type::Decimal) return Var::decimal(toDecimal(a) / toDecimal(b));
    double d = toDouble(b), n = toDouble(a);
    if (d == 0) {
      if (n == 0) throwOverflow();
      throwDivisionByZero();
    }
    bool single = (a.type == Type::Single || b.type == Type::Single) && rank(a.type) <= 4 && rank(b.type) <= 4 &&
                  a.type != Type::Long && b.type != Type::Long && a.type != Type::LongLong && b.type != Type::LongLong;
    if (single) return Var::single(static_cast<float>(n / d));
    return doubleResult(n / d);
  }
  if (op == Op::Pow) {
    double base = toDouble(a), e = toDouble(b);
    if (base < 0 && e != std::floor(e)) throwInvalidCall();
    if (base == 0 && e < 0) throwDivisionByZero();
    return doubleResult(std::pow(base, e));
  }
  if (op == Op::IntDiv || op == Op::Mod) {
    Type wt = (a.type == Type::Byte && b.type == Type::Byte) ? Type::Byte
              : (rank(a.type) <= 1 && rank(b.type) <= 1)    ? Type::Integer
              : (a.type == Type::LongLong || b.type == Type::LongLong) ? Type::LongLong
                                                                    : Type::Long;
    Type conv = wt == Type::LongLong ? Type::LongLong : Type::Long;
    int64_t n = toWhole(a, conv), d = toWhole(b, conv);
    if (d == 0) throwDivisionByZero();
    if (n == INT64_MIN && d == -1) throwOverflow();
    return wholeResult(op == Op::IntDiv ? n / d : n % d, wt);
  }
  switch (t) {
    case Type::Byte: case Type::Integer: case Type::Long: case Type::LongLong: {
      __int128 p = std::get<int64_t>(a.value), q = std::get<int64_t>(b.value);
      return wholeResult(op == Op::Add ? p + q : op == Op::Sub ? p - q : p * q, t);
    }
    case Type::Single: {
      double r = op == Op::Add ? toDouble(a) + toDouble(b) : op == Op::Sub ? toDouble(a) - toDouble(b) : toDouble(a) * toDouble(b);
      if (std::fabs(r) > std::numeric_limits<float>::max()) return doubleResult(r);
      return Var::single(static_cast<float>(r));
    }
    case Type::Currency: {
      __int128 p = toCurrency(a), q = toCurrency(b), r;
      if (op == Op::Mul) {
        __int128 prod = p * q;
        r = prod / 10000;
        __int128 rem = prod % 10000;
        if (rem < 0) rem = -rem;
        if (rem > 5000 || (rem == 5000 && (r & 1))) r += prod < 0 ? -1 : 1;
      } else {
        r = op == Op::Add ? p + q : p - q;
      }
      if (r > INT64_MAX || r < INT64_MIN) throwOverflow();
      return Var::currency(static_cast<int64_t>(r));
    }
    case Type::Decimal: {
      DecimalNumber p = toDecimal(a), q = toDecimal(b);
      return Var::decimal(op == Op::Add ? p + q : op == Op::Sub ? p - q : p * q);
    }
    default: {
      double p = toDouble(a), q = toDouble(b);
      return doubleResult(op == Op::Add ? p + q : op == Op::Sub ? p - q : p * q);
    }
  }
}

// Logic: three-valued on Booleans, bitwise on whole numbers.
Var logic(Op op, const Var& a, const Var& b) {
  auto asBoolOrNull = [](const Var& v) -> std::optional<bool> {
    if (v.isNull()) return std::nullopt;
    return toBool(v);
  };
  auto isBoolish = [](const Var& v) {
    if (v.isNull() || v.type == Type::Boolean) return true;
    if (v.type != Type::String) return false;
    const std::string& s = std::get<std::string>(v.value);
    return compareText(s, "True") == 0 || compareText(s, "False") == 0;
  };
  if (isBoolish(a) && isBoolish(b)) {
    std::optional<bool> p = asBoolOrNull(a), q = asBoolOrNull(b);
    switch (op) {
      case Op::And:
        if ((p && !*p) || (q && !*q)) return Var::boolean(false);
        if (p && q) return Var::boolean(true);
        return Var::null();
      case Op::Or:
        if ((p && *p) || (q && *q)) return Var::boolean(true);
        if (p && q) return Var::boolean(false);
        return Var::null();
      case Op::Imp:
        if ((p && !*p) || (q && *q)) return Var::boolean(true);
        if (p && q) return Var::boolean(false);
        return Var::null();
      case Op::Xor:
        if (!p || !q) return Var::null();
        return Var::boolean(*p != *q);
      default:  // Eqv
        if (!p || !q) return Var::null();
        return Var::boolean(*p == *q);
    }
  }
  // Bitwise: Byte, Integer or Long as the operands are.
  auto whole = [](const Var& v) -> std::optional<int64_t> {
    if (v.isNull()) return std::nullopt;
    if (v.type == Type::Boolean) return std::get<bool>(v.value) ? -1 : 0;
    return toWhole(numericOperand(v), Type::Long);
  };
  Type t = (a.type == Type::Byte || a.isNull()) && (b.type == Type::Byte || b.isNull()) ? Type::Byte
           : (rank(a.type) <= 1 || a.isNull()) && (rank(b.type) <= 1 || b.isNull())     ? Type::Integer
                                                                                        : Type::Long;
  int64_t ones = t == Type::Byte ? 0xFF : -1;
  std::optional<int64_t> p = whole(a), q = whole(b);
  auto result = [&](int64_t r) { return wholeResult(t == Type::Byte ? (r & 0xFF) : r, t); };
  if (!p || !q) {
    std::optional<int64_t> known = p ? p : q;
    if (!known) return Var::null();
    if (op == Op::And && *known == 0) return result(0);
    if (op == Op::Or && *known == ones) return result(ones);
    if (op == Op::Imp && ((q && *q == ones) || (p && *p == 0))) return result(ones);
    return Var::null();
  }
  switch (op) {
    case Op::And: return result(*p & *q);
    case Op::Or: return result(*p | *q);
    case Op::Xor: return result(*p ^ *q);
    case Op::Eqv: return result(~(*p ^ *q));
    default: return result(~*p | *q);
  }
}

}  // namespace

std::optional<int> compareValues(const Var& a, const Var& b) {
  if (a.isNull() || b.isNull()) return std::nullopt;
  if (a.type == Type::String && b.type == Type::String)
    return compareText(std::get<std::string>(a.value), std::get<std::string>(b.value));
  if (a.type == Type::Binary || b.type == Type::Binary) {
    if (a.type != b.type) throwTypeMismatch();
    const Bytes &p = std::get<Bytes>(a.value), &q = std::get<Bytes>(b.value);
    return p < q ? -1 : p > q ? 1 : 0;
  }
  // Text against a date is read as a date, against a number as a number.
  auto operand = [](const Var& v, const Var& other) {
    if (v.type != Type::String) return v;
    if (other.type == Type::Date) return Var::date(toDate(v));
    return numericOperand(v);
  };
  Var p = operand(a, b), q = operand(b, a);
  if (p.type == Type::Decimal || q.type == Type::Decimal || p.type == Type::Currency || q.type == Type::Currency) {
    if (p.type != Type::Single && p.type != Type::Double && q.type != Type::Single && q.type != Type::Double)
      return compare(toDecimal(p), toDecimal(q));
  }
  if (isWhole(p.type) && isWhole(q.type)) {
    int64_t x = std::get<int64_t>(p.value), y = std::get<int64_t>(q.value);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  double x = toDouble(p), y = toDouble(q);
  return x < y ? -1 : x > y ? 1 : 0;
}

Var applyBinary(Op op, const Var& a, const Var& b) {
  switch (op) {
    case Op::Concat:
      if (a.isNull() && b.isNull()) return Var::null();
      return Var::string(toText(a) + toText(b));
    case Op::Eq: case Op::Ne: case Op::Lt: case Op::Gt: case Op::Le: case Op::Ge: {
      std::optional<int> c = compareValues(a, b);
      if (!c) return Var::null();
      bool r = op == Op::Eq ? *c == 0 : op == Op::Ne ? *c != 0 : op == Op::Lt ? *c < 0
             : op == Op::Gt ? *c > 0 : op == Op::Le ? *c <= 0 : *c >= 0;
      return Var::boolean(r);
    }
    case Op::And: case Op::Or: case Op::Xor: case Op::Eqv: case Op::Imp:
      return logic(op, a, b);
    default:
      break;
  }
  if (a.isNull() || b.isNull()) return Var::null();
  // '+' joins two texts; a date plus or minus a number stays a date, two dates' difference is a number.
  if (op == Op::Add && a.type == Type::String && b.type == Type::String)
    return Var::string(std::get<std::string>(a.value) + std::get<std::string>(b.value));
  bool aDate = a.type == Type::Date, bDate = b.type == Type::Date;
  if ((op == Op::Add && (aDate || bDate)) || (op == Op::Sub && aDate && !bDate)) {
    Var r = arithmetic(op, aDate ? Var::dbl(std::get<DateTime>(a.value).days) : a,
                       bDate ? Var::dbl(std::get<DateTime>(b.value).days) : b);
    return Var::date(toDate(Var::dbl(toDouble(r))));
  }
  return arithmetic(op, a, b);
}

Var negate(const Var& a) {
  switch (a.type) {
    case Type::Null: return a;
    case Type::Date: return Var::date(-std::get<DateTime>(a.value).days);
    case Type::Byte: return wholeResult(-static_cast<__int128>(std::get<int64_t>(a.value)), Type::Integer);
    case Type::Integer: case Type::Long: case Type::LongLong:
      return wholeResult(-static_cast<__int128>(std::get<int64_t>(a.value)), a.type);
    case Type::Currency: {
      int64_t s = std::get<Currency>(a.value).scaled;
      if (s == INT64_MIN) throwOverflow();
      return Var::currency(-s);
    }
    case Type::Decimal: return Var::decimal(DecimalNumber{} - toDecimal(a));
    case Type::Single: return Var::single(-std::get<float>(a.value));
    default: {
      Var n = numericOperand(a);
      if (n.type == Type::Integer) return wholeResult(-static_cast<__int128>(std::get<int64_t>(n.value)), Type::Integer);
      return Var::dbl(-toDouble(n));
    }
  }
}

Var logicalNot(const Var& a) {
  if (a.isNull()) return a;
  if (a.type == Type::Boolean) return Var::boolean(!std::get<bool>(a.value));
  if (a.type == Type::String) {
    const std::string& s = std::get<std::string>(a.value);
    if (compareText(s, "True") == 0 || compareText(s, "False") == 0) return Var::boolean(!toBool(a));
  }
  Var n = numericOperand(a);
  Type t = n.type == Type::Byte ? Type::Byte : n.type == Type::Integer ? Type::Integer : Type::Long;
  int64_t v = toWhole(n, Type::Long);
  return wholeResult(t == Type::Byte ? (~v & 0xFF) : ~v, t);
}

}  // namespace jet::expr
