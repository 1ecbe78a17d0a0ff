#include "app/start_arguments.h"

namespace app {

const char kStartUsage[] =
    "usage: tabulonix [FILE]\n"
    "\n"
    "Opens the Tabulonix window; with FILE, opens that database in it as Open Database does\n"
    "(asking for its password where it has one).\n"
    "\n"
    "Options:\n"
    "  -h, --help     this usage\n"
    "  --version      the program's version\n";

StartArguments ReadStartArguments(const QStringList& arguments) {
  StartArguments a;
  bool operandsOnly = false;  // after "--" every word is a file name
  for (const QString& arg : arguments) {
    if (!operandsOnly && (arg == QStringLiteral("--help") || arg == QStringLiteral("-h"))) {
      a.help = true;
    } else if (!operandsOnly && arg == QStringLiteral("--version")) {
      a.version = true;
    } else if (!operandsOnly && arg == QStringLiteral("--")) {
      operandsOnly = true;
    } else if (!operandsOnly && arg.startsWith(QChar('-')) && arg.size() > 1) {
      a.error = QStringLiteral("unknown option ") + arg;
    } else if (!a.file.isEmpty()) {
      a.error = QStringLiteral("only one file can be opened");
    } else {
      a.file = arg;
    }
  }
  return a;
}

}  // namespace app
