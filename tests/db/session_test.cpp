// The session routines on real files: creating, opening and closing, and the version they name.
#include <gtest/gtest.h>

#include <filesystem>

#include "db/dao_impl.h"
#include "db/session.h"
#include "support/error_of.h"
#include "support/files.h"

namespace fs = std::filesystem;

TEST(SessionFiles, CreateOpenAndClose) {
  testsupport::TempDir temp;
  const fs::path& dir = temp.path();
  const std::string path = (dir / "new.mdb").string();
  modDB::bDBOpen = false;
  EXPECT_EQ(modDB::CreateDB(path, dao::dbVersion40), 1);
  EXPECT_EQ(modDB::CreateDB(path, dao::dbVersion40), 0);  // exists
  modDB::bDBOpen = modDB::OpenDB(path);
  ASSERT_TRUE(modDB::bDBOpen);
  EXPECT_TRUE(modDB::FillTabs().empty());
  dao::Database before = modDB::gDB;
  EXPECT_FALSE(modDB::OpenDB((dir / "missing.mdb").string()));
  EXPECT_EQ(modDB::gDB.impl(), before.impl());  // unchanged by a failed open
  modDB::CloseDB();
  EXPECT_FALSE(modDB::bDBOpen);
  EXPECT_FALSE(modDB::gDB.IsOpen());
  modDB::CloseDB();  // closed already: nothing happens

  fs::copy_file(std::string(TABULONIX_TESTDATA_DIR) + "/testV1997.mdb", dir / "copy.mdb");
  modDB::bDBOpen = modDB::OpenDB((dir / "copy.mdb").string());
  ASSERT_TRUE(modDB::bDBOpen);
  EXPECT_EQ(modDB::FillTabs().front(), "Table1");
  modDB::CloseDB();
}

TEST(SessionFiles, AccdbFilesOpenAndNameTheirVersion) {
  testsupport::TempDir temp;
  const fs::path& dir = temp.path();
  const std::pair<const char*, const char*> files[] = {{"testV1997.mdb", "3.0"},       {"testV2000.mdb", "4.0"},
                                                       {"ace/empty2007.accdb", "12.0"}, {"ace/empty2010.accdb", "14.0"},
                                                       {"ace/empty2016.accdb", "16.0"}, {"ace/empty2019.accdb", "17.0"},
                                                       {"ace/testV2007.accdb", "12.0"}};
  for (const auto& [name, version] : files) {
    const fs::path copy = dir / fs::path(name).filename();
    fs::copy_file(std::string(TABULONIX_TESTDATA_DIR) + "/" + name, copy);
    modDB::bDBOpen = modDB::OpenDB(copy.string());
    ASSERT_TRUE(modDB::bDBOpen) << name;
    EXPECT_EQ(modDB::gDB.Version(), version) << name;
    modDB::CloseDB();
    EXPECT_EQ(errorOf([&] { modDB::gDB.Version(); }), jet::err::kObjectInvalid) << name;
  }
}
