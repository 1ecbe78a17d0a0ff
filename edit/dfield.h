// dField: a labelled one-line value editor, a caption label above a text box. The record editor
// stacks one per field of the current table.
#pragma once

#include <QString>
#include <QVariant>
#include <QWidget>
#include <cstdint>
#include <map>

class QLabel;
class QLineEdit;

namespace edit {

constexpr uint32_t kButtonFace = 0x8000000Fu;  // the system colour of button faces

class DField : public QWidget {
  Q_OBJECT
 public:
  explicit DField(QWidget* parent = nullptr, const QString& displayName = QStringLiteral("dField"));

  QString Caption() const;
  void SetCaption(const QString& caption);
  QString Text() const;
  void SetText(const QString& text);
  uint32_t BackColor() const { return backColor_; }
  void SetBackColor(uint32_t colour);
  int16_t SelStart() const;
  void SetSelStart(int16_t start);
  int16_t SelLength() const;
  void SetSelLength(int16_t length);
  bool Enabled() const;
  void SetEnabled(bool enabled);
  int16_t MaxLength() const;
  void SetMaxLength(int16_t length);  // 0: no limit

  // The free text marker a host may attach ("AutoInc" in the record editor).
  QString Tag;

  // The five persisted properties under their keys; missing keys take their defaults.
  using PropertyBag = std::map<QString, QVariant>;
  void ReadProperties(const PropertyBag& bag);
  void WriteProperties(PropertyBag& bag) const;

  QLabel* lblName() const { return lblName_; }
  QLineEdit* txtValue() const { return txtValue_; }

 signals:
  void Click();
  void Change();
  void PropertyChanged(const QString& name);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QString displayName_;
  QLabel* lblName_;
  QLineEdit* txtValue_;
  uint32_t backColor_ = kButtonFace;
  int16_t maxLength_ = 0;
};

}  // namespace edit
