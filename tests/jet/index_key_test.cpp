// Index keys: their order for every type and collation, and the Decimal keys that differ between
// file versions. (Every key of every Access-made file, as its row gives it, is compared with the
// engine's by the whole-file check.)
#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <random>

#include "jet/base/error.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/schema_writer.h"
#include "jet/database.h"
#include "jet/index/index.h"
#include "jet/index/index_key.h"
#include "jet/support/test_files.h"

namespace {

using jet::ColumnType;
using jet::KeyColumn;
using jet::TextCollation;

jet::Bytes key(const KeyColumn& c, const jet::Value& v) { return jet::encodeKey({c}, {v}); }

jet::Value decimal(bool negative, uint32_t magnitude, uint8_t scale) {
  jet::Decimal d;
  d.negative = negative;
  d.scale = scale;
  d.magnitude = {magnitude, 0, 0};
  return jet::Value{d};
}

// Values given in ascending order must give strictly ascending keys, and descending columns
// strictly descending ones. (Decimal keys: their own test below.)
void expectOrdered(ColumnType type, const std::vector<jet::Value>& ascending) {
  for (size_t i = 1; i < ascending.size(); ++i) {
    EXPECT_LT(key({type, true}, ascending[i - 1]), key({type, true}, ascending[i])) << "type " << int(type) << " at " << i;
    EXPECT_GT(key({type, false}, ascending[i - 1]), key({type, false}, ascending[i])) << "type " << int(type) << " at " << i;
  }
}

TEST(IndexKeyOrder, NumbersSortByValue) {
  using V = jet::Value;
  expectOrdered(ColumnType::Byte, {V{int64_t(0)}, V{int64_t(1)}, V{int64_t(127)}, V{int64_t(128)}, V{int64_t(255)}});
  expectOrdered(ColumnType::Integer, {V{int64_t(-32768)}, V{int64_t(-1)}, V{int64_t(0)}, V{int64_t(1)}, V{int64_t(32767)}});
  expectOrdered(ColumnType::Long, {V{int64_t(INT32_MIN)}, V{int64_t(-256)}, V{int64_t(0)}, V{int64_t(255)}, V{int64_t(INT32_MAX)}});
  expectOrdered(ColumnType::Currency, {V{jet::Currency{INT64_MIN}}, V{jet::Currency{-10000}}, V{jet::Currency{0}}, V{jet::Currency{5}}});
  expectOrdered(ColumnType::Single, {V{-1e30f}, V{-1.5f}, V{-0.0f}, V{1e-30f}, V{2.5f}, V{1e30f}});
  expectOrdered(ColumnType::Double, {V{-1e300}, V{-2.0}, V{-1e-300}, V{0.0}, V{1e-300}, V{3.0}, V{1e300}});
  expectOrdered(ColumnType::DateTime, {V{jet::DateTime{-700000}}, V{jet::DateTime{-0.5}}, V{jet::DateTime{0}}, V{jet::DateTime{45000.25}}});
  expectOrdered(ColumnType::BigInt, {V{INT64_MIN}, V{int64_t(-300)}, V{int64_t(-1)}, V{int64_t(0)}, V{int64_t(1)}, V{int64_t(300)}, V{INT64_MAX}});
  using X = jet::DateTimeExtended;
  expectOrdered(ColumnType::DateTimeExtended,
                {V{X{0, 0, 0}}, V{X{0, 0, 1}}, V{X{0, 1, 0}}, V{X{1, 0, 0}}, V{X{737955, 3661, 1234567}}, V{X{3652058, 86399, 9999999}}});
  // Nulls come first ascending and last descending; a Null Boolean is False.
  EXPECT_LT(key({ColumnType::Long, true}, jet::Null{}), key({ColumnType::Long, true}, V{int64_t(INT32_MIN)}));
  EXPECT_GT(key({ColumnType::Long, false}, jet::Null{}), key({ColumnType::Long, false}, V{int64_t(INT32_MAX)}));
  EXPECT_EQ(key({ColumnType::Boolean, true}, jet::Null{}), key({ColumnType::Boolean, true}, V{false}));
  EXPECT_LT(key({ColumnType::Boolean, true}, V{true}), key({ColumnType::Boolean, true}, V{false}));
}

TEST(IndexKeyOrder, Jet3LigaturesCountAsTheirLettersAndANulEndsTheText) {
  KeyColumn col{ColumnType::Text, true, TextCollation::General97};
  auto k = [&](const std::string& s) { return key(col, jet::Value{s}); };
  const std::pair<std::string, std::string> same[] = {
      {"Lebensmittelgro\u00dfm\u00e4rkte", "Lebensmittelgrossm\u00e4rkte"},
      {"\u00c6ble \u00e9t\u00e9", "AEble \u00e9t\u00e9"},
      {"\u0153uvre \u00e0", "oeuvre \u00e0"},
      {std::string("Mod\0ule", 7), "Mod"},
      {std::string("ab \0", 4), "ab"}};
  for (const auto& [a, b] : same) EXPECT_EQ(k(a), k(b)) << b;
  EXPECT_NE(k("gro\u00dfm\u00e4rkte"), k("grom\u00e4rkte"));
}

TEST(IndexKeyOrder, TextInEveryCollation) {
  for (TextCollation c : {TextCollation::General97, TextCollation::GeneralLegacy, TextCollation::General}) {
    KeyColumn asc{ColumnType::Text, true, c}, desc{ColumnType::Text, false, c};
    auto k = [&](const KeyColumn& col, const std::string& s) { return key(col, jet::Value{s}); };
    // Letters sort without regard to case; trailing spaces and what follows the
    // 255th character do not count.
    EXPECT_LT(k(asc, "apple"), k(asc, "Banana")) << int(c);
    EXPECT_LT(k(asc, "Banana"), k(asc, "cherry")) << int(c);
    EXPECT_LT(k(asc, ""), k(asc, "a")) << int(c);
    EXPECT_EQ(k(asc, "ab   "), k(asc, "ab")) << int(c);
    EXPECT_EQ(k(asc, std::string(300, 'x')), k(asc, std::string(255, 'x') + "yz")) << int(c);
    EXPECT_EQ(k(asc, "abc"), k(asc, "ABC")) << int(c);  // the General order ignores case entirely
    EXPECT_NE(k(asc, "e"), k(asc, "\u00e9")) << int(c);
    // Whatever order ascending keys give, descending keys give the reverse, including values
    // that differ only in accents, case or unprintable characters.
    std::mt19937 rng(static_cast<unsigned>(c) + 1);
    const char* const alphabet[] = {"a", "A", "b", "e", "\u00e9", "\u00c9", "z", " ", "-", "'", "1", "\u0001", "\u00df",
                                    "\u0153", "\u20ac", "\u4e2d", "\u0410", "\u00e6", "\u0627", "\u3042"};
    std::vector<std::string> texts;
    for (int i = 0; i < 300; ++i) {
      std::string s;
      for (int j = 0, n = static_cast<int>(rng() % 6); j < n; ++j) s += alphabet[rng() % std::size(alphabet)];
      texts.push_back(s);
    }
    for (size_t i = 0; i + 1 < texts.size(); ++i) {
      auto a1 = k(asc, texts[i]), a2 = k(asc, texts[i + 1]);
      auto d1 = k(desc, texts[i]), d2 = k(desc, texts[i + 1]);
      if (a1 == a2) {
        EXPECT_EQ(d1, d2);
      } else {
        EXPECT_EQ(a1 < a2, d1 > d2) << int(c) << " '" << texts[i] << "' '" << texts[i + 1] << "'";
      }
    }
  }
}

// Kana keep their distinctions (small or large) as two-bit flags after the text, three to a byte
// under 0x80, closed by a fixed trailer; the flags of large kana at the end are left out.
TEST(IndexKeyOrder, KanaFlagsAndTheirTrailer) {
  const struct {
    const char* text;
    TextCollation collation;
    jet::Bytes want;
  } cases[] = {
      {"a\u3041", TextCollation::General, {0x7F, 0x0E, 0x02, 0x7F, 0x02, 0x01, 0x01, 0x01, 0xA0, 0xFF, 0x02, 0x80, 0xFF, 0x80, 0x00}},
      {"a\u3042", TextCollation::General, {0x7F, 0x0E, 0x02, 0x7F, 0x02, 0x01, 0x01, 0x01, 0xFF, 0x02, 0x80, 0xFF, 0x80, 0x00}},
      {"a\u30A1", TextCollation::GeneralLegacy, {0x7F, 0x4A, 0x7F, 0x02, 0x01, 0x01, 0x01, 0xA0, 0xFF, 0x02, 0x80, 0xFF, 0x80, 0x00}},
  };
  for (const auto& c : cases) EXPECT_EQ(key({ColumnType::Text, true, c.collation}, jet::Value{std::string(c.text)}), c.want) << c.text;
}

// A column without a sort order takes its format's general order; a sort order the engine has no
// keys for, and values no key is made of, are refused. (The collations of the sort orders the test
// files use: every key of every file, by the check.)
TEST(IndexKeyOrder, SortOrderZeroAndUnknownOnes) {
  EXPECT_EQ(jet::textCollation(jet::Format::Jet3Layout, 0, 0), TextCollation::General97);
  EXPECT_EQ(jet::textCollation(jet::Format::Jet4Layout, 0, 0), TextCollation::GeneralLegacy);
  EXPECT_EQ(jet::textCollation(jet::Format::Jet4Layout, 1049, 0), TextCollation::Unsupported);
  EXPECT_THROW(key({ColumnType::Text, true, TextCollation::Unsupported}, jet::Value{std::string("x")}), jet::Error);
  EXPECT_THROW(key({ColumnType::Binary, true}, jet::Value{jet::Bytes{1}}), jet::Error);
  EXPECT_THROW(key({ColumnType::Long, true}, jet::Value{std::string("x")}), jet::Error);
}

// Access 2007 and later sort Decimal keys in full order both ways: a descending key is the inverse of
// the ascending one, sign byte included. Older files set the sign byte after inverting, which puts
// every negative value first in a descending index (the order Access 2000's files keep).
TEST(IndexKeyOrder, DecimalKeysOfAccess2007AndLaterSortBothWays) {
  const std::vector<jet::Value> ascending{decimal(true, 100000, 2), decimal(true, 1, 2), decimal(false, 0, 2),
                                          decimal(true, 0, 2) /* negative zero is zero */, decimal(false, 1, 2),
                                          decimal(false, 15, 1) /* 1.50 */, decimal(false, 99999, 2)};
  KeyColumn asc{ColumnType::Numeric, true, TextCollation::GeneralLegacy, 2, false};
  KeyColumn desc{ColumnType::Numeric, false, TextCollation::GeneralLegacy, 2, false};
  KeyColumn legacyAsc{ColumnType::Numeric, true, TextCollation::GeneralLegacy, 2, true};
  EXPECT_EQ(key(asc, ascending[2]), key(asc, ascending[3]));
  EXPECT_EQ(key(asc, ascending[5]), key(asc, decimal(false, 150, 2))) << "keys are built at the column's scale";
  for (size_t i = 1; i < ascending.size(); ++i) {
    if (i == 3) continue;  // the two zeros
    EXPECT_LT(key(asc, ascending[i - 1]), key(asc, ascending[i])) << i;
    EXPECT_GT(key(desc, ascending[i - 1]), key(desc, ascending[i])) << i;
  }
  for (const jet::Value& v : ascending) {
    const jet::Bytes a = key(asc, v), d = key(desc, v);
    ASSERT_EQ(a.size(), 18u);  // flag, sign, sixteen bytes of magnitude
    ASSERT_EQ(d.size(), a.size());
    EXPECT_EQ(a[0], 0x7F);
    EXPECT_EQ(d[0], 0x80);
    for (size_t b = 1; b < a.size(); ++b) EXPECT_EQ(uint8_t(~a[b]), d[b]) << b;
    // Ascending keys are the same under both rules.
    EXPECT_EQ(key(legacyAsc, v), a);
  }
  // -0.01 at scale 2: ascending the inverted magnitude under a zero sign byte, descending the plain
  // magnitude under 0xFF (the older rule: under 0x00).
  jet::Bytes want(18, 0xFF);
  want[0] = 0x7F;
  want[1] = 0x00;
  want[17] = 0xFE;
  EXPECT_EQ(key(asc, ascending[1]), want);
  jet::Bytes wantDesc(18, 0x00);
  wantDesc[0] = 0x80;
  wantDesc[1] = 0xFF;
  wantDesc[17] = 0x01;
  EXPECT_EQ(key(desc, ascending[1]), wantDesc);
  wantDesc[1] = 0x00;
  EXPECT_EQ(key({ColumnType::Numeric, false, TextCollation::GeneralLegacy, 2, true}, ascending[1]), wantDesc);
}

// Rows written through the engine into an Access 2007 file and an Access 2000 file: each file's
// descending Decimal index walks its rows in that file's order, the check finds every key as it
// computes it, and compaction rebuilds the same keys.
TEST(IndexKeyOrder, DecimalIndexesFollowTheFilesVersion) {
  jettest::TempDir dir;
  const std::vector<std::pair<const char*, std::vector<std::string>>> files{
      {"ace/testV2007.accdb", {"999.99", "0.01", "0.00", "-0.01", "-1000.00"}},
      {"testV2000.mdb", {"-0.01", "-1000.00", "999.99", "0.01", "0.00"}}};
  for (const auto& [name, wantOrder] : files) {
    const std::string path = dir.copy(name, "decimal" + std::string(name).substr(std::string(name).rfind('.')));
    {
      auto db = jet::Database::open(path);
      db->createTable({"Amounts", {{"Amount", ColumnType::Numeric, 0, false, false, false, 10, 2}}, {{"Down", {{0, false}}}, {"Up", {{0, true}}}}});
      for (const jet::Value& v : {decimal(false, 1, 2), decimal(true, 100000, 2), decimal(false, 0, 2),
                                  decimal(false, 99999, 2), decimal(true, 1, 2)})
        db->insertRow("Amounts", {v});
      EXPECT_EQ(jettest::firstProblem(*db), "") << name;
    }
    auto walk = [&](const std::string& file) {
      auto f = jet::SchemaFile::open(file, true);
      const jet::Catalog catalog = jet::Catalog::read(f->pageFile(), f->format(), f->codec());
      const uint32_t tdef = uint32_t(catalog.findTable("Amounts")->object.tdefPage);
      const jet::Tdef def = f->definition(tdef);
      std::map<std::pair<uint32_t, uint16_t>, std::string> text;
      for (const auto& [id, values] : jet::readPlainRows(*f, tdef, def))
        text[{id.page, id.row}] = jet::toText(values[0]);
      std::vector<std::string> order;
      const auto& down = def.indexes[0].name == "Down" ? def.indexes[0] : def.indexes[1];
      jet::IndexTree tree(*f, def.realIndexes.at(size_t(down.realIndex)).rootPage, tdef);
      for (const jet::IndexEntry& e : tree.entries()) order.push_back(text[{e.row.page, e.row.row}]);
      return order;
    };
    EXPECT_EQ(walk(path), wantOrder) << name;
    const std::string compacted = path + ".compacted" + std::string(name).substr(std::string(name).rfind('.'));
    jet::Database::compact(path, compacted);
    EXPECT_EQ(walk(compacted), wantOrder) << name;
    EXPECT_EQ(jettest::firstProblem(*jet::Database::open(compacted, {true, ""})), "") << name;
  }
}

}  // namespace
