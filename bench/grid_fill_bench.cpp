// Fills the record grid and reports the time and the process's peak memory.
//   grid_fill_bench synthetic ROWS [COLUMNS]   the grid alone, from generated cell texts
//   grid_fill_bench FILE.mdb TABLE             a table of a database, through the object model
//   grid_fill_bench make FILE.mdb ROWS         writes table Million (eight columns) to a new file
// The grid is shown (offscreen unless a display is set) and painted once after the fill. Printed:
// first_ms (the first paint that showed rows), fill_ms (rows read and the record count taken, as
// the window does), shown_ms (then scrolled to the end and painted), sort_ms (the second column
// sorted ascending, then painted), peak memory, and the processor time up to all rows shown
// (shown_cpu_ms) and of the sort (sort_cpu_ms).
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "browse/grid.h"
#include "browse/record_grid.h"
#include "db/session.h"

namespace {

// Processor time of this process so far (user and system), in milliseconds: what the work costs
// whatever else the machine is doing.
long long processorMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto ms = [](const timeval& t) { return static_cast<long long>(t.tv_sec) * 1000 + t.tv_usec / 1000; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

long peakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

void synthetic(browse::RecordGrid& grid, int rows, int columns) {
  browse::RecordModel* model = grid.records();
  model->clearHeaders();
  for (int c = 0; c < columns; ++c) model->appendHeader(QStringLiteral("Field%1").arg(c));
  model->beginFill(rows);
  std::string cell;
  for (int r = 0; r < rows; ++r) {
    model->startRow();
    for (int c = 0; c < columns; ++c) {
      // Texts of the widths a typical table shows: numbers, short words, dates.
      switch (c % 4) {
        case 0: cell = std::to_string(r + 1); break;
        case 1: cell = "Name " + std::to_string(r % 9973); break;
        case 2: cell = std::to_string((r * 37) % 100000) + ".25"; break;
        default: cell = "2024-03-" + std::to_string(10 + r % 18) + " 12:30:00"; break;
      }
      model->addCell(cell);
    }
    model->endRow();
  }
  model->endFill();
}

// A table of the shape the grid is measured with: number, text, number, currency, double, date,
// Boolean and text columns.
int makeTable(const std::string& path, int rows) {
  std::remove(path.c_str());
  dao::Database db = dao::Engine().CreateDatabase(path, modDB::kLocaleGeneral, dao::dbVersion40);
  dao::TableDef table = db.CreateTableDef("Million");
  struct Column {
    const char* name;
    int16_t type;
    int32_t size;
  } columns[] = {{"ID", dao::dbLong, 4},         {"Name", dao::dbText, 50},   {"Qty", dao::dbLong, 4},
                 {"Price", dao::dbCurrency, 8},  {"Ratio", dao::dbDouble, 8}, {"Created", dao::dbDate, 8},
                 {"Active", dao::dbBoolean, 1},  {"Code", dao::dbText, 20}};
  for (const Column& c : columns) table.GetFields().Append(table.CreateField(c.name, c.type, c.size));
  db.GetTableDefs().Append(table);
  dao::Recordset rs = db.OpenRecordset("Million");
  dao::Fields fields = rs.GetFields();
  std::vector<dao::Field> f;
  for (int i = 0; i < fields.Count(); ++i) f.push_back(fields.Item(i));
  for (int r = 0; r < rows; ++r) {
    rs.AddNew();
    f[0].SetValue(dao::Value(int64_t{r + 1}));
    f[1].SetValue(dao::Value(std::string("Name ") + std::to_string(r % 9973)));
    f[2].SetValue(dao::Value(int64_t{(r * 37) % 100000}));
    f[3].SetValue(dao::Value(jet::Currency{int64_t{r} * 125}));
    f[4].SetValue(dao::Value(r / 7.0));
    f[5].SetValue(dao::Value(jet::DateTime{45000.0 + r % 3000 + 0.5}));
    f[6].SetValue(dao::Value(r % 2 == 0));
    f[7].SetValue(dao::Value("C" + std::to_string(r * 13 % 100003)));
    rs.Update();
  }
  rs.Close();
  db.Close();
  return 0;
}

// Notes the time of the first paint of the grid's rows.
class FirstPaint : public QObject {
 public:
  FirstPaint(const QElapsedTimer& timer, const browse::RecordModel& model) : timer_(timer), model_(model) {}
  qint64 ms = -1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && ms < 0 && model_.rowCount() > 0) ms = timer_.elapsed();
    return QObject::eventFilter(watched, event);
  }

 private:
  const QElapsedTimer& timer_;
  const browse::RecordModel& model_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s synthetic ROWS [COLUMNS] | %s FILE.mdb TABLE\n", argv[0], argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  if (std::string(argv[1]) == "make" && argc == 4) {
    try {
      return makeTable(argv[2], std::atoi(argv[3]));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "cannot write the table: %s\n", e.what());
      return 1;
    }
  }
  QApplication application(argc, argv);
  browse::RecordGrid grid;
  grid.resize(470, 125);
  grid.show();
  QApplication::processEvents();
  long before = peakMegabytes();

  QElapsedTimer timer;
  FirstPaint firstPaint(timer, *grid.records());
  grid.viewport()->installEventFilter(&firstPaint);
  const long long cpuStart = processorMs();
  timer.start();
  std::string mode = argv[1];
  if (mode == "synthetic") {
    synthetic(grid, std::atoi(argv[2]), argc > 3 ? std::atoi(argv[3]) : 8);
  } else {
    if (!modDB::OpenDB(argv[1])) {
      std::fprintf(stderr, "cannot open %s\n", argv[1]);
      return 1;
    }
    modDB::bDBOpen = true;
    modDB::sTable = argv[2];
    browse::FillColumns(argv[2], grid);
    if (browse::FillRecords(argv[2], grid) != 1) {
      std::fprintf(stderr, "fill failed: %s\n", modDB::sLastError.c_str());
      return 1;
    }
    browse::CountRecords();  // the window's "Records:" count, shown with the rows
  }
  qint64 fillMs = timer.elapsed();
  grid.scrollToBottom();
  grid.repaint();
  QApplication::processEvents();
  qint64 totalMs = timer.elapsed();
  const long long shownCpu = processorMs() - cpuStart;
  if (firstPaint.ms < 0) firstPaint.ms = totalMs;
  QElapsedTimer sortTimer;
  const long long sortCpuStart = processorMs();
  sortTimer.start();
  grid.records()->sortBy(grid.records()->columnCount() > 1 ? 1 : 0, false);
  grid.repaint();
  QApplication::processEvents();
  qint64 sortMs = sortTimer.elapsed();
  const long long sortCpu = processorMs() - sortCpuStart;
  std::printf(
      "rows=%d columns=%d first_ms=%lld fill_ms=%lld shown_ms=%lld sort_ms=%lld grid_bytes=%zu peak_rss_mb=%ld "
      "(before fill %ld) shown_cpu_ms=%lld sort_cpu_ms=%lld\n",
      grid.records()->rows(), grid.records()->columnCount(), static_cast<long long>(firstPaint.ms),
      static_cast<long long>(fillMs), static_cast<long long>(totalMs), static_cast<long long>(sortMs),
      grid.records()->bytesHeld(), peakMegabytes(), before, shownCpu, sortCpu);
  return 0;
}
