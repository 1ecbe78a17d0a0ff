#include "app/open_database.h"

#include <QFileInfo>

#include "shell/dialogs.h"
#include "db/session.h"

namespace app {

bool OpenDatabaseFile(const QString& file, QWidget* parent) {
  const std::string path = file.toStdString();
  std::string password;
  if (modDB::HasPassword(path)) {
    const QString typed =
        shell::InputBox(QStringLiteral("Password for %1:").arg(QFileInfo(file).fileName()), QString(), QString(), parent,
                        shell::Echo::Masked);
    if (typed.isEmpty()) return false;
    password = typed.toStdString();
  }
  return modDB::OpenDB(path, password);
}

}  // namespace app
