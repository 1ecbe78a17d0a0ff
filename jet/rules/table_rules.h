// The rules one table keeps on its own rows, from the properties Access stores with it: each
// field's default value, validation rule and text, the table's validation rule and text, and the
// expressions of its calculated columns.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "jet/base/schema.h"
#include "jet/catalog/properties.h"
#include "jet/rules/rule_expression.h"

namespace jet {

class TableRules {
 public:
  TableRules(const TableInfo& table, const PropertyMaps& properties);

  // Whether writes need this table's rules at all (no default, rule or calculated column: no).
  bool empty() const { return empty_; }

  // A new row before any field is given: each field's default value (converted to the field's
  // type), Null where there is none; auto-numbers and calculated columns stay Null for the engine.
  // Throws 3075 for a default the engine cannot evaluate.
  std::vector<Value> defaults() const;

  // Puts each calculated column's value into the row (they cannot be given). Throws 3075 for an
  // expression the engine cannot evaluate.
  void compute(std::vector<Value>& row) const;

  // Refuses a row that breaks a validation rule: the rule's ValidationText as 3316, or without one
  // 3317 naming the rule. A field's rule is checked on an insert (`old` null) and when the field
  // changes; the table's rule on every write. A rule that comes out Null lets the row pass.
  void validate(const std::vector<Value>& row, const std::vector<Value>* old) const;

 private:
  // An expression as stored, parsed on first use (a text that cannot be parsed is refused only by
  // the writes that need it).
  struct Rule {
    std::string text;
    std::string subject;  // the field a field rule is about
    std::string message;  // the ValidationText
    mutable std::shared_ptr<const RuleExpression> parsed;
    const RuleExpression& expression() const;
  };
  struct FieldRules {
    size_t column = 0;
    std::unique_ptr<Rule> defaultValue, validation, calculation;
  };
  Value evaluate(const Rule& rule, const std::vector<Value>& row) const;

  std::string table_;
  std::vector<ColumnInfo> columns_;
  std::vector<FieldRules> fields_;
  std::unique_ptr<Rule> tableRule_;
  bool empty_ = true;
};

// A value converted to a column's type as a default or a calculated result is stored (a number
// into a text field as its text, a text of digits into a number field); 3421 when it cannot be.
Value convertForColumn(const ColumnInfo& column, const Value& v);

}  // namespace jet
