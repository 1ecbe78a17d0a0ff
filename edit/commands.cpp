#include "edit/commands.h"

#include "app/main_window.h"

namespace edit {

// Placeholders until the record editor arrives.
void AddRecordCommand(app::MainWindow&) {}
void EditRecordCommand(app::MainWindow&) {}
void DeleteRecordCommand(app::MainWindow&) {}
void GridDoubleClick(app::MainWindow&) {}

}  // namespace edit
