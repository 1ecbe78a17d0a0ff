// The import command in bulk: rows go in batches, and the first refused row stops the import with
// its line number while every row before it stays.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

#include "cli/commands.h"
#include "cli/support/in_process.h"
#include "jet/database.h"

namespace fs = std::filesystem;

namespace {

using clitest::Result;
using clitest::run;


class ImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tabulonix-import-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    db_ = (dir_ / "t.mdb").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Items(ID auto-number key, Name text with a unique index, Qty long).
  void makeTable() {
    auto db = jet::Database::create(db_);
    jet::NewTable t;
    t.name = "Items";
    t.columns.resize(3);
    t.columns[0].name = "ID";
    t.columns[0].type = jet::ColumnType::Long;
    t.columns[0].autoNumber = true;
    t.columns[1].name = "Name";
    t.columns[1].type = jet::ColumnType::Text;
    t.columns[1].size = 30;
    t.columns[2].name = "Qty";
    t.columns[2].type = jet::ColumnType::Long;
    jet::NewIndex pk;
    pk.name = "PrimaryKey";
    pk.columns = {{0, true}};
    pk.primaryKey = pk.unique = pk.required = true;
    jet::NewIndex name;
    name.name = "Name";
    name.columns = {{1, true}};
    name.unique = true;
    t.indexes = {pk, name};
    db->createTable(t);
  }

  size_t exportedRows() {
    Result r = run({"export", db_, "Items", "--format", "jsonl"});
    EXPECT_EQ(r.rc, 0) << r.err;
    return size_t(std::count(r.out.begin(), r.out.end(), '\n'));
  }

  fs::path dir_;
  std::string db_;
};

std::string jsonRows(int from, int to) {
  std::string s;
  for (int i = from; i < to; ++i) s += "{\"Name\":\"item " + std::to_string(i) + "\",\"Qty\":" + std::to_string(i) + "}\n";
  return s;
}

TEST_F(ImportTest, ManyBatchesGoInWhole) {
  makeTable();
  Result r = run({"import", db_, "Items"}, jsonRows(0, 9000));
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "9000 rows imported\n");
  EXPECT_EQ(exportedRows(), 9000u);
  Result c = run({"check", db_});
  EXPECT_EQ(c.rc, 0) << c.out;
}

TEST_F(ImportTest, AnEngineRefusalDeepInABatchKeepsEveryRowBeforeIt) {
  makeTable();
  // Line 5001 repeats the name of line 3: the unique index refuses it inside the third batch.
  std::string input = jsonRows(0, 5000) + "{\"Name\":\"item 2\",\"Qty\":1}\n" + jsonRows(5000, 5100);
  Result r = run({"import", db_, "Items"}, input);
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("line 5001: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("5000 rows imported before it"), std::string::npos) << r.err;
  EXPECT_EQ(exportedRows(), 5000u);
  Result c = run({"check", db_});
  EXPECT_EQ(c.rc, 0) << c.out;
}

TEST_F(ImportTest, BadInputStopsTheImportAndKeepsTheRowsBefore) {
  makeTable();
  std::string csv = "Name,Qty\n";
  for (int i = 0; i < 2500; ++i) csv += "n" + std::to_string(i) + "," + std::to_string(i) + "\n";
  csv += "bad,abc\nlater,1\n";
  Result r = run({"import", db_, "Items", "--format", "csv"}, csv);
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("line 2502: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("2500 rows imported before it"), std::string::npos) << r.err;
  EXPECT_EQ(exportedRows(), 2500u);
}

// Rows whose values reuse the storage of rows written earlier (every batch after the first) come
// out exactly as inserting them one at a time gives them, down to the file's bytes: names of every
// length, fields left out (Null), explicit nulls, keys in another order.
TEST_F(ImportTest, ABulkImportWritesWhatInsertingRowByRowWrites) {
  makeTable();
  const std::string rowByRow = (dir_ / "rows.mdb").string();
  fs::copy_file(db_, rowByRow);
  std::string input;
  {
    auto db = jet::Database::open(rowByRow);
    for (int i = 0; i < 7000; ++i) {
      const std::string name = "n" + std::to_string(i) + std::string(size_t(i * 7 % 23), 'x');
      std::vector<jet::Value> row{jet::Null{}, name, int64_t(i)};
      if (i % 3 == 0) {
        input += "{\"Qty\":" + std::to_string(i) + "}\n";
        row[1] = jet::Null{};
      } else if (i % 5 == 0) {
        input += "{\"Name\":\"" + name + "\"}\n";
        row[2] = jet::Null{};
      } else if (i % 7 == 0) {
        input += "{\"Qty\":null,\"Name\":\"" + name + "\"}\n";
        row[2] = jet::Null{};
      } else {
        input += "{\"Name\":\"" + name + "\",\"Qty\":" + std::to_string(i) + "}\n";
      }
      db->insertRow("Items", row);
    }
    db->close();
  }
  Result r = run({"import", db_, "Items"}, input);
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(run({"export", db_, "Items", "--format", "jsonl"}).out,
            run({"export", rowByRow, "Items", "--format", "jsonl"}).out);
  auto bytes = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_TRUE(bytes(db_) == bytes(rowByRow)) << "the files differ";
  Result c = run({"check", db_});
  EXPECT_EQ(c.rc, 0) << c.out;
}

}  // namespace
