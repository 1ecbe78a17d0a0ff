// The browsing commands of the main window: whole click handlers, guards included, each run under
// the error report as the main window's procedure (Form1.PushButton6_Click, ...).
#pragma once

namespace app {
class MainWindow;
}

namespace browse {

void SearchCommand(app::MainWindow& main);        // PushButton6 "Search"
void MoveFirstCommand(app::MainWindow& main);     // PushButton7 "Move First"
void MovePreviousCommand(app::MainWindow& main);  // PushButton8 "Move Previous"
void MoveNextCommand(app::MainWindow& main);      // PushButton9 "Move Next"
void MoveLastCommand(app::MainWindow& main);      // PushButton10 "Move Last"
void TableInfoCommand(app::MainWindow& main);     // PushButton13 "Table Information"

// Selects the row before or after the highlighted one, stopping at either end.
void StepRow(app::MainWindow& main, bool backward);

}  // namespace browse
