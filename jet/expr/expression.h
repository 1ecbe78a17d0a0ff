// The Access expression engine's front: an expression parsed once from its text (a validation
// rule, a default value, a calculated column's expression, a query's expression) and evaluated
// against the fields of a row as often as needed.
//
// Contract:
// - Parsing never guesses. Text that is not an expression throws jet::Error 3075 ("Syntax error ...
//   in query expression '<text>'."), a function the engine does not have throws 3085 ("Undefined
//   function '<name>' in expression."), so the caller can refuse the write that needs it.
// - Evaluation follows the expression language's types: Integer, Long, Single, Double, Currency
//   (exact to 4 places), Decimal, Date, String, Boolean and Null, with Null propagating as Access
//   propagates it. Run-time errors are jet::Error with the language's numbers: 5 invalid call,
//   6 overflow, 11 division by zero, 13 type mismatch, 94 invalid use of Null.
// - Text comparison and Like ignore case. Names of months and days, the date order (m/d/y), the
//   decimal point and the thousands separator are those of US English, the engine's one locale.
// - Results are jet::Values: whole numbers as int64_t, Single as float, Date as DateTime,
//   Currency and Decimal as themselves.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "jet/base/value.h"
#include "jet/expr/ast.h"

namespace jet::expr {

// Resolves a field name (the caller should compare names without regard to case) to its value in
// the current row; throws (typically jet::Error) for a name it does not know.
using FieldLookup = std::function<Value(std::string_view field)>;

class Expression {
 public:
  // A whole expression; a leading '=' (as in a default value "=Date()") is allowed.
  static Expression parse(std::string_view text);
  // A field's validation rule: a comparison with no left operand ("<100", ">0 And <1000",
  // "Not Like "*x*"", "Between 1 And 9", "In (1,2)", "Is Not Null") compares `field`.
  static Expression parseFieldRule(std::string_view text, std::string_view field);

  Value evaluate(const FieldLookup& fields) const;
  // The same value keeping its subtype (Integer apart from Long, and so on).
  Var evaluateVar(const FieldLookup& fields) const;

  // The distinct fields the expression reads, in the order of their first use (table qualifiers
  // dropped; names compared without regard to case).
  std::vector<std::string> fieldNames() const;
  // True when every field read is one of `allowed` (without regard to case).
  bool usesOnly(std::span<const std::string> allowed) const;
  // False when the result can differ between evaluations with the same fields (Date, Time, Now).
  bool isDeterministic() const;

  const Node& tree() const { return *root_; }
  const std::string& text() const { return text_; }

 private:
  std::shared_ptr<const Node> root_;
  std::string text_;
};

// Calls one built-in function with evaluated arguments (for engines that register the functions
// elsewhere). Throws 3085 for an unknown name, 3075 for a wrong number of arguments.
Value callFunction(std::string_view name, std::span<const Value> args);
// True when the engine has a function of that name.
bool hasFunction(std::string_view name);

// An expression's result converted for a column of the given type, by the conversion functions'
// rules (a Long column takes CLng of the value, a Text column CStr, ...). Null stays Null. Throws
// error 13 for a value that does not convert and 6 for one out of the column's range.
Value convertForColumn(const Value& result, ColumnType type, uint8_t scale = 0);

}  // namespace jet::expr
