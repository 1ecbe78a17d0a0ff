// The keys the engine computes for the rows of Access-made files must equal, byte for byte, the
// keys Access wrote into those files' index pages: every entry of every index of every table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <random>

#include "jet/base/error.h"
#include "jet/index/index.h"
#include "jet/index/index_key.h"
#include "jet/support/index_fixture.h"

namespace {

std::string hex(const jet::Bytes& b) {
  std::string s;
  char buf[4];
  for (uint8_t x : b) {
    std::snprintf(buf, sizeof buf, "%02x", x);
    s += buf;
  }
  return s;
}

struct FileResult {
  size_t indexes = 0;
  size_t entries = 0;
};

// Compares every index of every table of the file with the keys computed from its rows.
FileResult checkFile(const std::string& name) {
  indextest::MdbImage db(std::string(TABULONIX_TESTDATA_DIR) + "/" + name);
  FileResult result;
  for (const auto& table : db.tables()) {
    auto rows = db.rows(table);
    for (const auto& spec : db.specs(table)) {
      jet::IndexTree tree(db, spec.rootPage, table.tdef);
      std::vector<jet::IndexEntry> actual = tree.entries();
      std::vector<jet::IndexEntry> expected;
      for (const auto& [id, values] : rows)
        if (auto key = jet::rowKey(spec, values)) expected.push_back({*key, id, 0});
      std::sort(expected.begin(), expected.end());
      ++result.indexes;
      result.entries += actual.size();
      const std::string where = name + " table@" + std::to_string(table.tdef) + " index " + spec.name;
      EXPECT_EQ(actual.size(), expected.size()) << where;
      // Pair the entries by row address so that a wrong key shows with its row.
      std::sort(actual.begin(), actual.end(), [](auto& a, auto& b) { return a.row.page != b.row.page ? a.row.page < b.row.page : a.row.row < b.row.row; });
      std::sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.row.page != b.row.page ? a.row.page < b.row.page : a.row.row < b.row.row; });
      int reported = 0;
      for (size_t i = 0; i < std::min(actual.size(), expected.size()) && reported < 5; ++i) {
        if (actual[i].key != expected[i].key || !(actual[i].row == expected[i].row)) {
          ++reported;
          ADD_FAILURE() << where << " row " << expected[i].row.page << ":" << expected[i].row.row << "\n  access: " << hex(actual[i].key)
                        << "\n  engine: " << hex(expected[i].key);
        }
      }
      EXPECT_TRUE(tree.verify().empty()) << where << ": " << tree.verify().front();
    }
  }
  return result;
}

TEST(IndexKeysMatchAccess, Jet3EveryCharacterAndType) {
  FileResult r = checkFile("testIndexCodesV1997.mdb");
  // About thirty tables, one per type and order, a key for every character.
  EXPECT_GE(r.indexes, 25u);
  EXPECT_GE(r.entries, 500u);
}

TEST(IndexKeysMatchAccess, CompositeIndexesOverSeveralPages) {
  for (const char* f : {"compIndexTestV1997.mdb", "compIndexTestV2000.mdb"}) {
    FileResult r = checkFile(f);
    EXPECT_GE(r.entries, 512u) << f;
  }
}

TEST(IndexKeysMatchAccess, SmallIndexTables) {
  for (const char* f : {"indexTestV1997.mdb", "indexTestV2000.mdb", "testIndexPropertiesV2000.mdb", "indexCursorTestV2000.mdb",
                        "bigIndexTestV2000.mdb"}) {
    FileResult r = checkFile(f);
    EXPECT_GE(r.indexes, 3u) << f;
  }
}

TEST(IndexKeysMatchAccess, CatalogAndOtherFiles) {
  // The system tables' own indexes (text and numeric) of files made by both formats.
  for (const char* f : {"testV1997.mdb", "testV2000.mdb", "test2V2000.mdb", "fixedNumericTestV2000.mdb", "delTestV2000.mdb",
                        "queryTestV1997.mdb", "emptyJet4.mdb"}) {
    FileResult r = checkFile(f);
    EXPECT_GE(r.indexes, 1u) << f;
  }
}

TEST(IndexKeysMatchAccess, AccessFilesOfEveryVersion) {
  // Files of Access 2010 and 2016 keep their text under the newer General order (the sort-order
  // version 1 of each text column), those of 2007 and this 2019 file under the legacy one.
  for (const char* f : {"ace/compIndexTestV2007.accdb", "ace/indexTestV2007.accdb", "ace/testIndexPropertiesV2007.accdb",
                        "ace/indexCursorTestV2007.accdb", "ace/bigIndexTestV2007.accdb", "ace/fixedNumericTestV2007.accdb",
                        "ace/empty2010.accdb", "ace/empty2016.accdb", "ace/empty2019.accdb"}) {
    FileResult r = checkFile(f);
    EXPECT_GE(r.indexes, 3u) << f;
    indextest::MdbImage db(std::string(TABULONIX_TESTDATA_DIR) + "/" + f);
    size_t general = 0;
    for (const auto& table : db.tables())
      for (const auto& spec : db.specs(table))
        for (const auto& c : spec.columns) general += c.collation == jet::TextCollation::General && c.type == jet::ColumnType::Text;
    const bool newer = std::string(f).find("2010") != std::string::npos || std::string(f).find("2016") != std::string::npos;
    EXPECT_EQ(general > 0, newer) << f;
  }
}

}  // namespace

namespace {

using jet::ColumnType;
using jet::KeyColumn;
using jet::TextCollation;

jet::Bytes key(const KeyColumn& c, const jet::Value& v) { return jet::encodeKey({c}, {v}); }

// Values given in ascending order must give strictly ascending keys, and descending columns
// strictly descending ones.
void expectOrdered(ColumnType type, const std::vector<jet::Value>& ascending, bool checkDescending = true) {
  for (size_t i = 1; i < ascending.size(); ++i) {
    EXPECT_LT(key({type, true}, ascending[i - 1]), key({type, true}, ascending[i])) << "type " << int(type) << " at " << i;
    if (checkDescending)
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
  auto dec = [](bool neg, uint32_t lo, uint8_t scale) {
    jet::Decimal d;
    d.negative = neg;
    d.scale = scale;
    d.magnitude = {lo, 0, 0};
    return jet::Value{d};
  };
  // Decimal keys are built at the column's scale: 1.5 at scale 1 equals 1.50 at scale 2.
  KeyColumn money{ColumnType::Numeric, true, TextCollation::GeneralLegacy, 2};
  EXPECT_EQ(key(money, dec(false, 15, 1)), key(money, dec(false, 150, 2)));
  std::vector<jet::Value> decs{dec(true, 1000, 2), dec(true, 1, 2), dec(false, 0, 2), dec(false, 1, 2), dec(false, 99999, 2)};
  for (size_t i = 1; i < decs.size(); ++i) EXPECT_LT(key(money, decs[i - 1]), key(money, decs[i])) << i;
  // Descending Decimal keys keep the engine's historic order: all negatives before all positives.
  KeyColumn moneyDesc{ColumnType::Numeric, false, TextCollation::GeneralLegacy, 2};
  EXPECT_LT(key(moneyDesc, decs[0]), key(moneyDesc, decs[4]));
  EXPECT_GT(key(moneyDesc, decs[3]), key(moneyDesc, decs[4]));
  // Nulls come first ascending and last descending; a Null Boolean is False.
  EXPECT_LT(key({ColumnType::Long, true}, jet::Null{}), key({ColumnType::Long, true}, V{int64_t(INT32_MIN)}));
  EXPECT_GT(key({ColumnType::Long, false}, jet::Null{}), key({ColumnType::Long, false}, V{int64_t(INT32_MAX)}));
  EXPECT_EQ(key({ColumnType::Boolean, true}, jet::Null{}), key({ColumnType::Boolean, true}, V{false}));
  EXPECT_LT(key({ColumnType::Boolean, true}, V{true}), key({ColumnType::Boolean, true}, V{false}));
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
    const char16_t alphabet[] = {u'a', u'A', u'b', u'e', u'\u00e9', u'\u00c9', u'z', u' ', u'-', u'\'', u'1', u'\u0001', u'\u00df',
                                 u'\u0153', u'\u20ac', u'\u4e2d', u'\u0410', u'\u00e6', u'\u0627', u'\u3042'};
    std::vector<std::string> texts;
    for (int i = 0; i < 300; ++i) {
      std::string s;
      int n = static_cast<int>(rng() % 6);
      for (int j = 0; j < n; ++j) {
        char16_t ch = alphabet[rng() % std::size(alphabet)];
        if (ch < 0x80) {
          s += static_cast<char>(ch);
        } else if (ch < 0x800) {
          s += static_cast<char>(0xC0 | (ch >> 6));
          s += static_cast<char>(0x80 | (ch & 0x3F));
        } else {
          s += static_cast<char>(0xE0 | (ch >> 12));
          s += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
          s += static_cast<char>(0x80 | (ch & 0x3F));
        }
      }
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

TEST(IndexKeyOrder, CollationFromTheColumnsSortOrder) {
  EXPECT_EQ(jet::textCollation(jet::Format::Jet3, 1033, 0), TextCollation::General97);
  EXPECT_EQ(jet::textCollation(jet::Format::Jet3, 0, 0), TextCollation::General97);
  EXPECT_EQ(jet::textCollation(jet::Format::Jet4, 1033, 0), TextCollation::GeneralLegacy);
  EXPECT_EQ(jet::textCollation(jet::Format::Jet4, 0, 0), TextCollation::GeneralLegacy);
  EXPECT_EQ(jet::textCollation(jet::Format::Jet4, 1033, 1), TextCollation::General);
  EXPECT_EQ(jet::textCollation(jet::Format::Jet4, 1049, 0), TextCollation::Unsupported);
  EXPECT_THROW(key({ColumnType::Text, true, TextCollation::Unsupported}, jet::Value{std::string("x")}), jet::Error);
  EXPECT_THROW(key({ColumnType::Binary, true}, jet::Value{jet::Bytes{1}}), jet::Error);
  EXPECT_THROW(key({ColumnType::Long, true}, jet::Value{std::string("x")}), jet::Error);
}

}  // namespace
