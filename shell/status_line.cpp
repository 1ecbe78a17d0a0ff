#include "shell/status_line.h"

#include "db/session.h"

namespace shell {

namespace {

QString marked(QString text) {
  if (modDB::bDBOpen && !modDB::gDB.Updatable()) text += QStringLiteral(" (read-only)");
  return text;
}

}  // namespace

// Beside Access the file was opened for reading only: the line says who has it open.
QString OpenedStatus(const QString& file) {
  if (!modDB::bDBOpen || modDB::gDB.Updatable() || modDB::sOpenElsewhere.empty()) return marked(file);
  return file + QStringLiteral(" (read-only): open in Access by ") + QString::fromStdString(modDB::sOpenElsewhere);
}

QString RecordsStatus(qint64 count) { return marked(QStringLiteral("Records: ") + QString::number(count)); }

}  // namespace shell
