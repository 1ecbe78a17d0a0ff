// Evaluation of a parsed expression: a walk over its tree.
#include "jet/expr/expression.h"

#include "jet/expr/dates.h"
#include "jet/expr/eval_error.h"
#include "jet/expr/functions.h"
#include "jet/expr/lexer.h"
#include "jet/expr/like.h"
#include "jet/expr/operators.h"
#include "jet/expr/parser.h"

namespace jet::expr {

namespace {

Var eval(const Node& n, const FieldLookup& fields);

Var evalLike(const Node& n, const FieldLookup& fields) {
  Var text = eval(n.args[0], fields), pattern = eval(n.args[1], fields);
  if (text.isNull() || pattern.isNull()) return Var::null();
  return Var::boolean(matchLike(toText(text), toText(pattern)) != n.negated);
}

Var evalBetween(const Node& n, const FieldLookup& fields) {
  Var v = eval(n.args[0], fields);
  Var lower = applyBinary(Op::Ge, v, eval(n.args[1], fields));
  Var upper = applyBinary(Op::Le, v, eval(n.args[2], fields));
  Var r = applyBinary(Op::And, lower, upper);
  return n.negated ? logicalNot(r) : r;
}

Var evalIn(const Node& n, const FieldLookup& fields) {
  Var v = eval(n.args[0], fields);
  if (v.isNull()) return Var::null();
  bool sawNull = false;
  for (size_t i = 1; i < n.args.size(); ++i) {
    std::optional<int> c = compareValues(v, eval(n.args[i], fields));
    if (!c) {
      sawNull = true;
    } else if (*c == 0) {
      return Var::boolean(!n.negated);
    }
  }
  return sawNull ? Var::null() : Var::boolean(n.negated);
}

Var evalCall(const Node& n, const FieldLookup& fields) {
  const FunctionInfo* f = findFunction(n.name);
  if (!f) throw Error(code::kUndefinedFunction, "Undefined function '" + n.name + "' in expression.");
  // IIf evaluates only the branch it returns, so IIf([x]=0, 0, 1/[x]) never divides by zero.
  if (std::string_view(f->name) == "IIf") {
    Var cond = eval(n.args[0], fields);
    bool take = !cond.isNull() && toBool(cond);
    return eval(n.args[take ? 1 : 2], fields);
  }
  std::vector<Var> args;
  args.reserve(n.args.size());
  for (const Node& a : n.args) args.push_back(eval(a, fields));
  return f->body(args);
}

Var eval(const Node& n, const FieldLookup& fields) {
  switch (n.kind) {
    case Node::Kind::Literal: return n.literal;
    case Node::Kind::Field: return Var::fromValue(fields(n.name));
    case Node::Kind::Call: return evalCall(n, fields);
    case Node::Kind::Negate: return negate(eval(n.args[0], fields));
    case Node::Kind::Not: return logicalNot(eval(n.args[0], fields));
    case Node::Kind::Binary: {
      Var a = eval(n.args[0], fields);
      return applyBinary(n.op, a, eval(n.args[1], fields));
    }
    case Node::Kind::Like: return evalLike(n, fields);
    case Node::Kind::Between: return evalBetween(n, fields);
    case Node::Kind::In: return evalIn(n, fields);
    case Node::Kind::IsNull: return Var::boolean(eval(n.args[0], fields).isNull() != n.negated);
  }
  return Var::null();
}

void collectFields(const Node& n, std::vector<std::string>& out) {
  if (n.kind == Node::Kind::Field) {
    bool seen = false;
    for (const std::string& s : out) seen = seen || compareText(s, n.name) == 0;
    if (!seen) out.push_back(n.name);
  }
  for (const Node& a : n.args) collectFields(a, out);
}

bool deterministic(const Node& n) {
  if (n.kind == Node::Kind::Call) {
    const FunctionInfo* f = findFunction(n.name);
    if (f && !f->deterministic) return false;
  }
  for (const Node& a : n.args)
    if (!deterministic(a)) return false;
  return true;
}

Value toValue(const Var& v) {
  if (v.type == Type::Null) return Null{};
  return v.value;
}

}  // namespace

Expression Expression::parse(std::string_view text) {
  Expression e;
  e.root_ = std::make_shared<const Node>(parseExpression(text));
  e.text_ = std::string(text);
  return e;
}

Expression Expression::parseFieldRule(std::string_view text, std::string_view field) {
  Expression e;
  e.root_ = std::make_shared<const Node>(parseExpression(text, field));
  e.text_ = std::string(text);
  return e;
}

Var Expression::evaluateVar(const FieldLookup& fields) const { return eval(*root_, fields); }

Value Expression::evaluate(const FieldLookup& fields) const { return toValue(evaluateVar(fields)); }

std::vector<std::string> Expression::fieldNames() const {
  std::vector<std::string> out;
  collectFields(*root_, out);
  return out;
}

bool Expression::usesOnly(std::span<const std::string> allowed) const {
  for (const std::string& name : fieldNames()) {
    bool ok = false;
    for (const std::string& a : allowed) ok = ok || compareText(a, name) == 0;
    if (!ok) return false;
  }
  return true;
}

bool Expression::isDeterministic() const { return deterministic(*root_); }

bool hasFunction(std::string_view name) { return findFunction(name) != nullptr; }

Value convertForColumn(const Value& result, ColumnType type, uint8_t scale) {
  Var v = Var::fromValue(result);
  if (v.isNull()) return Null{};
  switch (type) {
    case ColumnType::Boolean: return toBool(v);
    case ColumnType::Byte: return toWhole(v, Type::Byte);
    case ColumnType::Integer: return toWhole(v, Type::Integer);
    case ColumnType::Long: case ColumnType::Complex: return toWhole(v, Type::Long);
    case ColumnType::BigInt: return toWhole(v, Type::LongLong);
    case ColumnType::Currency: return Currency{toCurrency(v)};
    case ColumnType::Single: return std::get<float>(convert(v, Type::Single).value);
    case ColumnType::Double: return toDouble(v);
    case ColumnType::DateTime: return DateTime{toDate(v)};
    case ColumnType::Numeric: return toDecimal(v).withScale(scale).toValue();
    case ColumnType::Text: case ColumnType::Memo: return toText(v);
    case ColumnType::Binary: case ColumnType::Ole:
      if (v.type == Type::Binary) return v.value;
      throwTypeMismatch();
    case ColumnType::DateTimeExtended: {
      if (std::holds_alternative<DateTimeExtended>(result)) return result;
      double serial = toDate(v);
      // Days from 0001-01-01; 1899-12-30 is day 693593.
      return DateTimeExtended{dayNumber(serial) + 693593, static_cast<int32_t>(secondsOfDay(serial)), 0};
    }
    case ColumnType::Guid:
      if (v.type != Type::String) throwTypeMismatch();
      try {
        return fromText(type, toText(v));
      } catch (const Error&) {
        throwTypeMismatch();
      }
  }
  throwTypeMismatch();
}

Value callFunction(std::string_view name, std::span<const Value> args) {
  const FunctionInfo* f = findFunction(name);
  if (!f) throw Error(code::kUndefinedFunction, "Undefined function '" + std::string(name) + "' in expression.");
  int count = static_cast<int>(args.size());
  if (count < f->minArgs || count > f->maxArgs)
    throwSyntax("Wrong number of arguments used with function", name);
  std::vector<Var> vars;
  vars.reserve(args.size());
  for (const Value& v : args) vars.push_back(Var::fromValue(v));
  return toValue(f->body(vars));
}

}  // namespace jet::expr
