// The browsing windows: Form5 "Table Info" (the current table's field definitions) and Form6
// "Find" (a field and a value to look for in the grid). Both load themselves when constructed.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace browse {

class Form5 : public QDialog {
  Q_OBJECT
 public:
  explicit Form5(QWidget* owner = nullptr);
  QTreeWidget* LstInfo() const { return lstInfo_; }
  QLabel* lblTitle() const { return lblTitle_; }

  void Form_Load();
  void PushButton1_Click();

 private:
  QLabel* lblTitle_;
  QTreeWidget* lstInfo_;
  QPushButton* pushButton1_;
};

class Form6 : public QDialog {
  Q_OBJECT
 public:
  explicit Form6(QWidget* owner = nullptr);
  QComboBox* cboField() const { return cboField_; }
  QLineEdit* txtValue() const { return txtValue_; }

  void Form_Load();
  void PushButton1_Click();
  void PushButton2_Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void reject() override;

 private:
  QComboBox* cboField_;
  QLineEdit* txtValue_;
  QPushButton* pushButton1_;
  QPushButton* pushButton2_;
};

}  // namespace browse
