// The header page: its code page and sort order, the version its identification text and version
// byte name together, and the database password it keeps.
#include "jet/storage/header.h"

#include <gtest/gtest.h>

#include "jet/base/bytes.h"
#include "jet/base/text_codec.h"
#include "jet/database.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"

namespace {

int openError(const std::string& path, const std::string& password = "") {
  return errorOf([&] { jet::Database::open(path, {false, password}); });
}

// The code page and the sort order in both formats' places (new text columns take the sort order).
TEST(Header, ReadsCodePageAndSortOrderOfBothFormats) {
  for (const char* name : {"testV1997.mdb", "testV2000.mdb"}) {
    const jet::Header h = jet::parseHeader(jettest::readFile(jettest::testdata(name)), name);
    EXPECT_EQ(std::make_pair(int(h.codePage), int(h.sortOrder)), std::make_pair(1252, 1033)) << name;
  }
}

// The identification text and the version byte together name the version; any other pair, or
// what is no database at all, is refused as an unrecognized format.
TEST(Header, TheVersionByteAndTheIdentificationTextMustAgree) {
  jettest::TempDir dir;
  const auto bytes = jettest::readFile(jettest::testdata("ace/empty2010.accdb"));
  const std::string path = dir.file("crafted.accdb");
  const struct {
    const char* id;
    uint8_t version;
    int error;
  } cases[] = {{"Standard ACE DB", 7, jet::err::kUnrecognizedFormat},  // a version after Access 2019
               {"Standard Jet DB", 3, jet::err::kUnrecognizedFormat},
               {"Standard ACE DB", 1, jet::err::kUnrecognizedFormat},
               {"Standard ACE DB", 0, jet::err::kUnrecognizedFormat},
               {"Standard ACE DB", 4, 0}};  // no test file was made by Access 2013: its byte alone makes the file one
  for (const auto& c : cases) {
    auto b = bytes;
    std::memcpy(b.data() + 4, c.id, 15);
    b[0x14] = c.version;
    jettest::writeFile(path, b);
    EXPECT_EQ(openError(path), c.error) << c.id << " " << int(c.version);
  }
  auto db = jet::Database::open(path, {true, ""});
  EXPECT_EQ(db->version(), jet::FileVersion::Access2013);
  EXPECT_EQ(db->format(), jet::Format::Jet4Layout);
  EXPECT_FALSE(db->objects().empty());
  for (const std::vector<uint8_t>& junk : {std::vector<uint8_t>(5000, 'x'), std::vector<uint8_t>{}}) {
    jettest::writeFile(dir.file("junk.mdb"), junk);
    EXPECT_EQ(openError(dir.file("junk.mdb")), jet::err::kUnrecognizedFormat);
  }
}

// Stores `password` into a copy's masked header block the way the format keeps it.
std::string withPassword(jettest::TempDir& dir, const std::string& name, const std::string& password) {
  std::string path = dir.copy(name, "pw-" + name);
  auto bytes = jettest::readFile(path);
  bool jet4 = bytes[0x14] == 1;
  jet::maskHeaderBlock(jet4 ? jet::Format::Jet4Layout : jet::Format::Jet3Layout, bytes.data(), bytes.size());
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
  jet::maskHeaderBlock(jet4 ? jet::Format::Jet4Layout : jet::Format::Jet3Layout, bytes.data(), bytes.size());
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
