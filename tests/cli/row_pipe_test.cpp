// Rows handed from the reading thread to the writer: in order across batches, a reader's failure
// after every row before it, and a writer that stops early never left waiting.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "cli/row_pipe.h"

namespace {

// A reader of rows numbered from 1, each holding its number; it fails at `failAt` (0: never) and
// ends after `last` rows (negative: never).
cli::RowPipe::Reader counting(int64_t last, int64_t failAt, std::atomic<int64_t>* read = nullptr) {
  return [last, failAt, read, n = int64_t{0}](cli::PipedRow& row) mutable {
    if (n == last) return false;
    row.line = ++n;
    if (read) *read = n;
    if (n == failAt) throw std::runtime_error("bad row " + std::to_string(n));
    // Storage handed back from an earlier row is overwritten, never appended to.
    row.values.assign(1, jet::Value{n});
    return true;
  };
}

TEST(RowPipe, RowsArriveInOrderThenTheEndOnce) {
  for (int64_t rows : {0, 1, 511, 512, 513, 20000}) {
    cli::RowPipe pipe(counting(rows, 0));
    int64_t seen = 0;
    while (cli::PipedRow* row = pipe.next()) {
      ++seen;
      ASSERT_FALSE(row->error);
      ASSERT_EQ(row->line, seen);
      ASSERT_EQ(row->values, std::vector<jet::Value>{jet::Value{seen}});
      // The writer may take the values away; the pipe refills the storage it gets back.
      row->values.clear();
    }
    EXPECT_EQ(seen, rows);
    EXPECT_EQ(pipe.next(), nullptr);
  }
}

TEST(RowPipe, AFailureComesAfterEveryRowBeforeIt) {
  cli::RowPipe pipe(counting(-1, 1500));
  int64_t seen = 0;
  cli::PipedRow* row;
  while ((row = pipe.next()) && !row->error) ASSERT_EQ(row->line, ++seen);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(seen, 1499);
  EXPECT_EQ(row->line, 1500);
  try {
    std::rethrow_exception(row->error);
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "bad row 1500");
  }
  EXPECT_EQ(pipe.next(), nullptr);
}

TEST(RowPipe, AWriterThatStopsEarlyStopsTheReader) {
  std::atomic<int64_t> read{0};
  {
    cli::RowPipe pipe(counting(-1, 0, &read));  // endless input
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
