// The record commands of the main window: whole click handlers, guards included, each run under
// the error report as the main window's procedure (Form1.PushButton14_Click, ...).
#pragma once

namespace app {
class MainWindow;
}

namespace edit {

void AddRecordCommand(app::MainWindow& main);     // PushButton14 "Add Record"
void EditRecordCommand(app::MainWindow& main);    // PushButton15 "Edit Record"
void DeleteRecordCommand(app::MainWindow& main);  // PushButton16 "Delete Record"
void GridDoubleClick(app::MainWindow& main);      // LstV_DblClick

}  // namespace edit
