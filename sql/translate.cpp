#include "sql/translate.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace sql {

namespace {
bool nameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || (c & 0x80); }
}  // namespace

std::vector<Token> tokenize(const std::string& s) {
  std::vector<Token> out;
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    Token t;
    if (std::isspace(static_cast<unsigned char>(c))) {
      size_t j = i;
      while (j < s.size() && std::isspace(static_cast<unsigned char>(s[j]))) ++j;
      t = {Token::Space, " "};
      i = j;
    } else if (c == '[') {
      size_t j = s.find(']', i + 1);
      if (j == std::string::npos) throw Untranslatable("a name in brackets is not closed");
      t = {Token::Bracket, s.substr(i + 1, j - i - 1)};
      i = j + 1;
    } else if (c == '"' || c == '\'') {
      std::string text;
      size_t j = i + 1;
      for (;; ++j) {
        if (j >= s.size()) throw Untranslatable("a text in quotes is not closed");
        if (s[j] == c) {
          if (j + 1 < s.size() && s[j + 1] == c) {
            text.push_back(c);
            ++j;
            continue;
          }
          break;
        }
        text.push_back(s[j]);
      }
      t = {Token::String, text};
      i = j + 1;
    } else if (c == '#') {
      size_t j = s.find('#', i + 1);
      if (j == std::string::npos) throw Untranslatable("a date in # is not closed");
      t = {Token::Date, s.substr(i + 1, j - i - 1)};
      i = j + 1;
    } else if (std::isdigit(static_cast<unsigned char>(c)) || (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      size_t j = i;
      while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '.' ||
                              ((s[j] == '+' || s[j] == '-') && (s[j - 1] == 'e' || s[j - 1] == 'E'))))
        ++j;
      t = {Token::Number, s.substr(i, j - i)};
      i = j;
    } else if (nameChar(c)) {
      size_t j = i;
      while (j < s.size() && nameChar(s[j])) ++j;
      t = {Token::Word, s.substr(i, j - i)};
      i = j;
    } else if (c == '(' || c == ')' || c == ',') {
      t = {c == '(' ? Token::Open : c == ')' ? Token::Close : Token::Comma, std::string(1, c)};
      ++i;
    } else {
      std::string op(1, c);
      if (i + 1 < s.size()) {
        const std::string two = s.substr(i, 2);
        if (two == "<>" || two == "<=" || two == ">=" || two == "!=") op = two;
      }
      t = {Token::Op, op};
      i += op.size();
    }
    out.push_back(std::move(t));
  }
  return out;
}

namespace {

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}


std::string quoted(const std::string& text, char q) {
  std::string out(1, q);
  for (char c : text) {
    if (c == q) out.push_back(q);
    out.push_back(c);
  }
  out.push_back(q);
  return out;
}

// An Access Like pattern as SQLite's LIKE pattern with '\' as its escape.
std::string likePattern(const std::string& p, bool& escaped) {
  std::string out;
  escaped = false;
  for (size_t i = 0; i < p.size(); ++i) {
    const char c = p[i];
    if (c == '*') out.push_back('%');
    else if (c == '?') out.push_back('_');
    else if (c == '#') throw Untranslatable("a Like pattern with # (any digit)");
    else if (c == '[') {
      // Only a bracketed single special character is taken literally; lists and ranges are not.
      if (i + 2 < p.size() && p[i + 2] == ']' && std::string("*?#[").find(p[i + 1]) != std::string::npos) {
        out.push_back(p[i + 1]);
        i += 2;
      } else {
        throw Untranslatable("a Like pattern with a list of characters");
      }
    } else if (c == '%' || c == '_' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
      escaped = true;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool stopsConcatenation(const Token& t) {
  if (t.kind == Token::Comma) return true;
  if (t.kind == Token::Op)
    return t.text == "=" || t.text == "<" || t.text == ">" || t.text == "<=" || t.text == ">=" || t.text == "<>" ||
           t.text == "!=" || t.text == "&" || t.text == ";";
  if (t.kind != Token::Word) return false;
  static const char* const kWords[] = {"AND", "OR", "NOT", "XOR", "EQV", "IMP", "IS", "IN", "BETWEEN", "LIKE", "SELECT",
                                       "FROM", "WHERE", "ON", "AS", "HAVING", "BY", "THEN", "ELSE", "WHEN", "CASE",
                                       "END", "UNION", "ALL", "DISTINCT", "SET", "VALUES", "INTO", "ESCAPE"};
  const std::string u = upper(t.text);
  return std::any_of(std::begin(kWords), std::end(kWords), [&](const char* w) { return u == w; });
}

std::string joined(const std::vector<Token>& t, size_t from, size_t to) {
  std::string s;
  for (size_t i = from; i < to; ++i) s += t[i].text;
  while (!s.empty() && s.back() == ' ') s.pop_back();
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  return s;
}

// a & b: both sides as text, Null as an empty text (Access's concatenation).
void concatenations(std::vector<Token>& t) {
  for (;;) {
    auto amp = std::find_if(t.begin(), t.end(), [](const Token& x) { return x.kind == Token::Op && x.text == "&"; });
    if (amp == t.end()) return;
    const size_t i = static_cast<size_t>(amp - t.begin());
    size_t l = i;
    for (int depth = 0; l > 0; --l) {
      const Token& x = t[l - 1];
      if (x.kind == Token::Close) ++depth;
      else if (x.kind == Token::Open && depth-- == 0) break;
      else if (depth == 0 && stopsConcatenation(x)) break;
    }
    size_t r = i + 1;
    for (int depth = 0; r < t.size(); ++r) {
      const Token& x = t[r];
      if (x.kind == Token::Open) ++depth;
      else if (x.kind == Token::Close && depth-- == 0) break;
      else if (depth == 0 && stopsConcatenation(x)) break;
    }
    const std::string left = joined(t, l, i), right = joined(t, i + 1, r);
    if (left.empty() || right.empty()) throw Untranslatable("an & without two sides");
    Token done{Token::Done, " (coalesce(" + left + ", '') || coalesce(" + right + ", '')) "};
    t.erase(t.begin() + static_cast<long>(l), t.begin() + static_cast<long>(r));
    t.insert(t.begin() + static_cast<long>(l), done);
  }
}

int parameterNumber(const std::string& name, const TranslateContext& c) {
  for (size_t i = 0; i < c.parameters.size(); ++i)
    if (upper(c.parameters[i]) == upper(name)) return static_cast<int>(i + 1);
  return 0;
}

size_t nextSolid(const std::vector<Token>& t, size_t i) {
  while (i < t.size() && t[i].kind == Token::Space) ++i;
  return i;
}

// IIf(c, a, b) at t[at], its parenthesis at t[open], as CASE WHEN c THEN a ELSE b END, for targets
// without IIf (a Null condition takes b in both). The new words take the kinds of the tokens they
// replace, so that nesting and the sides of an & are found as before; the arguments are translated
// as the loop reaches them.
void caseOfIIf(std::vector<Token>& t, size_t at, size_t open) {
  std::vector<size_t> commas;
  size_t close = 0;
  for (size_t j = open + 1, depth = 0; j < t.size() && !close; ++j)
    if (t[j].kind == Token::Open) ++depth;
    else if (t[j].kind == Token::Close && depth-- == 0) close = j;
    else if (t[j].kind == Token::Comma && depth == 0) commas.push_back(j);
  if (!close || commas.size() != 2) throw Untranslatable("an IIf without its three arguments");
  t[at] = {Token::Space, ""};
  t[open] = {Token::Open, "(CASE WHEN "};
  t[commas[0]] = {Token::Comma, " THEN "};
  t[commas[1]] = {Token::Comma, " ELSE "};
  t[close] = {Token::Close, " END)"};
}

}  // namespace

std::string dateLiteral(const std::string& text) {
  int a = 0, b = 0, c = 0, h = 0, m = 0, s = 0, n = 0;
  char ampm[3] = {0, 0, 0};
  std::string t = text;
  while (!t.empty() && t.front() == ' ') t.erase(t.begin());
  int year, month, day;
  const char* p = t.c_str();
  if (std::sscanf(p, "%d-%d-%d%n", &a, &b, &c, &n) == 3 && a > 31) {
    year = a, month = b, day = c;
  } else if (std::sscanf(p, "%d/%d/%d%n", &a, &b, &c, &n) == 3) {
    month = a, day = b, year = c < 100 ? (c < 30 ? 2000 + c : 1900 + c) : c;
  } else if (std::sscanf(p, "%d:%d%n", &a, &b, &n) == 2) {
    year = 1899, month = 12, day = 30, n = 0;
  } else {
    return "";
  }
  p += n;
  int k = 0;
  if (std::sscanf(p, " %d:%d%n", &h, &m, &k) == 2) {
    p += k;
    if (std::sscanf(p, ":%d%n", &s, &k) == 1) p += k;
    if (std::sscanf(p, " %2[AaPp]", ampm) == 1) {
      const bool pm = ampm[0] == 'P' || ampm[0] == 'p';
      if (h == 12) h = pm ? 12 : 0;
      else if (pm) h += 12;
    }
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || h > 23 || m > 59 || s > 59) return "";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, h, m, s);
  return buf;
}

std::string translate(const std::string& access, const TranslateContext& context) {
  std::vector<Token> t = tokenize(access);
  for (size_t i = 0; i < t.size(); ++i) {
    Token& x = t[i];
    switch (x.kind) {
      case Token::Bracket:
      case Token::Word: {
        if (i + 1 < t.size() && t[i + 1].kind == Token::Op && t[i + 1].text == "!")
          throw Untranslatable("a parameter taken from a form or report (" + x.text + "!...)");
        const size_t after = nextSolid(t, i + 1);
        const bool call = after < t.size() && t[after].kind == Token::Open;
        if (int p = parameterNumber(x.text, context); p && !call) {
          x = {Token::Done, "?" + std::to_string(p)};
          break;
        }
        if (x.kind == Token::Bracket) {
          x = {Token::Done, quoted(x.text, '"')};
          break;
        }
        const std::string u = upper(x.text);
        // Keywords stay keywords (also before a parenthesis: ON (...), IN (...)).
        static const char* const kKeep[] = {"AND", "OR", "NOT", "IS", "NULL", "IN", "BETWEEN", "SELECT", "FROM",
                                            "WHERE", "ON", "AS", "HAVING", "BY", "GROUP", "ORDER", "ASC", "DESC",
                                            "UNION", "ALL", "DISTINCT", "INNER", "LEFT", "RIGHT", "OUTER", "JOIN",
                                            "EXISTS", "ANY", "SOME", "INTO", "VALUES", "SET", "INSERT", "UPDATE",
                                            "DELETE", "CASE", "WHEN", "THEN", "ELSE", "END", "ESCAPE"};
        const bool keyword = std::any_of(std::begin(kKeep), std::end(kKeep), [&](const char* w) { return u == w; });
        if (call && u == "IIF" && context.dialect != Dialect::Bridge) {
          caseOfIIf(t, i, after);
          break;
        }
        if (call && !(keyword && u != "LEFT" && u != "RIGHT")) {
          if (!context.knownFunction || !context.knownFunction(x.text)) throw Untranslatable("an unknown function " + x.text);
          // Quoted, so that names SQL keeps for itself (Left, Right) are calls too.
          x = {Token::Done, quoted(x.text, '"')};
          break;
        }
        if (keyword) {
          x = {Token::Done, u};
          break;
        }
        const bool postgres = context.dialect == Dialect::Postgres;
        if (u == "TRUE" || u == "YES") x = {Token::Done, postgres ? "TRUE" : "1"};
        else if (u == "FALSE" || u == "NO") x = {Token::Done, postgres ? "FALSE" : "0"};
        else if (u == "MOD") x = {Token::Done, "%"};
        else if (u == "DISTINCTROW" || u == "TOP" || u == "PIVOT" || u == "TRANSFORM")
          throw Untranslatable(u + " inside a statement");
        else if (u == "XOR" || u == "EQV" || u == "IMP")
          throw Untranslatable("the operator " + u);
        else if (u == "LIKE") {
          const size_t p = nextSolid(t, i + 1);
          if (p >= t.size() || t[p].kind != Token::String) throw Untranslatable("a Like pattern that is not a literal text");
          bool escaped = false;
          const std::string pattern = likePattern(t[p].text, escaped);
          t[p] = {Token::Done, quoted(pattern, '\'') + (escaped ? " ESCAPE '\\'" : "")};
          x = {Token::Done, "LIKE"};
        } else {
          x = {Token::Done, quoted(x.text, '"')};
        }
        break;
      }
      case Token::String: x = {Token::Done, quoted(x.text, '\'')}; break;
      case Token::Date: {
        std::string d = dateLiteral(x.text);
        if (d.empty()) throw Untranslatable("the date #" + x.text + "#");
        x = {Token::Done, "'" + d + "'"};
        break;
      }
      case Token::Op:
        if (x.text == "\\" || x.text == "^") throw Untranslatable("the operator " + x.text);
        if (x.text == "!") throw Untranslatable("a parameter taken from a form or report");
        if (x.text == "&" && i + 1 < t.size() && t[i + 1].kind == Token::Word &&
            (t[i + 1].text[0] == 'H' || t[i + 1].text[0] == 'h')) {
          // &H1F: a hexadecimal number.
          x = {Token::Done, std::to_string(std::stoll(t[i + 1].text.substr(1), nullptr, 16))};
          t.erase(t.begin() + static_cast<long>(i) + 1);
        }
        break;
      default: break;
    }
  }
  concatenations(t);
  std::string out;
  for (const Token& x : t) out += x.text;
  return out;
}

}  // namespace sql
