// The main window as the commands of the other windows see it: its tab strip, record grid and
// status line, and the procedures that refresh them.
#pragma once

#include <QString>

class QWidget;

namespace shell {

class MainWindow {
 public:
  virtual ~MainWindow() = default;
  virtual QWidget* widget() = 0;

  virtual int TabCount() const = 0;
  virtual int TabIndex() const = 0;          // iTabIndex: 1-based tab of the last tab click
  virtual int GridRowCount() const = 0;
  virtual int GridSelectedIndex() const = 0; // 1-based displayed row, 0 when none is selected
  // Zero-based position, in stored order, of the record shown in displayed row `index` (1-based):
  // after a header sort this differs from index - 1.
  virtual int RecordPositionOfRow(int index) const = 0;
  // Text of a grid cell: displayed row `index` (1-based), `column` 0 for the first column.
  virtual QString GridCellText(int index, int column) const { return QString(); }
  virtual int MouseButton() const = 0;       // lMouseButton: 1 left, 2 right, 4 middle
  virtual void ClearGrid() = 0;              // all rows and all column headers
  virtual void SetStatus(const QString& text) = 0;
  virtual QString Status() const = 0;

  virtual void RefreshTables(int n) = 0;     // FillTabs, then SelectTab(n)
  virtual void SelectTab(int n) = 0;         // with tabs: select tab n and run the tab click
  virtual void SelectRow(int index) = 0;     // with rows: select, scroll to, focus, iRecPos
};

}  // namespace shell
