// The import command in bulk: rows go in batches, and the first refused row stops the import with
// its line number while every row before it stays; the pipe from the reading thread to the writer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "cli/row_pipe.h"
#include "cli/support/in_process.h"
#include "jet/database.h"

namespace fs = std::filesystem;

namespace {

using clitest::Result;
using clitest::run;

class ImportTest : public ::testing::Test {
 protected:
  // Items(ID auto-number key, Name text with a unique index, Qty long).
  void SetUp() override {
    jet::NewTable t{"Items", {{"ID", jet::ColumnType::Long}, {"Name", jet::ColumnType::Text, 30}, {"Qty", jet::ColumnType::Long}},
                    {{"PrimaryKey", {{0, true}}, true, true, false, true}, {"Name", {{1, true}}, false, true}}};
    t.columns[0].autoNumber = true;
    jet::Database::create(db_)->createTable(t);
  }

  testsupport::TempDir dir_;
  const std::string db_ = dir_.file("t.mdb");
};

std::string jsonRows(int from, int to) {
  std::string s;
  for (int i = from; i < to; ++i) s += "{\"Name\":\"item " + std::to_string(i) + "\",\"Qty\":" + std::to_string(i) + "}\n";
  return s;
}

TEST_F(ImportTest, AnEngineRefusalDeepInABatchKeepsEveryRowBeforeIt) {
  // Line 5001 repeats the name of line 3: the unique index refuses it inside the third batch.
  std::string input = jsonRows(0, 5000) + "{\"Name\":\"item 2\",\"Qty\":1}\n" + jsonRows(5000, 5100);
  Result r = run({"import", db_, "Items"}, input);
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("line 5001: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("5000 rows imported before it"), std::string::npos) << r.err;
  EXPECT_EQ(clitest::lines(run({"export", db_, "Items", "--format", "jsonl"}).out).size(), 5000u);
  Result c = run({"check", db_});
  EXPECT_EQ(c.rc, 0) << c.out;
}

// Rows whose values reuse the storage of rows written earlier (every batch after the first) come
// out exactly as inserting them one at a time gives them, down to the file's bytes: names of every
// length, fields left out (Null), explicit nulls, keys in another order.
TEST_F(ImportTest, ABulkImportWritesWhatInsertingRowByRowWrites) {
  const std::string rowByRow = dir_.file("rows.mdb");
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
  EXPECT_TRUE(testsupport::readFile(db_) == testsupport::readFile(rowByRow)) << "the files differ";
  Result c = run({"check", db_});
  EXPECT_EQ(c.rc, 0) << c.out;
}

// Rows handed from the reading thread to the writer: a writer that stops early stops the reader,
// and long rows are not read far ahead. (Rows in order across batches and a reader's failure after
// every row before it: the tests above and the refused lines of the write commands' tests.)
TEST(RowPipe, AWriterThatStopsEarlyStopsTheReader) {
  std::atomic<int64_t> read{0};
  {
    cli::RowPipe pipe([&read](cli::PipedRow& row) {  // endless input
      row.line = ++read;
      row.values.assign(1, jet::Value{row.line});
      return true;
    });
    for (int i = 0; i < 10; ++i) ASSERT_NE(pipe.next(), nullptr);
  }
  // The reader ran at most a few batches ahead and was then stopped.
  EXPECT_LT(read.load(), 100000);
}

TEST(RowPipe, LongRowsAreNotReadFarAhead) {
  std::atomic<int64_t> read{0};
  cli::RowPipe pipe([&read](cli::PipedRow& row) {
    row.line = ++read;
    row.values.assign(1, jet::Value{std::string(1 << 20, 'x')});
    return true;
  });
  ASSERT_NE(pipe.next(), nullptr);
  // Once the reader has filled what the pipe holds, it waits; a megabyte a row, that is a few
  // rows a batch, not the hundreds a batch of short rows holds.
  for (int64_t before = -1; before != read.load();) {
    before = read.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_LT(read.load(), 100);
}

}  // namespace
