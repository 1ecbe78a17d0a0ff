#include "shell/status_line.h"

#include "db/session.h"

namespace app {

namespace {

QString marked(QString text) {
  if (modDB::bDBOpen && !modDB::gDB.Updatable()) text += QStringLiteral(" (read-only)");
  return text;
}

}  // namespace

QString OpenedStatus(const QString& file) { return marked(file); }

QString RecordsStatus(qint64 count) { return marked(QStringLiteral("Records: ") + QString::number(count)); }

}  // namespace app
