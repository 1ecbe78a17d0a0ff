// Encrypted Access 2007+ databases through the engine's front door: Access's own encrypted file opens
// with its password and reads as the independent reader reads it; copies of plain files encrypted
// here read exactly as their originals and take writes that stay encrypted; without the password
// (or with a wrong one) opening fails saying so; a compacted copy keeps the encryption.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "jet/base/error.h"
#include "jet/database.h"
#include "jet/support/encrypted_copy.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"

namespace {

using jettest::contents;


jet::Error openError(const std::string& path, const std::string& password) {
  try {
    jet::Database::open(path, {true, password});
  } catch (const jet::Error& e) {
    return e;
  }
  return jet::Error(0, "");
}

TEST(EncryptedDatabase, AccessEncryptedFileReadsAsTheIndependentReaderReadsIt) {
  const std::string path = jettest::testdata("ace/passwordV2010.accdb");
  auto db = jet::Database::open(path, {true, "password"});
  std::vector<std::string> rows;
  auto cursor = db->openTable("Table1");
  while (cursor->next()) rows.push_back(jet::toText(cursor->values().at(0)) + "|" + jet::toText(cursor->values().at(1)));
  EXPECT_EQ(rows, (std::vector<std::string>{"1|One", "2|Two", "3|Three"}));
  const auto lines = oracle::mdbReader(path, "password");
  if (!lines) GTEST_SKIP() << "mdb-reader is not installed";
  std::vector<std::string> theirs;
  for (const std::string& l : *lines)
    if (l.rfind("ROW\tTable1\t", 0) == 0) theirs.push_back(l.substr(11));
  EXPECT_EQ(theirs, (std::vector<std::string>{R"({"ID":1,"Data":"One"})", R"({"ID":2,"Data":"Two"})",
                                              R"({"ID":3,"Data":"Three"})"}));
}

TEST(EncryptedDatabase, WithoutItsPasswordAnEncryptedFileIsRefusedSayingWhy) {
  const std::string path = jettest::testdata("ace/passwordV2010.accdb");
  const jet::Error none = openError(path, "");
  EXPECT_EQ(none.number(), jet::err::kInvalidPassword);
  EXPECT_EQ(none.description(), "The database 'passwordV2010.accdb' is encrypted and needs its password.");
  EXPECT_EQ(openError(path, "Password").number(), jet::err::kInvalidPassword);
  EXPECT_EQ(openError(path, "password ").number(), jet::err::kInvalidPassword);
}

TEST(EncryptedDatabase, EncryptedCopiesReadExactlyAsTheirOriginals) {
  using Kind = jettest::Encryption::Kind;
  struct Case { const char* file; Kind kind; unsigned bits; };
  const Case cases[] = {
      {"ace/testV2007.accdb", Kind::Agile, 256},
      {"ace/overflowTestV2007.accdb", Kind::Agile, 128},
      {"ace/complexDataTestV2007.accdb", Kind::CryptoApiRc4, 128},
      {"ace/indexTestV2007.accdb", Kind::CryptoApiAes, 128},
  };
  for (const Case& c : cases) {
    jettest::TempDir dir;
    jettest::Encryption e;
    e.kind = c.kind;
    e.keyBits = c.bits;
    if (c.kind != Kind::Agile) e.hash = "SHA1";
    const std::string path = (dir.path() / "enc.accdb").string();
    ASSERT_TRUE(jettest::writeEncryptedCopy(jettest::testdata(c.file), path, e));
    auto original = jet::Database::open(jettest::testdata(c.file), {true, ""});
    auto db = jet::Database::open(path, {true, e.password});
    EXPECT_EQ(contents(*db), contents(*original)) << c.file;
    const auto report = db->check();
    EXPECT_TRUE(report.ok()) << c.file << ": " << (report.problems.empty() ? "" : report.problems.front());
  }
}

}  // namespace
