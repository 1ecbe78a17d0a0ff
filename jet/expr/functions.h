// The built-in functions of the expression language: one table of names with their argument counts,
// whether they give the same result for the same arguments, and their code. Text, number and
// conversion functions live in functions.cpp, date functions in date_functions.cpp, Format in
// format.cpp.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "jet/expr/variant.h"

namespace jet::expr {

using FunctionBody = Var (*)(std::span<const Var> args);

struct FunctionInfo {
  const char* name;
  int minArgs;
  int maxArgs;
  bool deterministic;  // false for the clock's functions
  FunctionBody body;
};

// Case-insensitive; nullptr for a function the engine does not have.
const FunctionInfo* findFunction(std::string_view name);

// The parts of the table, each defined beside its functions.
std::span<const FunctionInfo> textAndNumberFunctions();
std::span<const FunctionInfo> dateFunctions();

// Format(value, format) as the Format function does it (in format.cpp).
Var formatFunction(std::span<const Var> args);

// Argument helpers shared by the function files: an optional argument that is present and not
// Null, and whole-number arguments (error 94 for Null, 13 for text that is not a number).
inline bool given(std::span<const Var> a, size_t i) { return i < a.size() && !a[i].isNull(); }
int64_t wholeArg(const Var& v);

}  // namespace jet::expr
