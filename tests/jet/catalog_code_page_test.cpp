// Schema changes in a Jet 3 file whose code page is not Windows-1252: the catalog's names are read
// and written in the file's own code page, so a table made there is found again to be renamed and
// dropped, and its name reads back unchanged.
#include <gtest/gtest.h>

#include <algorithm>

#include "jet/base/bytes.h"
#include "jet/database.h"
#include "jet/storage/header.h"
#include "jet/support/test_files.h"

namespace {

struct CodePageCase {
  uint16_t codePage;
  const char* created;
  const char* renamed;
};

// A new Jet 3 file that says it keeps its texts in `codePage`.
void createJet3(const std::string& path, uint16_t codePage) {
  jet::Database::create(path, {jet::Format::Jet3, 1252, 1033})->close();
  std::vector<uint8_t> bytes = jettest::readFile(path);
  jet::maskHeaderBlock(jet::Format::Jet3, bytes.data(), 0x800);
  jet::le::put16(bytes.data() + 0x3C, codePage);
  jet::maskHeaderBlock(jet::Format::Jet3, bytes.data(), 0x800);
  jettest::writeFile(path, bytes);
}

bool holds(jet::Database& db, const std::string& name) {
  auto objects = db.objects();
  return std::any_of(objects.begin(), objects.end(), [&](const jet::CatalogObject& o) { return o.name == name; });
}

class CatalogCodePageTest : public testing::TestWithParam<CodePageCase> {};

TEST_P(CatalogCodePageTest, TablesAreFoundAgainByTheirNames) {
  jettest::TempDir dir;
  const std::string path = (dir.path() / "cp.mdb").string();
  const CodePageCase& c = GetParam();
  createJet3(path, c.codePage);
  {
    auto db = jet::Database::open(path);
    ASSERT_EQ(db->codePage(), c.codePage);
    db->createTable({c.created, {{"Name", jet::ColumnType::Text, 20}}});
    EXPECT_THROW(db->createTable({c.created, {{"Other", jet::ColumnType::Long}}}), jet::Error);
    db->renameTable(c.created, c.renamed);
    db->close();
  }
  auto db = jet::Database::open(path);
  EXPECT_TRUE(holds(*db, c.renamed));
  EXPECT_FALSE(holds(*db, c.created));
  db->dropTable(c.renamed);
  EXPECT_FALSE(holds(*db, c.renamed));
  EXPECT_TRUE(db->check().ok());
}

INSTANTIATE_TEST_SUITE_P(Jet3, CatalogCodePageTest,
                         testing::Values(CodePageCase{1251, "Клиенты", "Склад"},
                                         CodePageCase{1253, "Πελάτες", "Αποθήκη"}));

}  // namespace
