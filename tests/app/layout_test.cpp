// Every window, at the resolution this program runs at and again at 144 dpi: no caption is wider
// or taller than its box, no list entry touches the edge of its drop-down, and captions inside a
// frame sit on the frame's own background.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>

#include "design/forms.h"
#include "gui_test_env.h"

namespace {

// What does not fit in one window, one line per control.
QStringList clipped(QWidget* window) {
  QStringList problems;
  auto name = [&](QWidget* w, const QString& text) {
    return window->objectName() + "." + w->objectName() + " \"" + text + "\"";
  };
  for (QLabel* l : window->findChildren<QLabel*>()) {
    if (l->text().isEmpty() || !l->isVisibleTo(window) || l->wordWrap()) continue;
    const QFontMetrics fm(l->font());
    const QRect room = l->contentsRect().adjusted(l->margin(), l->margin(), -l->margin(), -l->margin());
    if (fm.horizontalAdvance(l->text()) > room.width() || fm.height() > room.height())
      problems << name(l, l->text()) + QStringLiteral(" in %1x%2").arg(room.width()).arg(room.height());
  }
  for (QCheckBox* c : window->findChildren<QCheckBox*>()) {
    QStyleOptionButton o;
    o.initFrom(c);
    o.text = c->text();
    const QRect room = c->style()->subElementRect(QStyle::SE_CheckBoxContents, &o, c);
    if (QFontMetrics(c->font()).horizontalAdvance(c->text()) > room.width() || c->height() < c->sizeHint().height())
      problems << name(c, c->text());
  }
  for (QPushButton* b : window->findChildren<QPushButton*>()) {
    const int margin = 2 * b->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b);
    if (QFontMetrics(b->font()).horizontalAdvance(b->text()) + margin > b->width()) problems << name(b, b->text());
  }
  for (QGroupBox* g : window->findChildren<QGroupBox*>()) {
    QStyleOptionGroupBox o;
    o.initFrom(g);
    o.text = g->title();
    o.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    const QRect label = g->style()->subControlRect(QStyle::CC_GroupBox, &o, QStyle::SC_GroupBoxLabel, g);
    if (QFontMetrics(g->font()).horizontalAdvance(g->title()) > label.width() || label.right() >= g->width())
      problems << name(g, g->title());
  }
  // Entries of a drop-down keep a little room to the edge of its text area.
  for (QComboBox* c : window->findChildren<QComboBox*>()) {
    QStyleOptionComboBox o;
    o.initFrom(c);
    const QRect field = c->style()->subControlRect(QStyle::CC_ComboBox, &o, QStyle::SC_ComboBoxEditField, c);
    for (int i = 0; i < c->count(); ++i)
      if (QFontMetrics(c->font()).horizontalAdvance(c->itemText(i)) + 4 > field.width())
        problems << name(c, c->itemText(i)) + QStringLiteral(" in %1").arg(field.width());
  }
  return problems;
}

// Pixels of a caption inside a frame, just past its text, against the frame beside it.
QStringList backgroundsDiffer(QWidget* window) {
  QStringList problems;
  const QImage image = window->grab().toImage();
  for (QGroupBox* frame : window->findChildren<QGroupBox*>()) {
    for (QWidget* w : frame->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (!qobject_cast<QLabel*>(w) && !qobject_cast<QCheckBox*>(w)) continue;
      const QPoint inside = w->mapTo(window, QPoint(w->width() - 2, w->height() / 2));
      const QPoint outside = w->mapTo(window, QPoint(w->width() + 2, w->height() / 2));
      if (!frame->contentsRect().contains(frame->mapFrom(window, outside))) continue;
      if (image.pixelColor(inside) != image.pixelColor(outside))
        problems << window->objectName() + "." + w->objectName();
    }
  }
  return problems;
}

class LayoutTest : public testenv::MainWindowTest {
 protected:
  void check(QWidget* window) {
    window->show();
    EXPECT_EQ(clipped(window).join(QChar('\n')).toStdString(), "");
    EXPECT_EQ(backgroundsDiffer(window).join(QChar('\n')).toStdString(), "");
  }
};

TEST_F(LayoutTest, EveryCaptionFitsItsBox) {
  // The child of the test below says which resolution it was started at.
  if (qEnvironmentVariableIsSet("TABULONIX_TEST_DPI"))
    ASSERT_EQ(QApplication::primaryScreen()->logicalDotsPerInchX(), qEnvironmentVariableIntValue("TABULONIX_TEST_DPI"));
  app::Form1& main = *form;
  check(&main);
  open(copyTestDatabase(QStringLiteral("testV2000.mdb")));
  ASSERT_TRUE(modDB::bDBOpen);
  main.SetStatus(QStringLiteral("Records: 32767"));
  check(&main);
  modTools::lEditMode = 1;
  check(std::make_unique<edit::Form4>(&main).get());
  check(std::make_unique<browse::Form5>(&main).get());
  check(std::make_unique<browse::Form6>(&main).get());
  design::Form2 newTable(&main);
  check(&newTable);
  design::Form3 fields(&newTable);
  for (int type = 0; type < fields.cboFType()->count(); ++type) {
    fields.cboFType()->setCurrentIndex(type);
    check(&fields);
  }
}

// The same at one and a half times the resolution, in a program of its own (the resolution is
// fixed when the application starts): an offscreen screen of 144 dpi.
TEST_F(LayoutTest, EveryCaptionFitsItsBoxAt144Dpi) {
  if (qEnvironmentVariableIsSet("TABULONIX_TEST_DPI")) GTEST_SKIP() << "already the child";
  const QString screen = testenv::writeFile(folder.filePath(QStringLiteral("screen.json")),
                                            R"({"screens": [{"name": "Screen144", "x": 0, "y": 0, "width": 1600, "height": 1200,
                                                 "logicalDpi": 144, "logicalBaseDpi": 96, "dpr": 1}]})");
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + screen);
  env.insert(QStringLiteral("QT_ENABLE_HIGHDPI_SCALING"), QStringLiteral("0"));  // 144 logical, not 96 x 1.5
  env.insert(QStringLiteral("TABULONIX_TEST_DPI"), QStringLiteral("144"));
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start(QStringLiteral("/proc/self/exe"), {QStringLiteral("--gtest_filter=LayoutTest.EveryCaptionFitsItsBox")});
  ASSERT_TRUE(child.waitForFinished(120000));
  const QString out = QString::fromLocal8Bit(child.readAll());
  EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
  EXPECT_TRUE(out.contains(QStringLiteral("[  PASSED  ] 1 test"))) << out.toStdString();
}

}  // namespace
