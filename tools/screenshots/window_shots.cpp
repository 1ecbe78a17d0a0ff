// Draws every window of the application into PNG files, for looking at the layout at the screen's
// resolution: window_shots DATABASE OUTPUT_FOLDER [SUFFIX]. The database is copied and opened the
// way the main window opens it; nothing in it is changed.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "app/form1.h"
#include "browse/forms.h"
#include "db/session.h"
#include "design/forms.h"
#include "edit/dfield.h"
#include "edit/form4.h"
#include "shell/dialogs.h"
#include "shell/shell.h"

namespace {

QString outFolder, suffix;

void save(QWidget* w, const QString& name) {
  w->show();
  // Layouts settle over a few turns of the event loop (headers resize on a timer).
  for (int i = 0; i < 5; ++i) {
    QApplication::processEvents();
    QThread::msleep(20);
  }
  const QString file = QDir(outFolder).filePath(name + suffix + QStringLiteral(".png"));
  if (!w->grab().save(file)) std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
  else std::printf("%s\n", qPrintable(file));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: window_shots DATABASE OUTPUT_FOLDER [SUFFIX]\n");
    return 2;
  }
  outFolder = QString::fromLocal8Bit(argv[2]);
  suffix = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
  QDir().mkpath(outFolder);
  QTemporaryDir work;
  const QString db = work.filePath(QStringLiteral("Sample.mdb"));
  QFile::copy(QString::fromLocal8Bit(argv[1]), db);
  QFile::setPermissions(db, QFile::ReadOwner | QFile::WriteOwner);

  // Dialogs are answered without showing anything, so that the windows can be drawn one by one.
  shell::ScriptedDialogs dialogs;
  shell::setDialogs(&dialogs);
  shell::SetProviderProbeForTesting([] { return std::optional<shell::ProbeFailure>(); });
  shell::SetRandomSourceForTesting([] { return 50; });
  shell::SetProgramFolderForTesting(QFileInfo(QString::fromLocal8Bit(argv[0])).absolutePath());

  app::Form1 main;
  if (!main.Form_Load()) return 1;
  dialogs.fileAnswers.push_back({db, 1, QString()});
  main.PushButton_Click(2);
  if (!modDB::bDBOpen) {
    std::fprintf(stderr, "cannot open %s\n", qPrintable(db));
    return 1;
  }
  main.SelectRow(2);
  save(&main, QStringLiteral("main-window"));

  {
    modTools::lEditMode = 0;
    edit::Form4 editor(&main);
    save(&editor, QStringLiteral("record-editor"));
  }
  {
    browse::Form5 info(&main);
    save(&info, QStringLiteral("table-information"));
  }
  {
    browse::Form6 find(&main);
    find.txtValue()->setText(QStringLiteral("Lisbon"));
    save(&find, QStringLiteral("find"));
  }
  {
    modDB::ClearFieldDefs();
    design::Form2 newTable(&main);
    newTable.txtTable()->setText(QStringLiteral("Suppliers"));
    design::Form3 fields(&newTable);
    for (const char* name : {"SupplierID", "Company", "Joined"}) {
      fields.txtFieldName()->setText(QString::fromLatin1(name));
      fields.PushButton(1)->click();
    }
    fields.cboFType()->setCurrentIndex(0);
    fields.txtFieldName()->setText(QStringLiteral("Active"));
    save(&fields, QStringLiteral("field-definition"));
    newTable.SelectEntry(1);
    save(&newTable, QStringLiteral("new-table"));
  }
  modDB::CloseDB();
  shell::setDialogs(nullptr);
  return 0;
}
