// Index maintenance speed: entries per second for keys added in order (an auto-number key), in
// random order (a text key) and deleted again, on pages held in memory.
//
// Usage: index_bench [ROWS] [--deferred]   (default 1000000 rows; --deferred writes pages only at
// the end, as a bulk import does)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "jet/index/index.h"

namespace {

class MemStore : public jet::IndexPageStore {
 public:
  jet::Format format() const override { return jet::Format::Jet4Layout; }
  void readPage(uint32_t p, uint8_t* out) override { std::memcpy(out, &pages_[p * 4096], 4096); }
  void writePage(uint32_t p, const uint8_t* d) override { std::memcpy(&pages_[p * 4096], d, 4096); }
  uint32_t allocatePage() override {
    if (!free_.empty()) {
      uint32_t p = free_.back();
      free_.pop_back();
      return p;
    }
    pages_.resize(pages_.size() + 4096);
    return static_cast<uint32_t>(pages_.size() / 4096 - 1);
  }
  void freePage(uint32_t p) override { free_.push_back(p); }
  uint32_t newRoot() {
    uint32_t root = allocatePage();
    jet::IndexPage leaf;
    jet::writeIndexPage(jet::Format::Jet4Layout, leaf, &pages_[root * 4096]);
    return root;
  }

 private:
  std::vector<uint8_t> pages_ = std::vector<uint8_t>(4096);
  std::vector<uint32_t> free_;
};

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  const bool deferred = argc > 2 && std::strcmp(argv[2], "--deferred") == 0;
  MemStore store;
  std::vector<jet::IndexOutline> outlines(2);
  outlines[0] = {"PrimaryKey", store.newRoot(), {{jet::ColumnType::Long, true}}, {0}, true, false, true};
  outlines[1] = {"Name", store.newRoot(), {{jet::ColumnType::Text, true, jet::TextCollation::GeneralLegacy}}, {1}, false, false, false};
  jet::TableIndexes indexes(store, 2, outlines);
  indexes.setDeferredWrites(deferred);
  std::mt19937 rng(1);
  auto rowId = [](long i) { return jet::RowId{static_cast<uint32_t>(i / 40 + 10), static_cast<uint16_t>(i % 40)}; };
  auto row = [&](long i) {
    return std::vector<jet::Value>{jet::Value{int64_t(i)}, jet::Value{"Customer " + std::to_string((i * 7919) % rows)}};
  };

  auto t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < rows; ++i) {
    auto r = row(i);
    indexes.maintain(nullptr, {}, &r, rowId(i));
  }
  indexes.flush();
  double insert = seconds(t0);
  std::printf("insert %ld rows into 2 indexes%s: %.2f s, %.0f rows/s\n", rows, deferred ? " (deferred writes)" : "", insert,
              rows / insert);

  t0 = std::chrono::steady_clock::now();
  long deleted = 0;
  for (long i = 0; i < rows; i += 2, ++deleted) {
    auto r = row(i);
    indexes.maintain(&r, rowId(i), nullptr, {});
  }
  indexes.flush();
  double erase = seconds(t0);
  std::printf("delete %ld rows: %.2f s, %.0f rows/s\n", deleted, erase, deleted / erase);
  return 0;
}
