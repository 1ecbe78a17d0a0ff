// The main window without a database: its layout, start-up sequence and the guards of the buttons.
#include <QGroupBox>
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

  struct Expect {
    int number, left, top;
    const char* caption;
  } expected[] = {{1, 120, 120, "New Database"}, {4, 4080, 630, "Compact DB"},
                  {17, 120, 1140, "Load Sample/Example Database"}, {18, 4080, 1140, "Help"},
                  {5, 120, 4810, "New Table"}, {13, 4080, 5320, "Table Information"},
                  {10, 120, 6850, "Move Last"}, {16, 4080, 7360, "Delete Record"}};
  for (const Expect& e : expected) {
    QPushButton* b = form->button(e.number);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->objectName(), QStringLiteral("PushButton%1").arg(e.number));
    EXPECT_EQ(b->text(), QString::fromLatin1(e.caption));
    EXPECT_EQ(b->geometry().topLeft(), QPoint(px(e.left), px(e.top))) << e.caption;
    EXPECT_EQ(b->width(), px(e.left + 3840) - px(e.left));
    EXPECT_TRUE(b->font().bold());
    EXPECT_DOUBLE_EQ(b->font().pointSizeF(), 11.25);
  }
  EXPECT_EQ(form->Frame7()->title(), QStringLiteral("Tables:"));
  EXPECT_EQ(form->Frame7()->geometry().topLeft(), QPoint(px(120), px(1620)));
  EXPECT_EQ(form->Frame1()->title(), QStringLiteral("Records:"));
  EXPECT_EQ(form->Frame1()->parentWidget(), form->Frame7());
  EXPECT_EQ(form->LstV()->parentWidget(), form->Frame1());
  EXPECT_EQ(form->Frame7()->palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(form->lblStatus()->geometry().topLeft(), QPoint(px(120), px(7880)));
  EXPECT_EQ(form->lblStatus()->font().pointSizeF(), 9.0);
  EXPECT_TRUE(form->lblStatus()->font().bold());

  // Keyboard order: grid, then the buttons row by row, then the tab strip.
  const int order[] = {1, 2, 3, 4, 17, 18, 5, 11, 12, 13, 6, 7, 8, 9, 10, 14, 15, 16};
  QWidget* w = form->LstV();
  for (int number : order) {
    w = w->nextInFocusChain();
    while (w && w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
    ASSERT_EQ(w, form->button(number)) << number;
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
