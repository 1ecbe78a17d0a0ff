// The record grid's storage and sorting, and the navigation buttons, on grids filled directly.
#include <QHeaderView>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabBar>

#include "app/form1.h"
#include "browse/grid.h"
#include "browse/record_grid.h"
#include "db/session.h"
#include "gui_test_env.h"

namespace {

void fill(browse::RecordModel& model, const std::vector<std::vector<std::string>>& rows, int columns = 2) {
  model.clearHeaders();
  for (int c = 0; c < columns; ++c) model.appendHeader(QStringLiteral("F%1").arg(c));
  model.beginFill();
  for (const auto& row : rows) {
    model.startRow();
    for (const auto& cell : row) model.addCell(cell);
    model.endRow();
  }
  model.endFill();
}

class NavigationTest : public testenv::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    QSignalBlocker quiet(form->sTab1());
    form->sTab1()->addTab(QStringLiteral("T"));
  }
  void rows(int n) {
    std::vector<std::vector<std::string>> data;
    for (int i = 0; i < n; ++i) data.push_back({std::to_string(i + 1), "v" + std::to_string(n - i)});
    fill(*form->LstV()->records(), data);
  }
};

TEST_F(NavigationTest, OneRowGridSelectsRowOneEverywhere) {
  rows(1);
  modDB::iRecPos = 5;
  click(7);
  EXPECT_EQ(form->GridSelectedIndex(), 1);
  EXPECT_EQ(modDB::iRecPos, 0);
  for (int number : {8, 9, 10}) {
    modDB::iRecPos = 5;
    click(number);
    EXPECT_EQ(form->GridSelectedIndex(), 1) << number;
    EXPECT_EQ(modDB::iRecPos, 0) << number;
  }
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(NavigationTest, StepsStopAtBothEnds) {
  rows(5);
  form->SelectRow(2);
  click(8);
  EXPECT_EQ(form->GridSelectedIndex(), 1);
  click(8);
  EXPECT_EQ(form->GridSelectedIndex(), 1);
  form->SelectRow(4);
  click(9);
  EXPECT_EQ(form->GridSelectedIndex(), 5);
  click(9);
  EXPECT_EQ(form->GridSelectedIndex(), 5);
  EXPECT_EQ(modDB::iRecPos, 4);
  click(7);
  EXPECT_EQ(modDB::iRecPos, 0);
  click(10);
  EXPECT_EQ(modDB::iRecPos, 4);
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(NavigationTest, NextStepsFromTheHighlightNotFromTheCurrentRow) {
  rows(5);
  form->SelectRow(1);
  // The keyboard moves the highlight without a click: the current row stays.
  form->LstV()->selectDisplayedRow(2);
  EXPECT_EQ(modDB::iRecPos, 0);
  click(9);
  EXPECT_EQ(form->GridSelectedIndex(), 4);
  EXPECT_EQ(modDB::iRecPos, 3);
}

TEST_F(NavigationTest, StepWithoutSelectionIsReported) {
  rows(3);
  click(9);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].title, QStringLiteral("Application Error"));
  EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("Form1.PushButton9_Click at line 102")));
  EXPECT_EQ(form->GridSelectedIndex(), 0);
}

TEST_F(NavigationTest, MoveLastOverflowsPastThe16BitRange) {
  rows(40000);
  form->SelectRow(3);
  click(10);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_TRUE(dialogs.boxes[0].text.startsWith(QStringLiteral("Overflow\r\n")));
  EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("Form1.PushButton10_Click at line 102")));
  EXPECT_EQ(form->GridSelectedIndex(), 3);  // the selection did not change
  click(7);
  EXPECT_EQ(form->GridSelectedIndex(), 1);
}

TEST_F(NavigationTest, SortKeepsTheHighlightedRecordButNotTheCurrentPosition) {
  rows(4);
  form->SelectRow(1);  // record "1"
  form->LstV()->header()->sectionClicked(0);  // descending: record "1" is now last
  EXPECT_EQ(form->GridSelectedIndex(), 4);
  EXPECT_EQ(modDB::iRecPos, 0);  // a sort does not touch the current position
  click(7);
  EXPECT_EQ(form->GridCellText(form->GridSelectedIndex(), 0), QStringLiteral("4"));
  EXPECT_EQ(form->RecordPositionOfRow(form->GridSelectedIndex()), 3);
}

}  // namespace
