// The run-time errors an expression raises while it is evaluated, with the numbers and texts of the
// language the expressions come from, carried in the engine's one error type.
#pragma once

#include <string>

#include "jet/base/error.h"

namespace jet::expr {

// The numbers are the engine's (jet/base/error.h).
namespace code = ::jet::err;

[[noreturn]] inline void throwOverflow() { throw Error(code::kOverflow, "Overflow"); }
[[noreturn]] inline void throwDivisionByZero() { throw Error(code::kDivisionByZero, "Division by zero"); }
[[noreturn]] inline void throwTypeMismatch() { throw Error(code::kTypeMismatch, "Type mismatch"); }
[[noreturn]] inline void throwInvalidCall() { throw Error(code::kInvalidCall, "Invalid procedure call or argument"); }
[[noreturn]] inline void throwInvalidUseOfNull() { throw Error(code::kInvalidUseOfNull, "Invalid use of Null"); }

}  // namespace jet::expr
