// The main window without a database: its layout, start-up sequence and the guards of the buttons.
#include <QGroupBox>
#include <algorithm>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>

#include "app/form1.h"
#include "browse/record_grid.h"
#include "db/session.h"
#include "gui_test_env.h"

namespace {

using testenv::WindowTest;

class Form1Test : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    modDB::bDBOpen = false;
    form = std::make_unique<app::Form1>();
    ASSERT_TRUE(form->Form_Load());
  }
  void TearDown() override {
    form.reset();
    WindowTest::TearDown();
  }
  void click(int number) { form->button(number)->click(); }

  std::unique_ptr<app::Form1> form;
};

TEST_F(Form1Test, StartsEmptyAndSilent) {
  EXPECT_TRUE(dialogs.boxes.empty());  // the start-up close says nothing
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Tabulonix"));
  EXPECT_EQ(form->lblStatus()->text(), QStringLiteral("Ready"));
  EXPECT_EQ(form->lblStatus()->palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(form->TabCount(), 0);
  EXPECT_EQ(form->GridRowCount(), 0);
  EXPECT_EQ(form->sInitDir, folder.path());
  EXPECT_FALSE(form->bSilent);
  EXPECT_FALSE(modDB::bDBOpen);
}

TEST_F(Form1Test, LayoutFollowsTheTwipsTableAtTheScreensDpi) {
  const double scale = form->logicalDpiX() / 1440.0;
  auto px = [&](int twips) { return static_cast<int>(std::lround(twips * scale)); };
  EXPECT_EQ(form->size(), QSize(px(8040), px(8250)));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());  // fixed size
  EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);

  // The eighteen buttons: two columns of equal buttons inside the window, none overlapping another,
  // the tables frame or the status line.
  std::vector<QPushButton*> buttons;
  for (int number = 1; number <= 18; ++number) {
    QPushButton* b = form->button(number);
    ASSERT_NE(b, nullptr) << number;
    EXPECT_EQ(b->objectName(), QStringLiteral("PushButton%1").arg(number));
    EXPECT_TRUE(form->rect().contains(b->geometry())) << number;
    EXPECT_FALSE(b->geometry().intersects(form->Frame7()->geometry())) << number;
    EXPECT_FALSE(b->geometry().intersects(form->lblStatus()->geometry())) << number;
    EXPECT_EQ(b->size(), form->button(1)->size()) << number;
    EXPECT_TRUE(b->x() == form->button(1)->x() || b->x() == form->button(2)->x()) << number;
    for (QPushButton* other : buttons) EXPECT_FALSE(b->geometry().intersects(other->geometry())) << number;
    buttons.push_back(b);
  }
  EXPECT_EQ(form->button(1)->geometry().topLeft(), QPoint(px(120), px(120)));
  EXPECT_EQ(form->button(16)->geometry().right() + 1, px(4080 + 3840));
  EXPECT_EQ(form->Frame7()->title(), QStringLiteral("Tables:"));
  EXPECT_EQ(form->Frame7()->geometry().topLeft(), QPoint(px(120), px(1620)));
  EXPECT_EQ(form->Frame1()->title(), QStringLiteral("Records:"));
  EXPECT_EQ(form->Frame1()->parentWidget(), form->Frame7());
  EXPECT_EQ(form->LstV()->parentWidget(), form->Frame1());
  EXPECT_EQ(form->Frame7()->palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(form->lblStatus()->geometry().topLeft(), QPoint(px(120), px(7880)));
  EXPECT_EQ(form->lblStatus()->font().pointSizeF(), 9.0);
  EXPECT_TRUE(form->lblStatus()->font().bold());

  // Keyboard order: the grid, then the buttons as they stand, row by row.
  std::sort(buttons.begin(), buttons.end(), [](QPushButton* a, QPushButton* b) {
    return std::make_pair(a->y(), a->x()) < std::make_pair(b->y(), b->x());
  });
  QWidget* w = form->LstV();
  for (QPushButton* b : buttons) {
    w = w->nextInFocusChain();
    while (w && w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
    ASSERT_EQ(w, b) << b->text().toStdString();
  }
}

TEST_F(Form1Test, EveryGuardAnswersWithoutADatabase) {
  const QString openFirst = QStringLiteral("Please open or create a database first.");
  const QString addTable = QStringLiteral("Please add a table to a database.");
  struct Case {
    int number;
    QString message;
  } cases[] = {{3, openFirst},  {4, openFirst},  {5, openFirst},  {11, addTable}, {12, addTable}, {13, addTable},
               {6, addTable},   {7, addTable},   {8, addTable},   {9, addTable},  {10, addTable}, {14, addTable},
               {15, addTable},  {16, addTable}};
  for (const Case& c : cases) {
    dialogs.boxes.clear();
    click(c.number);
    ASSERT_EQ(dialogs.boxes.size(), 1u) << c.number;
    EXPECT_EQ(dialogs.boxes[0].text, c.message) << c.number;
    EXPECT_EQ(dialogs.boxes[0].title, QStringLiteral("Tabulonix"));
    EXPECT_EQ(dialogs.boxes[0].buttons, ui::Buttons::Ok);
    EXPECT_EQ(dialogs.boxes[0].icon, ui::Icon::None);
  }
  EXPECT_TRUE(dialogs.modalShown.empty());
  EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("tmp.mdb"))));
}

TEST_F(Form1Test, CancelledFileDialogsDoNothing) {
  click(1);
  click(2);
  EXPECT_EQ(dialogs.fileTitles, (std::vector<QString>{QStringLiteral("Create DB"), QStringLiteral("Open")}));
  // New Database keeps its one entry; Open Database adds the .accdb files and every file after it.
  EXPECT_EQ(dialogs.fileFilters,
            (std::vector<QString>{QStringLiteral("Access Database Files(*.mdb)|*.mdb|"),
                                  QStringLiteral("Access Database Files(*.mdb)|*.mdb|Access 2007+ Database "
                                                 "Files(*.accdb)|*.accdb|All Files(*)|*|")}));
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_EQ(form->lblStatus()->text(), QStringLiteral("Ready"));
}

TEST_F(Form1Test, MissingSampleStillOffersItsFolder) {
  dialogs.answers.push_back(ui::Answer::Yes);
  click(17);
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("Cannot open database."));
  EXPECT_EQ(dialogs.boxes[1].text,
            QStringLiteral("Would you like this software to open the folder where these sample files are stored (so "
                           "that you can view them before working with them)?"));
  EXPECT_EQ(dialogs.boxes[1].buttons, ui::Buttons::YesNo);
  ASSERT_EQ(dialogs.opened.size(), 1u);
  EXPECT_EQ(dialogs.opened[0], folder.path() + QStringLiteral("/Samples/"));
  EXPECT_FALSE(modDB::bDBOpen);

  dialogs.boxes.clear();
  dialogs.answers.push_back(ui::Answer::No);
  click(17);
  EXPECT_EQ(dialogs.boxes.size(), 2u);
  EXPECT_EQ(dialogs.opened.size(), 1u);
}

TEST_F(Form1Test, HelpButtonShowsTheContactMessage) {
  click(18);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_TRUE(dialogs.boxes[0].text.startsWith(QStringLiteral("Questions? Please contact Team Quorvane at ")));
}

TEST_F(Form1Test, StartUpEndsWhenTheProbeFails) {
  app::SetProviderProbeForTesting([] {
    return std::optional<app::ProbeFailure>(app::ProbeFailure{3706, QStringLiteral("Provider cannot be found.")});
  });
  app::Form1 second;
  EXPECT_FALSE(second.Form_Load());
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_TRUE(dialogs.boxes[0].text.startsWith(QStringLiteral("Error #3706")));
}

TEST_F(Form1Test, StartUpOpensTheHomePageOnlyOnItsDraw) {
  app::SetRandomSourceForTesting([] { return 7; });
  app::Form1 second;
  EXPECT_TRUE(second.Form_Load());
  EXPECT_EQ(dialogs.opened.size(), 1u);
}

TEST_F(Form1Test, ButtonsShowTheShippedHandPointer) {
  app::SetProgramFolderForTesting(QStringLiteral(TABULONIX_BIN_DIR));
  app::Form1 second;
  ASSERT_TRUE(second.Form_Load());
  EXPECT_EQ(second.button(9)->cursor().shape(), Qt::BitmapCursor);
  EXPECT_EQ(second.Frame1()->cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(form->button(9)->cursor().shape(), Qt::ArrowCursor);  // no cursor file: the arrow
}

}  // namespace
