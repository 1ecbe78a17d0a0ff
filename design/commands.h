// The table-design commands of the main window: whole click handlers, guards included, each run
// under the error report as the main window's procedure (Form1.PushButton5_Click, ...).
#pragma once

namespace shell {
class MainWindow;
}

namespace design {

void NewTableCommand(shell::MainWindow& main);     // PushButton5 "New Table"
void RenameTableCommand(shell::MainWindow& main);  // PushButton11 "Rename Table"
void DeleteTableCommand(shell::MainWindow& main);  // PushButton12 "Delete Table"

}  // namespace design
