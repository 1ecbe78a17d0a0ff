#include "jet/rules/table_rules.h"

#include <cctype>

#include "jet/base/error.h"

namespace jet {

namespace {

constexpr int kValidationText = 3316;
constexpr int kValidationRule = 3317;

bool caseEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
  return true;
}

// The text of a property of an owner (the table itself under ""), "" when it is not set.
std::string property(const PropertyMaps& maps, const std::string& owner, const char* name) {
  for (const auto& [o, map] : maps) {
    if (!caseEqual(o, owner)) continue;
    for (const auto& [n, v] : map)
      if (caseEqual(n, name)) return v.text;
  }
  return {};
}

bool blank(const std::string& s) {
  for (char c : s)
    if (!std::isspace(uint8_t(c))) return false;
  return true;
}

// The stored type of a value, for comparing with a column's.
bool holdsColumnType(ColumnType type, const Value& v) {
  switch (type) {
    case ColumnType::Boolean: return std::holds_alternative<bool>(v);
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::BigInt: return std::holds_alternative<int64_t>(v);
    case ColumnType::Currency: return std::holds_alternative<Currency>(v);
    case ColumnType::Single: return std::holds_alternative<float>(v);
    case ColumnType::Double: return std::holds_alternative<double>(v);
    case ColumnType::DateTime: return std::holds_alternative<DateTime>(v);
    case ColumnType::Text:
    case ColumnType::Memo: return std::holds_alternative<std::string>(v);
    case ColumnType::Guid: return std::holds_alternative<Guid>(v);
    case ColumnType::Numeric: return std::holds_alternative<Decimal>(v);
    case ColumnType::DateTimeExtended: return std::holds_alternative<DateTimeExtended>(v);
    default: return std::holds_alternative<Bytes>(v);
  }
}

}  // namespace

Value convertForColumn(const ColumnInfo& column, const Value& v) {
  if (isNull(v) || holdsColumnType(column.type, v)) return v;
  if (column.type == ColumnType::Boolean) {
    if (std::holds_alternative<std::string>(v)) return fromText(column.type, std::get<std::string>(v));
    return rulePasses(v);  // any number but zero is True
  }
  if (const bool* b = std::get_if<bool>(&v)) {
    // True is -1 as a number, as in Access.
    if (column.type == ColumnType::Text || column.type == ColumnType::Memo) return std::string(*b ? "True" : "False");
    return fromText(column.type, *b ? "-1" : "0", column.scale);
  }
  return fromText(column.type, toText(v), column.scale);
}

const RuleExpression& TableRules::Rule::expression() const {
  if (!parsed) parsed = RuleExpression::parse(text, subject);
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
  return rule.expression().evaluate([&](const std::string& name) -> std::optional<Value> {
    for (size_t i = 0; i < columns_.size() && i < row.size(); ++i)
      if (caseEqual(columns_[i].name, name)) return row[i];
    return std::nullopt;
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
