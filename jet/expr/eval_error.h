// The run-time errors an expression raises while it is evaluated, with the numbers and texts of the
// language the expressions come from, carried in the engine's one error type.
#pragma once

#include <string>

#include "jet/base/error.h"

namespace jet::expr {

namespace code {
constexpr int kInvalidCall = 5;        // "Invalid procedure call or argument"
constexpr int kOverflow = 6;           // "Overflow"
constexpr int kDivisionByZero = 11;    // "Division by zero"
constexpr int kTypeMismatch = 13;      // "Type mismatch"
constexpr int kInvalidUseOfNull = 94;  // "Invalid use of Null"
constexpr int kSyntax = 3075;          // "Syntax error ... in query expression '...'."
constexpr int kUndefinedFunction = 3085;  // "Undefined function '...' in expression."
}  // namespace code

[[noreturn]] inline void throwOverflow() { throw Error(code::kOverflow, "Overflow"); }
[[noreturn]] inline void throwDivisionByZero() { throw Error(code::kDivisionByZero, "Division by zero"); }
[[noreturn]] inline void throwTypeMismatch() { throw Error(code::kTypeMismatch, "Type mismatch"); }
[[noreturn]] inline void throwInvalidCall() { throw Error(code::kInvalidCall, "Invalid procedure call or argument"); }
[[noreturn]] inline void throwInvalidUseOfNull() { throw Error(code::kInvalidUseOfNull, "Invalid use of Null"); }

}  // namespace jet::expr
