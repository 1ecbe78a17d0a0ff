// Range-delete speed: a Jet 4 table of ROWS rows (auto-number primary key, text, a long, a memo in
// one row in ten, like the import benchmark's table) is loaded through the bulk path, then every
// row is deleted with `tabulonix-cli delete FILE Big 0 LAST`, as a user would. Prints both rates
// (by the clock and by processor time) and their ratio, the load being the peer measured in the
// same run, and checks the file afterwards. Then, for scale, the rate of deleting rows one commit
// each (deleteRow) on a fresh load of 2,000 rows. Commits are forced to the disk unless
// TABULONIX_NO_SYNC=1.
//
// Usage: delete_bench [ROWS] [WORKDIR]   (default 300000 rows in /tmp)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "jet/database.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

double cpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A new database at `db` holding table Big with `rows` rows; returns the seconds (clock, processor).
std::pair<double, double> load(const std::string& db, long rows) {
  std::filesystem::remove(db);
  auto d = jet::Database::create(db);
  jet::NewTable t;
  t.name = "Big";
  t.columns = {{"ID", jet::ColumnType::Long, 0, true}, {"Name", jet::ColumnType::Text, 60},
               {"Qty", jet::ColumnType::Long}, {"Note", jet::ColumnType::Memo}};
  t.columns[0].autoNumber = true;
  t.indexes = {{"PrimaryKey", {{0, true}}, true, true}};
  d->createTable(t);
  const auto start = Clock::now();
  const double cpu = cpuSeconds();
  for (long i = 0; i < rows; ++i) {
    d->queueInsert("Big", {jet::Null{}, "Name " + std::to_string(i * 7919 % 1000003), int64_t(i % 1000),
                           i % 10 == 0 ? jet::Value{"A longer note for row " + std::to_string(i) + std::string(80, '.')}
                                       : jet::Value{}});
    if (d->queueFull()) d->commitQueued();
  }
  d->close();
  return {seconds(start), cpuSeconds() - cpu};
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 300000;
  const fs::path dir = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "tabulonix-delete-bench";
  fs::create_directories(dir);
  const std::string db = (dir / "delete.mdb").string();
  fs::remove(db);
  const auto [loadSeconds, loadCpu] = load(db, rows);
  std::ostringstream out, err;
  std::istringstream in;
  const auto start = Clock::now();
  const double cpu = cpuSeconds();
  const int rc = cli::run({"delete", db, "Big", "0", std::to_string(rows - 1)}, in, out, err);
  const double deleteSeconds = seconds(start), deleteCpu = cpuSeconds() - cpu;
  if (rc != 0) {
    std::fprintf(stderr, "delete failed: %s", err.str().c_str());
    return 1;
  }
  auto check = jet::Database::open(db, {true, ""});
  const bool ok = check->check().ok() && check->table("Big").rowCount == 0;
  std::printf("load: %ld rows in %.2f s = %.0f rows/s (processor %.2f s)\n", rows, loadSeconds,
              double(rows) / loadSeconds, loadCpu);
  std::printf("range delete: %ld rows in %.2f s = %.0f rows/s (%.2f of the load's rate; processor %.2f s)%s\n", rows,
              deleteSeconds, double(rows) / deleteSeconds, loadSeconds / deleteSeconds, deleteCpu,
              ok ? "" : "  CHECK FAILED");
  // The former way, for scale: one commit per row.
  constexpr long kSingles = 2000;
  load(db, kSingles);
  {
    auto d = jet::Database::open(db);
    std::vector<jet::RowId> ids;
    auto cursor = d->openTable("Big");
    while (cursor->next()) ids.push_back(cursor->rowId());
    cursor.reset();
    const auto t = Clock::now();
    for (const jet::RowId& id : ids) d->deleteRow("Big", id);
    d->close();
    const double s = seconds(t);
    std::printf("row by row: %ld rows in %.2f s = %.0f rows/s\n", kSingles, s, double(kSingles) / s);
  }
  return ok ? 0 : 1;
}
