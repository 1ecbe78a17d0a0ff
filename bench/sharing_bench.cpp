// What the locking between programs costs: an import (rows queued, committed a batch at a time);
// a read loop (a table's definition and its first 20 rows, again and again, each engine call its
// own read operation, then each step in one); an export (every row, in one operation); and the
// object model's recordset walking every row, each move its own operation, then a screenful of
// 256 moves in one as the record grid fills. Each with the locking protocol on (with the read
// lease, and with every operation taking its own lock) and off, in turn in the same run. Prints
// each measure's ratios to the run without locking (medians of RUNS runs each), in the CPU time of
// the whole process (its threads, and the system calls they make): on a machine shared with other
// work, the wall clock mostly measures the others.
//
// Usage: sharing_bench [ROWS] [LOOPS] [RUNS] [WORKDIR]   (default 200000 rows, 3000 loops, 5 runs)
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "db/dao.h"
#include "jet/database.h"
#include "jet/storage/page_file.h"
#include "jet/storage/read_lease.h"

namespace {

// The process's CPU time, as a clock.
struct Clock {
  using time_point = double;
  static double now() {
    timespec t;
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
  }
};

double seconds(double since) { return Clock::now() - since; }

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

// Every row, in one read operation.
double exportRows(const std::string& path) {
  auto db = jet::Database::open(path);
  const auto start = Clock::now();
  auto reading = db->readOperation();
  size_t seen = 0;
  auto cursor = db->openTable("T");
  while (cursor->next()) seen += cursor->values().size();
  if (seen == 0) std::puts("nothing read");
  return seconds(start);
}

// Every record through a recordset; `screenful` moves share one read operation (0: none do).
double walkRecordset(const std::string& path, int screenful) {
  dao::Database db = dao::Engine().OpenDatabase(path);
  const auto start = Clock::now();
  dao::Recordset rs = db.OpenRecordset("T");
  size_t seen = 0;
  std::shared_ptr<jet::ReadOperation> reading;
  for (long n = 0;; ++n) {
    if (screenful > 0 && n % screenful == 0) {
      reading.reset();
      reading = db.Reading();
    }
    if (rs.EOF_()) break;
    seen += rs.CurrentValues().size();
    rs.MoveNext();
  }
  reading.reset();
  db.Close();
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
  enum { Import, Calls, Steps, Export, Moves, Screens, kMeasures };
  enum { Leased, Unleased, Off, kModes };
  std::vector<double> times[kModes][kMeasures];
  for (int r = 0; r < runs; ++r)
    for (int mode : {Leased, Unleased, Off}) {
      jet::PageFile::setLocking(mode != Off);
      jet::ReadLease::setEnabled(mode == Leased);
      auto* into = times[mode];
      into[Import].push_back(importRows(path, rows));
      into[Calls].push_back(readLoop(path, loops, false));
      into[Steps].push_back(readLoop(path, loops, true));
      into[Export].push_back(exportRows(path));
      into[Moves].push_back(walkRecordset(path, 0));
      into[Screens].push_back(walkRecordset(path, 256));
    }
  const std::string what[kMeasures] = {
      "import of " + std::to_string(rows) + " rows",
      "read loop of " + std::to_string(loops) + " steps (definition and 20 rows, each call its own operation)",
      "read loop of " + std::to_string(loops) + " steps (the same, each step one operation)",
      "export of " + std::to_string(rows) + " rows (one operation)",
      "recordset walk of " + std::to_string(rows) + " records (each move its own operation)",
      "recordset walk of " + std::to_string(rows) + " records (a screenful of 256 moves per operation)"};
  for (int m = 0; m < kMeasures; ++m) {
    const double leased = median(times[Leased][m]), unleased = median(times[Unleased][m]), off = median(times[Off][m]);
    std::printf("locking  %s: %.3f s with locking, %.3f s without: %.3fx (%.3f s, %.3fx without the read lease)\n",
                what[m].c_str(), leased, off, leased / off, unleased, unleased / off);
  }
  std::filesystem::remove(path);
  return 0;
}
