#include "jet/storage/header.h"

#include <gtest/gtest.h>

#include "jet/base/bytes.h"
#include "jet/base/text_codec.h"
#include "jet/database.h"
#include "jet/support/test_files.h"

namespace {

int openError(const std::string& path, const std::string& password = "") {
  try {
    jet::OpenOptions o;
    o.password = password;
    jet::Database::open(path, o);
  } catch (const jet::Error& e) {
    return e.number();
  }
  return 0;
}

TEST(Header, ReadsFormatCodePageAndSortOrderOfBothFormats) {
  auto h3 = jet::parseHeader(jettest::readFile(jettest::testdata("testV1997.mdb")), "testV1997.mdb");
  EXPECT_EQ(h3.format, jet::Format::Jet3);
  EXPECT_EQ(h3.pageSize, 2048u);
  EXPECT_EQ(h3.codePage, 1252);
  EXPECT_EQ(h3.sortOrder, 1033);
  EXPECT_TRUE(h3.password.empty());
  auto h4 = jet::parseHeader(jettest::readFile(jettest::testdata("testV2000.mdb")), "testV2000.mdb");
  EXPECT_EQ(h4.format, jet::Format::Jet4);
  EXPECT_EQ(h4.pageSize, 4096u);
  EXPECT_EQ(h4.sortOrder, 1033);
  EXPECT_EQ(h4.databaseKey, 0u);
}

TEST(Header, RefusesOtherFormatsAndNonDatabases) {
  jettest::TempDir dir;
  auto bytes = jettest::readFile(jettest::testdata("emptyJet4.mdb"));
  auto newer = bytes;
  std::memcpy(newer.data() + 4, "Standard ACE DB", 15);
  newer[0x14] = 7;  // a version after Access 2019
  jettest::writeFile((dir.path() / "newer.accdb").string(), newer);
  EXPECT_EQ(openError((dir.path() / "newer.accdb").string()), jet::err::kUnrecognizedFormat);
  auto version = bytes;
  version[0x14] = 3;
  jettest::writeFile((dir.path() / "v3.mdb").string(), version);
  EXPECT_EQ(openError((dir.path() / "v3.mdb").string()), jet::err::kUnrecognizedFormat);
  jettest::writeFile((dir.path() / "text.mdb").string(), std::vector<uint8_t>(5000, 'x'));
  EXPECT_EQ(openError((dir.path() / "text.mdb").string()), jet::err::kUnrecognizedFormat);
  jettest::writeFile((dir.path() / "empty.mdb").string(), {});
  EXPECT_EQ(openError((dir.path() / "empty.mdb").string()), jet::err::kUnrecognizedFormat);
}

TEST(Header, NamesTheVersionOfEveryAccessFile) {
  const std::pair<const char*, jet::FileVersion> made[] = {
      {"testV1997.mdb", jet::FileVersion::Jet3},          {"testV2000.mdb", jet::FileVersion::Jet4},
      {"ace/empty2007.accdb", jet::FileVersion::Access2007}, {"ace/empty2010.accdb", jet::FileVersion::Access2010},
      {"ace/empty2016.accdb", jet::FileVersion::Access2016}, {"ace/empty2019.accdb", jet::FileVersion::Access2019}};
  for (const auto& [name, version] : made) {
    auto h = jet::parseHeader(jettest::readFile(jettest::testdata(name)), name);
    EXPECT_EQ(h.version, version) << name;
    EXPECT_EQ(h.format, jet::formatOf(version)) << name;
    EXPECT_EQ(h.pageSize, version == jet::FileVersion::Jet3 ? 2048u : 4096u) << name;
    // Access 2010 and 2016 made these files under the newer General sort order.
    const bool newerOrder = version == jet::FileVersion::Access2010 || version == jet::FileVersion::Access2016;
    EXPECT_EQ(h.sortVersion, newerOrder ? 1 : 0) << name;
  }
}

TEST(Header, TheVersionByteAndTheIdentificationTextMustAgree) {
  jettest::TempDir dir;
  const auto bytes = jettest::readFile(jettest::testdata("ace/empty2010.accdb"));
  int files = 0;
  auto withVersion = [&](const char* id, uint8_t versionByte) {
    auto b = bytes;
    std::memcpy(b.data() + 4, id, 15);
    b[0x14] = versionByte;
    const std::string path = (dir.path() / ("crafted" + std::to_string(++files) + ".accdb")).string();
    jettest::writeFile(path, b);
    return path;
  };
  // No test file was made by Access 2013: its byte alone makes the file one.
  auto db = jet::Database::open(withVersion("Standard ACE DB", 4), {true, ""});
  EXPECT_EQ(db->version(), jet::FileVersion::Access2013);
  EXPECT_EQ(db->format(), jet::Format::Jet4);
  EXPECT_FALSE(db->objects().empty());
  EXPECT_EQ(openError(withVersion("Standard Jet DB", 3)), jet::err::kUnrecognizedFormat);
  EXPECT_EQ(openError(withVersion("Standard ACE DB", 1)), jet::err::kUnrecognizedFormat);
  EXPECT_EQ(openError(withVersion("Standard ACE DB", 0)), jet::err::kUnrecognizedFormat);
}

TEST(Header, AnEncryptedAccdbFileSaysSoInsteadOfLookingForeign) {
  jettest::TempDir dir;
  const std::string path = dir.copy("ace/passwordV2010.accdb");
  EXPECT_EQ(jet::parseHeader(jettest::readFile(path), "passwordV2010.accdb").version, jet::FileVersion::Access2010);
  try {
    jet::Database::open(path, {true, ""});
    FAIL() << "opened an encrypted file without its password";
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.number(), jet::err::kInvalidPassword);
    EXPECT_NE(e.description().find("encrypted"), std::string::npos) << e.description();
  }
}

// Stores `password` into a copy's masked header block the way the format keeps it.
std::string withPassword(jettest::TempDir& dir, const std::string& name, const std::string& password) {
  std::string path = dir.copy(name, "pw-" + name);
  auto bytes = jettest::readFile(path);
  bool jet4 = bytes[0x14] == 1;
  jet::maskHeaderBlock(jet4 ? jet::Format::Jet4 : jet::Format::Jet3, bytes.data(), bytes.size());
  std::vector<uint8_t> pw = jet4 ? jet::encodeUcs2(password) : std::vector<uint8_t>(password.begin(), password.end());
  pw.resize(jet4 ? 40 : 20);
  if (jet4) {
    double created;
    uint64_t bits = jet::le64(&bytes[0x72]);
    std::memcpy(&created, &bits, 8);
    uint8_t mask[4];
    jet::put32(mask, uint32_t(int32_t(created)));
    for (size_t i = 0; i < pw.size(); ++i) pw[i] ^= mask[i % 4];
  }
  std::copy(pw.begin(), pw.end(), bytes.begin() + 0x42);
  jet::maskHeaderBlock(jet4 ? jet::Format::Jet4 : jet::Format::Jet3, bytes.data(), bytes.size());
  jettest::writeFile(path, bytes);
  return path;
}

TEST(Header, PasswordProtectedDatabasesOpenOnlyWithTheirPassword) {
  jettest::TempDir dir;
  for (const char* name : {"testV1997.mdb", "testV2000.mdb"}) {
    std::string path = withPassword(dir, name, "Secret1");
    EXPECT_EQ(jet::parseHeader(jettest::readFile(path), name).password, "Secret1") << name;
    EXPECT_EQ(openError(path), jet::err::kInvalidPassword) << name;
    EXPECT_EQ(openError(path, "secret1"), jet::err::kInvalidPassword) << name;
    EXPECT_EQ(openError(path, "Secret1"), 0) << name;
  }
}

}  // namespace
