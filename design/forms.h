// The table-design windows: Form2 "New Table" (a table name and the list of pending field
// definitions) and Form3 "Fields" (one field definition at a time, appended to Form2's list and to
// the pending table kept in modDB). Both load themselves when constructed.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace design {

// Spaces removed from both ends (only spaces, as the classic Trim sees them).
QString TrimSpaces(const QString& text);

// Position of the first entry equal to text without regard to case (every other character, spaces
// included, must match); -1 when there is none.
int16_t FindListItem(const QListWidget* list, const QString& text);

class Form2 : public QDialog {
  Q_OBJECT
 public:
  explicit Form2(QWidget* owner = nullptr);

  QLineEdit* txtTable() const { return txtTable_; }
  QListWidget* LstFields() const { return lstFields_; }
  QLineEdit* txtName() const { return txtName_; }
  QLineEdit* txtType() const { return txtType_; }
  QLineEdit* txtSize() const { return txtSize_; }
  QCheckBox* chkAuto() const { return chkAuto_; }
  QCheckBox* chkZero() const { return chkZero_; }
  QCheckBox* ChkReq() const { return chkReq_; }
  QPushButton* PushButton(int number) const;

  void Form_Load();
  void PushButton1_Click();  // Add Field
  void PushButton2_Click();  // Remove Field
  void PushButton3_Click();  // Create Table
  void PushButton4_Click();  // Close
  void LstFields_Click();
  // Makes entry `index` current and shows its properties.
  void SelectEntry(int index);

 private:
  void clearProperties();

  QGroupBox* frame1_;
  QGroupBox* frame2_;
  QLineEdit* txtTable_;
  QListWidget* lstFields_;
  QLineEdit* txtName_;
  QLineEdit* txtType_;
  QLineEdit* txtSize_;
  QCheckBox* chkAuto_;
  QCheckBox* chkZero_;
  QCheckBox* chkReq_;
  QPushButton* buttons_[4];
  bool selecting_ = false;
};

class Form3 : public QDialog {
  Q_OBJECT
 public:
  explicit Form3(Form2* owner);

  QLineEdit* txtFieldName() const { return txtFieldName_; }
  QComboBox* cboFType() const { return cboFType_; }
  QLineEdit* txtSize() const { return txtSize_; }
  QCheckBox* ChkAuto() const { return chkAuto_; }
  QCheckBox* chkZeroLen() const { return chkZeroLen_; }
  QCheckBox* chkReq() const { return chkReq_; }
  QPushButton* PushButton(int number) const { return number == 1 ? pushButton1_ : pushButton2_; }

  void Form_Load();
  void cboFType_Click();
  void PushButton1_Click();  // Add Field
  void PushButton2_Click();  // Close

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Form2* form2_;
  QLineEdit* txtFieldName_;
  QComboBox* cboFType_;
  QLineEdit* txtSize_;
  QCheckBox* chkAuto_;
  QCheckBox* chkZeroLen_;
  QCheckBox* chkReq_;
  QPushButton* pushButton1_;
  QPushButton* pushButton2_;
};

}  // namespace design
