// A table's own rules from its stored properties: default values converted to the fields' types,
// validation rules with their texts or Jet's wording, calculated values, and refusals of what the
// engine cannot evaluate.
#include <gtest/gtest.h>

#include "jet/rules/table_rules.h"
#include "support/error_of.h"

namespace {

using jet::ColumnType;
using jet::Value;

jet::PropertyValue text(const std::string& s) {
  jet::PropertyValue v;
  v.type = uint8_t(ColumnType::Memo);
  v.text = s;
  return v;
}

jet::TableInfo table() {
  jet::TableInfo t;
  t.name = "T";
  for (auto [name, type] : {std::pair{"Qty", ColumnType::Long}, {"Name", ColumnType::Text}, {"Flag", ColumnType::Boolean},
                            {"Price", ColumnType::Currency}, {"Total", ColumnType::Double}}) {
    jet::ColumnInfo c;
    c.name = name;
    c.type = type;
    t.columns.push_back(c);
  }
  t.columns[4].calculated = true;
  return t;
}

TEST(TableRules, DefaultsTakeTheFieldsTypes) {
  const struct {
    const char* qty;
    const char* name;
    const char* flag;
    const char* price;
    std::vector<Value> row;
  } cases[] = {
      {"0", "\"none\"", "Yes", "12.5", {int64_t(0), std::string("none"), true, jet::Currency{125000}, jet::Null{}}},
      {"=7", "'it''s'", "False", "", {int64_t(7), std::string("it's"), false, jet::Null{}, jet::Null{}}},
      {"", "42", "-1", "3", {jet::Null{}, std::string("42"), true, jet::Currency{30000}, jet::Null{}}},
  };
  for (const auto& c : cases) {
    jet::PropertyMaps props;
    props["Qty"]["DefaultValue"] = text(c.qty);
    props["name"]["DefaultValue"] = text(c.name);  // owners are found without regard to case
    props["Flag"]["DefaultValue"] = text(c.flag);
    props["Price"]["DefaultValue"] = text(c.price);
    props["Total"]["DefaultValue"] = text("1");  // a calculated column takes no default
    EXPECT_EQ(jet::TableRules(table(), props).defaults(), c.row) << c.qty << " " << c.name;
  }
  jet::PropertyMaps bad;
  bad["Qty"]["DefaultValue"] = text("\"many\"");
  EXPECT_EQ(errorOf([&] { jet::TableRules(table(), bad).defaults(); }), jet::err::kConversion);
}

TEST(TableRules, RefusalsNameTheRuleOrGiveItsText) {
  auto message = [](const jet::PropertyMaps& props, const std::vector<Value>& row) -> std::string {
    try {
      jet::TableRules(table(), props).validate(row, nullptr);
    } catch (const jet::Error& e) {
      return std::to_string(e.number()) + " " + e.what();
    }
    return "passes";
  };
  const std::vector<Value> row{int64_t(5), std::string("x"), true, jet::Null{}, jet::Null{}};
  jet::PropertyMaps props;
  EXPECT_EQ(message(props, row), "passes");
  props[""]["ValidationRule"] = text("False");
  EXPECT_EQ(message(props, row),
            "3317 One or more values are prohibited by the validation rule 'False' set for 'T'. Enter a value that the "
            "expression for this field can accept.");
  props[""]["ValidationText"] = text("Not today.");
  EXPECT_EQ(message(props, row), "3316 Not today.");
  props[""]["ValidationRule"] = text("Null");  // a rule that comes out Null lets the row pass
  EXPECT_EQ(message(props, row), "passes");
  props[""]["ValidationRule"] = text("[Qty] >");  // never guessed at: the write is refused
  EXPECT_EQ(message(props, row).substr(0, 4), "3075");
}

}  // namespace
