// The program's command line: an optional database file to open at start, and the two questions
// answered without a window (--help, --version).
#pragma once

#include <QString>
#include <QStringList>

namespace app {

struct StartArguments {
  bool help = false;
  bool version = false;
  QString file;   // empty: start with no database open
  QString error;  // not empty: the line is not understood (reported with the usage, exit 2)
};

extern const char kStartUsage[];

// `arguments` without the program name, and without the window system's own options.
StartArguments ReadStartArguments(const QStringList& arguments);

}  // namespace app
