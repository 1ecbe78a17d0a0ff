// What the locking between programs costs: an import (rows queued, committed a batch at a time);
// a read loop (a table's definition and its first 20 rows, again and again, each engine call its
// own read operation, then each step in one); an export (every row, in one operation); and the
// object model's recordset walking every row, each move its own operation, then a screenful of
// 256 moves in one as the record grid fills. Each with the locking protocol on (with the read
// lease) and off, and on without the lease, in the same run.
//
// Measured in the CPU time of the whole process (its threads, the lease's releaser among them, and
// the system calls they make): on a machine shared with other work, the wall clock mostly measures
// the others. Each measure repeats its work until it takes about half a second of CPU without
// locking, and with locking and without it take turns at each repetition, so that a change in the
// machine's load falls on both alike. Prints for each measure the median time of RUNS
// runs with and without locking, their ratio, and the lowest and highest ratio of a single run
// (the noise). Without the lease the tight loops take 30-70 times as long, so that mode repeats
// its work fewer times and is compared per repetition.
//
// Usage: sharing_bench [ROWS] [LOOPS] [RUNS] [WORKDIR]   (default 200000 rows, 3000 steps, 5 runs)
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
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 200000;
  const long loops = argc > 2 ? std::atol(argv[2]) : 3000;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
  const std::string dir = argc > 4 ? argv[4] : "/tmp";
  const std::string path = dir + "/sharing_bench.mdb";
  enum { Import, Calls, Steps, Export, Moves, Screens, kMeasures };
  enum { Leased, Off, Unleased, kModes };
  // One repetition of a measure's work, in CPU seconds.
  auto once = [&](int m) {
    switch (m) {
      case Import: return importRows(path, rows);
      case Calls: return readLoop(path, loops, false);
      case Steps: return readLoop(path, loops, true);
      case Export: return exportRows(path);
      case Moves: return walkRecordset(path, 0);
      default: return walkRecordset(path, 256);
    }
  };
  auto setMode = [](int mode) {
    jet::PageFile::setLocking(mode != Off);
    jet::ReadLease::setEnabled(mode == Leased);
  };
  // How many repetitions make half a second without locking, from the quickest of three after
  // one to warm up (the import's also makes the file).
  constexpr double kLeast = 0.5;
  constexpr int kUnleasedShare = 32;
  int reps[kMeasures];
  setMode(Off);
  for (int m = 0; m < kMeasures; ++m) {
    once(m);
    const double quickest = std::min({once(m), once(m), once(m)});
    reps[m] = std::max(1, int(kLeast / std::max(quickest, 1e-4) + 0.999));
  }
  std::vector<double> times[kModes][kMeasures];  // CPU seconds per repetition
  for (int r = 0; r < runs; ++r)
    for (int m = 0; m < kMeasures; ++m) {
      double total[kModes] = {};
      for (int i = 0; i < reps[m]; ++i)
        for (int mode : {(r + i) % 2, (r + i + 1) % 2}) setMode(mode), total[mode] += once(m);
      const int unleased = std::max(1, reps[m] / kUnleasedShare);
      setMode(Unleased);
      for (int i = 0; i < unleased; ++i) total[Unleased] += once(m);
      for (int mode = 0; mode < kModes; ++mode) times[mode][m].push_back(total[mode] / (mode == Unleased ? unleased : reps[m]));
    }
  const std::string what[kMeasures] = {
      "import of " + std::to_string(rows) + " rows",
      "read loop of " + std::to_string(loops) + " steps (definition and 20 rows, each call its own operation)",
      "read loop of " + std::to_string(loops) + " steps (the same, each step one operation)",
      "export of " + std::to_string(rows) + " rows (one operation)",
      "recordset walk of " + std::to_string(rows) + " records (each move its own operation)",
      "recordset walk of " + std::to_string(rows) + " records (a screenful of 256 moves per operation)"};
  for (int m = 0; m < kMeasures; ++m) {
    std::vector<double> ratios;
    for (int r = 0; r < runs; ++r) ratios.push_back(times[Leased][m][r] / times[Off][m][r]);
    const double on = median(times[Leased][m]), off = median(times[Off][m]);
    std::printf("locking  %s, %d times: %.3f s with locking, %.3f s without: %.3fx (runs %.3fx-%.3fx; %.1fx without the read lease)\n",
                what[m].c_str(), reps[m], on * reps[m], off * reps[m], on / off, *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()), median(times[Unleased][m]) / off);
  }
  std::filesystem::remove(path);
  return 0;
}
