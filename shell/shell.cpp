#include "shell/shell.h"

#include <iconv.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QScreen>
#include <QGuiApplication>
#include <cmath>
#include <cerrno>
#include <cstring>

#include "shell/dialogs.h"
#include "shell/error_report.h"

namespace shell {
namespace {

QString programFolderOverride;
QString appTitle = QString::fromLatin1(kProductName);
std::function<int()> randomSource;
std::function<std::optional<ProbeFailure>()> providerProbe;

constexpr const char* kHomePage = "https://tabulonix.org/";
constexpr const char* kContactPage = "https://tabulonix.org/contact";
constexpr const char* kEngineDownload2010 = "https://www.microsoft.com/en-us/download/details.aspx?id=13255";
constexpr const char* kEngineDownload2016 = "https://www.microsoft.com/en-us/download/details.aspx?id=54920";
constexpr int kProviderNotFound = 3706;

uint16_t le16(const QByteArray& b, int at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
uint32_t le32(const QByteArray& b, int at) { return le16(b, at) | static_cast<uint32_t>(le16(b, at + 2)) << 16; }

// Decodes the first image of a Windows cursor file (.cur): a directory entry with the hot spot, then
// either a PNG or a device-independent bitmap of twice the height (colour rows, then the 1-bit
// transparency mask), rows bottom-up and padded to four bytes.
std::optional<QCursor> decodeCursor(const QByteArray& data) {
  if (data.size() < 22 || le16(data, 0) != 0 || le16(data, 2) != 2 || le16(data, 4) == 0) return std::nullopt;
  int hotX = le16(data, 10), hotY = le16(data, 12);
  uint32_t size = le32(data, 14), offset = le32(data, 18);
  if (offset >= static_cast<uint32_t>(data.size()) || size > static_cast<uint32_t>(data.size()) - offset)
    return std::nullopt;
  QByteArray image = data.mid(static_cast<int>(offset), static_cast<int>(size));
  if (image.startsWith("\x89PNG")) {
    QImage png = QImage::fromData(image, "PNG");
    if (png.isNull()) return std::nullopt;
    return QCursor(QPixmap::fromImage(png), hotX, hotY);
  }
  if (image.size() < 40 || le32(image, 0) < 40) return std::nullopt;
  int width = static_cast<int32_t>(le32(image, 4));
  int height = static_cast<int32_t>(le32(image, 8)) / 2;
  int bpp = le16(image, 14);
  if (width <= 0 || height <= 0 || width > 256 || height > 256 || le32(image, 16) != 0) return std::nullopt;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return std::nullopt;
  int paletteSize = 0;
  if (bpp <= 8) {
    paletteSize = static_cast<int>(le32(image, 32));
    if (paletteSize == 0) paletteSize = 1 << bpp;
  }
  int at = static_cast<int>(le32(image, 0)) + paletteSize * 4;
  int colourStride = ((width * bpp + 31) / 32) * 4;
  int maskStride = ((width + 31) / 32) * 4;
  if (image.size() < at + colourStride * height + maskStride * height) return std::nullopt;
  const uint8_t* bits = reinterpret_cast<const uint8_t*>(image.constData());
  const uint8_t* palette = bits + le32(image, 0);
  const uint8_t* colour = bits + at;
  const uint8_t* mask = colour + colourStride * height;
  QImage out(width, height, QImage::Format_ARGB32);
  bool anyAlpha = false;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = colour + (height - 1 - y) * colourStride;
    const uint8_t* maskRow = mask + (height - 1 - y) * maskStride;
    for (int x = 0; x < width; ++x) {
      uint8_t r = 0, g = 0, b = 0, a = 255;
      if (bpp == 32) {
        b = row[x * 4], g = row[x * 4 + 1], r = row[x * 4 + 2], a = row[x * 4 + 3];
        if (a) anyAlpha = true;
      } else if (bpp == 24) {
        b = row[x * 3], g = row[x * 3 + 1], r = row[x * 3 + 2];
      } else {
        int index = 0;
        if (bpp == 8) index = row[x];
        if (bpp == 4) index = (row[x / 2] >> ((x % 2) ? 0 : 4)) & 0x0f;
        if (bpp == 1) index = (row[x / 8] >> (7 - x % 8)) & 1;
        if (index < paletteSize) b = palette[index * 4], g = palette[index * 4 + 1], r = palette[index * 4 + 2];
      }
      bool transparent = (maskRow[x / 8] >> (7 - x % 8)) & 1;
      if (bpp != 32 && transparent) a = 0;
      out.setPixel(x, y, qRgba(r, g, b, a));
    }
  }
  // A 32-bit cursor without any alpha takes its transparency from the mask.
  if (bpp == 32 && !anyAlpha) {
    for (int y = 0; y < height; ++y) {
      const uint8_t* maskRow = mask + (height - 1 - y) * maskStride;
      for (int x = 0; x < width; ++x) {
        QRgb p = out.pixel(x, y);
        bool transparent = (maskRow[x / 8] >> (7 - x % 8)) & 1;
        out.setPixel(x, y, qRgba(qRed(p), qGreen(p), qBlue(p), transparent ? 0 : 255));
      }
    }
  }
  return QCursor(QPixmap::fromImage(out), std::min(hotX, width - 1), std::min(hotY, height - 1));
}

// Button face: the palette's button colour, the toolkit's counterpart of the system colour.
QColor buttonFace() { return QApplication::palette().color(QPalette::Button); }

void paintBackground(QWidget* w, const QColor& colour) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, colour);
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

// The window, then its labels, frames, option buttons and check boxes; other controls keep theirs.
void faceColour(QWidget* window) {
  QColor face = buttonFace();
  paintBackground(window, face);
  for (QWidget* child : window->findChildren<QWidget*>()) {
    // Captions inside a frame show the frame's own panel, which the style may shade.
    if (qobject_cast<QGroupBox*>(child->parentWidget())) continue;
    if (qobject_cast<QLabel*>(child) || qobject_cast<QGroupBox*>(child) || qobject_cast<QRadioButton*>(child) ||
        qobject_cast<QCheckBox*>(child))
      paintBackground(child, face);
  }
}

// The engine keeps text as UTF-8 and converts to and from the file's encodings with iconv: UCS-2
// (UTF-16LE) for the newer format and Windows code pages for the older one.
std::optional<ProbeFailure> probeEngine() {
  static const char* const pairs[][2] = {
      {"UTF-8", "UTF-16LE"}, {"UTF-16LE", "UTF-8"}, {"UTF-8", "CP1252"}, {"CP1252", "UTF-8"}};
  for (const auto& pair : pairs) {
    iconv_t cd = iconv_open(pair[0], pair[1]);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
      int error = errno;
      if (error == EINVAL)
        return ProbeFailure{kProviderNotFound,
                            QStringLiteral("Provider cannot be found. It may not be properly installed.")};
      return ProbeFailure{error, QString::fromLocal8Bit(std::strerror(error))};
    }
    iconv_close(cd);
  }
  return std::nullopt;
}

QString providerMessage() {
  const QString crlf = QStringLiteral("\r\n");
  return QStringLiteral("Error #3706: Provider cannot be found. It may not be properly installed.") + crlf + crlf +
         QStringLiteral("You are getting this error because:") + crlf + crlf +
         QStringLiteral("1. Microsoft Access is not installed on your computer.") + crlf + crlf +
         QStringLiteral("2. A set of Microsoft components to transfer data is not installed on your computer.") +
         crlf + crlf +
         QStringLiteral("You need to download and install Microsoft Access Database Engine 2010 or 2016 to solve "
                        "this problem.") +
         crlf + crlf + QStringLiteral("Would you like me to open the Microsoft site now so you can do this?") + crlf +
         crlf + QStringLiteral("(If you have any further questions please email a screenshot of this error message to ") +
         QString::fromLatin1(kSupportEmail) + QStringLiteral(")");
}

}  // namespace

QString ProgramFolder() {
  if (!programFolderOverride.isEmpty()) return programFolderOverride;
  if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
  return QDir::currentPath();
}

void SetProgramFolderForTesting(const QString& folder) { programFolderOverride = folder; }

QString ProgramFile(const QString& relative) {
  QString tail = relative;
  tail.replace(QChar('\\'), QChar('/'));
  while (tail.startsWith(QChar('/'))) tail.remove(0, 1);
  const QString beside = AddBackslash(ProgramFolder()) + tail;
  if (!programFolderOverride.isEmpty() || QFileInfo::exists(beside)) return beside;
  // An installed program keeps its files in the shared data folder of its prefix.
  for (const QString& folder : {ProgramFolder() + QStringLiteral("/../share/tabulonix/"),
                                QStringLiteral("/usr/share/tabulonix/")}) {
    const QString installed = QDir::cleanPath(folder + tail) + (tail.endsWith(QChar('/')) ? QStringLiteral("/") : QString());
    if (QFileInfo::exists(installed)) return installed;
  }
  return beside;
}

int TwipsToPixels(int twips) {
  int dpi = 96;
  if (QScreen* screen = QGuiApplication::primaryScreen()) dpi = qRound(screen->logicalDotsPerInchX());
  return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

QRect TwipsRect(int left, int top, int width, int height) {
  int x = TwipsToPixels(left), y = TwipsToPixels(top);
  // Right and bottom edges are converted too, so neighbouring controls keep their exact gaps.
  return QRect(x, y, TwipsToPixels(left + width) - x, TwipsToPixels(top + height) - y);
}

void FitCaption(QLabel* label, QWidget* beside) {
  if (!label) return;
  label->ensurePolished();
  const QSize hint = label->sizeHint();
  label->resize(std::max(label->width(), hint.width()), std::max(label->height(), hint.height()));
  if (!beside || beside->parentWidget() != label->parentWidget()) return;
  const int gap = TwipsToPixels(60);
  const int left = label->geometry().right() + 1 + gap;
  if (beside->x() >= left) return;
  const int right = beside->geometry().right();
  beside->setGeometry(left, beside->y(), std::max(0, right - left + 1), beside->height());
}

QFont BoldArial(double points) {
  QFont font;
  font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
  font.setPointSizeF(points);
  font.setBold(true);
  return font;
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const qreal u = size / 16.0;
    painter.setPen(QPen(QColor(40, 60, 110), u));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(1 * u, 2 * u, 14 * u, 12 * u));
    painter.fillRect(QRectF(1.5 * u, 2.5 * u, 13 * u, 3 * u), QColor(60, 110, 200));
    painter.setPen(QPen(QColor(150, 160, 180), u * 0.6));
    for (int row = 1; row <= 2; ++row) painter.drawLine(QPointF(1.5 * u, (5.5 + row * 3) * u), QPointF(14.5 * u, (5.5 + row * 3) * u));
    painter.drawLine(QPointF(6 * u, 5.5 * u), QPointF(6 * u, 13.5 * u));
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

bool FileExists(const QString& path) {
  if (path.isEmpty()) return false;
  QFileInfo info(path);
  return info.exists();
}

QString AddBackslash(const QString& path) {
  if (path.endsWith(QChar('/')) || path.endsWith(QChar('\\'))) return path;
  return path + QDir::separator();
}

void RemoveFile(const QString& path) {
  QCoreApplication::processEvents();
  if (path.isEmpty()) return;
  if (QFile::remove(path)) return;
  // Second way: make the file writable first (read-only files) and try again; failures are ignored.
  QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner | QFileDevice::ReadOwner);
  QFile::remove(path);
}

void ApplyFaceColor(QWidget* window) {
  if (window) faceColour(window);
}

void ApplySkin(QWidget* mainWindow) {
  QString skin = ProgramFile(QStringLiteral("\\x\\o.cjs"));
  if (!mainWindow || !QFileInfo(skin).isFile()) return;
  faceColour(mainWindow);
  QFile file(skin);
  if (!file.open(QIODevice::ReadOnly)) throw RuntimeError(75, "Path/File access error");
  mainWindow->setStyleSheet(QString::fromUtf8(file.readAll()));
}

void SetAppTitle(const QString& productName) {
  QString title = productName;
  for (;;) {
    int space = title.lastIndexOf(QChar(' '));
    if (space < 0) break;  // nothing left to cut: the title stays as it is
    title.truncate(space);
    if (title.size() <= 40) break;
  }
  appTitle = title;
}

QString AppTitle() { return appTitle; }

std::optional<QCursor> HandCursor() {
  QString path = ProgramFile(QStringLiteral("\\HAND-M.CUR"));
  if (!FileExists(path)) return std::nullopt;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  return decodeCursor(file.read(1 << 20));
}

void InstallHoverPointer(QWidget* window) {
  if (!window) return;
  std::optional<QCursor> hand = HandCursor();
  if (!hand) return;  // the arrow stays everywhere
  // Each button carries the hand; the window background and frames keep the default pointer. The
  // busy pointer is an application-wide override and so takes precedence over both while it is up.
  for (QPushButton* button : window->findChildren<QPushButton*>()) button->setCursor(*hand);
}

void VisitHomePage() {
  int n = randomSource ? randomSource() : QRandomGenerator::global()->bounded(1, 101);
  if (n == 7) shell::dialogs().shellOpen(QString::fromLatin1(kHomePage));
}

void SetRandomSourceForTesting(std::function<int()> oneToHundred) { randomSource = std::move(oneToHundred); }

void ShowHelp(QWidget* parent) {
  shell::MsgBox(QStringLiteral("Questions? Please contact Team Quorvane at ") + QString::fromLatin1(kContactPage),
                shell::Buttons::Ok, shell::Icon::None, QString(), parent);
}

bool CheckProvider() {
  std::optional<ProbeFailure> failure;
  try {
    failure = providerProbe ? providerProbe() : probeEngine();
  } catch (...) {
    return false;
  }
  if (!failure) return true;
  if (failure->number == kProviderNotFound ||
      failure->description.contains(QStringLiteral("provider cannot be found"), Qt::CaseInsensitive)) {
    if (shell::MsgBox(providerMessage(), shell::Buttons::YesNo) == shell::Answer::Yes) {
      shell::dialogs().shellOpen(QString::fromLatin1(kEngineDownload2010));
      shell::dialogs().shellOpen(QString::fromLatin1(kEngineDownload2016));
    }
  }
  return false;
}

void SetProviderProbeForTesting(std::function<std::optional<ProbeFailure>()> probe) {
  providerProbe = std::move(probe);
}

}  // namespace shell
