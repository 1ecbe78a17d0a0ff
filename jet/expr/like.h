// The Like operator's pattern matching, usable on its own: '*' any run of characters, '?' one
// character, '#' one digit, "[abc]" / "[a-z]" one of a set, "[!abc]" one not in it ("[*]" and
// "[#]" match the character itself). Letters compare without regard to case, as text comparisons
// in the engine do. A '[' without its ']' raises error 93 "Invalid pattern string".
#pragma once

#include <string>
#include <string_view>

namespace jet::expr {

bool matchLike(std::string_view text, std::string_view pattern);
// The code points of a UTF-8 text (a malformed byte stands for itself).
std::u32string decodeUtf8(std::string_view s);

}  // namespace jet::expr
