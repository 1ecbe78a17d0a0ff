// The error report, the shell helpers, the provider probe and the hand pointer.
#include <sys/stat.h>

#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui_test_env.h"
#include "jet/base/error.h"
#include "shell/error_report.h"

namespace {

using testenv::WindowTest;

class ErrorReportTest : public WindowTest {};

TEST_F(ErrorReportTest, MessageNamesFailureProcedureAndLine) {
  QString text = app::errorReportText(QStringLiteral("Overflow"), QStringLiteral("Form1.PushButton1_Click"), 110);
  EXPECT_EQ(text,
            QStringLiteral("Overflow\r\nin Ledgerwick2021/08/31.Form1.PushButton1_Click at line 110\r\r"
                           "Please email screenshot of this message to support@tabulonix.org"));
}

TEST_F(ErrorReportTest, FailingLineIsReportedAndProcedureCarriesOn) {
  app::Procedure p(QStringLiteral("Form1.PushButton4_Click"));
  std::vector<int> ran;
  EXPECT_TRUE(p(100, [&] { ran.push_back(100); }));
  EXPECT_FALSE(p(102, [&] { throw jet::Error(3024, "Could not find file 'x.mdb'."); }));
  EXPECT_FALSE(p(102, [&] { throw app::RuntimeError(6, "Overflow"); }));  // same line, same number
  EXPECT_FALSE(p(104, [&] { throw std::runtime_error("plain failure"); }));
  EXPECT_TRUE(p(106, [&] { ran.push_back(106); }));
  EXPECT_EQ(ran, (std::vector<int>{100, 106}));

  ASSERT_EQ(dialogs.boxes.size(), 3u);
  for (const auto& box : dialogs.boxes) {
    EXPECT_EQ(box.title, QStringLiteral("Application Error"));
    EXPECT_EQ(box.buttons, ui::Buttons::Ok);
    EXPECT_EQ(box.icon, ui::Icon::Warning);
  }
  EXPECT_TRUE(dialogs.boxes[0].text.startsWith(
      QStringLiteral("Could not find file 'x.mdb'.\r\nin Ledgerwick2021/08/31.Form1.PushButton4_Click at line 102\r\r")));
  EXPECT_TRUE(dialogs.boxes[1].text.startsWith(QStringLiteral("Overflow\r\n")));
  EXPECT_TRUE(dialogs.boxes[1].text.contains(QStringLiteral(" at line 102\r\r")));
  EXPECT_TRUE(dialogs.boxes[2].text.startsWith(QStringLiteral("plain failure\r\n")));
  EXPECT_TRUE(dialogs.boxes[2].text.contains(QStringLiteral(" at line 104\r\r")));
}

class AppTitleTest : public WindowTest {};

TEST_F(AppTitleTest, LastWordGoesUntilTheTitleFits) {
  const std::pair<QString, QString> cases[] = {
      {"Tabulonix", "Tabulonix"},                                // no space: kept whole
      {"Tabulonix Database Viewer", "Tabulonix Database"},       // short names still lose a word
      {"Alpha Bravo Charlie Delta Echo Foxtrot Golf Hotel Ind", "Alpha Bravo Charlie Delta Echo Foxtrot"},
      {QString(40, 'a') + " tail", QString(40, 'a')},            // exactly 40 after the first cut
      {QString(45, 'b'), QString(45, 'b')},                      // no space: cannot be shortened
      {"Short " + QString(41, 'c') + " end", "Short"},           // a long last part: words before it go too
  };
  for (const auto& [name, title] : cases) {
    app::SetAppTitle(name);
    EXPECT_EQ(app::AppTitle(), title) << name.toStdString();
  }
  app::SetAppTitle();
  ui::MsgBox(QStringLiteral("hello"));
  EXPECT_EQ(dialogs.boxes.back().title, QStringLiteral("Tabulonix"));
}

class ProviderTest : public WindowTest {};

TEST_F(ProviderTest, RealProbeFindsTheTextConverters) {
  app::SetProviderProbeForTesting(nullptr);
  EXPECT_TRUE(app::CheckProvider());
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(ProviderTest, ProviderNotFoundAsksAndOpensBothDownloadPagesOnYes) {
  app::SetProviderProbeForTesting([] {
    return std::optional<app::ProbeFailure>(app::ProbeFailure{3706, QStringLiteral("Provider cannot be found.")});
  });
  dialogs.answers.push_back(ui::Answer::Yes);
  EXPECT_FALSE(app::CheckProvider());
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  const auto& box = dialogs.boxes[0];
  EXPECT_EQ(box.buttons, ui::Buttons::YesNo);
  EXPECT_EQ(box.icon, ui::Icon::None);
  EXPECT_EQ(box.title, QStringLiteral("Tabulonix"));
  EXPECT_TRUE(box.text.startsWith(QStringLiteral(
      "Error #3706: Provider cannot be found. It may not be properly installed.\r\n\r\nYou are getting this error "
      "because:\r\n\r\n1. Microsoft Access is not installed on your computer.\r\n\r\n")));
  EXPECT_TRUE(box.text.endsWith(QStringLiteral(
      "Would you like me to open the Microsoft site now so you can do this?\r\n\r\n(If you have any further "
      "questions please email a screenshot of this error message to support@tabulonix.org)")));
  ASSERT_EQ(dialogs.opened.size(), 2u);
  EXPECT_NE(dialogs.opened[0], dialogs.opened[1]);
}

TEST_F(ProviderTest, ProviderPhraseMatchesWithoutCaseAndOtherFailuresEndSilently) {
  app::SetProviderProbeForTesting([] {
    return std::optional<app::ProbeFailure>(app::ProbeFailure{22, QStringLiteral("The PROVIDER CANNOT BE FOUND here")});
  });
  dialogs.answers.push_back(ui::Answer::No);
  EXPECT_FALSE(app::CheckProvider());
  EXPECT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_TRUE(dialogs.opened.empty());

  dialogs.boxes.clear();
  app::SetProviderProbeForTesting([] {
    return std::optional<app::ProbeFailure>(app::ProbeFailure{12, QStringLiteral("Cannot allocate memory")});
  });
  EXPECT_FALSE(app::CheckProvider());
  app::SetProviderProbeForTesting([]() -> std::optional<app::ProbeFailure> { throw std::runtime_error("boom"); });
  EXPECT_FALSE(app::CheckProvider());
  EXPECT_TRUE(dialogs.boxes.empty());
}

class ShellOpenTest : public WindowTest {};

TEST_F(ShellOpenTest, HomePageOnlyOnSeven) {
  for (int n : {1, 6, 8, 100}) {
    app::SetRandomSourceForTesting([n] { return n; });
    app::VisitHomePage();
  }
  EXPECT_TRUE(dialogs.opened.empty());
  app::SetRandomSourceForTesting([] { return 7; });
  app::VisitHomePage();
  ASSERT_EQ(dialogs.opened.size(), 1u);
  EXPECT_TRUE(dialogs.opened[0].startsWith(QStringLiteral("https://")));
}

class LookTest : public WindowTest {};

TEST_F(LookTest, ShippedHandCursorLoadsWithItsHotSpot) {
  app::SetProgramFolderForTesting(QStringLiteral(TABULONIX_BIN_DIR));
  std::optional<QCursor> hand = app::HandCursor();
  ASSERT_TRUE(hand.has_value());
  EXPECT_EQ(hand->shape(), Qt::BitmapCursor);
  EXPECT_EQ(hand->hotSpot(), QPoint(6, 0));  // the finger tip
  QDialog window;
  auto* button = new QPushButton(QStringLiteral("OK"), &window);
  auto* label = new QLabel(QStringLiteral("x"), &window);
  app::InstallHoverPointer(&window);
  EXPECT_EQ(button->cursor().shape(), Qt::BitmapCursor);
  EXPECT_EQ(label->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(LookTest, MissingOrBrokenCursorLeavesTheArrow) {
  EXPECT_FALSE(app::HandCursor().has_value());
  QFile broken(folder.filePath(QStringLiteral("HAND-M.CUR")));
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
  broken.write(QByteArray("\0\0\2\0\1\0garbage", 14));
  broken.close();
  EXPECT_FALSE(app::HandCursor().has_value());
  QDialog window;
  auto* button = new QPushButton(QStringLiteral("OK"), &window);
  app::InstallHoverPointer(&window);
  EXPECT_EQ(button->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(LookTest, FaceColourReachesLabelsFramesAndCheckBoxesOnly) {
  QDialog window;
  auto* label = new QLabel(&window);
  auto* frame = new QGroupBox(&window);
  auto* check = new QCheckBox(&window);
  auto* edit = new QLineEdit(&window);
  QPalette white = label->palette();
  white.setColor(QPalette::Window, Qt::white);
  for (QWidget* w : std::initializer_list<QWidget*>{label, frame, check, edit}) w->setPalette(white);
  app::ApplyFaceColor(&window);
  QColor face = QApplication::palette().color(QPalette::Button);
  ASSERT_NE(face, QColor(Qt::white));
  EXPECT_EQ(window.palette().color(QPalette::Window), face);
  EXPECT_EQ(label->palette().color(QPalette::Window), face);
  EXPECT_EQ(frame->palette().color(QPalette::Window), face);
  EXPECT_EQ(check->palette().color(QPalette::Window), face);
  EXPECT_EQ(edit->palette().color(QPalette::Window), QColor(Qt::white));
}

TEST_F(LookTest, SkinIsAStyleSheetBesideTheProgram) {
  QWidget window;
  auto* frame = new QGroupBox(&window);
  QPalette white = frame->palette();
  white.setColor(QPalette::Window, Qt::white);
  frame->setPalette(white);
  app::ApplySkin(&window);
  EXPECT_TRUE(window.styleSheet().isEmpty());
  EXPECT_EQ(frame->palette().color(QPalette::Window), QColor(Qt::white));

  ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("x")));
  QFile skin(folder.filePath(QStringLiteral("x/o.cjs")));
  ASSERT_TRUE(skin.open(QIODevice::WriteOnly));
  skin.write("QPushButton { color: navy; }");
  skin.close();
  app::ApplySkin(&window);
  EXPECT_EQ(window.styleSheet(), QStringLiteral("QPushButton { color: navy; }"));
  EXPECT_NE(frame->palette().color(QPalette::Window), QColor(Qt::white));
}

}  // namespace
