// Databases with a database key: every page after the header page is stored RC4-encoded with the
// key XOR the page number (four bytes, little-endian). The encoded files here are made by the test
// itself from Access-made files, with the engine's RC4 (which the masked header block of every
// Access-made file pins): the engine must read them exactly as the plain originals, and what it
// writes into them must decode with the same scheme.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <tuple>

#include "jet/base/rc4.h"
#include "jet/base/value.h"
#include "jet/database.h"
#include "jet/storage/page_file.h"
#include "jet/support/test_files.h"
#include "jet/storage/fault_env.h"

namespace {

// Every file these tests open goes through the fault and crash simulation.
const bool kSimulated = (jet::FaultEnv::install(), true);

std::array<uint8_t, 4> littleEndian(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

size_t pageSizeOf(const std::vector<uint8_t>& file) { return file.at(0x14) == 0 ? 2048 : 4096; }

// The header block at 0x18 is masked with a fixed RC4 key; the database key lies inside it, at
// 0x3E. Sets it and encodes (or, with encode false, decodes) every page after the first.
void applyDatabaseKey(std::vector<uint8_t>& file, uint32_t key, bool encode) {
  const size_t pageSize = pageSizeOf(file);
  const size_t maskLength = pageSize == 2048 ? 126 : 128;
  const uint8_t headerKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
  uint32_t pagesKey = key;
  jet::rc4Apply(headerKey, 4, &file[0x18], maskLength);
  if (!encode) {
    pagesKey = uint32_t(file[0x3E] | file[0x3F] << 8 | file[0x40] << 16 | uint32_t(file[0x41]) << 24);
    key = 0;
  }
  auto k = littleEndian(key);
  std::copy(k.begin(), k.end(), file.begin() + 0x3E);
  jet::rc4Apply(headerKey, 4, &file[0x18], maskLength);
  for (size_t page = 1; page * pageSize < file.size(); ++page) {
    auto pageKey = littleEndian(pagesKey ^ uint32_t(page));
    jet::rc4Apply(pageKey.data(), 4, &file[page * pageSize], pageSize);
  }
}

using jettest::contents;

// Encoded copies read exactly as their plain originals; in Table1 of each format a row is written,
// and the file, decoded by the test with the key cleared, is a plain database holding it.
TEST(DatabaseKey, EncodedFilesReadExactlyAsTheirPlainOriginalsAndWritesStayEncoded) {
  // Both formats; text in code pages and UCS-2, memos, long values over several pages.
  for (const char* name : {"testV1997.mdb", "test2V1997.mdb", "testV2000.mdb", "test2V2000.mdb", "generated/longValuesV2000.mdb"}) {
    jettest::TempDir dir;
    const std::string plain = jettest::testdata(name);
    std::vector<uint8_t> bytes = jettest::readFile(plain);
    applyDatabaseKey(bytes, 0x5A3C961Fu, true);
    // The catalog's definition page no longer reads as one: the pages really are scrambled.
    ASSERT_NE(bytes[2 * pageSizeOf(bytes)], 0x02) << name;
    const std::string encoded = (dir.path() / "encoded.mdb").string();
    jettest::writeFile(encoded, bytes);
    {
      auto original = jet::Database::open(plain, {true, ""});
      auto db = jet::Database::open(encoded, {true, ""});
      EXPECT_EQ(std::tuple(db->format(), db->codePage()), std::tuple(original->format(), original->codePage())) << name;
      EXPECT_EQ(contents(*db), contents(*original)) << name;
      EXPECT_EQ(jettest::firstProblem(*db), "") << name;
    }
    if (std::string(name).rfind("testV", 0) != 0) continue;
    {
      auto db = jet::Database::open(encoded, {false, ""});
      std::vector<jet::Value> row = jettest::valuesOf(*db, "Table1").at(0);
      row[0] = std::string("written while encoded");
      db->insertRow("Table1", row);
    }
    std::vector<uint8_t> written = jettest::readFile(encoded);
    ASSERT_EQ(written.size() % pageSizeOf(written), 0u);
    applyDatabaseKey(written, 0, false);
    jettest::writeFile(encoded, written);
    auto db = jet::Database::open(encoded, {true, ""});
    const std::vector<std::string> rows = jettest::rowsOf(*db, "Table1");
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const std::string& r) { return r.rfind("written while encoded|", 0) == 0; }))
        << name;
    EXPECT_EQ(jettest::firstProblem(*db), "") << name;
  }
}

// A commit cut short in an encoded file: the journal holds the pages as stored (encoded), so a
// reader sees the state before it and a writer puts back the file's exact bytes.
TEST(DatabaseKey, AHotJournalOfAnEncodedFileRestoresItsStoredBytes) {
  jettest::TempDir dir;
  std::vector<uint8_t> bytes = jettest::readFile(jettest::testdata("testV2000.mdb"));
  applyDatabaseKey(bytes, 0x0BADF00Du, true);
  const std::string encoded = (dir.path() / "encoded.mdb").string();
  auto insert = [&](jet::Database& db) {
    std::vector<jet::Value> row = jettest::valuesOf(db, "Table1").at(0);
    row[0] = std::string("cut short");
    db.insertRow("Table1", row);
  };
  jettest::writeFile(encoded, bytes);
  jettest::crashBeforeTheJournalIsCleared(encoded, insert);
  ASSERT_NE(jettest::readFile(encoded), bytes);
  {
    auto plain = jet::Database::open(jettest::testdata("testV2000.mdb"), {true, ""});
    auto db = jet::Database::open(encoded, {true, ""});
    EXPECT_EQ(contents(*db), contents(*plain));
  }
  jet::Database::open(encoded, {false, ""})->close();
  EXPECT_EQ(jettest::readFile(encoded), bytes);
}

}  // namespace
