// Rows read and converted on a thread of their own while the caller writes the rows before them.
// The two halves of an import cost about the same, so on a machine with two processors the import
// takes the time of the slower half instead of the sum.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "jet/base/value.h"
#include "jet/database.h"

namespace cli {

// One row of input: its values, the values of its complex columns, and the line it starts on.
struct PipedRow {
  std::vector<jet::Value> values;
  std::vector<jet::ComplexChange> complex;
  int64_t line = 0;
  // Set instead of values when reading this row failed: the reader's exception, thrown to the
  // caller after every row before it.
  std::exception_ptr error;
};

class RowPipe {
 public:
  // Fills the row given (whose storage comes from an earlier row: overwrite it) and returns false
  // at the end of input. Runs on the pipe's thread. It sets the row's line before anything that
  // can throw, so that an error is reported at its line.
  using Reader = std::function<bool(PipedRow&)>;

  explicit RowPipe(Reader read);
  // Stops the reading thread; rows read and not taken are dropped.
  ~RowPipe();
  RowPipe(const RowPipe&) = delete;
  RowPipe& operator=(const RowPipe&) = delete;

  // The next row in input order, or nullptr at the end. It is the caller's until the next call,
  // and may be changed or have its storage swapped for another row's.
  PipedRow* next();

 private:
  struct Batch {
    std::vector<PipedRow> rows;
    size_t count = 0;  // rows filled
  };
  void produce();

  Reader read_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Batch> full_;   // read, in input order
  std::vector<Batch> free_;  // taken back from the caller, to be filled again
  bool done_ = false;        // the reader has seen the end of input or failed
  std::atomic<bool> stop_{false};  // the caller is gone
  Batch current_;            // the batch the caller is taking rows from
  size_t at_ = 0;
  std::thread thread_;
};

}  // namespace cli
