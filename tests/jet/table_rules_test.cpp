// A table's own rules from its stored properties: default values converted to the fields' types,
// validation rules with their texts or Jet's wording, calculated values, and refusals of what the
// engine cannot evaluate; the same rules stored by a new table and kept by the engine's writes; and
// the property blob they are stored in.
#include <gtest/gtest.h>

#include "jet/database.h"
#include "jet/rules/table_rules.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"
#include "jet/catalog/properties.h"

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
  auto message = [](const jet::PropertyMaps& props, const std::vector<Value>& row) {
    return jettest::failure([&] { jet::TableRules(table(), props).validate(row, nullptr); });
  };
  const std::vector<Value> row{int64_t(5), std::string("x"), true, jet::Null{}, jet::Null{}};
  jet::PropertyMaps props;
  EXPECT_EQ(message(props, row), "");
  props[""]["ValidationRule"] = text("False");
  EXPECT_EQ(message(props, row),
            "3317: One or more values are prohibited by the validation rule 'False' set for 'T'. Enter a value that the "
            "expression for this field can accept.");
  props[""]["ValidationText"] = text("Not today.");
  EXPECT_EQ(message(props, row), "3316: Not today.");
  props[""]["ValidationRule"] = text("Null");  // a rule that comes out Null lets the row pass
  EXPECT_EQ(message(props, row), "");
  props[""]["ValidationRule"] = text("[Qty] >");  // never guessed at: the write is refused
  EXPECT_EQ(message(props, row).substr(0, 4), "3075");
}

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

// Rules given to a new table are stored as Access stores them, kept by every write through the
// front door, and leave a file the independent reader reads.
class StoredRules : public ::testing::TestWithParam<jet::Format> {};

TEST_P(StoredRules, ANewTablesRulesHoldOnEveryWrite) {
  jettest::TempDir dir;
  const std::string path = (dir.path() / "rules.mdb").string();
  const jet::NewTable t{
      "Orders",
      {{.name = "Qty", .type = ColumnType::Long, .defaultValue = "=2*5", .validationRule = ">0 And <1000"},
       {.name = "Note", .type = ColumnType::Text, .size = 50, .defaultValue = "\"none\"", .validationRule = "Not Like \"*bad*\"",
        .validationText = "No bad notes."},
       {.name = "Start", .type = ColumnType::DateTime, .defaultValue = "#2024-01-31#"},
       {.name = "End", .type = ColumnType::DateTime}},
      {},
      "[End] >= [Start] Or [End] Is Null"};
  {
    auto db = jet::Database::create(path, {GetParam()});
    db->createTable(t);
    // A rule that is no expression, or names no field, is refused before anything is written.
    for (auto [rule, error] : {std::pair{"[Qty] >", 3075}, {"Nosuch([Qty])", 3085}, {"[Nosuch] > 1", 3070}}) {
      jet::NewTable bad = t;
      bad.name = "Bad";
      bad.validationRule = rule;
      EXPECT_EQ(errorOf([&] { db->createTable(bad); }), error) << rule;
    }
  }
  auto db = jet::Database::open(path);
  std::vector<Value> row = db->defaultValues("Orders");
  EXPECT_EQ(row, (std::vector<Value>{int64_t(10), std::string("none"), jet::DateTime{45322}, jet::Null{}}));
  db->insertRow("Orders", row);
  struct Case {
    size_t field;
    Value value;
    int error;
  } cases[] = {
      {0, int64_t(0), 3317},  {0, int64_t(999), 0}, {1, std::string("a BAD one"), 3316}, {1, jet::Null{}, 0},
      {3, jet::DateTime{45321}, 3317},  // ends before it starts: the table's rule
      {3, jet::DateTime{45400}, 0},
  };
  for (const Case& c : cases) {
    std::vector<Value> r = db->defaultValues("Orders");
    r[c.field] = c.value;
    EXPECT_EQ(errorOf([&] { db->insertRow("Orders", r); }), c.error) << c.field << " " << jet::toText(c.value);
  }
  EXPECT_EQ(db->table("Orders").columns[1].validationText, "No bad notes.");
  db.reset();
  if (auto out = oracle::mdbtools("mdb-export", oracle::quote(path) + " Orders"))
    EXPECT_EQ(std::count(out->out.begin(), out->out.end(), '\n'), 5) << out->out;  // a heading and four rows
}

INSTANTIATE_TEST_SUITE_P(Formats, StoredRules, ::testing::Values(jet::Format::Jet3Layout, jet::Format::Jet4Layout));

// The property blob as written for a new table reads back through the catalog's reader, and a
// blob cut short or foreign is refused as damage.
TEST(PropertyBlobs, WrittenPropertiesReadBackAndDamageIsRefused) {
  for (jet::Format f : {jet::Format::Jet3Layout, jet::Format::Jet4Layout}) {
    jet::TextCodec codec(1252);
    const std::vector<jet::ColumnProperties> props = {
        {"Name", true, false}, {"Größe", false, std::nullopt}, {"X", {}, true}, {"Plain", {}, {}}};
    const std::vector<uint8_t> blob = jet::buildPropertyBlob(f, props, codec);
    const jet::PropertyMaps back = jet::parseProperties(blob, f, codec);
    ASSERT_EQ(back.size(), 4u) << "the table itself and three columns";  // "Plain" sets nothing
    EXPECT_TRUE(back.at("").empty());
    EXPECT_EQ(back.at("Name").at("Required").number, 1);
    EXPECT_EQ(back.at("Name").at("AllowZeroLength").number, 0);
    EXPECT_EQ(back.at("Größe").size(), 1u);
    EXPECT_EQ(back.at("Größe").at("Required").type, uint8_t(jet::ColumnType::Boolean));
    EXPECT_EQ(back.at("X").count("Required"), 0u);
    EXPECT_EQ(back.at("X").at("AllowZeroLength").number, 1);

    // Names are stored as the format stores text: two bytes a character in Jet 4, one in Jet 3.
    const size_t nameBytes = std::string("Required").size() * (f == jet::Format::Jet4Layout ? 2 : 1);
    EXPECT_EQ(blob[10] | (blob[11] << 8), int(nameBytes));

    std::vector<uint8_t> cut = blob;
    cut.resize(cut.size() - 3);  // inside the last entry
    EXPECT_EQ(errorOf([&] { jet::parseProperties(cut, f, codec); }), 3049);
    EXPECT_EQ(errorOf([&] { jet::parseProperties({'x', 'y', 'z', 0}, f, codec); }), 3049);
  }
}

}  // namespace
