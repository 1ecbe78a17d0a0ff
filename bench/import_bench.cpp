// Import speed: generated rows (auto-number primary key, text, long, currency, double, date,
// Boolean, a memo in one row in ten) imported into a new Jet 4 table through the command-line
// tool's import, as `tabulonix-cli import` does it. Prints rows per second and the peak resident
// memory of the process (the rows are streamed from a file, so the memory is the importer's own).
//
// Usage: import_bench [ROWS] [WORKDIR]   (default 1000000 rows in /tmp)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "cli/commands.h"
#include "jet/database.h"

namespace {

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long peakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

void writeRows(const std::string& path, long rows) {
  std::ofstream out(path);
  std::mt19937_64 rng(42);
  char buf[512];
  for (long i = 1; i <= rows; ++i) {
    long long secs = 946684800LL + long(rng() % 630000000ULL);
    std::time_t t = std::time_t(secs);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
    int n = std::snprintf(buf, sizeof buf,
                          "{\"Name\":\"Name %ld %08x\",\"Qty\":%u,\"Price\":\"%u.%02u\",\"Ratio\":%.17g,"
                          "\"Created\":\"%s\",\"Active\":%s",
                          i, unsigned(rng()), unsigned(rng() % 100000), unsigned(rng() % 50000), unsigned(rng() % 100),
                          double(rng() % 1000000) / 1000000.0, date, (rng() & 1) ? "true" : "false");
    out.write(buf, n);
    if (i % 10 == 0)
      out << ",\"Note\":\"A longer note for row " << i
          << ", written to exercise memo storage in one row of ten.\"";
    out << "}\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  const std::filesystem::path dir =
      argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path() / "tabulonix-import-bench";
  std::filesystem::create_directories(dir);
  const std::string db = (dir / "import.mdb").string(), input = (dir / "rows.jsonl").string();
  std::filesystem::remove(db);
  writeRows(input, rows);
  const long before = peakKb();

  {
    auto d = jet::Database::create(db);
    jet::NewTable t;
    t.name = "Big";
    auto col = [&](const char* name, jet::ColumnType type, int size = 0) {
      jet::NewColumn c;
      c.name = name;
      c.type = type;
      c.size = size;
      c.allowZeroLength = true;
      t.columns.push_back(c);
    };
    col("ID", jet::ColumnType::Long);
    t.columns.back().autoNumber = true;
    col("Name", jet::ColumnType::Text, 60);
    col("Qty", jet::ColumnType::Long);
    col("Price", jet::ColumnType::Currency);
    col("Ratio", jet::ColumnType::Double);
    col("Created", jet::ColumnType::DateTime);
    col("Active", jet::ColumnType::Boolean);
    col("Note", jet::ColumnType::Memo);
    jet::NewIndex pk;
    pk.name = "PrimaryKey";
    pk.columns = {{0, true}};
    pk.primaryKey = pk.unique = pk.required = true;
    t.indexes.push_back(pk);
    d->createTable(t);
    d->close();
  }

  std::ifstream in(input);
  std::ostringstream out, err;
  auto t0 = std::chrono::steady_clock::now();
  const double cpu0 = cpuSeconds();
  int rc = cli::run({"import", db, "Big"}, in, out, err);
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = cpuSeconds() - cpu0;
  if (rc != 0) {
    std::fprintf(stderr, "import failed: %s", err.str().c_str());
    return 1;
  }
  std::printf(
      "import: %ld rows in %.2f s = %.0f rows/s (processor time %.2f s), peak memory %ld KB (%ld KB before the "
      "import), file %.1f MB\n",
      rows, secs, rows / secs, cpu, peakKb(), before, double(std::filesystem::file_size(db)) / 1e6);
  std::filesystem::remove(input);
  return 0;
}
