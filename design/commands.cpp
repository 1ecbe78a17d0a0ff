#include "design/commands.h"

#include "app/main_window.h"

namespace design {

// Placeholders until the table-design windows arrive.
void NewTableCommand(app::MainWindow&) {}
void RenameTableCommand(app::MainWindow&) {}
void DeleteTableCommand(app::MainWindow&) {}

}  // namespace design
