// Files encrypted with a password (Access 2010 and later): copies of plain files encrypted here, with
// each of the format's parameters and with the descriptor written in other legal ways, read back
// page for page as their originals; a wrong password, a foreign encryption and a damaged descriptor
// end in clear errors. (Access's own encrypted file, its password and its refusals without one: the
// command-line password test.)
#include "jet/storage/office_encryption.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/storage/header.h"
#include "jet/support/encrypted_copy.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"
#include "jet/base/crypto.h"

namespace {

constexpr size_t kPage = 4096;

std::vector<uint8_t> firstPage(const std::vector<uint8_t>& file) { return {file.begin(), file.begin() + kPage}; }

uint32_t databaseKeyOf(const std::vector<uint8_t>& file) {
  std::vector<uint8_t> header(file.begin(), file.begin() + jet::kHeaderBytes);
  jet::maskHeaderBlock(jet::Format::Jet4Layout, header.data(), header.size());
  return jet::le32(&header[0x3E]);
}

std::shared_ptr<const jet::PageCodec> unlock(const std::vector<uint8_t>& file, const std::string& password) {
  return jet::unlockEncryptedPages(firstPage(file), databaseKeyOf(file), password, "x.accdb");
}

using Kind = jettest::Encryption::Kind;
const std::string kEnhanced = "Microsoft Enhanced Cryptographic Provider v1.0";

TEST(OfficeEncryption, CopiesEncryptedWithEachParameterReadAsTheirOriginals) {
  const std::string plain = jettest::testdata("ace/testV2007.accdb");
  const auto original = jettest::readFile(plain);
  const jettest::Encryption cases[] = {
      {.kind = Kind::Agile, .password = "secret", .hash = "SHA512", .keyBits = 256},
      {.kind = Kind::Agile, .password = "Pässwörd ✓", .hash = "SHA-1", .keyBits = 256},  // a hash shorter than the key: padded
      // No prefix, single quotes, a certificate first.
      {.kind = Kind::Agile, .password = "x", .hash = "SHA256", .keyBits = 192, .prefix = "", .quote = '\'', .certificateFirst = true},
      {.kind = Kind::Agile, .password = "longer password with spaces", .hash = "SHA384", .keyBits = 128, .prefix = "pw"},
      {.kind = Kind::CryptoApiRc4, .hash = "SHA1", .keyBits = 128, .provider = kEnhanced},
      {.kind = Kind::CryptoApiRc4, .hash = "SHA1", .keyBits = 40, .provider = "Microsoft Base Cryptographic Provider v1.0"},
      {.kind = Kind::CryptoApiRc4, .password = "Pässwörd", .hash = "SHA1", .keyBits = 56},
      {.kind = Kind::CryptoApiRc4, .keyBits = 40},
      {.kind = Kind::CryptoApiAes, .hash = "SHA1", .keyBits = 128, .provider = "Microsoft Enhanced RSA and AES Cryptographic Provider"},
      {.kind = Kind::CryptoApiAes, .password = "x", .hash = "SHA1", .keyBits = 256},
      {.kind = Kind::CryptoApiAesUnflagged, .hash = "SHA1", .keyBits = 128},
  };
  jettest::TempDir dir;
  for (const jettest::Encryption& c : cases) {
    const std::string path = (dir.path() / "enc.accdb").string();
    ASSERT_TRUE(jettest::writeEncryptedCopy(plain, path, c));
    const auto file = jettest::readFile(path);
    // A CryptoAPI header's key size of zero means the provider's default: the same key.
    std::vector<std::vector<uint8_t>> forms{file};
    if (c.kind == Kind::CryptoApiRc4 && c.keyBits == (c.provider == kEnhanced ? 128u : 40u)) {
      forms.push_back(file);
      jet::put32(&forms.back()[0x29B + 12 + 16], 0);
    }
    for (const auto& form : forms) {
      std::shared_ptr<const jet::PageCodec> codec;
      ASSERT_NO_THROW(codec = unlock(form, c.password)) << c.hash << " " << c.keyBits;
      size_t changed = 0;
      for (size_t n = 1; n < file.size() / kPage; ++n) {
        std::vector<uint8_t> page(file.begin() + long(n * kPage), file.begin() + long((n + 1) * kPage));
        changed += !std::equal(page.begin(), page.end(), original.begin() + long(n * kPage));
        codec->decode(uint32_t(n), page.data(), page.size());
        ASSERT_TRUE(std::equal(page.begin(), page.end(), original.begin() + long(n * kPage))) << c.hash << " page " << n;
      }
      EXPECT_EQ(changed, file.size() / kPage - 1) << "every page after the first is stored encrypted";
    }
    EXPECT_EQ(errorOf([&] { unlock(file, c.password + "x"); }), jet::err::kInvalidPassword) << c.hash;
  }
}

// The copies the tests encrypt follow the format as the independent reader knows it, for the kinds
// and parameters it reads: it sees in each exactly what it sees in the plain original.
TEST(OfficeEncryption, TheIndependentReaderReadsTheCopiesEncryptedHere) {
  const std::string plain = jettest::testdata("ace/testV2007.accdb");
  const auto expected = oracle::mdbReader(plain);
  if (!expected) GTEST_SKIP() << "mdb-reader is not installed";
  ASSERT_GT(expected->size(), 10u);
  jettest::TempDir dir;
  for (const jettest::Encryption& e : {jettest::Encryption{.kind = Kind::Agile, .hash = "SHA512", .keyBits = 256, .provider = kEnhanced},
                                      {.kind = Kind::Agile, .hash = "SHA256", .keyBits = 128, .provider = kEnhanced},
                                      {.kind = Kind::CryptoApiRc4, .hash = "SHA1", .keyBits = 128, .provider = kEnhanced}}) {
    const std::string path = (dir.path() / "enc.accdb").string();
    ASSERT_TRUE(jettest::writeEncryptedCopy(plain, path, e));
    EXPECT_EQ(oracle::mdbReader(path, e.password), expected) << e.hash << " " << e.keyBits;
    const auto refused = oracle::mdbReader(path, "not it");
    ASSERT_TRUE(refused && !refused->empty());
    EXPECT_EQ(refused->front(), "ERROR") << "a wrong password opens nothing";
  }
}

// The page 0 of an encrypted copy with its descriptor edited by `edit`.
std::vector<uint8_t> withDescriptor(const std::function<void(std::string&)>& edit) {
  jettest::TempDir dir;
  const std::string path = (dir.path() / "enc.accdb").string();
  jettest::Encryption e;
  e.spinCount = 10;
  if (!jettest::writeEncryptedCopy(jettest::testdata("ace/empty2010.accdb"), path, e)) return {};
  auto file = jettest::readFile(path);
  const size_t len = jet::le16(&file[0x299]);
  std::string xml(file.begin() + 0x29B + 8, file.begin() + long(0x29B + len));
  edit(xml);
  std::fill(file.begin() + 0x29B + 8, file.begin() + kPage, 0);
  std::copy(xml.begin(), xml.end(), file.begin() + 0x29B + 8);
  jet::put16(&file[0x299], uint16_t(xml.size() + 8));
  return file;
}

void replace(std::string& s, const std::string& from, const std::string& to) {
  const auto at = s.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  s.replace(at, from.size(), to);
}

TEST(OfficeEncryption, DamagedOrForeignEncryptionEndsInAClearError) {
  const auto good = withDescriptor([](std::string&) {});
  ASSERT_FALSE(good.empty());
  ASSERT_NO_THROW(unlock(good, "secret"));
  auto unlockWith = [](std::vector<uint8_t> file) { return errorOf([&] { unlock(file, "secret"); }); };
  auto failureWith = [&](const std::function<void(std::vector<uint8_t>&)>& edit) {
    auto f = good;
    edit(f);
    return jettest::failure([&] { unlock(f, "secret"); });
  };
  auto edited = [&](const std::function<void(std::vector<uint8_t>&)>& edit) { return std::atoi(failureWith(edit).c_str()); };
  // The information block: its length, version and flags.
  EXPECT_EQ(edited([](auto& f) { jet::put16(&f[0x299], 0xFFFF); }), jet::err::kCorrupt);
  EXPECT_EQ(edited([](auto& f) { jet::put16(&f[0x299], 4); }), jet::err::kCorrupt);
  const std::string extensible = failureWith([](auto& f) { f[0x29B + 2] = 3; });
  EXPECT_EQ(std::atoi(extensible.c_str()), jet::err::kCannotOpenFile);
  EXPECT_NE(extensible.find("4.3"), std::string::npos) << extensible;
  EXPECT_EQ(edited([](auto& f) { f[0x29B] = 1, f[0x29B + 2] = 1; }), jet::err::kCannotOpenFile);
  // A binary (CryptoAPI) version over the XML: its header does not fit.
  EXPECT_EQ(edited([](auto& f) { f[0x29B + 2] = 2; }), jet::err::kCorrupt);
  EXPECT_EQ(edited([](auto& f) { f[0x29B + 4] = 0x24; }), jet::err::kCorrupt);

  struct Edit { std::string from, to; int error; };
  const Edit edits[] = {
      {"<keyData", "<keyDatum", jet::err::kCorrupt},
      {"saltValue=\"", "saltValue=\"!", jet::err::kCorrupt},
      {"spinCount=\"10\"", "spinCount=\"4000000000\"", jet::err::kCorrupt},
      {"spinCount=\"10\"", "spinCount=\"ten\"", jet::err::kCorrupt},
      {"keyBits=\"256\"", "keyBits=\"100\"", jet::err::kCorrupt},
      {"hashSize=\"64\"", "hashSize=\"20\"", jet::err::kCorrupt},
      {"saltSize=\"16\"", "saltSize=\"8\"", jet::err::kCorrupt},
      {"encryptedKeyValue=\"", "encryptedKeyValue=\"AAAA", jet::err::kCorrupt},
      {"cipherAlgorithm=\"AES\"", "cipherAlgorithm=\"DES\"", jet::err::kCannotOpenFile},
      {"ChainingModeCBC", "ChainingModeCFB", jet::err::kCannotOpenFile},
      {"hashAlgorithm=\"SHA512\"", "hashAlgorithm=\"WHIRLPOOL\"", jet::err::kCannotOpenFile},
      {"keyEncryptor/password\">", "keyEncryptor/certificate\">", jet::err::kCannotOpenFile},
      {"</keyEncryptors>", "", jet::err::kCorrupt},
  };
  for (const Edit& e : edits) {
    const auto file = withDescriptor([&](std::string& xml) { replace(xml, e.from, e.to); });
    EXPECT_EQ(unlockWith(file), e.error) << e.from << " -> " << e.to;
  }
  // Cut short anywhere, the descriptor is damaged, never read past its end.
  for (size_t keep : {0, 20, 300, 700}) {
    const auto file = withDescriptor([&](std::string& xml) { xml.resize(std::min(keep, xml.size())); });
    EXPECT_EQ(unlockWith(file), jet::err::kCorrupt) << keep;
  }
}

TEST(OfficeEncryption, DamagedOrForeignCryptoApiHeadersEndInAClearError) {
  jettest::TempDir dir;
  const std::string path = (dir.path() / "enc.accdb").string();
  const jettest::Encryption e{.kind = Kind::CryptoApiRc4, .keyBits = 128, .provider = kEnhanced};
  ASSERT_TRUE(jettest::writeEncryptedCopy(jettest::testdata("ace/empty2010.accdb"), path, e));
  const auto good = jettest::readFile(path);
  ASSERT_NO_THROW(unlock(good, e.password));
  constexpr size_t info = 0x29B, header = info + 12;
  const size_t verifier = header + jet::le32(&good[info + 8]);
  struct Edit { size_t at; uint32_t value; int error; const char* what; };
  const Edit edits[] = {
      {info + 8, 0x7FFFFFFF, jet::err::kCorrupt, "header size"},
      {info + 8, 8, jet::err::kCorrupt, "header too small"},
      {header, 0x04 | 0x10, jet::err::kCannotOpenFile, "external provider"},
      {header, 0, jet::err::kCannotOpenFile, "not CryptoAPI"},
      {header, 0x04 | 0x20, jet::err::kCorrupt, "AES flag on RC4"},
      {header + 8, 0x6602, jet::err::kCannotOpenFile, "RC2"},
      {header + 12, 0x8003, jet::err::kCannotOpenFile, "MD5"},
      {header + 16, 33, jet::err::kCorrupt, "33-bit key"},
      {header + 16, 256, jet::err::kCorrupt, "256-bit RC4 key"},
      {verifier, 8, jet::err::kCorrupt, "salt size"},
      {verifier + 36, 16, jet::err::kCorrupt, "verifier hash size"},
  };
  for (const Edit& edit : edits) {
    auto file = good;
    jet::put32(&file[edit.at], edit.value);
    EXPECT_EQ(errorOf([&] { unlock(file, e.password); }), edit.error) << edit.what;
  }
  auto cut = good;
  jet::put16(&cut[0x299], uint16_t(verifier - info + 30));  // the verifier's hash cut off
  EXPECT_EQ(errorOf([&] { unlock(cut, e.password); }), jet::err::kCorrupt);
  EXPECT_EQ(errorOf([&] { unlock(good, "Secret"); }), jet::err::kInvalidPassword);
}

// The descriptor's binary values are base64: padding only at the end, nothing but the alphabet,
// whitespace between characters ignored; anything else is refused rather than half-decoded.
TEST(Crypto, Base64TakesOnlyWellFormedText) {
  const jet::crypto::Bytes bytes = {0x00, 0xFB, 0xFF, 0x10, 0x7E};
  for (size_t n = 0; n <= bytes.size(); ++n) {
    const jet::crypto::Bytes part(bytes.begin(), bytes.begin() + long(n));
    const std::string text = jet::crypto::base64Encode(part);
    EXPECT_EQ(text.size() % 4, 0u);
    EXPECT_EQ(jet::crypto::base64Decode(text), part) << text;
  }
  EXPECT_EQ(jet::crypto::base64Decode("Zm9v\r\n YmFy"), (jet::crypto::Bytes{'f', 'o', 'o', 'b', 'a', 'r'}));
  for (const char* bad : {"Zm9", "Zm=v", "Z===", "====", "Zm9v!A==", "Zm9-", "Zg=\"="})
    EXPECT_FALSE(jet::crypto::base64Decode(bad)) << bad;
}

}  // namespace
