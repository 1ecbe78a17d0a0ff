// The expression tokenizer.
#include "jet/expr/lexer.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "jet/expr/dates.h"
#include "jet/expr/eval_error.h"

namespace jet::expr {

void throwSyntax(std::string_view reason, std::string_view expression) {
  throw Error(code::kSyntax, std::string(reason) + " in query expression '" + std::string(expression) + "'.");
}

namespace {

bool wordStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool wordChar(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }

Var numberLiteral(std::string_view digits, bool integral) {
  if (integral) {
    // Integer when it fits 16 bits, Long when 32, else Double.
    double d = std::strtod(std::string(digits).c_str(), nullptr);
    if (d <= 2147483647.0) return Var::wholeNumber(static_cast<int64_t>(d));
    return Var::dbl(d);
  }
  return Var::dbl(std::strtod(std::string(digits).c_str(), nullptr));
}

}  // namespace

std::vector<Token> tokenize(std::string_view s) {
  std::vector<Token> out;
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (std::isspace(c)) {
      ++i;
      continue;
    }
    Token t;
    t.offset = i;
    if (std::isdigit(c) || (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      size_t j = i;
      bool integral = true;
      while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
      if (j < s.size() && s[j] == '.') {
        integral = false;
        ++j;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
      }
      if (j < s.size() && (s[j] == 'E' || s[j] == 'e')) {
        size_t k = j + 1;
        if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
        if (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) {
          integral = false;
          j = k;
          while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
        }
      }
      if (j < s.size() && wordChar(static_cast<unsigned char>(s[j]))) throwSyntax(kMissingOperator, s);
      t.kind = Token::Kind::Number;
      t.value = numberLiteral(s.substr(i, j - i), integral);
      if (t.value.type == Type::Double && !std::isfinite(std::get<double>(t.value.value))) throwOverflow();
      i = j;
    } else if (c == '&' && i + 2 < s.size() && std::strchr("HhOo", s[i + 1]) &&
               std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      bool hex = s[i + 1] == 'H' || s[i + 1] == 'h';
      size_t j = i + 2;
      uint64_t v = 0;
      while (j < s.size() && wordChar(static_cast<unsigned char>(s[j]))) {
        char d = static_cast<char>(std::tolower(static_cast<unsigned char>(s[j])));
        int n = std::isdigit(static_cast<unsigned char>(d)) ? d - '0' : (d >= 'a' && d <= 'f') ? d - 'a' + 10 : 99;
        if (n >= (hex ? 16 : 8)) throwSyntax("Syntax error in number", s);
        v = v * (hex ? 16 : 8) + static_cast<uint64_t>(n);
        if (v > 0xFFFFFFFFull) throwOverflow();
        ++j;
      }
      t.kind = Token::Kind::Number;
      // 16-bit when it fits 16 bits (&HFFFF is -1), else 32-bit.
      t.value = v <= 0xFFFF ? Var::integer(static_cast<int16_t>(v), Type::Integer)
                            : Var::integer(static_cast<int32_t>(v), Type::Long);
      i = j;
    } else if (c == '"' || c == '\'') {
      std::string text;
      size_t j = i + 1;
      for (;; ++j) {
        if (j >= s.size()) throwSyntax("Syntax error in string", s);
        if (s[j] == static_cast<char>(c)) {
          if (j + 1 < s.size() && s[j + 1] == static_cast<char>(c)) {
            text += s[j++];
            continue;
          }
          break;
        }
        text += s[j];
      }
      t.kind = Token::Kind::Text;
      t.value = Var::string(text);
      i = j + 1;
    } else if (c == '#') {
      size_t close = s.find('#', i + 1);
      if (close == std::string_view::npos) throwSyntax("Syntax error in date", s);
      double serial;
      if (!parseDate(s.substr(i + 1, close - i - 1), serial)) throwSyntax("Syntax error in date", s);
      t.kind = Token::Kind::Date;
      t.value = Var::date(serial);
      i = close + 1;
    } else if (c == '[') {
      size_t close = s.find(']', i + 1);
      if (close == std::string_view::npos) throwSyntax(kMissingBracket, s);
      t.kind = Token::Kind::Bracketed;
      t.text = std::string(s.substr(i + 1, close - i - 1));
      i = close + 1;
    } else if (wordStart(c)) {
      size_t j = i;
      while (j < s.size() && wordChar(static_cast<unsigned char>(s[j]))) ++j;
      t.kind = Token::Kind::Word;
      t.text = std::string(s.substr(i, j - i));
      i = j;
    } else {
      static const char* const kTwo[] = {"<=", ">=", "<>"};
      t.kind = Token::Kind::Symbol;
      for (const char* two : kTwo)
        if (s.substr(i, 2) == two) t.text = two;
      if (t.text.empty()) {
        if (!std::strchr("()+-*/\\^&=<>,.!", static_cast<char>(c))) throwSyntax("Syntax error", s);
        t.text = std::string(1, static_cast<char>(c));
      }
      i += t.text.size();
    }
    out.push_back(std::move(t));
  }
  Token end;
  end.offset = s.size();
  out.push_back(end);
  return out;
}

}  // namespace jet::expr
