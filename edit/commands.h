// The record commands of the main window: whole click handlers, guards included, each run under
// the error report as the main window's procedure (Form1.PushButton14_Click, ...).
#pragma once

namespace shell {
class MainWindow;
}

namespace edit {

void AddRecordCommand(shell::MainWindow& main);     // PushButton14 "Add Record"
void EditRecordCommand(shell::MainWindow& main);    // PushButton15 "Edit Record"
void DeleteRecordCommand(shell::MainWindow& main);  // PushButton16 "Delete Record"
void GridDoubleClick(shell::MainWindow& main);      // LstV_DblClick

}  // namespace edit
