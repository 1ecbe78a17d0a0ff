// The parsed form of an expression: a tree of nodes, one per literal, field reference, function
// call and operator, as the parser builds it and the evaluator walks it. Other engines that turn
// expressions into their own language (the SQL bridge) walk the same tree.
#pragma once

#include <string>
#include <vector>

#include "jet/expr/variant.h"

namespace jet::expr {

enum class Op {
  Add, Sub, Mul, Div, IntDiv, Mod, Pow, Concat,  // arithmetic and '&'
  Eq, Ne, Lt, Gt, Le, Ge,                       // comparisons
  And, Or, Xor, Eqv, Imp,                       // logical (bitwise on numbers)
};

struct Node {
  enum class Kind {
    Literal,  // `literal`
    Field,    // `name`, with the `table` it was qualified by ("" when bare)
    Call,     // function `name` (as written) with `args`
    Negate,   // -args[0]
    Not,      // Not args[0]
    Binary,   // args[0] op args[1]
    Like,     // args[0] [Not] Like args[1]
    Between,  // args[0] [Not] Between args[1] And args[2]
    In,       // args[0] [Not] In (args[1..])
    IsNull,   // args[0] Is [Not] Null
  };
  Kind kind = Kind::Literal;
  Op op = Op::Add;
  bool negated = false;  // Not Like, Not Between, Not In, Is Not Null
  Var literal;
  std::string name;
  std::string table;
  std::vector<Node> args;
};

}  // namespace jet::expr
