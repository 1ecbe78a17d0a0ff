// Splits expression text into tokens: numbers (with &H and &O), "text" and 'text' with doubled
// quotes, #date# literals, [bracketed names], words, and the operator characters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "jet/expr/variant.h"

namespace jet::expr {

struct Token {
  enum class Kind { Number, Text, Date, Word, Bracketed, Symbol, End } kind = Kind::End;
  std::string text;  // the word, the name in brackets, or the symbol ("<=", "(", ...)
  Var value;         // Number, Text and Date
  size_t offset = 0;
};

// Throws error 3075 (naming the expression) for an unterminated string, date or name, a date that
// does not read, or a character that belongs to no token.
std::vector<Token> tokenize(std::string_view text);

// Error 3075 with Jet's wording: "<reason> in query expression '<expression>'.", the reason being
// one of Jet's own ("Syntax error (missing operator)", "Syntax error in string", "Extra )", ...).
[[noreturn]] void throwSyntax(std::string_view reason, std::string_view expression);
inline constexpr const char* kMissingOperator = "Syntax error (missing operator)";
inline constexpr const char* kMissingBracket = "Missing ), ], or Item";

}  // namespace jet::expr
