// The operators on evaluated values, with the types and Null rules of the expression language:
// arithmetic picks the wider operand type (Integer results that overflow widen to Long, Long to
// Double; Currency and Decimal stay exact, and overflow there is error 6), '/' gives Double (Single
// or Decimal where both sides allow), '\' and Mod work on whole numbers; Null in arithmetic and
// comparison gives Null, '&' treats Null as "", and the logical operators are three-valued on
// Booleans (Null Or True is True, Null And False is False) and bitwise on numbers.
#pragma once

#include <optional>

#include "jet/expr/ast.h"

namespace jet::expr {

Var applyBinary(Op op, const Var& a, const Var& b);
Var negate(const Var& a);
Var logicalNot(const Var& a);
// -1, 0, 1; nullopt when either side is Null. Text compares without regard to case; text against
// a number or date is read as one (error 13 when it is not).
std::optional<int> compareValues(const Var& a, const Var& b);

}  // namespace jet::expr
