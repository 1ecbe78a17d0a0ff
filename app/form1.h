// Form1, the main window: the eighteen command buttons, the table tabs, the record grid and the
// status line, with the window's own procedures (start-up, file dialog, tab refresh and selection,
// the grid's events).
#pragma once

#include <QString>
#include <QWidget>
#include <array>

#include "shell/error_report.h"
#include "shell/main_window.h"

class QGroupBox;
class QLabel;
class QPushButton;
class QTabBar;
class QFrame;
class QDragEnterEvent;
class QDropEvent;

namespace browse {
class RecordGrid;
}

namespace app {

constexpr const char* kDatabaseFilter = "Access Database Files(*.mdb)|*.mdb|";
// Open Database also offers the Access 2007+ files and every file.
constexpr const char* kOpenDatabaseFilter =
    "Access Database Files(*.mdb)|*.mdb|Access 2007+ Database Files(*.accdb)|*.accdb|All Files(*)|*|";

class Form1 : public QWidget, public shell::MainWindow {
  Q_OBJECT
 public:
  explicit Form1(QWidget* parent = nullptr);

  // Start-up; false when the application must end (the provider probe failed).
  bool Form_Load();

  // MainWindow
  QWidget* widget() override { return this; }
  int TabCount() const override;
  int TabIndex() const override { return iTabIndex; }
  int GridRowCount() const override;
  int GridSelectedIndex() const override;
  int RecordPositionOfRow(int index) const override;
  QString GridCellText(int index, int column) const override;
  int MouseButton() const override { return lMouseButton; }
  void ClearGrid() override;
  void SetStatus(const QString& text) override;
  QString Status() const override;
  void RefreshTables(int n) override;
  void SelectTab(int n) override;
  void SelectRow(int index) override;

  QString ShowFileDialog(int mode, const QString& filter, const QString& title);

  // Click handlers of the buttons, by number.
  void PushButton_Click(int number);
  void PushButton1_Click();   // New Database
  void PushButton2_Click();   // Open Database
  // Open Database with the file already chosen (named on the command line or dropped on the
  // window): the same steps, password question and reports as after the file dialog.
  void OpenDatabase(const QString& file);
  void PushButton3_Click();   // Close Database
  void PushButton17_Click();  // Load Sample/Example Database
  void PushButton18_Click();  // Help

  // Tab strip and grid events.
  void sTab1_Click();
  void LstV_Click();
  void LstV_ColumnClick(int column);
  void LstV_MouseDown(int button);

  QPushButton* button(int number) const { return buttons_[number]; }
  QTabBar* sTab1() const { return sTab1_; }
  browse::RecordGrid* LstV() const { return lstV_; }
  QLabel* lblStatus() const { return lblStatus_; }
  QGroupBox* Frame7() const { return frame7_; }
  QGroupBox* Frame1() const { return frame1_; }

  // Window state.
  QString sInitDir;
  int iFilterIndex = 1;
  bool bSilent = false;
  int iTabIndex = 0;
  int lMouseButton = 0;
  bool bSortDesc = false;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void buildControls();
  void guardedNotice(const QString& path, const char* text);
  void userTabClick();
  void openChosenFile(shell::Procedure& p, const QString& file);

  std::array<QPushButton*, 19> buttons_{};
  QGroupBox* frame7_ = nullptr;
  QFrame* tabPane_ = nullptr;
  QTabBar* sTab1_ = nullptr;
  QGroupBox* frame1_ = nullptr;
  browse::RecordGrid* lstV_ = nullptr;
  QLabel* lblStatus_ = nullptr;
  bool selectingTab_ = false;
};

}  // namespace app
