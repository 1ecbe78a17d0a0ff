#include "edit/form4.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QWheelEvent>

#include "shell/error_report.h"
#include "shell/shell.h"
#include "shell/typed_text.h"
#include "db/record_save.h"
#include "db/session.h"
#include "edit/dfield.h"

namespace edit {
namespace {

constexpr int kRowHeightTwips = 735;
constexpr int kRowWidthTwips = 5955;
constexpr int kVisibleTwips = 4500;  // the part of the holder the rows are measured against
const QString kAutoInc = QStringLiteral("AutoInc");

void whiteBackground(QWidget* w) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, Qt::white);
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

const QString kComplexTip = QStringLiteral(
    "Attachments and multi-valued fields cannot be edited here; their values are kept as they are.");
const QString kCalculatedTip =
    QStringLiteral("A calculated field takes its value from its expression and cannot be edited.");

// A value box that shows its value but takes no typing, greyed as a disabled box is (its text
// can still be selected and copied), with the reason as its tooltip.
void ShowReadOnly(QLineEdit* box, const QString& why) {
  box->setReadOnly(true);
  QPalette p = box->palette();
  // The application's own colours: the editor's rows carry a white window colour.
  const QPalette application = QApplication::palette();
  p.setColor(QPalette::Base, application.color(QPalette::Disabled, QPalette::Window));
  p.setColor(QPalette::Text, application.color(QPalette::Disabled, QPalette::Text));
  box->setPalette(p);
  box->setToolTip(why);
}

void requireDatabase() {
  if (!modDB::gDB.impl()) throw shell::RuntimeError(91, "Object variable or With block variable not set");
}

}  // namespace

bool IsAutoField(const dao::Recordset& rs, int index) {
  try {
    return (rs.GetFields().Item(index).Attributes() & dao::dbAutoIncrField) == dao::dbAutoIncrField;
  } catch (...) {
    return false;
  }
}

Form4::Form4(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("Form4"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(shell::TwipsToPixels(6645), shell::TwipsToPixels(5430));
  setFont(shell::BoldArial(9));

  pHolder_ = new QFrame(this);
  pHolder_->setObjectName(QStringLiteral("pHolder"));
  pHolder_->setFrameShape(QFrame::StyledPanel);
  pHolder_->setGeometry(shell::TwipsRect(90, 135, 6420, 4665));
  whiteBackground(pHolder_);
  pMover_ = new QWidget(pHolder_);
  pMover_->setObjectName(QStringLiteral("pMover"));
  pMover_->setGeometry(0, 0, shell::TwipsToPixels(6045), 0);
  whiteBackground(pMover_);
  vBar1_ = new QScrollBar(Qt::Vertical, pHolder_);
  vBar1_->setObjectName(QStringLiteral("vBar1"));
  vBar1_->setGeometry(0, 0, shell::TwipsToPixels(300), pHolder_->height());
  connect(vBar1_, &QScrollBar::valueChanged, this, [this](int value) { pMover_->move(0, -value); });
  for (QWidget* w : {static_cast<QWidget*>(pHolder_), pMover_, static_cast<QWidget*>(vBar1_)})
    w->installEventFilter(this);

  const char* captions[] = {"Add", "Clear All", "Close"};
  const int lefts[] = {2565, 3915, 5265};
  for (int i = 0; i < 3; ++i) {
    auto* b = new QPushButton(QString::fromLatin1(captions[i]), this);
    b->setObjectName(QStringLiteral("PushButton%1").arg(i + 1));
    b->setGeometry(shell::TwipsRect(lefts[i], 4905, 1245, 400));
    b->setFont(shell::BoldArial(11.25));
    b->setAutoDefault(false);
    b->installEventFilter(this);
    buttons_[i] = b;
  }
  connect(buttons_[0], &QPushButton::clicked, this, &Form4::PushButton1_Click);
  connect(buttons_[1], &QPushButton::clicked, this, &Form4::PushButton2_Click);
  connect(buttons_[2], &QPushButton::clicked, this, &Form4::PushButton3_Click);

  Form_Load();
}

void Form4::Form_Load() {
  shell::Procedure p(QStringLiteral("Form4.Form_Load"));
  p(100, [&] { shell::ApplyFaceColor(this); });
  p(102, [&] { setWindowIcon(shell::ApplicationIcon()); });
  p(104, [&] { shell::InstallHoverPointer(this); });
  p(106, [&] { BuildFields(); });
  if (modTools::lEditMode == 0) {
    p(108, [&] {
      buttons_[0]->setText(QStringLiteral("Update"));
      setWindowTitle(QStringLiteral("Update Record"));
    });
    p(110, [&] { LoadRecord(); });
  }
  if (modTools::lEditMode == 1) {
    p(112, [&] {
      buttons_[0]->setText(QStringLiteral("Add"));
      setWindowTitle(QStringLiteral("Add Record"));
    });
    p(113, [&] { LoadDefaults(); });
  }
  p(114, [&] { FixAutoField(); });
  // Tab order: the rows in field order, then the buttons.
  QWidget* previous = nullptr;
  for (DField* row : rows_) {
    if (previous) setTabOrder(previous, row->txtValue());
    previous = row->txtValue();
  }
  for (QPushButton* b : buttons_) {
    if (previous) setTabOrder(previous, b);
    previous = b;
  }
  if (!rows_.empty()) rows_.front()->txtValue()->setFocus();
}

void Form4::BuildFields() {
  for (DField* row : rows_) delete row;
  rows_.clear();
  types_.clear();
  requireDatabase();
  dao::Fields fields = modDB::gDB.GetTableDefs().Item(modDB::sTable).GetFields();
  const int n = fields.Count();
  const int rowHeight = shell::TwipsToPixels(kRowHeightTwips);
  const int rowWidth = shell::TwipsToPixels(kRowWidthTwips);
  for (int k = 0; k < n; ++k) {
    dao::Field f = fields.Item(k);
    auto* row = new DField(pMover_, QStringLiteral("dField1"));
    row->setObjectName(QStringLiteral("dField1_%1").arg(k));
    row->setGeometry(0, k * rowHeight, rowWidth, rowHeight);
    row->setPalette(pMover_->palette());
    row->SetBackColor(0x00FFFFFFu);
    // The caption gets the row's width so long field names stay readable.
    row->lblName()->resize(rowWidth - row->lblName()->x(), row->lblName()->height());
    row->SetCaption(QString::fromStdString(f.Name()));
    if (f.Type() == dao::dbText) row->SetMaxLength(static_cast<int16_t>(std::min<int32_t>(f.Size(), 32767)));
    // Attachments, multi-valued and calculated fields show their values and are not edited here:
    // the box takes no typing, looks it (greyed like a disabled box) and says why.
    if (dao::isComplexType(f.Type()) || f.Calculated())
      ShowReadOnly(row->txtValue(), f.Calculated() ? kCalculatedTip : kComplexTip);
    for (QWidget* w : {static_cast<QWidget*>(row), static_cast<QWidget*>(row->lblName()),
                       static_cast<QWidget*>(row->txtValue())})
      w->installEventFilter(this);
    row->show();
    rows_.push_back(row);
    types_.push_back(f.Type());
  }
  // Scroll bar along the holder's inner right edge, full height.
  const QRect inner = pHolder_->contentsRect();
  vBar1_->setGeometry(inner.right() + 1 - vBar1_->width(), inner.top(), vBar1_->width(), inner.height());
  const int moverHeight = rows_.empty() ? rowHeight : rowHeight + rows_.back()->y();
  pMover_->resize(pMover_->width(), moverHeight);
  const int maximum = moverHeight - shell::TwipsToPixels(kVisibleTwips);
  vBar1_->setMinimum(0);
  vBar1_->setMaximum(std::max(0, maximum));
  vBar1_->setSingleStep(1);
  vBar1_->setPageStep(1);
  vBar1_->setProperty("Max", maximum);  // the figure before clamping, negative when all rows fit
  vBar1_->setEnabled(maximum > 0);
  vBar1_->raise();
}

void Form4::LoadRecord() {
  loaded_.clear();
  requireDatabase();
  dao::Recordset rs = modDB::gDB.OpenRecordset(modDB::sTable);
  rs.Move(modDB::iRecPos);
  dao::Fields fields = rs.GetFields();
  const int n = fields.Count();
  for (int k = 0; k < n; ++k) {
    const QString text = QString::fromStdString(jet::toText(fields.Item(k).GetValue()));
    if (k < RowCount()) {
      // What the box shows is the baseline: a one-line box may not hold every character of a memo
      // (line breaks), and a value the user did not touch must not be rewritten from the box.
      rows_[static_cast<size_t>(k)]->SetText(text);
      loaded_ << rows_[static_cast<size_t>(k)]->Text();
    } else {
      loaded_ << text;
    }
  }
  rs.Close();
}

void Form4::LoadDefaults() {
  requireDatabase();
  // A new record starts from the fields' default values, as the engine fills them in.
  dao::Recordset rs = modDB::gDB.OpenRecordset(modDB::sTable);
  rs.AddNew();
  dao::Fields fields = rs.GetFields();
  for (int k = 0; k < fields.Count() && k < RowCount(); ++k) {
    const jet::Value& v = fields.Item(k).GetValue();
    if (!jet::isNull(v)) rows_[static_cast<size_t>(k)]->SetText(QString::fromStdString(jet::toText(v)));
  }
  rs.CancelUpdate();
  rs.Close();
}

void Form4::FixAutoField() {
  shell::Procedure p(QStringLiteral("Form4.FixAutoField"));
  dao::Recordset rs;
  p(100, [&] {
    requireDatabase();
    rs = modDB::gDB.OpenRecordset(modDB::sTable);
  });
  p(102, [&] {
    const int n = rs.GetFields().Count();
    for (int k = 0; k < n; ++k) {
      if (IsAutoField(rs, k) && k < RowCount()) {
        DField* row = rows_[static_cast<size_t>(k)];
        row->SetText(kAutoInc);
        row->Tag = kAutoInc;
        row->SetEnabled(false);
      }
    }
  });
  p(104, [&] {
    if (rs.impl()) rs.Close();
  });
}

void Form4::HighlightField(int16_t index) {
  shell::Procedure p(QStringLiteral("Form4.HighlightField"));
  if (index < 0 || index >= RowCount()) return;
  DField* row = rows_[static_cast<size_t>(index)];
  p(100, [&] { row->SetSelStart(0); });
  p(102, [&] { row->SetSelLength(static_cast<int16_t>(row->Text().size())); });
  p(104, [&] {
    ScrollIntoView(index);
    row->txtValue()->setFocus();
  });
}

void Form4::ScrollIntoView(int index) {
  if (index < 0 || index >= RowCount()) return;
  const DField* row = rows_[static_cast<size_t>(index)];
  const int top = row->y(), bottom = top + row->height();
  const int visible = pHolder_->contentsRect().height();
  if (top < vBar1_->value()) vBar1_->setValue(top);
  else if (bottom > vBar1_->value() + visible) vBar1_->setValue(std::min(vBar1_->maximum(), bottom - visible));
}

void Form4::ScrollRows(int notches) {
  if (!vBar1_->isEnabled() || notches == 0) return;
  vBar1_->setValue(vBar1_->value() - notches * shell::TwipsToPixels(kRowHeightTwips));
}

// The wheel moves the rows one field per notch wherever it turns over the window, the scroll bar
// included (whose own steps stay one pixel for its arrows and track). Every control of the window
// hands its wheel turns here.
void Form4::wheelEvent(QWheelEvent* event) {
  wheelTurn_ += event->angleDelta().y();
  const int notches = wheelTurn_ / QWheelEvent::DefaultDeltasPerStep;
  wheelTurn_ -= notches * QWheelEvent::DefaultDeltasPerStep;
  ScrollRows(notches);
  event->accept();
}

bool Form4::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Wheel) {
    wheelEvent(static_cast<QWheelEvent*>(event));
    return true;
  }
  if (event->type() == QEvent::FocusIn) {
    // A field reached with the keyboard is scrolled into view.
    for (int k = 0; k < RowCount(); ++k)
      if (rows_[static_cast<size_t>(k)]->txtValue() == watched) ScrollIntoView(k);
  }
  return QDialog::eventFilter(watched, event);
}

int16_t Form4::AddRecord(int16_t& mode) {
  shell::Procedure p(QStringLiteral("Form4.AddRecord"));
  int refusedField = -1;
  // Each box's text in the engine's form (dates and numbers may be typed as the user's language
  // writes them); the texts shown on loading tell the save which values were left alone.
  std::vector<std::string> texts, shown;
  for (int k = 0; k < RowCount(); ++k) {
    const int16_t type = k < static_cast<int>(types_.size()) ? types_[static_cast<size_t>(k)] : dao::dbText;
    texts.push_back(shell::InvariantText(rows_[static_cast<size_t>(k)]->Text(), type).toStdString());
  }
  if (mode == 0)
    for (int k = 0; k < loaded_.size(); ++k) {
      const int16_t type = k < static_cast<int>(types_.size()) ? types_[static_cast<size_t>(k)] : dao::dbText;
      shown.push_back(shell::InvariantText(loaded_[k], type).toStdString());
    }
  const bool stored = p(100, [&] {
    requireDatabase();
    modDB::SaveRecord(modDB::sTable, mode == 1 ? -1 : modDB::iRecPos, texts, shown, refusedField);
  });
  if (stored) return -1;
  return refusedField >= 0 ? static_cast<int16_t>(refusedField) : kRefused;
}

void Form4::PushButton1_Click() {
  shell::Procedure p(QStringLiteral("Form4.PushButton1_Click"));
  int16_t result = kRefused;
  p(100, [&] {
    int16_t mode = modTools::lEditMode == 1 ? 1 : 0;
    result = AddRecord(mode);
  });
  if (result == -1) {
    p(102, [&] { modTools::lDialogResult = 1; });
    p(104, [&] { accept(); });
  } else {
    // The window stays open with everything typed; the refused field, where known, is selected.
    p(106, [&] { HighlightField(result); });
  }
}

void Form4::PushButton2_Click() {
  shell::Procedure p(QStringLiteral("Form4.PushButton2_Click"));
  p(100, [&] {
    for (DField* row : rows_) row->SetText(row->Tag == kAutoInc ? kAutoInc : QString());
  });
  p(102, [&] { vBar1_->setValue(0); });
  p(104, [&] {
    if (!rows_.empty()) rows_.front()->txtValue()->setFocus();
  });
}

void Form4::PushButton3_Click() {
  shell::Procedure p(QStringLiteral("Form4.PushButton3_Click"));
  p(100, [&] { modTools::lDialogResult = 2; });
  p(102, [&] { QDialog::reject(); });
}

// The title-bar close box and Escape count as Close.
void Form4::reject() { PushButton3_Click(); }

}  // namespace edit
