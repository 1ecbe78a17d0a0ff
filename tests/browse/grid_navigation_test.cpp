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
  for (int number : {7, 8, 9, 10}) {
    modDB::iRecPos = 5;
    run({{"click " + std::to_string(number), "sel=1; pos=0"}});
  }
}

// Steps stop at both ends; Next steps from the highlight, not from the current row; a sort keeps
// the highlighted record but not the current position.
TEST_F(NavigationTest, StepsFirstLastAndSort) {
  rows(5);
  run({{"row 2", ""}, {"click 8", "sel=1"}, {"click 8", "sel=1"}, {"row 4", ""}, {"click 9", "sel=5"},
       {"click 9", "sel=5; pos=4"}, {"click 7", "pos=0"}, {"click 10", "pos=4"},
       {"row 1", ""}, {"highlight 2", "pos=0"}, {"click 9", "sel=4; pos=3"},
       {"row 1", "col 0=1|2|3|4|5"}, {"sort 0", "sel=5; pos=0; col 0=5|4|3|2|1"}, {"click 7", "sel=1; cell 1 0=5; rec 1=4"}});
}

// A step without a selection, and Last Record past the 16-bit range, report the error and keep the
// selection.
TEST_F(NavigationTest, ErrorsKeepTheSelection) {
  for (int count : {3, 40000}) {
    rows(count);
    const int number = count == 3 ? 9 : 10;
    if (count > 3) form->SelectRow(3);
    run({{"click " + std::to_string(number), "nboxes=1; sel=" + std::string(count == 3 ? "0" : "3")}});
    EXPECT_EQ(dialogs.boxes[0].title, QStringLiteral("Application Error"));
    EXPECT_TRUE(dialogs.boxes[0].text.contains(QStringLiteral("Form1.PushButton%1_Click at line 102").arg(number)));
    EXPECT_EQ(dialogs.boxes[0].text.startsWith(QStringLiteral("Overflow\r\n")), count > 3);
  }
  run({{"click 7", "sel=1"}});
}

}  // namespace
