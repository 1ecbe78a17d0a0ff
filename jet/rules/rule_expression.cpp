#include "jet/rules/rule_expression.h"

#include <cctype>
#include <cstdlib>

#include "jet/base/error.h"

namespace jet {

namespace {

constexpr int kSyntax = 3075;

std::string trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(uint8_t(s[b]))) ++b;
  while (e > b && std::isspace(uint8_t(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool sameWord(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
  return i == a.size() && !b[i];
}

// A constant: a number, a quoted text, True/False (Yes/No, On/Off) or Null. Nothing else is
// read here.
std::optional<Value> constant(const std::string& text) {
  const std::string t = trimmed(text);
  if (t.empty()) return std::nullopt;
  if (t.size() >= 2 && (t.front() == '"' || t.front() == '\'') && t.back() == t.front()) {
    const char q = t.front();
    std::string out;
    for (size_t i = 1; i + 1 < t.size(); ++i) {
      if (t[i] == q) {
        if (i + 2 < t.size() && t[i + 1] == q) ++i;  // a doubled quote stands for one
        else return std::nullopt;
      }
      out += t[i];
    }
    return Value(out);
  }
  for (const char* yes : {"True", "Yes", "On"})
    if (sameWord(t, yes)) return Value(true);
  for (const char* no : {"False", "No", "Off"})
    if (sameWord(t, no)) return Value(false);
  if (sameWord(t, "Null")) return Value(Null{});
  const char* begin = t.c_str();
  char* end = nullptr;
  const long long whole = std::strtoll(begin, &end, 10);
  if (*end == '\0' && end != begin) return Value(int64_t(whole));
  const double real = std::strtod(begin, &end);
  if (*end == '\0' && end != begin && !std::isalpha(uint8_t(begin[0]))) return Value(real);
  return std::nullopt;
}

class Constant : public RuleExpression {
 public:
  Constant(std::string text, Value v) : RuleExpression(std::move(text)), value_(std::move(v)) {}
  Value evaluate(const FieldLookup&) const override { return value_; }

 private:
  Value value_;
};

}  // namespace

std::shared_ptr<const RuleExpression> RuleExpression::parse(const std::string& text, const std::string& subject) {
  std::string body = trimmed(text);
  if (!body.empty() && body.front() == '=') body = body.substr(1);
  if (subject.empty())
    if (std::optional<Value> v = constant(body)) return std::make_shared<Constant>(text, std::move(*v));
  throw Error(kSyntax, "The expression '" + text + "' uses what this engine cannot evaluate yet; the change that needs it is refused.");
}

bool rulePasses(const Value& v) {
  if (std::holds_alternative<Null>(v)) return true;
  if (const bool* b = std::get_if<bool>(&v)) return *b;
  if (const int64_t* i = std::get_if<int64_t>(&v)) return *i != 0;
  if (const double* d = std::get_if<double>(&v)) return *d != 0;
  if (const float* f = std::get_if<float>(&v)) return *f != 0;
  if (const Currency* c = std::get_if<Currency>(&v)) return c->scaled != 0;
  throw Error(kSyntax, "A validation rule gave a value that is neither True nor False.");
}

}  // namespace jet
