// The browsing commands of the main window: whole click handlers, guards included, each run under
// the error report as the main window's procedure (Form1.PushButton6_Click, ...).
#pragma once

namespace shell {
class MainWindow;
}

namespace browse {

void SearchCommand(shell::MainWindow& main);        // PushButton6 "Search"
void MoveFirstCommand(shell::MainWindow& main);     // PushButton7 "Move First"
void MovePreviousCommand(shell::MainWindow& main);  // PushButton8 "Move Previous"
void MoveNextCommand(shell::MainWindow& main);      // PushButton9 "Move Next"
void MoveLastCommand(shell::MainWindow& main);      // PushButton10 "Move Last"
void TableInfoCommand(shell::MainWindow& main);     // PushButton13 "Table Information"

// Selects the row before or after the highlighted one, stopping at either end.
void StepRow(shell::MainWindow& main, bool backward);

}  // namespace browse
