#include "browse/forms.h"

#include <QComboBox>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "shell/error_report.h"
#include "shell/shell.h"
#include "db/session.h"

namespace browse {
namespace {

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, QRect where) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setGeometry(where);
  b->setAutoDefault(false);
  b->setDefault(false);
  return b;
}

void fixClientSize(QDialog* d, int widthTwips, int heightTwips) {
  d->setFixedSize(shell::TwipsToPixels(widthTwips), shell::TwipsToPixels(heightTwips));
  d->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
}

// The table named by sTable; an unknown name fails like the engine does.
dao::TableDef currentTable() {
  if (!modDB::gDB.impl()) throw shell::RuntimeError(91, "Object variable or With block variable not set");
  return modDB::gDB.GetTableDefs().Item(modDB::sTable);
}

void requireHandle(bool present) {
  if (!present) throw shell::RuntimeError(91, "Object variable or With block variable not set");
}

}  // namespace

Form5::Form5(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("Form5"));
  setWindowTitle(QStringLiteral("Table Info"));
  setFont(shell::BoldArial(9));
  fixClientSize(this, 5985, 4725);

  lblTitle_ = new QLabel(this);
  lblTitle_->setObjectName(QStringLiteral("lblTitle"));
  QFont title;
  title.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")});
  title.setPointSize(12);
  title.setBold(true);
  lblTitle_->setFont(title);
  lblTitle_->move(shell::TwipsToPixels(225), shell::TwipsToPixels(135));

  lstInfo_ = new QTreeWidget(this);
  lstInfo_->setObjectName(QStringLiteral("LstInfo"));
  lstInfo_->setGeometry(shell::TwipsRect(120, 600, 5760, 3480));
  lstInfo_->setRootIsDecorated(false);
  lstInfo_->setUniformRowHeights(true);
  lstInfo_->setSelectionBehavior(QAbstractItemView::SelectRows);
  lstInfo_->setHeaderLabels({QStringLiteral("Field Name"), QStringLiteral("Field Type"), QStringLiteral("Field Size"),
                             QStringLiteral("Attributes")});
  // The four columns (an inch each in a list four inches wide) share the list's inside equally, so
  // that no scroll bar is needed for them.
  lstInfo_->header()->setSectionResizeMode(QHeaderView::Stretch);

  pushButton1_ = makeButton(this, "PushButton1", QStringLiteral("Close"), shell::TwipsRect(120, 4200, 5760, 405));
  pushButton1_->setFont(shell::BoldArial(11.25));
  connect(pushButton1_, &QPushButton::clicked, this, &Form5::PushButton1_Click);

  Form_Load();
}

void Form5::Form_Load() {
  shell::Procedure p(QStringLiteral("Form5.Form_Load"));
  p(100, [&] { shell::ApplyFaceColor(this); });
  p(102, [&] { shell::InstallHoverPointer(this); });
  p(104, [&] {
    lblTitle_->setText(QStringLiteral("Table Name: ") + QString::fromStdString(modDB::sTable));
    lblTitle_->adjustSize();
  });
  dao::TableDef table;
  p(106, [&] { table = currentTable(); });
  dao::Fields fields;
  p(108, [&] {
    requireHandle(table.impl() != nullptr);
    fields = table.GetFields();
  });
  p(110, [&] {
    requireHandle(table.impl() != nullptr);
    int n = fields.Count();
    for (int i = 0; i < n; ++i) {
      dao::Field f = fields.Item(i);
      auto* row = new QTreeWidgetItem(lstInfo_);
      row->setText(0, QString::fromStdString(f.Name()));
      row->setText(1, QString::fromStdString(modTools::GetFieldTypeName(std::to_string(f.Type()))));
      row->setText(2, QString::number(f.Size()));
      row->setText(3, QString::number(f.Attributes()));
    }
  });
}

void Form5::PushButton1_Click() {
  shell::Procedure p(QStringLiteral("Form5.PushButton1_Click"));
  p(100, [&] { accept(); });
}

Form6::Form6(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("Form6"));
  setWindowTitle(QStringLiteral("Find"));
  setFont(shell::BoldArial(9));
  fixClientSize(this, 8040, 1095);

  auto* lblField = new QLabel(QStringLiteral("Field Name:"), this);
  lblField->setObjectName(QStringLiteral("lblField"));
  lblField->setGeometry(shell::TwipsRect(120, 195, 975, 225));
  cboField_ = new QComboBox(this);
  cboField_->setObjectName(QStringLiteral("cboField"));
  cboField_->setEditable(false);
  cboField_->setGeometry(shell::TwipsRect(1170, 135, 2190, 345));
  shell::FitCaption(lblField, cboField_);
  auto* label1 = new QLabel(QStringLiteral("Value:"), this);
  label1->setObjectName(QStringLiteral("Label1"));
  label1->setGeometry(shell::TwipsRect(3525, 195, 525, 225));
  txtValue_ = new QLineEdit(this);
  txtValue_->setObjectName(QStringLiteral("txtValue"));
  txtValue_->setGeometry(shell::TwipsRect(4080, 135, 3840, 345));
  shell::FitCaption(label1, txtValue_);
  txtValue_->installEventFilter(this);
  pushButton1_ = makeButton(this, "PushButton1", QStringLiteral("OK"), shell::TwipsRect(120, 600, 3840, 405));
  pushButton2_ = makeButton(this, "PushButton2", QStringLiteral("Cancel"), shell::TwipsRect(4080, 600, 3840, 405));
  pushButton1_->setFont(shell::BoldArial(11.25));
  pushButton2_->setFont(shell::BoldArial(11.25));
  connect(pushButton1_, &QPushButton::clicked, this, &Form6::PushButton1_Click);
  connect(pushButton2_, &QPushButton::clicked, this, &Form6::PushButton2_Click);
  setTabOrder(cboField_, txtValue_);
  setTabOrder(txtValue_, pushButton1_);
  setTabOrder(pushButton1_, pushButton2_);

  Form_Load();
}

void Form6::Form_Load() {
  shell::Procedure p(QStringLiteral("Form6.Form_Load"));
  p(100, [&] { shell::ApplyFaceColor(this); });
  p(102, [&] { shell::InstallHoverPointer(this); });
  p(104, [&] {
    dao::TableDef table = currentTable();
    dao::Fields fields = table.GetFields();
    int n = fields.Count();
    for (int i = 0; i < n; ++i) cboField_->addItem(QString::fromStdString(fields.Item(i).Name()));
  });
  // With no fields listed (the table is gone) nothing is chosen, and OK then searches the first
  // column; the failure above has already been reported once.
  p(106, [&] {
    if (cboField_->count() > 0) cboField_->setCurrentIndex(0);
  });
  txtValue_->setFocus();
}

namespace {
bool blankAfterTrim(const QString& text) {
  // Only spaces count as blank, as the classic Trim sees it.
  for (QChar c : text)
    if (c != QChar(' ')) return false;
  return true;
}
}  // namespace

void Form6::PushButton1_Click() {
  shell::Procedure p(QStringLiteral("Form6.PushButton1_Click"));
  bool blank = false;
  p(100, [&] { blank = blankAfterTrim(txtValue_->text()); });
  if (blank) return;
  p(102, [&] { modTools::lDialogResult = 1; });
  p(104, [&] { modTools::iSearchField = static_cast<int16_t>(cboField_->currentIndex()); });
  p(106, [&] { modTools::sSearchText = txtValue_->text().toStdString(); });
  p(108, [&] { accept(); });
}

void Form6::PushButton2_Click() {
  shell::Procedure p(QStringLiteral("Form6.PushButton2_Click"));
  p(100, [&] { modTools::lDialogResult = 2; });
  p(102, [&] { QDialog::reject(); });
}

// Closing the window from its title bar or with Escape counts as Cancel: nothing is searched.
void Form6::reject() {
  modTools::lDialogResult = 2;
  QDialog::reject();
}

bool Form6::eventFilter(QObject* watched, QEvent* event) {
  if (watched == txtValue_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      if (!blankAfterTrim(txtValue_->text())) PushButton1_Click();
      return true;  // the Enter key never reaches the text box
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace browse
