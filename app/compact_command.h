// The Compact DB command of the main window: rewrites the open database in compacted form and
// carries on working with it. The source file is replaced only by a compacted copy that exists and
// has been verified, and only by an atomic rename, so the path always names a complete database.
#pragma once

namespace shell {
class MainWindow;
}

namespace app {

void CompactCommand(shell::MainWindow& main);

}  // namespace app
