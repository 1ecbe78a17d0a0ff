// Compaction speed: compacts a database of about 100 MB (made once and kept in the work folder:
// an indexed table with a memo column, one row in ten deleted) and reports the rate in MB of
// source per second, by the clock and by the processor time used (the clock depends on what else
// the machine is doing), beside a plain file copy of the same file for scale. The compacted copy
// is synced to disk, as the Compact DB command needs; the plain copy is not. Repair of the same
// (undamaged) file runs beside it: compaction's writer with the salvaging reader and the check of
// the result, reported as a ratio to compaction.
//
//   compact_bench [work-folder] [megabytes] [runs]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <vector>
#include <cstdio>
#include <filesystem>
#include <string>

#include "jet/database.h"
#include "jet/repair.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

double cpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// A table like a real one: an auto-number key, a few typed columns and a memo, with one row in ten
// deleted so that compaction has space to reclaim.
void makeSource(const fs::path& path, uintmax_t bytes) {
  auto db = jet::Database::create(path.string());
  jet::NewTable t;
  t.name = "Orders";
  t.columns = {{"ID", jet::ColumnType::Long, 0, true},  {"Customer", jet::ColumnType::Text, 60},
               {"Amount", jet::ColumnType::Currency},   {"Weight", jet::ColumnType::Double},
               {"Placed", jet::ColumnType::DateTime},   {"Paid", jet::ColumnType::Boolean},
               {"Notes", jet::ColumnType::Memo}};
  t.indexes = {{"PrimaryKey", {{0, true}}, true, true}};
  db->createTable(t);
  std::vector<jet::RowId> toDelete;
  for (int64_t i = 0;; ++i) {
    jet::RowId id = db->queueInsert(
        "Orders", {jet::Null{}, "Customer " + std::to_string(i * 7919 % 100000), jet::Currency{i * 125},
                   double(i) / 3.0, jet::DateTime{40000.0 + i % 5000}, i % 3 == 0,
                   std::string(150 + i % 200, static_cast<char>('a' + i % 26))});
    if (i % 10 == 3) toDelete.push_back(id);
    if (db->queueFull()) db->commitQueued();
    if (i % 20000 == 19999) {
      db->commitQueued();
      std::error_code ec;
      if (fs::file_size(path, ec) >= bytes) break;
    }
  }
  db->commitQueued();
  db->deleteRows("Orders", toDelete);
  db->close();
}

}  // namespace

int main(int argc, char** argv) {
  fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "tabulonix-compact-bench";
  uintmax_t megabytes = argc > 2 ? std::stoul(argv[2]) : 100;
  fs::create_directories(work);
  fs::path source = work / ("source-" + std::to_string(megabytes) + "mb.mdb");
  fs::path copy = work / "copy.mdb";
  fs::path compacted = work / "compacted.mdb";
  try {
    if (!fs::exists(source)) {
      auto start = Clock::now();
      makeSource(source, megabytes * 1024 * 1024);
      std::printf("made %s in %.1f s\n", source.c_str(), seconds(start));
    }
    const double mb = double(fs::file_size(source)) / (1024.0 * 1024.0);

    const int runs = argc > 3 ? std::max(1, std::stoi(argv[3])) : 3;
    std::vector<double> copyTimes, wallTimes, cpuTimes, repairTimes;
    double compactedMb = 0;
    for (int run = 0; run < runs; ++run) {
      fs::remove(copy);
      auto start = Clock::now();
      fs::copy_file(source, copy);
      copyTimes.push_back(seconds(start));
      fs::remove(copy);

      fs::remove(compacted);
      start = Clock::now();
      const double cpu = cpuSeconds();
      jet::Database::compact(source.string(), compacted.string());
      cpuTimes.push_back(cpuSeconds() - cpu);
      wallTimes.push_back(seconds(start));
      compactedMb = double(fs::file_size(compacted)) / (1024.0 * 1024.0);
      fs::remove(compacted);

      start = Clock::now();
      jet::repairDatabase(source.string(), compacted.string());
      repairTimes.push_back(seconds(start));
      fs::remove(compacted);
    }
    const double wall = median(wallTimes), cpu = median(cpuTimes), plain = median(copyTimes);
    std::printf("source %.1f MB, compacted %.1f MB; medians of %d runs\n", mb, compactedMb, runs);
    std::printf("plain file copy: %.3f s  %.0f MB/s\n", plain, mb / plain);
    std::printf("compaction:      %.3f s  %.0f MB/s by the clock; %.3f s  %.0f MB/s of processor time\n", wall,
                mb / wall, cpu, mb / cpu);
    const double repair = median(repairTimes);
    std::printf("repair:          %.3f s  %.0f MB/s by the clock; %.2f times compaction's time\n", repair, mb / repair,
                repair / wall);
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "error %d: %s\n", e.number(), e.what());
    return 1;
  }
  return 0;
}
