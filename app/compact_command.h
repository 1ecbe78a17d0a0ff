// The Compact DB command of the main window: rewrites the open database in compacted form and
// carries on working with it. The source file is replaced only by a compacted copy that exists and
// has been verified, and only by an atomic rename, so the path always names a complete database.
#pragma once

#include <QString>

namespace app {

class MainWindow;

void CompactCommand(MainWindow& main);

// The temporary file of the next compaction: a name in the database's own folder (so the final
// rename stays on one file system) that no file has yet, never a leftover from an earlier run.
QString CompactTemporaryPath(const QString& databasePath);

}  // namespace app
