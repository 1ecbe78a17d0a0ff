#include "browse/grid.h"

#include <QApplication>
#include <QCursor>
#include <memory>

#include "shell/error_report.h"
#include "browse/record_grid.h"
#include "db/session.h"

namespace browse {
namespace {

// The hourglass for as long as a fill runs.
class BusyPointer {
 public:
  BusyPointer() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
      set_ = true;
    }
  }
  ~BusyPointer() {
    if (set_) QApplication::restoreOverrideCursor();
  }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;

 private:
  bool set_ = false;
};

void requireOpen() {
  if (!modDB::gDB.impl()) throw shell::RuntimeError(91, "Object variable or With block variable not set");
}

std::string_view upToNul(std::string_view s) {
  size_t nul = s.find('\0');
  return nul == std::string_view::npos ? s : s.substr(0, nul);
}

}  // namespace

void FillColumns(const std::string& table, RecordGrid& grid) {
  grid.records()->clearHeaders();
  requireOpen();
  dao::Recordset rs = modDB::gDB.OpenRecordset(table);
  dao::Fields fields = rs.GetFields();
  int n = fields.Count();
  for (int i = 0; i < n; ++i) grid.records()->appendHeader(QString::fromStdString(fields.Item(i).Name()));
}

int16_t FillRecords(const std::string& table, RecordGrid& grid) {
  BusyPointer busy;
  RecordModel* model = grid.records();
  int16_t result = 1;
  try {
    model->beginFill();
    requireOpen();
    dao::Recordset rs = modDB::gDB.OpenRecordset(table);
    dao::Fields fields = rs.GetFields();
    const int n = fields.Count();
    // Complex fields are read through their Field (their text); the others straight from the row.
    std::vector<dao::Field> complex(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
      if (dao::isComplexType(fields.Item(i).Type())) complex[static_cast<size_t>(i)] = fields.Item(i);
    std::string text;
    auto addCell = [&](const dao::Value& v) {
      if (const auto* s = std::get_if<std::string>(&v)) {
        model->addCell(upToNul(*s));
      } else {
        // Only texts can hold a NUL: the text of any other value is digits, signs and letters.
        text.clear();
        jet::appendText(text, v);
        model->addCell(text);
      }
    };
    // The first screenful is shown as soon as it is read; the rest follows when all are in. Each
    // screenful is read in one read operation of the file (one lock, one committed state), so
    // that another program's commit waits for a screenful at most.
    constexpr int kFirstRows = 256;
    int held = 0;
    std::shared_ptr<jet::ReadOperation> reading;
    for (;;) {
      if (held % kFirstRows == 0) {
        reading.reset();  // between screenfuls another program may commit
        reading = modDB::gDB.Reading();
      }
      if (rs.EOF_()) break;
      model->startRow();
      const std::vector<dao::Value>& values = rs.CurrentValues();
      for (int i = 0; i < n; ++i) {
        const dao::Field& field = complex[static_cast<size_t>(i)];
        if (field.impl())
          addCell(field.GetValue());
        else
          addCell(values[static_cast<size_t>(i)]);
      }
      model->endRow();
      if (++held == kFirstRows && grid.isVisible()) {
        reading.reset();  // not held while the window paints
        model->publish();
        grid.viewport()->repaint();
      }
      rs.MoveNext();
    }
  } catch (...) {
    modDB::sLastError = shell::describeCurrentException().toStdString();
    result = 0;
  }
  model->endFill();
  return result;
}

int16_t CountRecords() {
  try {
    requireOpen();
    dao::Recordset rs = modDB::gDB.OpenRecordset(modDB::sTable);
    int32_t count = rs.RecordCount();
    if (count > 32767 || count < -32768) throw shell::RuntimeError(6, "Overflow");
    return static_cast<int16_t>(count);
  } catch (...) {
    modDB::sLastError = shell::describeCurrentException().toStdString();
    return -1;
  }
}

}  // namespace browse
