// The program: the main window, shown after its start-up sequence; it ends when the window closes
// or when the start-up probe of the database engine fails. A database file named on the command
// line is opened once the window is up, as Open Database opens it.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <tabulonix_version.h>

#include "shell/shell.h"
#include "app/form1.h"
#include "app/start_arguments.h"

int main(int argc, char** argv) {
  // --help and --version are answered before any window system is needed.
  QStringList raw;
  for (int i = 1; i < argc; ++i) raw << QString::fromLocal8Bit(argv[i]);
  const app::StartArguments early = app::ReadStartArguments(raw);
  if (early.help || early.version) {
    if (early.help) std::fputs(app::kStartUsage, stdout);
    else std::printf("tabulonix %s\n", TABULONIX_VERSION);
    return 0;
  }
  QApplication application(argc, argv);  // takes the window system's own options out of argv
  QStringList rest = QApplication::arguments();
  rest.removeFirst();
  const app::StartArguments start = app::ReadStartArguments(rest);
  if (!start.error.isEmpty()) {
    std::fprintf(stderr, "tabulonix: %s\n%s", qPrintable(start.error), app::kStartUsage);
    return 2;
  }
  QApplication::setApplicationVersion(QStringLiteral(TABULONIX_VERSION));
  QApplication::setWindowIcon(shell::ApplicationIcon());
  app::Form1 window;
  if (!window.Form_Load()) return 1;
  window.show();
  if (!start.file.isEmpty())
    QTimer::singleShot(0, &window, [&window, file = start.file] { window.OpenDatabase(file); });
  return QApplication::exec();
}
