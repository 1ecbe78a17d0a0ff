// The error report, the shell helpers, the provider probe and the hand pointer. (The home page on
// its draw: the main window's start-up tests.)
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>

#include "gui_test_env.h"
#include "jet/base/error.h"
#include "shell/error_report.h"

namespace {

using ShellTest = testenv::WindowTest;

// Each failing line is reported (a warning box with the failure, the procedure and the line) and
// the procedure carries on with its next line.
TEST_F(ShellTest, FailingLineIsReportedAndProcedureCarriesOn) {
  shell::Procedure p(QStringLiteral("Form1.PushButton4_Click"));
  std::vector<int> ran;
  EXPECT_TRUE(p(100, [&] { ran.push_back(100); }));
  EXPECT_FALSE(p(102, [&] { throw jet::Error(3024, "Could not find file 'x.mdb'."); }));
  EXPECT_FALSE(p(102, [&] { throw shell::RuntimeError(6, "Overflow"); }));  // same line, same number
  EXPECT_FALSE(p(104, [&] { throw std::runtime_error("plain failure"); }));
  EXPECT_TRUE(p(106, [&] { ran.push_back(106); }));
  EXPECT_EQ(ran, (std::vector<int>{100, 106}));
  const QString tail = QStringLiteral("Please email screenshot of this message to support@tabulonix.org");
  const QString in = QStringLiteral("\r\nin Ledgerwick2021/08/31.Form1.PushButton4_Click at line ");
  EXPECT_EQ(dialogs.texts(), QStringList({"Could not find file 'x.mdb'." + in + "102\r\r" + tail, "Overflow" + in + "102\r\r" + tail,
                                          "plain failure" + in + "104\r\r" + tail}));
  for (const auto& box : dialogs.boxes)
    EXPECT_TRUE(box.title == "Application Error" && box.buttons == shell::Buttons::Ok && box.icon == shell::Icon::Warning);
}

TEST_F(ShellTest, LastWordGoesUntilTheTitleFits) {
  const std::pair<QString, QString> cases[] = {
      {"Tabulonix", "Tabulonix"},                                // no space: kept whole
      {"Tabulonix Database Viewer", "Tabulonix Database"},       // short names still lose a word
      {"Alpha Bravo Charlie Delta Echo Foxtrot Golf Hotel Ind", "Alpha Bravo Charlie Delta Echo Foxtrot"},
      {QString(40, 'a') + " tail", QString(40, 'a')},            // exactly 40 after the first cut
      {QString(45, 'b'), QString(45, 'b')},                      // no space: cannot be shortened
      {"Short " + QString(41, 'c') + " end", "Short"},           // a long last part: words before it go too
  };
  for (const auto& [name, title] : cases) {
    shell::SetAppTitle(name);
    EXPECT_EQ(shell::AppTitle(), title) << name.toStdString();
  }
  shell::SetAppTitle();
  shell::MsgBox(QStringLiteral("hello"));
  EXPECT_EQ(dialogs.boxes.back().title, QStringLiteral("Tabulonix"));
}

// The real probe finds the text converters. A failure that names the provider (in any case) asks
// whether to open both download pages; any other failure, or a probe that throws, ends silently.
TEST_F(ShellTest, ProviderNotFoundAsksAndOpensBothDownloadPagesOnYes) {
  shell::SetProviderProbeForTesting(nullptr);
  EXPECT_TRUE(shell::CheckProvider());
  const struct {
    int number;
    const char* text;  // nullptr: the probe throws
    shell::Answer answer;
    size_t boxes, opened;
  } cases[] = {{3706, "Provider cannot be found.", shell::Answer::Yes, 1, 2},
               {22, "The PROVIDER CANNOT BE FOUND here", shell::Answer::No, 1, 0},
               {12, "Cannot allocate memory", shell::Answer::Yes, 0, 0},
               {0, nullptr, shell::Answer::Yes, 0, 0}};
  for (const auto& c : cases) {
    dialogs.boxes.clear();
    dialogs.opened.clear();
    dialogs.answers.assign(1, c.answer);
    shell::SetProviderProbeForTesting([&c]() -> std::optional<shell::ProbeFailure> {
      if (!c.text) throw std::runtime_error("boom");
      return shell::ProbeFailure{c.number, QString::fromUtf8(c.text)};
    });
    EXPECT_FALSE(shell::CheckProvider());
    ASSERT_EQ(dialogs.boxes.size(), c.boxes) << c.number;
    ASSERT_EQ(dialogs.opened.size(), c.opened) << c.number;
    if (!c.opened) continue;
    const auto& box = dialogs.boxes[0];
    EXPECT_TRUE(box.buttons == shell::Buttons::YesNo && box.icon == shell::Icon::None && box.title == "Tabulonix");
    EXPECT_TRUE(box.text.startsWith(QStringLiteral(
        "Error #3706: Provider cannot be found. It may not be properly installed.\r\n\r\nYou are getting this error "
        "because:\r\n\r\n1. Microsoft Access is not installed on your computer.\r\n\r\n")));
    EXPECT_TRUE(box.text.endsWith(QStringLiteral(
        "Would you like me to open the Microsoft site now so you can do this?\r\n\r\n(If you have any further "
        "questions please email a screenshot of this error message to support@tabulonix.org)")));
    EXPECT_NE(dialogs.opened[0], dialogs.opened[1]);
  }
}

// The shipped hand pointer loads with its hot spot on the finger tip and goes on buttons only; a
// missing or broken cursor file leaves the arrow.
TEST_F(ShellTest, HandCursorFromTheProgramFolder) {
  testenv::writeFile(folder.filePath(QStringLiteral("broken/HAND-M.CUR")), QByteArray("\0\0\2\0\1\0garbage", 14));
  for (const QString& programFolder : {QStringLiteral(TABULONIX_BIN_DIR), folder.path(), folder.filePath("broken")}) {
    shell::SetProgramFolderForTesting(programFolder);
    const bool shipped = programFolder == TABULONIX_BIN_DIR;
    std::optional<QCursor> hand = shell::HandCursor();
    ASSERT_EQ(hand.has_value(), shipped) << programFolder.toStdString();
    EXPECT_TRUE(!shipped || hand->hotSpot() == QPoint(6, 0));  // the finger tip
    QDialog window;
    auto* button = new QPushButton(QStringLiteral("OK"), &window);
    auto* label = new QLabel(QStringLiteral("x"), &window);
    shell::InstallHoverPointer(&window);
    EXPECT_EQ(button->cursor().shape(), shipped ? Qt::BitmapCursor : Qt::ArrowCursor);
    EXPECT_EQ(label->cursor().shape(), Qt::ArrowCursor);
  }
}

// The face colour reaches the window, its labels, frames and check boxes, not its edit boxes. The
// skin, a style sheet in the program folder, brings the face colour too; without one nothing changes.
TEST_F(ShellTest, FaceColourAndSkin) {
  const QString face = QApplication::palette().color(QPalette::Button).name(), white = QColor(Qt::white).name();
  ASSERT_NE(face, white);
  for (int way = 0; way < 3; ++way) {  // the face colour, the skin missing, the skin
    if (way == 2) testenv::writeFile(folder.filePath(QStringLiteral("x/o.cjs")), "QPushButton { color: navy; }");
    QDialog window;
    const std::initializer_list<QWidget*> all{&window, new QLabel(&window), new QGroupBox(&window), new QCheckBox(&window),
                                              new QLineEdit(&window)};
    for (QWidget* w : all) {
      QPalette p = w->palette();
      p.setColor(QPalette::Window, Qt::white);
      w->setPalette(p);
    }
    way == 0 ? shell::ApplyFaceColor(&window) : shell::ApplySkin(&window);
    QStringList colours;
    for (QWidget* w : all) colours << w->palette().color(QPalette::Window).name();
    EXPECT_EQ(colours, way == 1 ? QStringList(5, white) : QStringList({face, face, face, face, white})) << way;
    EXPECT_EQ(window.styleSheet(), way == 2 ? QStringLiteral("QPushButton { color: navy; }") : QString()) << way;
  }
}

}  // namespace
