// What the locking between programs costs: an import (rows queued, committed a batch at a time)
// and a read loop (a table's definition and its first rows, again and again, each call its own read
// operation as the record grid reads, then each step in one operation as an export reads), each
// with the locking protocol on and off in the same run, alternately. Prints each measure's ratio, on to off, by the clock (the median of RUNS pairs).
//
// Usage: sharing_bench [ROWS] [LOOPS] [RUNS] [WORKDIR]   (default 200000 rows, 3000 loops, 5 runs)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/storage/page_file.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double importRows(const std::string& path, long rows) {
  std::filesystem::remove(path);
  auto db = jet::Database::create(path);
  jet::NewTable t;
  t.name = "T";
  t.columns = {{"K", jet::ColumnType::Long}, {"V", jet::ColumnType::Text, 50}, {"D", jet::ColumnType::Double}};
  db->createTable(t);
  const auto start = Clock::now();
  std::vector<jet::Value> row;
  for (long i = 0; i < rows; ++i) {
    row = {int64_t(i), std::string("row number ") + std::to_string(i), double(i) / 7};
    db->queueInsertReusing("T", row);
    if (db->queueFull()) db->commitQueued();
  }
  db->commitQueued();
  db->close();
  return seconds(start);
}

// Each step's calls are operations of their own, or (`oneOperation`) one read operation holds the
// whole step, as an export or a check does.
double readLoop(const std::string& path, long loops, bool oneOperation) {
  auto db = jet::Database::open(path);
  const auto start = Clock::now();
  size_t seen = 0;
  for (long i = 0; i < loops; ++i) {
    auto reading = oneOperation ? db->readOperation() : nullptr;
    seen += db->table("T").columns.size();
    auto cursor = db->openTable("T");
    for (int r = 0; r < 20 && cursor->next(); ++r) seen += cursor->values().size();
  }
  if (seen == 0) std::puts("nothing read");
  return seconds(start);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 200000;
  const long loops = argc > 2 ? std::atol(argv[2]) : 3000;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
  const std::string dir = argc > 4 ? argv[4] : "/tmp";
  const std::string path = dir + "/sharing_bench.mdb";
  std::vector<double> importOn, importOff, readOn, readOff, heldOn, heldOff;
  for (int r = 0; r < runs; ++r)
    for (bool on : {true, false}) {
      jet::PageFile::setLocking(on);
      (on ? importOn : importOff).push_back(importRows(path, rows));
      (on ? readOn : readOff).push_back(readLoop(path, loops, false));
      (on ? heldOn : heldOff).push_back(readLoop(path, loops, true));
    }
  std::printf("locking  import of %ld rows: %.3f s with locking, %.3f s without: %.3fx\n", rows, median(importOn),
              median(importOff), median(importOn) / median(importOff));
  std::printf("locking  read loop of %ld steps (definition and 20 rows, each its own operation): %.3f s with, "
              "%.3f s without: %.3fx\n",
              loops, median(readOn), median(readOff), median(readOn) / median(readOff));
  std::printf("locking  read loop of %ld steps (the same, each step one operation): %.3f s with, %.3f s without: %.3fx\n",
              loops, median(heldOn), median(heldOff), median(heldOn) / median(heldOff));
  std::filesystem::remove(path);
  return 0;
}
