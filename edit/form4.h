// Form4, the record editor: one dField per field of the current table in a scrolling area, filled
// from the record at iRecPos in update mode; saving stores the record whole or not at all.
#pragma once

#include <QDialog>
#include <QStringList>
#include <vector>

#include "db/dao.h"

class QFrame;
class QPushButton;
class QScrollBar;

namespace edit {

class DField;

// True when field `index` of the recordset is an automatic number; False on any failure.
bool IsAutoField(const dao::Recordset& rs, int index);

class Form4 : public QDialog {
  Q_OBJECT
 public:
  // AddRecord's result when the record was refused without the engine naming a field.
  static constexpr int16_t kRefused = -2;

  explicit Form4(QWidget* owner = nullptr);

  int RowCount() const { return static_cast<int>(rows_.size()); }
  DField* dField1(int k) const { return rows_.at(static_cast<size_t>(k)); }
  QFrame* pHolder() const { return pHolder_; }
  QWidget* pMover() const { return pMover_; }
  QScrollBar* vBar1() const { return vBar1_; }
  QPushButton* PushButton(int number) const { return buttons_[number - 1]; }

  void Form_Load();
  void BuildFields();
  void LoadRecord();
  // Add Record: the boxes start with the fields' default values.
  void LoadDefaults();
  void FixAutoField();
  void HighlightField(int16_t index);
  // Moves the rows so that row `index` is wholly in view; moves them by whole rows for the wheel.
  void ScrollIntoView(int index);
  void ScrollRows(int notches);
  // -1 when the record was stored; otherwise the index of the field the engine refused, or
  // kRefused. Nothing is stored unless every value was accepted.
  int16_t AddRecord(int16_t& mode);
  void PushButton1_Click();  // Add / Update
  void PushButton2_Click();  // Clear All
  void PushButton3_Click();  // Close

 protected:
  void reject() override;
  void wheelEvent(QWheelEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QFrame* pHolder_;
  QWidget* pMover_;
  QScrollBar* vBar1_;
  QPushButton* buttons_[3];
  std::vector<DField*> rows_;
  std::vector<int16_t> types_;  // each row's field type
  int wheelTurn_ = 0;   // wheel turn not yet amounting to a notch
  QStringList loaded_;  // texts shown by LoadRecord, to leave untouched values alone
};

}  // namespace edit
