// The texts of the main window's status line while a database is open. Each carries the
// read-only mark while the session's file is open for reading only, whatever made it so, so that
// the user knows before a save is refused.
#pragma once

#include <QString>

namespace shell {

QString OpenedStatus(const QString& file);  // the file's path
QString RecordsStatus(qint64 count);        // "Records: N"

}  // namespace shell
