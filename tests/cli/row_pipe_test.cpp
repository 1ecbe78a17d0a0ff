// Rows handed from the reading thread to the writer: a writer that stops early stops the reader,
// and long rows are not read far ahead. (Rows in order across batches and a reader's failure after
// every row before it: the import tests, bulk against row by row and refused lines.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "cli/row_pipe.h"

namespace {

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
