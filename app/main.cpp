// The program: the main window, shown after its start-up sequence; it ends when the window closes
// or when the start-up probe of the database engine fails.
#include <QApplication>

#include "shell/shell.h"
#include "app/form1.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setWindowIcon(app::ApplicationIcon());
  app::Form1 window;
  if (!window.Form_Load()) return 1;
  window.show();
  return QApplication::exec();
}
