// The record grid's storage and sorting, and the navigation buttons, on grids filled directly.
#include <QSignalBlocker>

#include "browse/grid.h"
#include "gui_test_env.h"

namespace {

class NavigationTest : public testenv::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    QSignalBlocker quiet(form->sTab1());
    form->sTab1()->addTab(QStringLiteral("T"));
  }
  // Fills the grid directly with n rows: 1..n and a second column.
  void rows(int n) {
    browse::RecordModel& model = *form->LstV()->records();
    model.clearHeaders();
    model.appendHeader(QStringLiteral("F0"));
    model.appendHeader(QStringLiteral("F1"));
    model.beginFill();
    for (int i = 0; i < n; ++i) {
      model.startRow();
      model.addCell(std::to_string(i + 1));
      model.addCell("v" + std::to_string(n - i));
      model.endRow();
    }
    model.endFill();
  }
};

// Steps stop at both ends; Next steps from the highlight, not from the current row; a sort keeps
// the highlighted record but not the current position.
TEST_F(NavigationTest, StepsFirstLastAndSort) {
  rows(5);
  run({{"row 2", ""}, {"click 8", "sel=1; pos=0"}, {"click 8", "sel=1; pos=0"}, {"row 4", ""}, {"click 9", "sel=5"},
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
    EXPECT_EQ(dialogs.boxes.at(0).title, QStringLiteral("Application Error"));
    EXPECT_TRUE(dialogs.boxes.at(0).text.contains(QStringLiteral("Form1.PushButton%1_Click at line 102").arg(number)));
    EXPECT_EQ(dialogs.boxes.at(0).text.startsWith(QStringLiteral("Overflow\r\n")), count > 3);
  }
  run({{"click 7", "sel=1"}});
}

}  // namespace
