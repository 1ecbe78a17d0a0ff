#include "cli/row_pipe.h"

namespace cli {

namespace {
// Rows in a batch, and batches in the pipe at once: enough to keep both threads busy through the
// engine's periodic commits, small enough to stay in the cache. A batch of long values ends early
// at kBatchBytes, so that the rows in the pipe never hold much more than kBatches of those.
constexpr size_t kBatchRows = 512;
constexpr size_t kBatches = 8;
constexpr size_t kBatchBytes = size_t{4} << 20;
// Storage of a value this long is not kept for the rows that follow.
constexpr size_t kKeptBytes = size_t{64} << 10;

size_t bytesOf(const std::vector<jet::Value>& values) {
  size_t n = 0;
  for (const jet::Value& v : values) {
    if (auto* s = std::get_if<std::string>(&v)) n += s->size();
    else if (auto* b = std::get_if<jet::Bytes>(&v)) n += b->size();
  }
  return n;
}

void dropLongStorage(std::vector<jet::Value>& values) {
  for (jet::Value& v : values) {
    auto* s = std::get_if<std::string>(&v);
    auto* b = std::get_if<jet::Bytes>(&v);
    if ((s && s->capacity() > kKeptBytes) || (b && b->capacity() > kKeptBytes)) v = jet::Null{};
  }
}
}  // namespace

RowPipe::RowPipe(Reader read) : read_(std::move(read)) {
  free_.resize(kBatches - 1);
  for (Batch& b : free_) b.rows.resize(kBatchRows);
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
    size_t n = 0, bytes = 0;
    bool end = false;
    while (n < batch.rows.size() && bytes < kBatchBytes && !stop_.load(std::memory_order_relaxed)) {
      PipedRow& row = batch.rows[n];
      row.error = nullptr;
      dropLongStorage(row.values);
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
      bytes += bytesOf(row.values);
      ++n;
    }
    batch.count = n;
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
  if (at_ < current_.count) return &current_.rows[at_++];
  std::unique_lock lock(mutex_);
  if (!current_.rows.empty()) {
    free_.push_back(std::move(current_));
    current_ = Batch{};
    changed_.notify_all();
  }
  changed_.wait(lock, [&] { return !full_.empty() || done_; });
  if (full_.empty()) return nullptr;
  current_ = std::move(full_.front());
  full_.pop_front();
  at_ = 0;
  return &current_.rows[at_++];
}

}  // namespace cli
