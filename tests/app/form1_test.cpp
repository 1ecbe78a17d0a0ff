// The main window without a database: its start-up, its buttons and the guards they answer with.
#include <QGroupBox>
#include <QLabel>
#include <algorithm>

#include "gui_test_env.h"

namespace {

using Form1Test = testenv::MainWindowTest;

TEST_F(Form1Test, StartsEmptyAndSilent) {
  // The start-up close says nothing; the home page only on its draw.
  EXPECT_TRUE(dialogs.boxes.empty());
  run({{"", "opened=; status=Ready; tabs=; rows=0; open=0"}});
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Tabulonix"));
  EXPECT_EQ(form->sInitDir, folder.path());
  EXPECT_EQ(form->Frame7()->title(), QStringLiteral("Tables:"));
  EXPECT_EQ(form->Frame1()->title(), QStringLiteral("Records:"));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());  // fixed size

  // Eighteen buttons, none over another; the keyboard goes from the grid through them row by row.
  std::vector<QPushButton*> buttons;
  for (int number = 1; number <= 18; ++number) {
    QPushButton* b = form->button(number);
    ASSERT_NE(b, nullptr) << number;
    for (QPushButton* other : buttons) EXPECT_FALSE(b->geometry().intersects(other->geometry())) << number;
    buttons.push_back(b);
  }
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

// Every command that needs a database or a table says so (plain OK boxes under the program's
// title); Help shows the contact; cancelled file dialogs do nothing.
TEST_F(Form1Test, GuardsHelpAndCancelledFileDialogsWithoutADatabase) {
  const std::string openFirst = "Please open or create a database first.", addTable = "Please add a table to a database.";
  for (int number : {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 18}) {
    run({{"click " + std::to_string(number), "shown=; nboxes=1"}});
    if (number < 18) EXPECT_EQ(dialogs.boxes.at(0).text.toStdString(), number <= 5 ? openFirst : addTable);
    EXPECT_EQ(dialogs.boxes.at(0).title, QStringLiteral("Tabulonix"));
    EXPECT_EQ(dialogs.boxes.at(0).buttons, shell::Buttons::Ok);
    EXPECT_EQ(dialogs.boxes.at(0).icon, shell::Icon::None);
  }
  EXPECT_TRUE(dialogs.boxes.at(0).text.startsWith(QStringLiteral("Questions? Please contact Team Quorvane at https://")));  // 18
  EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("tmp.mdb"))));
  run({{"click 1", "status=Ready"}, {"click 2", "status=Ready; open=0"}});
  EXPECT_EQ(dialogs.fileTitles, (std::vector<QString>{QStringLiteral("Create DB"), QStringLiteral("Open")}));
  // New Database keeps its one entry; Open Database adds the .accdb files and every file after it.
  EXPECT_EQ(dialogs.fileFilters,
            (std::vector<QString>{QStringLiteral("Access Database Files(*.mdb)|*.mdb|"),
                                  QStringLiteral("Access Database Files(*.mdb)|*.mdb|Access 2007+ Database "
                                                 "Files(*.accdb)|*.accdb|All Files(*)|*|")}));
}

// Load Sample: a missing sample still offers its folder, a folder that cannot be opened is named in
// a notice; the sample opens in place, asking for its password.
TEST_F(Form1Test, LoadSample) {
  const std::string offer = "Would you like this software to open the folder where these sample files are stored (so "
                            "that you can view them before working with them)?";
  const std::string opened = "opened={dir}/Samples/";
  run({{"yes click 17", "boxes=Cannot open database.|" + offer + "; " + opened + "; open=0"},
       {"no click 17", "boxes=Cannot open database.|" + offer + "; " + opened}});
  EXPECT_EQ(dialogs.boxes.at(1).buttons, shell::Buttons::YesNo);
  dialogs.shellOpens = false;
  run({{"yes click 17", "nboxes=3; " + opened + "|{dir}/Samples/"}});
  EXPECT_TRUE(dialogs.boxes.at(2).text.contains(folder.path() + QStringLiteral("/Samples/")));
  EXPECT_EQ(dialogs.boxes.at(2).buttons, shell::Buttons::Ok);
  EXPECT_EQ(dialogs.boxes.at(2).icon, shell::Icon::None);
  EXPECT_EQ(dialogs.boxes.at(2).title, QStringLiteral("Tabulonix"));
  copyTestDatabase("more/passwordV2000.mdb", QStringLiteral("Samples/Sample.mdb"));
  dialogs.inputAnswers.push_back(QStringLiteral("password"));
  run({{"click 17", "boxes=" + offer + "; open=1; db={dir}/Samples/Sample.mdb; status={dir}/Samples/Sample.mdb; tabs=Table1"}});
  EXPECT_EQ(dialogs.inputPrompts, std::vector<QString>{QStringLiteral("Password for Sample.mdb:")});
}

TEST_F(Form1Test, StartUpEndsWhenTheProbeFailsAndOpensTheHomePageOnItsDraw) {
  shell::SetRandomSourceForTesting([] { return 7; });
  app::Form1 lucky;
  EXPECT_TRUE(lucky.Form_Load());
  ASSERT_EQ(dialogs.opened.size(), 1u);
  EXPECT_TRUE(dialogs.opened[0].startsWith(QStringLiteral("https://")));

  shell::SetProviderProbeForTesting([] {
    return std::optional<shell::ProbeFailure>(shell::ProbeFailure{3706, QStringLiteral("Provider cannot be found.")});
  });
  app::Form1 second;
  EXPECT_FALSE(second.Form_Load());
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_TRUE(dialogs.boxes.at(0).text.startsWith(QStringLiteral("Error #3706")));
}

}  // namespace
