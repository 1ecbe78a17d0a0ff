#include "jet/rules/table_rules.h"

#include <cctype>

#include "jet/base/error.h"
#include "jet/base/names.h"

namespace jet {

namespace {

using err::kSyntax;
using err::kValidationRule;
using err::kValidationText;

// The text of a property of an owner (the table itself under ""), "" when it is not set.
std::string property(const PropertyMaps& maps, const std::string& owner, const char* name) {
  for (const auto& [o, map] : maps) {
    if (!sameName(o, owner)) continue;
    for (const auto& [n, v] : map)
      if (sameName(n, name)) return v.text;
  }
  return {};
}

bool blank(const std::string& s) {
  for (char c : s)
    if (!std::isspace(uint8_t(c))) return false;
  return true;
}

// Whether a rule's value lets a row pass: True and Null pass, False refuses; a number passes
// unless it is zero.
bool rulePasses(const Value& v) {
  if (isNull(v)) return true;
  if (const bool* b = std::get_if<bool>(&v)) return *b;
  if (const int64_t* i = std::get_if<int64_t>(&v)) return *i != 0;
  if (const double* d = std::get_if<double>(&v)) return *d != 0;
  if (const float* f = std::get_if<float>(&v)) return *f != 0;
  if (const Currency* c = std::get_if<Currency>(&v)) return c->scaled != 0;
  if (const std::string* s = std::get_if<std::string>(&v)) return rulePasses(expr::convertForColumn(*s, ColumnType::Boolean));
  throw Error(err::kConversion, "A validation rule gave a value that is neither True nor False.");
}

}  // namespace

Value convertForColumn(const ColumnInfo& column, const Value& v) {
  try {
    return expr::convertForColumn(v, column.type, column.scale);
  } catch (const Error& e) {
    throw Error(err::kConversion, "Data type conversion error: " + toText(v) + " does not fit the field '" +
                                      column.name + "' (" + e.what() + ").");
  }
}

const expr::Expression& TableRules::Rule::expression() const {
  if (!parsed) parsed = subject.empty() ? expr::Expression::parse(text) : expr::Expression::parseFieldRule(text, subject);
  return *parsed;
}

TableRules::TableRules(const TableInfo& table, const PropertyMaps& properties)
    : table_(table.name), columns_(table.columns) {
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const ColumnInfo& c = table.columns[i];
    FieldRules f;
    f.column = i;
    auto make = [&](const char* name, const std::string& subject) -> std::unique_ptr<Rule> {
      const std::string text = property(properties, c.name, name);
      if (blank(text)) return nullptr;
      auto r = std::make_unique<Rule>();
      r->text = text;
      r->subject = subject;
      return r;
    };
    if (!c.autoNumber && !c.calculated) f.defaultValue = make("DefaultValue", "");
    if (!c.calculated) f.validation = make("ValidationRule", c.name);
    if (f.validation) f.validation->message = property(properties, c.name, "ValidationText");
    if (c.calculated) f.calculation = make("Expression", "");
    if (f.defaultValue || f.validation || f.calculation) fields_.push_back(std::move(f));
  }
  const std::string rule = property(properties, "", "ValidationRule");
  if (!blank(rule)) {
    tableRule_ = std::make_unique<Rule>();
    tableRule_->text = rule;
    tableRule_->message = property(properties, "", "ValidationText");
  }
  empty_ = fields_.empty() && !tableRule_;
}

Value TableRules::evaluate(const Rule& rule, const std::vector<Value>& row) const {
  return rule.expression().evaluate([&](std::string_view name) -> Value {
    for (size_t i = 0; i < columns_.size() && i < row.size(); ++i)
      if (sameName(columns_[i].name, std::string(name))) return row[i];
    throw Error(kSyntax, "The expression '" + rule.text + "' names a field '" + std::string(name) +
                             "' that table '" + table_ + "' does not have.");
  });
}

std::vector<Value> TableRules::defaults() const {
  std::vector<Value> row(columns_.size(), Null{});
  for (const FieldRules& f : fields_)
    if (f.defaultValue) row[f.column] = convertForColumn(columns_[f.column], evaluate(*f.defaultValue, row));
  return row;
}

void TableRules::compute(std::vector<Value>& row) const {
  for (const FieldRules& f : fields_)
    if (f.calculation && f.column < row.size())
      row[f.column] = convertForColumn(columns_[f.column], evaluate(*f.calculation, row));
}

void TableRules::validate(const std::vector<Value>& row, const std::vector<Value>* old) const {
  auto refuse = [&](const Rule& rule, const std::string& where) {
    if (!blank(rule.message)) throw Error(kValidationText, rule.message);
    throw Error(kValidationRule, "One or more values are prohibited by the validation rule '" + rule.text +
                                     "' set for '" + where + "'. Enter a value that the expression for this field can accept.");
  };
  for (const FieldRules& f : fields_) {
    if (!f.validation || f.column >= row.size()) continue;
    if (old && f.column < old->size() && (*old)[f.column] == row[f.column]) continue;
    if (!rulePasses(evaluate(*f.validation, row))) refuse(*f.validation, table_ + "." + columns_[f.column].name);
  }
  if (tableRule_ && !rulePasses(evaluate(*tableRule_, row))) refuse(*tableRule_, table_);
}

}  // namespace jet
