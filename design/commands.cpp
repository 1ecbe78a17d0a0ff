#include "design/commands.h"

#include <QWidget>

#include "shell/dialogs.h"
#include "shell/error_report.h"
#include "shell/main_window.h"
#include "shell/status_line.h"
#include "db/session.h"
#include "design/forms.h"

namespace design {
namespace {

constexpr const char* kOpenFirst = "Please open or create a database first.";
constexpr const char* kAddTable = "Please add a table to a database.";

void notice(shell::MainWindow& main, const QString& text) {
  shell::MsgBox(text, shell::Buttons::Ok, shell::Icon::None, QString(), main.widget());
}

QString lastError() { return QString::fromStdString(modDB::sLastError); }

}  // namespace

void NewTableCommand(shell::MainWindow& main) {
  shell::Procedure p(QStringLiteral("Form1.PushButton5_Click"));
  if (!modDB::bDBOpen) {
    p(100, [&] { notice(main, QString::fromLatin1(kOpenFirst)); });
    return;
  }
  p(102, [&] {
    modDB::ClearFieldDefs();
    modTools::lDialogResult = 2;
  });
  p(104, [&] {
    Form2 form(main.widget());
    shell::dialogs().runModal(&form);
  });
  if (modTools::lDialogResult != 1) return;
  int16_t result = 0;
  p(106, [&] { result = modDB::CreateNewTable(); });
  if (result == 2) {
    p(108, [&] { main.RefreshTables(main.TabCount() + 1); });
  } else if (result == 1) {
    p(110, [&] { notice(main, lastError()); });
  }
}

void RenameTableCommand(shell::MainWindow& main) {
  shell::Procedure p(QStringLiteral("Form1.PushButton11_Click"));
  if (main.TabCount() == 0) {
    p(100, [&] { notice(main, QString::fromLatin1(kAddTable)); });
    return;
  }
  QString name;
  p(102, [&] {
    const QString table = QString::fromStdString(modDB::sTable);
    name = shell::InputBox(QStringLiteral("Enter a new name for the table '") + table + QStringLiteral("'"),
                           QStringLiteral("Rename Table"), table, main.widget());
  });
  name = TrimSpaces(name);
  if (name.isEmpty()) return;
  int16_t result = 0;
  p(104, [&] { result = modDB::RenameTable(name.toStdString()); });
  if (result == 1) {
    p(106, [&] { main.RefreshTables(main.TabIndex()); });
    // The same row position again, where the table shown there still has that many rows.
    p(108, [&] {
      if (modDB::iRecPos + 1 <= main.GridRowCount()) main.SelectRow(modDB::iRecPos + 1);
    });
  } else {
    p(110, [&] { notice(main, lastError()); });
  }
}

void DeleteTableCommand(shell::MainWindow& main) {
  shell::Procedure p(QStringLiteral("Form1.PushButton12_Click"));
  if (main.TabCount() == 0) {
    p(100, [&] { notice(main, QString::fromLatin1(kAddTable)); });
    return;
  }
  bool yes = false;
  p(102, [&] {
    yes = shell::MsgBox(QStringLiteral("Are you sure you want to delete the table '") +
                            QString::fromStdString(modDB::sTable) + QStringLiteral("'"),
                        shell::Buttons::YesNo, shell::Icon::None, QString(), main.widget()) == shell::Answer::Yes;
  });
  if (!yes) return;
  int16_t result = 0;
  p(104, [&] { result = modDB::DeleteTable(); });
  if (result != 1) {
    p(106, [&] { notice(main, lastError()); });
    return;
  }
  p(108, [&] { main.RefreshTables(1); });
  p(110, [&] {
    if (main.TabCount() == 0) main.ClearGrid();
  });
  p(112, [&] { main.SetStatus(shell::RecordsStatus(main.GridRowCount())); });
}

}  // namespace design
