// An expression a table's rules are written in: a default value, a validation rule or a
// calculated column's expression, parsed once and evaluated over one row.
//
// An expression the engine cannot read is never guessed at: parsing it throws 3075 naming what
// is not understood, and every write that needs it is refused with that error.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "jet/base/value.h"

namespace jet {

// Finds a field of the row by name (without regard to case); nothing for a name the row lacks.
using FieldLookup = std::function<std::optional<Value>(const std::string&)>;

class RuleExpression {
 public:
  // `subject` names the field a field's validation rule is about: a rule that starts with an
  // operator (">0 And <1000", "Not Like ...", "Is Not Null", "In (...)", "Between ...") takes the
  // field as its left side. Throws 3075 when the text cannot be read.
  static std::shared_ptr<const RuleExpression> parse(const std::string& text, const std::string& subject = "");
  virtual ~RuleExpression() = default;

  // The expression's value over a row. Throws 3075 for a field the row does not have and for an
  // operation the engine cannot carry out.
  virtual Value evaluate(const FieldLookup& fields) const = 0;
  const std::string& text() const { return text_; }

 protected:
  explicit RuleExpression(std::string text) : text_(std::move(text)) {}

 private:
  std::string text_;
};

// Whether a rule's value lets a row pass: True and Null pass, False refuses; a number passes
// unless it is zero.
bool rulePasses(const Value& v);

}  // namespace jet
