// Opening a database file for the session from the main window. A file protected by a database
// password is opened with the password the user types into the input box.
#pragma once

#include <QString>

class QWidget;

namespace app {

// True when the session opened the file (the caller sets modDB::bDBOpen from it). A cancelled
// password box and a wrong password fail like any other file that cannot be opened.
bool OpenDatabaseFile(const QString& file, QWidget* parent);

}  // namespace app
