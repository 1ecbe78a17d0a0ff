#include "app/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>

#include "app/compact_command.h"
#include "app/open_database.h"
#include "shell/dialogs.h"
#include "shell/error_report.h"
#include "shell/shell.h"
#include "shell/status_line.h"
#include "browse/commands.h"
#include "browse/grid.h"
#include "browse/record_grid.h"
#include "db/session.h"
#include "design/commands.h"
#include "edit/commands.h"

namespace app {
namespace {

constexpr const char* kOpenFirst = "Please open or create a database first.";
constexpr const char* kAddTable = "Please add a table to a database.";
constexpr const char* kCannotOpen = "Cannot open database.";

struct ButtonPlace {
  int number;
  int left, top;
  const char* caption;
};

// The buttons in keyboard order: two columns, rows 510 twips apart, three rows above the tables
// frame and six below it.
constexpr ButtonPlace kButtons[] = {
    {1, 120, 120, "New Database"},        {2, 4080, 120, "Open Database"},
    {3, 120, 630, "Close Database"},      {4, 4080, 630, "Compact DB"},
    {17, 120, 1140, "Load Sample/Example Database"}, {18, 4080, 1140, "Help"},
    {5, 120, 4810, "New Table"},          {11, 4080, 4810, "Rename Table"},
    {12, 120, 5320, "Delete Table"},      {13, 4080, 5320, "Table Information"},
    {6, 120, 5830, "Search"},             {7, 4080, 5830, "Move First"},
    {8, 120, 6340, "Move Previous"},      {9, 4080, 6340, "Move Next"},
    {10, 120, 6850, "Move Last"},         {14, 4080, 6850, "Add Record"},
    {15, 120, 7360, "Edit Record"},       {16, 4080, 7360, "Delete Record"},
};

void whiteBackground(QWidget* w) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, Qt::white);
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

QString path(int number) { return QStringLiteral("Form1.PushButton%1_Click").arg(number); }

std::string utf8(const QString& s) { return s.toStdString(); }

QString droppedFile(const QMimeData* data) {
  if (!data || !data->hasUrls() || data->urls().size() != 1) return QString();
  const QUrl url = data->urls().front();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

Form1::Form1(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Form1"));
  // A fixed window without a maximize button.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFont(shell::BoldArial(9));
  setFixedSize(shell::TwipsToPixels(8040), shell::TwipsToPixels(8250));
  setAcceptDrops(true);
  buildControls();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
}

void Form1::buildControls() {
  for (const ButtonPlace& place : kButtons) {
    auto* b = new QPushButton(QString::fromLatin1(place.caption), this);
    b->setObjectName(QStringLiteral("PushButton%1").arg(place.number));
    b->setGeometry(shell::TwipsRect(place.left, place.top, 3840, 405));
    b->setFont(shell::BoldArial(11.25));
    b->setAutoDefault(false);
    int number = place.number;
    connect(b, &QPushButton::clicked, this, [this, number] { PushButton_Click(number); });
    buttons_[place.number] = b;
  }

  frame7_ = new QGroupBox(QStringLiteral("Tables:"), this);
  frame7_->setObjectName(QStringLiteral("Frame7"));
  frame7_->setGeometry(shell::TwipsRect(120, 1620, 7800, 3075));
  whiteBackground(frame7_);

  // The tab strip: the tabs along the top of its area and a framed client area below them.
  QRect strip = shell::TwipsRect(120, 210, 7560, 2760);
  sTab1_ = new QTabBar(frame7_);
  sTab1_->setObjectName(QStringLiteral("sTab1"));
  sTab1_->setExpanding(false);
  sTab1_->setUsesScrollButtons(true);
  sTab1_->setDrawBase(false);
  sTab1_->setDocumentMode(false);
  int tabHeight = sTab1_->sizeHint().height() > 0 ? std::max(sTab1_->sizeHint().height(), shell::TwipsToPixels(330))
                                                  : shell::TwipsToPixels(330);
  sTab1_->setGeometry(strip.left(), strip.top(), strip.width(), tabHeight);
  tabPane_ = new QFrame(frame7_);
  tabPane_->setObjectName(QStringLiteral("sTab1Pane"));
  tabPane_->setFrameShape(QFrame::StyledPanel);
  tabPane_->setGeometry(strip.left(), strip.top() + tabHeight - 1, strip.width(), strip.height() - tabHeight + 1);
  whiteBackground(tabPane_);

  frame1_ = new QGroupBox(QStringLiteral("Records:"), frame7_);
  frame1_->setObjectName(QStringLiteral("Frame1"));
  frame1_->setGeometry(shell::TwipsRect(240, 630, 7320, 2205));
  whiteBackground(frame1_);
  frame1_->raise();

  lstV_ = new browse::RecordGrid(frame1_);
  lstV_->setObjectName(QStringLiteral("LstV"));
  lstV_->setGeometry(shell::TwipsRect(120, 240, 7020, 1875));
  lstV_->viewport()->installEventFilter(this);

  lblStatus_ = new QLabel(QStringLiteral("Ready"), this);
  lblStatus_->setObjectName(QStringLiteral("lblStatus"));
  lblStatus_->setGeometry(shell::TwipsRect(120, 7880, 7800, 255));
  lblStatus_->setTextFormat(Qt::PlainText);

  connect(sTab1_, &QTabBar::currentChanged, this, [this](int) {
    if (!selectingTab_) userTabClick();
  });
  // A click on the tab that is already selected is a tab click too: it reloads the grid and the
  // count (the tab strip reports no change for it).
  connect(sTab1_, &QTabBar::tabBarClicked, this, [this](int index) {
    if (!selectingTab_ && index >= 0 && index == sTab1_->currentIndex()) userTabClick();
  });
  connect(lstV_, &QAbstractItemView::clicked, this, [this](const QModelIndex&) {
    try {
      LstV_Click();
    } catch (...) {
      shell::MsgBox(shell::describeCurrentException(), shell::Buttons::Ok, shell::Icon::None, QString(), this);
    }
  });
  connect(lstV_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex&) { edit::GridDoubleClick(*this); });
  connect(lstV_->header(), &QHeaderView::sectionClicked, this, [this](int section) {
    try {
      LstV_ColumnClick(section);
    } catch (...) {
      shell::MsgBox(shell::describeCurrentException(), shell::Buttons::Ok, shell::Icon::None, QString(), this);
    }
  });

  // Keyboard order: the grid first, then the buttons row by row, the tab strip last.
  QWidget* previous = lstV_;
  for (const ButtonPlace& place : kButtons) {
    setTabOrder(previous, buttons_[place.number]);
    previous = buttons_[place.number];
  }
  setTabOrder(previous, sTab1_);
}

bool Form1::Form_Load() {
  shell::Procedure p(QStringLiteral("Form1.Form_Load"));
  p(100, [&] {
    setWindowTitle(QString::fromLatin1(shell::kProductName));
    if (!QApplication::windowIcon().isNull()) setWindowIcon(QApplication::windowIcon());
  });
  p(102, [&] { shell::SetAppTitle(); });
  p(104, [&] { shell::ApplySkin(this); });
  p(106, [&] { shell::InstallHoverPointer(this); });
  p(108, [&] { shell::VisitHomePage(); });
  p(110, [&] { sInitDir = shell::ProgramFolder(); });
  p(112, [&] {
    selectingTab_ = true;
    while (sTab1_->count() > 0) sTab1_->removeTab(0);
    selectingTab_ = false;
  });
  p(114, [&] { whiteBackground(lblStatus_); });
  p(116, [&] { bSilent = true; });
  p(118, [&] { PushButton3_Click(); });
  p(120, [&] { bSilent = false; });
  bool provider = false;
  p(122, [&] { provider = shell::CheckProvider(); });
  return provider;
}

// ---- MainWindow ----

int Form1::TabCount() const { return sTab1_->count(); }

int Form1::GridRowCount() const { return lstV_->records()->rows(); }

int Form1::GridSelectedIndex() const { return lstV_->selectedRow() + 1; }

int Form1::RecordPositionOfRow(int index) const {
  if (index < 1 || index > GridRowCount()) return -1;
  return lstV_->records()->storedPosition(index - 1);
}

QString Form1::GridCellText(int index, int column) const {
  if (index < 1 || index > GridRowCount()) return QString();
  return lstV_->records()->cellText(index - 1, column);
}

void Form1::ClearGrid() {
  lstV_->records()->clearRows();
  lstV_->records()->clearHeaders();
  lstV_->header()->setSortIndicatorShown(false);
}

void Form1::SetStatus(const QString& text) { lblStatus_->setText(text); }

QString Form1::Status() const { return lblStatus_->text(); }

void Form1::RefreshTables(int n) {
  std::vector<std::string> names = modDB::FillTabs();
  selectingTab_ = true;
  while (sTab1_->count() > 0) sTab1_->removeTab(0);
  for (const std::string& name : names) sTab1_->addTab(QString::fromStdString(name));
  selectingTab_ = false;
  SelectTab(n);
}

void Form1::SelectTab(int n) {
  if (sTab1_->count() == 0) return;
  if (n < 1 || n > sTab1_->count()) throw shell::RuntimeError(35600, "Index out of bounds");
  selectingTab_ = true;
  sTab1_->setCurrentIndex(n - 1);
  selectingTab_ = false;
  sTab1_Click();
}

void Form1::SelectRow(int index) {
  if (GridRowCount() == 0) return;
  if (index < 1 || index > GridRowCount()) throw shell::RuntimeError(35600, "Index out of bounds");
  lstV_->selectDisplayedRow(index - 1);
  lstV_->setFocus();
  LstV_Click();
}

// ---- Tab strip and grid ----

void Form1::sTab1_Click() {
  if (sTab1_->count() > 0) {
    iTabIndex = sTab1_->currentIndex() + 1;
    modDB::sTable = utf8(sTab1_->tabText(sTab1_->currentIndex()));
    lstV_->header()->setSortIndicatorShown(false);
    browse::FillColumns(modDB::sTable, *lstV_);
    if (browse::FillRecords(modDB::sTable, *lstV_) != 1)
      shell::MsgBox(QString::fromStdString(modDB::sLastError), shell::Buttons::Ok, shell::Icon::None, QString(), this);
  }
  lblStatus_->setText(shell::RecordsStatus(browse::CountRecords()));
}

// A tab clicked by the user: a table that cannot be listed is reported in a plain box with the
// engine's text, and the window stays usable.
void Form1::userTabClick() {
  try {
    sTab1_Click();
  } catch (...) {
    shell::MsgBox(shell::describeCurrentException(), shell::Buttons::Ok, shell::Icon::None, QString(), this);
  }
}

void Form1::LstV_Click() {
  if (GridRowCount() == 0) return;
  int row = lstV_->selectedRow();
  // Rows past the range of a 16-bit position cannot become current; the current row stays.
  if (row >= 0 && row <= 32767) modDB::iRecPos = static_cast<int16_t>(row);
}

void Form1::LstV_ColumnClick(int column) {
  bSortDesc = !bSortDesc;
  lstV_->records()->sortBy(column, bSortDesc);
  lstV_->header()->setSortIndicatorShown(true);
  lstV_->header()->setSortIndicator(column, bSortDesc ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void Form1::LstV_MouseDown(int button) { lMouseButton = button; }

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lstV_->viewport() && event->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    int code = mouse->button() == Qt::LeftButton ? 1 : mouse->button() == Qt::RightButton ? 2
               : mouse->button() == Qt::MiddleButton ? 4 : 0;
    if (code) LstV_MouseDown(code);
  }
  return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event) {
  // Closing the main window ends the application; the open database is released, not closed.
  event->accept();
  QCoreApplication::quit();
}

// ---- Commands ----

QString Form1::ShowFileDialog(int mode, const QString& filter, const QString& title) {
  shell::FileDialogResult r = shell::dialogs().fileDialog(this, mode != 0, title, filter, sInitDir);
  if (!r.folder.isEmpty()) sInitDir = r.folder;
  iFilterIndex = r.filterIndex;
  return r.path;
}

void Form1::guardedNotice(const QString& procedure, const char* text) {
  shell::Procedure p(procedure);
  p(100, [&] { shell::MsgBox(QString::fromLatin1(text), shell::Buttons::Ok, shell::Icon::None, QString(), this); });
}

void Form1::PushButton_Click(int number) {
  switch (number) {
    case 1: PushButton1_Click(); break;
    case 2: PushButton2_Click(); break;
    case 3: PushButton3_Click(); break;
    case 4: CompactCommand(*this); break;
    case 5:
      if (!modDB::bDBOpen) return guardedNotice(path(5), kOpenFirst);
      design::NewTableCommand(*this);
      break;
    case 6: browse::SearchCommand(*this); break;
    case 7: browse::MoveFirstCommand(*this); break;
    case 8: browse::MovePreviousCommand(*this); break;
    case 9: browse::MoveNextCommand(*this); break;
    case 10: browse::MoveLastCommand(*this); break;
    case 11:
      if (TabCount() == 0) return guardedNotice(path(11), kAddTable);
      design::RenameTableCommand(*this);
      break;
    case 12:
      if (TabCount() == 0) return guardedNotice(path(12), kAddTable);
      design::DeleteTableCommand(*this);
      break;
    case 13: browse::TableInfoCommand(*this); break;
    case 14:
      if (TabCount() == 0) return guardedNotice(path(14), kAddTable);
      edit::AddRecordCommand(*this);
      break;
    case 15:
      if (TabCount() == 0 || GridRowCount() == 0) return guardedNotice(path(15), kAddTable);
      edit::EditRecordCommand(*this);
      break;
    case 16:
      if (TabCount() == 0 || GridRowCount() == 0) return guardedNotice(path(16), kAddTable);
      edit::DeleteRecordCommand(*this);
      break;
    case 17: PushButton17_Click(); break;
    case 18: PushButton18_Click(); break;
    default: break;
  }
}

void Form1::PushButton1_Click() {
  shell::Procedure p(path(1));
  QString file;
  p(100, [&] { file = ShowFileDialog(0, QString::fromLatin1(kDatabaseFilter), QStringLiteral("Create DB")); });
  if (file.isEmpty()) return;
  bool replace = true;
  p(102, [&] {
    if (shell::FileExists(file))
      replace = shell::MsgBox(file + QStringLiteral(" already exists.\r\nDo you want to replace it?"), shell::Buttons::YesNo,
                              shell::Icon::None, QString(), this) == shell::Answer::Yes;
  });
  if (!replace) return;
  p(104, [&] { bSilent = true; });
  p(106, [&] { PushButton3_Click(); });
  p(108, [&] { bSilent = false; });
  p(110, [&] {
    if (shell::FileExists(file)) shell::RemoveFile(file);
  });
  int32_t version = dao::dbVersion40;
  p(112, [&] { version = iFilterIndex == 1 ? dao::dbVersion30 : dao::dbVersion40; });
  bool created = false;
  p(114, [&] {
    created = modDB::CreateDB(utf8(file), version) == 1;
    if (!created)
      shell::MsgBox(QStringLiteral("There was an error createing the database."), shell::Buttons::Ok, shell::Icon::None,
                    QString(), this);
  });
  if (!created) return;
  bool opened = false;
  p(116, [&] {
    modDB::bDBOpen = modDB::OpenDB(utf8(file));
    opened = modDB::bDBOpen;
    if (!opened) shell::MsgBox(QString::fromLatin1(kCannotOpen), shell::Buttons::Ok, shell::Icon::None, QString(), this);
  });
  if (!opened) return;
  p(118, [&] { modDB::sDBPath = utf8(file); });
  p(120, [&] { RefreshTables(1); });
  p(122, [&] { SetStatus(shell::OpenedStatus(file)); });
}

void Form1::PushButton2_Click() {
  shell::Procedure p(path(2));
  QString file;
  p(100, [&] { file = ShowFileDialog(1, QString::fromLatin1(kOpenDatabaseFilter), QStringLiteral("Open")); });
  if (file.isEmpty()) return;
  openChosenFile(p, file);
}

void Form1::OpenDatabase(const QString& file) {
  if (file.isEmpty()) return;
  shell::Procedure p(path(2));
  // The full path, as the file dialog gives it.
  openChosenFile(p, QFileInfo(file).absoluteFilePath());
}

// Open Database once the file is chosen: the current database is closed first, the file opened
// (with its password where it has one), and the window shows its tables.
void Form1::openChosenFile(shell::Procedure& p, const QString& file) {
  p(102, [&] { bSilent = true; });
  p(104, [&] { PushButton3_Click(); });
  p(106, [&] { bSilent = false; });
  bool opened = false;
  p(108, [&] {
    modDB::bDBOpen = OpenDatabaseFile(file, this);
    opened = modDB::bDBOpen;
    if (!opened) shell::MsgBox(QString::fromLatin1(kCannotOpen), shell::Buttons::Ok, shell::Icon::None, QString(), this);
  });
  if (!opened) return;
  p(110, [&] { modDB::sDBPath = utf8(file); });
  p(112, [&] { RefreshTables(1); });
  p(114, [&] { SetStatus(shell::OpenedStatus(file)); });
}

// A file dragged from the file manager: one local file is taken, and dropping it opens it.
void Form1::dragEnterEvent(QDragEnterEvent* event) {
  if (!droppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event) {
  const QString file = droppedFile(event->mimeData());
  if (file.isEmpty()) return;
  event->acceptProposedAction();
  // Opened once the drop has finished, so the file manager is not kept waiting on a question.
  QTimer::singleShot(0, this, [this, file] { OpenDatabase(file); });
}

void Form1::PushButton3_Click() {
  shell::Procedure p(path(3));
  if (modDB::bDBOpen) {
    p(100, [&] { modDB::CloseDB(); });
    p(102, [&] { ClearGrid(); });
    p(104, [&] {
      selectingTab_ = true;
      while (sTab1_->count() > 0) sTab1_->removeTab(0);
      selectingTab_ = false;
    });
    p(106, [&] { SetStatus(QStringLiteral("Ready")); });
  } else if (!bSilent) {
    p(108, [&] { shell::MsgBox(QString::fromLatin1(kOpenFirst), shell::Buttons::Ok, shell::Icon::None, QString(), this); });
  }
}

void Form1::PushButton17_Click() {
  shell::Procedure p(path(17));
  p(100, [&] { bSilent = true; });
  p(102, [&] { PushButton3_Click(); });
  p(104, [&] { bSilent = false; });
  QString file;
  p(106, [&] {
    file = shell::ProgramFile(QStringLiteral("\\Samples\\Sample.mdb"));
    modDB::bDBOpen = OpenDatabaseFile(file, this);
  });
  if (modDB::bDBOpen) {
    p(108, [&] { modDB::sDBPath = utf8(file); });
    p(110, [&] { RefreshTables(1); });
    p(112, [&] { SetStatus(shell::OpenedStatus(file)); });
  } else {
    p(114, [&] { shell::MsgBox(QString::fromLatin1(kCannotOpen), shell::Buttons::Ok, shell::Icon::None, QString(), this); });
  }
  p(116, [&] {
    if (shell::MsgBox(QStringLiteral("Would you like this software to open the folder where these sample files are "
                                     "stored (so that you can view them before working with them)?"),
                      shell::Buttons::YesNo, shell::Icon::None, QString(), this) == shell::Answer::Yes) {
      const QString folder = shell::ProgramFile(QStringLiteral("\\Samples\\"));
      // Without a file manager to hand the folder to, the user is told where it is instead.
      if (!shell::dialogs().shellOpen(folder))
        shell::MsgBox(QStringLiteral("The sample folder could not be opened here. You can open it yourself:\r\n") +
                          QDir::toNativeSeparators(folder),
                      shell::Buttons::Ok, shell::Icon::None, QString(), this);
    }
  });
}

void Form1::PushButton18_Click() {
  shell::Procedure p(path(18));
  p(100, [&] { shell::ShowHelp(this); });
}

}  // namespace app
