#include "jet/rules/rule_expression.h"

#include "jet/base/error.h"
#include "jet/expr/expression.h"

namespace jet {

namespace {

constexpr int kSyntax = 3075;

class Parsed : public RuleExpression {
 public:
  Parsed(const std::string& text, expr::Expression e) : RuleExpression(text), expression_(std::move(e)) {}
  Value evaluate(const FieldLookup& fields) const override {
    return expression_.evaluate([&](std::string_view name) -> Value {
      if (std::optional<Value> v = fields(std::string(name))) return *v;
      throw Error(kSyntax, "The expression '" + text() + "' names a field '" + std::string(name) +
                               "' that the table does not have.");
    });
  }

 private:
  expr::Expression expression_;
};

}  // namespace

std::shared_ptr<const RuleExpression> RuleExpression::parse(const std::string& text, const std::string& subject) {
  return std::make_shared<Parsed>(text, subject.empty() ? expr::Expression::parse(text)
                                                        : expr::Expression::parseFieldRule(text, subject));
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
