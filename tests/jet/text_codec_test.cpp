#include "jet/base/text_codec.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "jet/base/error.h"

namespace {

std::string jet4(std::vector<uint8_t> b) {
  std::string out = "stale";
  jet::decodeJet4Text(b.data(), b.size(), out);
  return out;
}

// Text is compressed only where the compression pays (every form reads back: see the ASCII runs
// test below).
TEST(TextCodec, Jet4TextIsCompressedOnlyWhereItPays) {
  EXPECT_EQ(jet::encodeJet4Text("abc", true), (std::vector<uint8_t>{0xFF, 0xFE, 'a', 'b', 'c'}));
  EXPECT_EQ(jet::encodeJet4Text("ab", true), (std::vector<uint8_t>{'a', 0, 'b', 0}));  // no gain: plain
  EXPECT_EQ(jet::encodeJet4Text("ab", false).size(), 4u);  // a 0 b 0
  EXPECT_EQ(jet::encodeJet4Text("\xCF\x81", true).size(), 2u);  // not compressible: UCS-2
  // Mixed text goes in runs when they pay: a two-byte run, then a one-byte run, each opened by a 0.
  EXPECT_EQ(jet::encodeJet4Text("\xCF\x81\xCE\xB6 mixed", true),
            (std::vector<uint8_t>{0xFF, 0xFE, 0, 0xC1, 0x03, 0xB6, 0x03, 0, ' ', 'm', 'i', 'x', 'e', 'd'}));
  EXPECT_EQ(jet::encodeJet4Text("\xCF\x81" "a", true), (std::vector<uint8_t>{0xC1, 0x03, 'a', 0}));  // no gain
  EXPECT_EQ(jet::encodeJet4Text("\xCF\x81\xCE\xB6 mixed", false).size(), 16u);
  // U+0100's low byte is zero, which a two-byte run cannot hold: such text stays plain.
  EXPECT_EQ(jet::encodeJet4Text("\xC4\x80 and more", true).size(), 20u);
  EXPECT_EQ(jet::utf16Length("a\xF0\x9F\x98\x80"), 3u);
}

// Index keys and stored text count the same units: malformed UTF-8 is U+FFFD in both, characters
// past U+FFFF are surrogate pairs in both.
TEST(TextCodec, UnitsOfKeysAndStoredTextAgree) {
  for (std::string s : {std::string("plain"), std::string("\xF0\x9F\x98\x80x"), std::string("a\xC3"),
                        std::string("\xE2\x82"), std::string("\x80z\xFF"), std::string("\xC3\xA9\xE2\x82\xAC")}) {
    const std::u16string units = jet::utf8ToUtf16(s);
    const std::vector<uint8_t> stored = jet::encodeUcs2(s);
    ASSERT_EQ(stored.size(), units.size() * 2) << s;
    for (size_t i = 0; i < units.size(); ++i) EXPECT_EQ(stored[2 * i] | (stored[2 * i + 1] << 8), units[i]) << s;
    EXPECT_EQ(jet::utf16Length(s), units.size()) << s;
  }
  EXPECT_EQ(jet::utf8ToUtf16("\xF0\x9F\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
  EXPECT_EQ(jet::utf8ToUtf16("a\xC3"), (std::u16string{u'a', 0xFFFD}));
}

// Code-page text converts to its characters, a character the code page lacks is '?', and every byte
// comes back unchanged.
TEST(TextCodec, EveryCodePageByteComesBackUnchanged) {
  jet::TextCodec cp1252(1252);
  const uint8_t euro[] = {'x', 0x80, 0xE9};
  EXPECT_EQ(cp1252.decodeCodePage(euro, 3), "x\xE2\x82\xAC\xC3\xA9");
  EXPECT_EQ(cp1252.encodeCodePage("\xCF\x81"), std::vector<uint8_t>{'?'});
  const uint8_t cyr[] = {0xC0};
  EXPECT_EQ(jet::TextCodec(1251).decodeCodePage(cyr, 1), "\xD0\x90");
  // Bytes a code page leaves undefined must survive a read and a write: 0x81 in cp1252 reads as
  // the C1 control U+0081 (what Access's own conversion yields, and what its index keys encode).
  const uint8_t undefinedBytes[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D};
  EXPECT_EQ(cp1252.decodeCodePage(undefinedBytes, 5), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
  for (uint16_t page : {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
    jet::TextCodec codec(page);
    std::vector<uint8_t> all;
    for (int b = 1; b < 256; ++b) all.push_back(uint8_t(b));
    std::string text = codec.decodeCodePage(all.data(), all.size());
    EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos) << "cp" << page;
    EXPECT_EQ(jet::utf16Length(text), all.size()) << "cp" << page;
    EXPECT_EQ(codec.encodeCodePage(text), all) << "cp" << page;
  }
  // cp1253 leaves 0xAA undefined while U+00AA is not one of its characters: the Latin-1 value is
  // used. cp1257 leaves 0xA1 undefined too.
  jet::TextCodec cp1253(1253);
  const uint8_t aa[] = {0xAA};
  EXPECT_EQ(cp1253.decodeCodePage(aa, 1), "\xC2\xAA");

  // Double-byte code pages: bytes that start no character, and a lead byte cut short at the end,
  // come back unchanged too; a character the code page lacks is one '?'.
  jet::TextCodec cp932(932);
  const std::vector<uint8_t> sjis{0x82, 0xA0, 0x80, 'a', 0xFD, 0xA0, 0x82};
  std::string text = cp932.decodeCodePage(sjis.data(), sjis.size());
  EXPECT_EQ(text.rfind("\xE3\x81\x82", 0), 0u);  // 82 A0 is U+3042
  EXPECT_EQ(jet::utf16Length(text), 6u);
  EXPECT_EQ(cp932.encodeCodePage(text), sjis);
  EXPECT_EQ(cp932.encodeCodePage("x\xF0\x9F\x98\x80y"), (std::vector<uint8_t>{'x', '?', 'y'}));
}

// Texts whose ASCII runs start, end and break at every place: the quick ASCII paths must agree
// with the character-by-character ones they sit beside, and every form (one-byte and two-byte
// runs and the switches between them) reads back. A leading U+FEFF, stored as plain UCS-2, would
// begin with the compression marker's bytes and read back as other text (a fuzzer found it): it
// goes in the marked form.
TEST(TextCodec, AsciiRunsBesideOtherCharactersConvertAlike) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::vector<std::string> pieces = {"a", "plain run ", "\xC3\xA9", "\xF0\x9F\x98\x80", std::string(1, '\0'),
                                           "\xCF\x81", "\x7F", bom};
  std::vector<std::string> texts = {""};
  for (const auto& a : pieces)
    for (const auto& b : pieces)
      for (const auto& c : pieces) texts.push_back(a + b + c);
  for (const std::string& s : texts) {
    const std::vector<uint8_t> ucs2 = jet::encodeUcs2(s);
    EXPECT_EQ(ucs2.size(), jet::utf16Length(s) * 2) << s;
    EXPECT_EQ(jet::decodeUcs2(ucs2.data(), ucs2.size()), s) << s;
    for (bool compress : {false, true}) {
      // Text that begins with U+FEFF and holds a unit whose low byte is zero (U+0000, a surrogate
      // here) fits neither form: refused, never altered.
      bool lowZero = false;
      for (size_t i = 0; i < ucs2.size(); i += 2) lowZero = lowZero || ucs2[i] == 0;
      if (s.rfind(bom, 0) == 0 && lowZero) {
        EXPECT_THROW(jet::encodeJet4Text(s, compress), jet::Error) << s;
        continue;
      }
      const std::vector<uint8_t> stored = jet::encodeJet4Text(s, compress);
      EXPECT_EQ(jet4(stored), s) << s << compress;
      // Appended after other bytes (a row's earlier columns), the same bytes follow them.
      std::vector<uint8_t> row = {0xFF, 0xFE, 'x'};
      EXPECT_EQ(jet::appendJet4Text(s, compress, row), jet::utf16Length(s)) << s << compress;
      EXPECT_EQ(std::vector<uint8_t>(row.begin() + 3, row.end()), stored) << s << compress;
    }
    // Plain ASCII without a zero, long enough for the marker to pay, is stored one byte a character.
    const bool ascii = std::all_of(s.begin(), s.end(), [](unsigned char c) { return c >= 1 && c < 0x80; });
    if (ascii && s.size() > 2) {
      std::vector<uint8_t> expected = {0xFF, 0xFE};
      expected.insert(expected.end(), s.begin(), s.end());
      EXPECT_EQ(jet::encodeJet4Text(s, true), expected) << s;
    }
  }
  EXPECT_EQ(jet::encodeJet4Text(bom + "a", false), (std::vector<uint8_t>{0xFF, 0xFE, 0, 0xFF, 0xFE, 0, 'a'}));
  EXPECT_THROW(jet::encodeJet4Text(bom + "\xC4\x80", true), jet::Error);
  // Lone surrogates read as U+FFFD, also right after an ASCII run.
  const std::vector<uint8_t> lone = {'a', 0, 'b', 0, 0x00, 0xD8, 'c', 0};
  EXPECT_EQ(jet::decodeUcs2(lone.data(), lone.size()), "ab\xEF\xBF\xBD" "c");
  const std::vector<uint8_t> ascii = {'a', 0, 'b', 0, 0x7F, 0, 0x80, 0};
  EXPECT_EQ(jet::decodeUcs2(ascii.data(), ascii.size()), "ab\x7F\xC2\x80");
}

}  // namespace
