#include "edit/dfield.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <limits>

#include "shell/error_report.h"
#include "shell/shell.h"

namespace edit {
namespace {

constexpr int kValueLeftTwips = 45;

// Narrows a text box's 32-bit figure to the control's 16-bit property.
int16_t narrow(int value) {
  if (value > 32767 || value < -32768) throw shell::RuntimeError(6, "Overflow");
  return static_cast<int16_t>(value);
}

// A colour value: system colours (high bit set) name a palette role, others are 0x00BBGGRR.
QColor toColor(uint32_t value) {
  if (value & 0x80000000u) {
    switch (value & 0xFFu) {
      case 0x05: return QApplication::palette().color(QPalette::Base);
      case 0x0F:
      default: return QApplication::palette().color(QPalette::Button);
    }
  }
  return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

}  // namespace

DField::DField(QWidget* parent, const QString& displayName) : QWidget(parent), displayName_(displayName) {
  lblName_ = new QLabel(displayName, this);
  lblName_->setObjectName(QStringLiteral("lblName"));
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")});
  font.setPointSizeF(8.25);
  font.setBold(true);
  lblName_->setFont(font);
  lblName_->setTextFormat(Qt::PlainText);
  QRect label = shell::TwipsRect(kValueLeftTwips, 0, 900, 195);
  lblName_->setGeometry(label.x(), label.y(), label.width(), std::max(label.height(), lblName_->sizeHint().height()));
  txtValue_ = new QLineEdit(this);
  txtValue_->setObjectName(QStringLiteral("txtValue"));
  txtValue_->setGeometry(shell::TwipsRect(kValueLeftTwips, 210, 4440, 300));
  txtValue_->installEventFilter(this);
  txtValue_->setMaxLength(std::numeric_limits<int>::max());
  connect(txtValue_, &QLineEdit::textChanged, this, [this](const QString&) { emit Change(); });
  setAutoFillBackground(true);
  SetBackColor(kButtonFace);
  resize(shell::TwipsToPixels(4800), shell::TwipsToPixels(855));
}

QString DField::Caption() const { return lblName_->text(); }

void DField::SetCaption(const QString& caption) {
  lblName_->setText(caption);
  emit PropertyChanged(QStringLiteral("Caption"));
}

QString DField::Text() const { return txtValue_->text(); }

void DField::SetText(const QString& text) {
  txtValue_->setText(text);
  emit PropertyChanged(QStringLiteral("Text"));
}

void DField::SetBackColor(uint32_t colour) {
  backColor_ = colour;
  QPalette p = palette();
  p.setColor(QPalette::Window, toColor(colour));
  setPalette(p);
  emit PropertyChanged(QStringLiteral("BackColor"));
}

int16_t DField::SelStart() const {
  int start = txtValue_->hasSelectedText() ? txtValue_->selectionStart() : txtValue_->cursorPosition();
  return narrow(start);
}

void DField::SetSelStart(int16_t start) { txtValue_->setCursorPosition(std::max<int>(0, start)); }

int16_t DField::SelLength() const { return narrow(txtValue_->selectedText().size()); }

void DField::SetSelLength(int16_t length) {
  int start = txtValue_->hasSelectedText() ? txtValue_->selectionStart() : txtValue_->cursorPosition();
  txtValue_->setSelection(start, std::max<int>(0, length));
}

bool DField::Enabled() const { return txtValue_->isEnabled(); }

void DField::SetEnabled(bool enabled) {
  txtValue_->setEnabled(enabled);
  emit PropertyChanged(QStringLiteral("Enabled"));
}

int16_t DField::MaxLength() const { return maxLength_; }

void DField::SetMaxLength(int16_t length) {
  maxLength_ = length < 0 ? 0 : length;
  // No limit means none at all: a long memo shown for editing must not be cut to the box's default.
  txtValue_->setMaxLength(maxLength_ == 0 ? std::numeric_limits<int>::max() : maxLength_);
  emit PropertyChanged(QStringLiteral("MaxLength"));
}

void DField::ReadProperties(const PropertyBag& bag) {
  auto read = [&](const char* key, const QVariant& fallback) {
    auto it = bag.find(QString::fromLatin1(key));
    return it == bag.end() ? fallback : it->second;
  };
  SetCaption(read("Caption", displayName_).toString());
  SetText(read("Text", QString()).toString());
  SetBackColor(read("BackColor", QVariant::fromValue(kButtonFace)).toUInt());
  SetEnabled(read("Enabled", true).toBool());
  SetMaxLength(static_cast<int16_t>(read("MaxLength", 0).toInt()));
}

void DField::WriteProperties(PropertyBag& bag) const {
  bag[QStringLiteral("Caption")] = Caption();
  bag[QStringLiteral("Text")] = Text();
  bag[QStringLiteral("BackColor")] = QVariant::fromValue(backColor_);
  bag[QStringLiteral("Enabled")] = Enabled();
  bag[QStringLiteral("MaxLength")] = static_cast<int>(MaxLength());
}

void DField::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The text box reaches the right edge; the label stays as it was placed.
  const int left = shell::TwipsToPixels(kValueLeftTwips);
  txtValue_->resize(std::max(0, width() - left), txtValue_->height());
}

bool DField::eventFilter(QObject* watched, QEvent* event) {
  if (watched == txtValue_ && event->type() == QEvent::MouseButtonRelease) emit Click();
  return QWidget::eventFilter(watched, event);
}

}  // namespace edit
