#include "design/forms.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>
#include <limits>

#include "shell/dialogs.h"
#include "shell/error_report.h"
#include "shell/shell.h"
#include "db/session.h"

namespace design {
namespace {

constexpr int kTextPosition = 8;
constexpr int kLongPosition = 3;
constexpr int kMemoPosition = 9;

QPushButton* makeButton(QWidget* parent, int number, const char* caption, QRect where) {
  auto* b = new QPushButton(QString::fromLatin1(caption), parent);
  b->setObjectName(QStringLiteral("PushButton%1").arg(number));
  b->setGeometry(where);
  b->setFont(shell::BoldArial(9));
  b->setAutoDefault(false);
  b->setDefault(false);
  return b;
}

// The placed size is a minimum: the caption is never cut off, whatever the font measures, and the
// control beside it (if any) makes room.
QLabel* makeLabel(QWidget* parent, const char* name, const char* caption, QRect where, QWidget* beside = nullptr) {
  auto* l = new QLabel(QString::fromLatin1(caption), parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setGeometry(where);
  shell::FitCaption(l, beside);
  return l;
}

QCheckBox* makeCheck(QWidget* parent, const char* name, const char* caption, QRect where) {
  auto* c = new QCheckBox(QString::fromLatin1(caption), parent);
  c->setObjectName(QString::fromLatin1(name));
  // At least as tall as its box and text need, centred on the placed row.
  const int height = std::max(where.height(), c->sizeHint().height());
  c->setGeometry(where.x(), where.center().y() - height / 2, where.width(), height);
  return c;
}

QLineEdit* makeEdit(QWidget* parent, const char* name, QRect where) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QString::fromLatin1(name));
  e->setGeometry(where);
  return e;
}

void fixedDialog(QDialog* d, int widthTwips, int heightTwips) {
  d->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  d->setFixedSize(shell::TwipsToPixels(widthTwips), shell::TwipsToPixels(heightTwips));
  d->setFont(shell::BoldArial(9));
  d->setWindowIcon(shell::ApplicationIcon());
}

// The leading number of a text as the classic Val reads it (leading spaces skipped, digits only
// since the size box takes nothing else), rounded into a 16-bit integer; Overflow past its range.
int16_t sizeValue(const QString& text) {
  QString digits;
  int i = 0;
  while (i < text.size() && text[i] == QChar(' ')) ++i;
  while (i < text.size() && text[i].isDigit()) digits += text[i++];
  if (digits.isEmpty()) return 0;
  bool ok = false;
  qulonglong v = digits.toULongLong(&ok);
  if (!ok || v > static_cast<qulonglong>(std::numeric_limits<int16_t>::max()))
    throw shell::RuntimeError(6, "Overflow");
  return static_cast<int16_t>(v);
}

}  // namespace

QString TrimSpaces(const QString& text) {
  int start = 0, end = text.size();
  while (start < end && text[start] == QChar(' ')) ++start;
  while (end > start && text[end - 1] == QChar(' ')) --end;
  return text.mid(start, end - start);
}

int16_t FindListItem(const QListWidget* list, const QString& text) {
  const QString wanted = text.toLower();
  for (int i = 0; i < list->count() && i <= std::numeric_limits<int16_t>::max(); ++i)
    if (list->item(i)->text().toLower() == wanted) return static_cast<int16_t>(i);
  return -1;
}

// ---- Form2 "New Table" ----

Form2::Form2(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("New Table"));
  fixedDialog(this, 8040, 4860);

  frame2_ = new QGroupBox(QStringLiteral("Table Name"), this);
  frame2_->setObjectName(QStringLiteral("Frame2"));
  frame2_->setGeometry(shell::TwipsRect(120, 120, 7815, 780));
  txtTable_ = makeEdit(frame2_, "txtTable", shell::TwipsRect(240, 300, 7365, 345));

  makeLabel(this, "lblFields", "Field List:", shell::TwipsRect(150, 990, 795, 225));
  lstFields_ = new QListWidget(this);
  lstFields_->setObjectName(QStringLiteral("LstFields"));
  lstFields_->setGeometry(shell::TwipsRect(150, 1230, 3810, 2520));

  frame1_ = new QGroupBox(QStringLiteral("Field Properties"), this);
  frame1_->setObjectName(QStringLiteral("Frame1"));
  frame1_->setGeometry(shell::TwipsRect(4080, 1140, 3840, 2610));
  txtName_ = makeEdit(frame1_, "txtName", shell::TwipsRect(735, 300, 2310, 345));
  txtName_->setReadOnly(true);
  makeLabel(frame1_, "lblName", "Name:", shell::TwipsRect(195, 360, 465, 195), txtName_);
  txtType_ = makeEdit(frame1_, "txtType", shell::TwipsRect(735, 675, 810, 345));
  txtType_->setEnabled(false);
  makeLabel(frame1_, "lblType", "Type:", shell::TwipsRect(195, 750, 405, 195), txtType_);
  txtSize_ = makeEdit(frame1_, "txtSize", shell::TwipsRect(735, 1065, 810, 345));
  txtSize_->setEnabled(false);
  makeLabel(frame1_, "Label1", "Size:", shell::TwipsRect(195, 1125, 345, 195), txtSize_);
  // The three boxes keep one left edge, whichever caption needed the most room.
  const int boxesLeft = std::max({txtName_->x(), txtType_->x(), txtSize_->x()});
  for (QLineEdit* box : {txtType_, txtSize_}) box->move(boxesLeft, box->y());
  chkAuto_ = makeCheck(frame1_, "chkAuto", "AutoIncement", shell::TwipsRect(225, 1515, 2835, 195));
  chkZero_ = makeCheck(frame1_, "chkZero", "Allow Zero Length", shell::TwipsRect(225, 1785, 2655, 195));
  chkReq_ = makeCheck(frame1_, "ChkReq", "Required", shell::TwipsRect(225, 2055, 2445, 195));
  for (QCheckBox* c : {chkAuto_, chkZero_, chkReq_}) {
    c->setEnabled(false);
    c->setMinimumHeight(c->sizeHint().height());
    c->resize(c->width(), std::max(c->height(), c->sizeHint().height()));
  }

  buttons_[0] = makeButton(this, 1, "Add Field", shell::TwipsRect(120, 3855, 3840, 405));
  buttons_[1] = makeButton(this, 2, "Remove Field", shell::TwipsRect(4080, 3855, 3840, 405));
  buttons_[2] = makeButton(this, 3, "Create Table", shell::TwipsRect(120, 4365, 3840, 405));
  buttons_[3] = makeButton(this, 4, "Close", shell::TwipsRect(4080, 4365, 3840, 405));
  connect(buttons_[0], &QPushButton::clicked, this, &Form2::PushButton1_Click);
  connect(buttons_[1], &QPushButton::clicked, this, &Form2::PushButton2_Click);
  connect(buttons_[2], &QPushButton::clicked, this, &Form2::PushButton3_Click);
  connect(buttons_[3], &QPushButton::clicked, this, &Form2::PushButton4_Click);
  connect(lstFields_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (!selecting_ && row >= 0) LstFields_Click();
  });

  // The list comes first in the keyboard order.
  setTabOrder(lstFields_, txtTable_);
  setTabOrder(txtTable_, buttons_[0]);
  setTabOrder(buttons_[0], buttons_[1]);
  setTabOrder(buttons_[1], buttons_[2]);
  setTabOrder(buttons_[2], buttons_[3]);

  Form_Load();
}

QPushButton* Form2::PushButton(int number) const { return buttons_[number - 1]; }

void Form2::Form_Load() {
  shell::Procedure p(QStringLiteral("Form2.Form_Load"));
  p(100, [&] { shell::ApplyFaceColor(this); });
  p(102, [&] { shell::InstallHoverPointer(this); });
  p(104, [&] {
    lstFields_->clear();
    txtTable_->clear();
    clearProperties();
  });
}

void Form2::clearProperties() {
  txtType_->clear();
  txtName_->clear();
  txtSize_->clear();
  chkAuto_->setChecked(false);
  chkReq_->setChecked(false);
  chkZero_->setChecked(false);
}

void Form2::SelectEntry(int index) {
  selecting_ = true;
  lstFields_->setCurrentRow(index);
  selecting_ = false;
  LstFields_Click();
}

void Form2::LstFields_Click() {
  const int i = lstFields_->currentRow();
  if (i < 0 || i >= static_cast<int>(modDB::gFieldDefs.size())) return;
  const modDB::FieldDef& d = modDB::gFieldDefs[static_cast<size_t>(i)];
  txtName_->setText(QString::fromStdString(d.Name));
  txtType_->setText(QString::fromStdString(modTools::GetFieldTypeName(std::to_string(d.Type))));
  txtSize_->setText(QString::number(d.Size));
  chkAuto_->setChecked(d.Attributes == dao::dbAutoIncrField);
  chkReq_->setChecked(d.Required);
  chkZero_->setChecked(d.AllowZeroLength);
}

void Form2::PushButton1_Click() {
  shell::Procedure p(QStringLiteral("Form2.PushButton1_Click"));
  p(100, [&] {
    Form3 form(this);
    shell::dialogs().runModal(&form);
  });
}

void Form2::PushButton2_Click() {
  shell::Procedure p(QStringLiteral("Form2.PushButton2_Click"));
  int i = -1;
  p(100, [&] {
    i = lstFields_->currentRow();
    if (i >= 0 && !lstFields_->item(i)->isSelected()) i = -1;
  });
  p(102, [&] {
    if (i >= 0) modDB::RemoveFieldDef(i);
  });
  if (lstFields_->count() > 0) {
    p(104, [&] {
      selecting_ = true;
      if (i >= 0) delete lstFields_->takeItem(i);
      selecting_ = false;
    });
    p(106, [&] { clearProperties(); });
    p(108, [&] {
      if (lstFields_->count() > 0) SelectEntry(0);
    });
  }
}

void Form2::PushButton3_Click() {
  shell::Procedure p(QStringLiteral("Form2.PushButton3_Click"));
  if (lstFields_->count() == 0) return;
  p(100, [&] { modDB::sNewTableName = TrimSpaces(txtTable_->text()).toStdString(); });
  if (!modDB::sNewTableName.empty()) {
    p(102, [&] { modTools::lDialogResult = 1; });
    p(104, [&] { accept(); });
  } else {
    p(106, [&] { shell::MsgBox(QStringLiteral("Table name is required."), shell::Buttons::Ok, shell::Icon::None, QString(), this); });
  }
}

void Form2::PushButton4_Click() {
  shell::Procedure p(QStringLiteral("Form2.PushButton4_Click"));
  p(100, [&] { modTools::lDialogResult = 2; });
  p(102, [&] { reject(); });
}

// ---- Form3 "Fields" ----

Form3::Form3(Form2* owner) : QDialog(owner), form2_(owner) {
  setObjectName(QStringLiteral("Form3"));
  setWindowTitle(QStringLiteral("Fields"));
  fixedDialog(this, 4680, 3195);

  txtFieldName_ = makeEdit(this, "txtFieldName", shell::TwipsRect(1200, 135, 3360, 350));
  makeLabel(this, "lblFieldName", "Field Name:", shell::TwipsRect(180, 210, 975, 225), txtFieldName_);
  cboFType_ = new QComboBox(this);
  cboFType_->setObjectName(QStringLiteral("cboFType"));
  cboFType_->setEditable(false);
  cboFType_->setGeometry(shell::TwipsRect(1200, 615, 1635, 345));
  makeLabel(this, "Label1", "Field Type:", shell::TwipsRect(180, 675, 885, 225), cboFType_);
  txtSize_ = makeEdit(this, "txtSize", shell::TwipsRect(1200, 1125, 780, 350));
  makeLabel(this, "Label2", "Field Size:", shell::TwipsRect(180, 1203, 720, 195), txtSize_);
  txtSize_->setEnabled(false);
  chkAuto_ = makeCheck(this, "ChkAuto", "AutoIncField", shell::TwipsRect(180, 1590, 4275, 240));
  chkAuto_->setEnabled(false);
  chkZeroLen_ = makeCheck(this, "chkZeroLen", "Allow Zero Length", shell::TwipsRect(180, 1935, 4275, 240));
  chkReq_ = makeCheck(this, "chkReq", "Required", shell::TwipsRect(180, 2280, 4275, 240));
  pushButton1_ = makeButton(this, 1, "Add Field", shell::TwipsRect(120, 2655, 2205, 400));
  pushButton2_ = makeButton(this, 2, "Close", shell::TwipsRect(2415, 2655, 2150, 400));
  connect(pushButton1_, &QPushButton::clicked, this, &Form3::PushButton1_Click);
  connect(pushButton2_, &QPushButton::clicked, this, &Form3::PushButton2_Click);
  connect(cboFType_, &QComboBox::currentIndexChanged, this, [this](int) { cboFType_Click(); });
  // Choosing the type that is already chosen runs the type rule again (the size goes back to the
  // type's own), which a change of the current entry alone would not report.
  connect(cboFType_, &QComboBox::activated, this, [this](int index) {
    if (index == cboFType_->currentIndex()) cboFType_Click();
  });
  txtFieldName_->installEventFilter(this);
  txtSize_->installEventFilter(this);

  setTabOrder(txtFieldName_, cboFType_);
  setTabOrder(cboFType_, txtSize_);
  setTabOrder(txtSize_, chkAuto_);
  setTabOrder(chkAuto_, chkZeroLen_);
  setTabOrder(chkZeroLen_, chkReq_);
  setTabOrder(chkReq_, pushButton1_);
  setTabOrder(pushButton1_, pushButton2_);

  Form_Load();
  txtFieldName_->setFocus();
}

void Form3::Form_Load() {
  shell::Procedure p(QStringLiteral("Form3.Form_Load"));
  p(100, [&] {
    shell::ApplyFaceColor(this);
    shell::InstallHoverPointer(this);
  });
  p(102, [&] {
    for (const std::string& name : modTools::kFieldTypeNames) cboFType_->addItem(QString::fromStdString(name));
  });
  p(104, [&] {
    cboFType_->setCurrentIndex(kTextPosition);
    cboFType_Click();
  });
}

void Form3::cboFType_Click() {
  const int position = cboFType_->currentIndex();
  txtSize_->setText(QString::number(modTools::GetFieldSize(cboFType_->currentText().toStdString())));
  chkAuto_->setEnabled(position == kLongPosition);
  txtSize_->setEnabled(position == kTextPosition);
  chkZeroLen_->setEnabled(position == kTextPosition || position == kMemoPosition);
}

void Form3::PushButton1_Click() {
  shell::Procedure p(QStringLiteral("Form3.PushButton1_Click"));
  const QString name = txtFieldName_->text();
  bool incomplete = false;
  p(100, [&] { incomplete = TrimSpaces(name).isEmpty() || TrimSpaces(txtSize_->text()).isEmpty(); });
  if (incomplete) {
    p(102, [&] {
      chkAuto_->setChecked(false);
      chkZeroLen_->setChecked(false);
      chkReq_->setChecked(false);
    });
    p(104, [&] {
      cboFType_->setCurrentIndex(kTextPosition);
      cboFType_Click();
    });
    p(106, [&] { txtFieldName_->setFocus(); });
    return;
  }
  int16_t found = -1;
  p(108, [&] { found = FindListItem(form2_->LstFields(), name); });
  if (found < 0) {
    modDB::FieldDef* d = nullptr;
    p(110, [&] { form2_->LstFields()->addItem(name); });
    p(112, [&] {
      modDB::gFieldDefs.resize(static_cast<size_t>(modDB::iFieldCount) + 1);
      d = &modDB::gFieldDefs[static_cast<size_t>(modDB::iFieldCount)];
      *d = modDB::FieldDef{};
    });
    if (d) {
      p(114, [&] { d->Name = name.toStdString(); });
      p(116, [&] { d->Size = sizeValue(txtSize_->text()); });
      p(118, [&] { d->Type = modTools::GetFieldType(cboFType_->currentText().toStdString()); });
      p(120, [&] {
        d->Required = chkReq_->checkState() != Qt::Unchecked;
        d->AllowZeroLength = chkZeroLen_->checkState() != Qt::Unchecked;
      });
      p(122, [&] {
        if (cboFType_->currentIndex() == kLongPosition && chkAuto_->checkState() != Qt::Unchecked)
          d->Attributes = static_cast<int16_t>(d->Attributes | dao::dbAutoIncrField);
      });
      p(124, [&] { ++modDB::iFieldCount; });
    }
  } else {
    p(126, [&] {
      shell::MsgBox(QStringLiteral("'") + name + QStringLiteral("' is already in the list."), shell::Buttons::Ok,
                    shell::Icon::None, QString(), this);
    });
  }
  p(128, [&] { form2_->SelectEntry(form2_->LstFields()->count() - 1); });
  p(130, [&] { txtFieldName_->clear(); });
}

void Form3::PushButton2_Click() {
  shell::Procedure p(QStringLiteral("Form3.PushButton2_Click"));
  p(100, [&] { reject(); });
}

bool Form3::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
  if (watched == txtFieldName_ && enter) {
    // Enter never reaches the box; with a name and a size it adds the field.
    if (!TrimSpaces(txtFieldName_->text()).isEmpty() && !TrimSpaces(txtSize_->text()).isEmpty()) PushButton1_Click();
    return true;
  }
  if (watched == txtSize_) {
    if (enter) return true;
    const QString text = key->text();
    // Keys that type nothing (arrows, Delete, Home) are not characters and pass; of the characters
    // only digits and Backspace do.
    if (!text.isEmpty()) {
      const QChar c = text[0];
      if (c != QChar('\b') && !(c >= QChar('0') && c <= QChar('9'))) return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace design
