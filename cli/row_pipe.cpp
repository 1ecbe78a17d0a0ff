#include "cli/row_pipe.h"

namespace cli {

namespace {
// Rows in a batch, and batches in the pipe at once: enough to keep both threads busy through the
// engine's periodic commits, small enough to stay in the cache.
constexpr size_t kBatchRows = 512;
constexpr size_t kBatches = 8;
}  // namespace

RowPipe::RowPipe(Reader read) : read_(std::move(read)) {
  free_.resize(kBatches - 1);
  for (Batch& b : free_) b.resize(kBatchRows);
  thread_ = std::thread([this] { produce(); });
}

RowPipe::~RowPipe() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void RowPipe::produce() {
  Batch batch;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || !free_.empty(); });
      if (stop_) return;
      batch = std::move(free_.back());
      free_.pop_back();
    }
    size_t n = 0;
    bool end = false;
    for (; n < batch.size(); ++n) {
      PipedRow& row = batch[n];
      row.error = nullptr;
      try {
        if (!read_(row)) {
          end = true;
          break;
        }
      } catch (...) {
        row.error = std::current_exception();
        ++n;
        end = true;
        break;
      }
    }
    // A short batch marks the end; its storage is not reused after it.
    batch.resize(n);
    {
      std::lock_guard lock(mutex_);
      if (n) full_.push_back(std::move(batch));
      if (end) done_ = true;
    }
    changed_.notify_all();
    if (end) return;
  }
}

PipedRow* RowPipe::next() {
  if (at_ < current_.size()) return &current_[at_++];
  std::unique_lock lock(mutex_);
  if (!current_.empty()) {
    free_.push_back(std::move(current_));
    current_.clear();
    changed_.notify_all();
  }
  changed_.wait(lock, [&] { return !full_.empty() || done_; });
  if (full_.empty()) return nullptr;
  current_ = std::move(full_.front());
  full_.pop_front();
  at_ = 0;
  return &current_[at_++];
}

}  // namespace cli
