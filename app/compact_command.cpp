#include "app/compact_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cstdio>

#include "app/dialogs.h"
#include "app/error_report.h"
#include "app/main_window.h"
#include "app/shell.h"
#include "db/session.h"
#include "jet/compact.h"
#include "jet/error.h"

namespace app {
namespace {

constexpr const char* kNoDatabase = "Please open or create a database first.";
constexpr const char* kFinished = "Finished";

std::string local(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Gives the compacted copy the source's permission bits with owner read and write added: the
// compacted file is an ordinary, writable database even when the source was read-only.
void makeNormal(const std::string& copy, const std::string& source) {
  struct stat st {};
  mode_t mode = S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH;
  if (::stat(source.c_str(), &st) == 0) mode = (st.st_mode & 07777) | S_IRUSR | S_IWUSR;
  if (::chmod(copy.c_str(), mode) != 0)
    throw jet::Error(jet::err::kIoError, "Cannot set the attributes of the compacted file.");
}

// One rename within the folder: at every moment the path names either the old file or the new one.
// The folder is then synced so that the new name survives a crash.
void replaceAtomically(const std::string& copy, const std::string& target) {
  if (std::rename(copy.c_str(), target.c_str()) != 0)
    throw jet::Error(jet::err::kIoError, "Cannot put the compacted file in place of '" + target + "'.");
  const std::string folder = QFileInfo(QFile::decodeName(target.c_str())).absolutePath().toStdString();
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

QString CompactTemporaryPath(const QString& databasePath) {
  QFileInfo info(databasePath);
  QDir folder = info.absoluteDir();
  for (;;) {
    QString name = QStringLiteral("~%1.compact-%2.mdb")
                       .arg(info.completeBaseName())
                       .arg(QRandomGenerator::global()->generate() & 0xffffff, 6, 16, QChar('0'));
    QString candidate = folder.filePath(name);
    if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink()) return candidate;
  }
}

void CompactCommand(MainWindow& main) {
  Procedure p("Form1.PushButton4_Click");
  QWidget* parent = main.widget();
  if (!modDB::bDBOpen) {
    p(100, [&] { ui::MsgBox(kNoDatabase, ui::Buttons::Ok, ui::Icon::None, QString(), parent); });
    return;
  }
  QString temporary;
  const std::string source = modDB::sDBPath;
  const std::string password = modDB::sDBPassword;  // the copy keeps it
  p(102, [&] { temporary = CompactTemporaryPath(QFile::decodeName(source.c_str())); });
  const std::string copy = local(temporary);

  p(104, [&] { modDB::gDB.Close(); });  // bDBOpen stays True while the command runs

  // The compacted copy counts only when it was written completely and reads back as the source
  // does; anything less leaves the source exactly as it was.
  bool compacted = !temporary.isEmpty() && p(106, [&] {
    dao::Engine().CompactDatabase(source, copy, password.empty() ? "" : ";PWD=" + password);
    jet::verifyCompactedCopy(source, copy, password);
  });
  bool replaced = false;
  if (compacted) {
    if (p(108, [&] { makeNormal(copy, source); })) {
      // The source is not removed first: the rename replaces it in one step.
      replaced = p(112, [&] { replaceAtomically(copy, source); });
    }
  }
  if (!replaced && !temporary.isEmpty()) QFile::remove(temporary);

  p(114, [&] { modDB::bDBOpen = modDB::OpenDB(source, password); });
  if (replaced) p(116, [&] { ui::MsgBox(kFinished, ui::Buttons::Ok, ui::Icon::None, QString(), parent); });
  temporary.clear();
}

}  // namespace app
