// Reads expression text into its tree, with the operators' precedence from tightest to loosest:
// ^, unary -, * and /, \, Mod, + and -, &, the comparisons (= <> < > <= >= Like Between In Is),
// Not, And, Or, Xor, Eqv, Imp.
#pragma once

#include <string_view>

#include "jet/expr/ast.h"

namespace jet::expr {

// Throws error 3075 for text that is not an expression and 3085 for a function the engine does
// not have. `impliedField`, when not empty, makes a comparison with no left operand ("<100",
// "Is Not Null", "Not Like "*x*"", "Between 1 And 9") compare that field, as a field's validation
// rule does. A leading '=' is skipped when there is no implied field.
Node parseExpression(std::string_view text, std::string_view impliedField = {});

}  // namespace jet::expr
