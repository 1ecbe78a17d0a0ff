
TEST(TableRules, ExpressionsOfRulesDefaultsAndCalculations) {
  jet::PropertyMaps props;
  props["Qty"]["ValidationRule"] = text(">0 And <1000");
  props["Name"]["ValidationRule"] = text("Not Like \"*bad*\"");
  props["Name"]["ValidationText"] = text("No bad names.");
  props[""]["ValidationRule"] = text("[Price] >= [Qty]");
  props["Total"]["Expression"] = text("[Qty] * [Price]");
  props["Price"]["DefaultValue"] = text("=1+1");
  const jet::TableRules rules(table(), props);
  EXPECT_EQ(rules.defaults()[3], Value(jet::Currency{20000}));
  struct Case {
    Value qty, name, price;
    int error;
  };
  const Case cases[] = {
      {int64_t(5), std::string("ok"), jet::Currency{100000}, 0},
      {int64_t(0), std::string("ok"), jet::Currency{100000}, 3317},     // the field's rule, by its implicit left side
      {int64_t(1000), std::string("ok"), jet::Currency{100000000}, 3317},
      {jet::Null{}, std::string("ok"), jet::Currency{10000}, 0},        // Null passes a rule
      {int64_t(5), std::string("a bad one"), jet::Currency{100000}, 3316},
      {int64_t(50), std::string("ok"), jet::Currency{10000}, 3317},    // the table's rule
  };
  for (const Case& c : cases) {
    std::vector<Value> row{c.qty, c.name, true, c.price, jet::Null{}};
    rules.compute(row);
    if (!jet::isNull(c.qty)) EXPECT_EQ(row[4], Value(double(std::get<int64_t>(c.qty)) * double(std::get<jet::Currency>(c.price).scaled) / 10000));
    EXPECT_EQ(errorOf([&] { rules.validate(row, nullptr); }), c.error) << jet::toText(c.qty) << " " << jet::toText(c.name);
  }
  // An update checks a field's rule only when the field changes.
  std::vector<Value> old{int64_t(0), std::string("ok"), true, jet::Currency{100000}, jet::Null{}};
  std::vector<Value> row = old;
  row[1] = std::string("other");
  EXPECT_EQ(errorOf([&] { rules.validate(row, &old); }), 0);
}
