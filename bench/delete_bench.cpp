// Range-delete speed: a Jet 4 table of ROWS rows (auto-number primary key, indexed text, a long, a
// memo in one row in ten) is loaded through the bulk path, then every row is deleted with
// `tabulonix-cli delete FILE Big 0 LAST`, as a user would. Prints both rates and their ratio (the
// load is the peer measured in the same run) and checks the file afterwards. Commits are forced to
// the disk unless TABULONIX_NO_SYNC=1.
//
// Usage: delete_bench [ROWS] [WORKDIR]   (default 300000 rows in /tmp)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "cli/commands.h"
#include "jet/database.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 300000;
  const fs::path dir = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "tabulonix-delete-bench";
  fs::create_directories(dir);
  const std::string db = (dir / "delete.mdb").string();
  fs::remove(db);
  double loadSeconds = 0;
  {
    auto d = jet::Database::create(db);
    jet::NewTable t;
    t.name = "Big";
    t.columns = {{"ID", jet::ColumnType::Long, 0, true}, {"Name", jet::ColumnType::Text, 60},
                 {"Qty", jet::ColumnType::Long}, {"Note", jet::ColumnType::Memo}};
    t.columns[0].autoNumber = true;
    t.indexes = {{"PrimaryKey", {{0, true}}, true, true}, {"ByName", {{1, true}}}};
    d->createTable(t);
    const auto start = Clock::now();
    for (long i = 0; i < rows; ++i) {
      d->queueInsert("Big", {jet::Null{}, "Name " + std::to_string(i * 7919 % 1000003), int64_t(i % 1000),
                             i % 10 == 0 ? jet::Value{"A longer note for row " + std::to_string(i) + std::string(80, '.')}
                                         : jet::Value{}});
      if (d->queueFull()) d->commitQueued();
    }
    d->close();
    loadSeconds = seconds(start);
  }
  std::ostringstream out, err;
  std::istringstream in;
  const auto start = Clock::now();
  const int rc = cli::run({"delete", db, "Big", "0", std::to_string(rows - 1)}, in, out, err);
  const double deleteSeconds = seconds(start);
  if (rc != 0) {
    std::fprintf(stderr, "delete failed: %s", err.str().c_str());
    return 1;
  }
  auto check = jet::Database::open(db, {true, ""});
  const bool ok = check->check().ok() && check->table("Big").rowCount == 0;
  std::printf("load: %ld rows in %.2f s = %.0f rows/s\n", rows, loadSeconds, double(rows) / loadSeconds);
  std::printf("range delete: %ld rows in %.2f s = %.0f rows/s (%.2f of the load's rate)%s\n", rows, deleteSeconds,
              double(rows) / deleteSeconds, loadSeconds / deleteSeconds, ok ? "" : "  CHECK FAILED");
  return ok ? 0 : 1;
}
