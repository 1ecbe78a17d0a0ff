#include "edit/commands.h"

#include <QWidget>

#include "shell/dialogs.h"
#include "shell/error_report.h"
#include "shell/main_window.h"
#include "db/session.h"
#include "edit/form4.h"

namespace edit {
namespace {

constexpr const char* kAddTable = "Please add a table to a database.";
constexpr const char* kSelectRecord = "Please select record.";

void notice(shell::MainWindow& main, const QString& text) {
  shell::MsgBox(text, shell::Buttons::Ok, shell::Icon::None, QString(), main.widget());
}

bool haveRows(shell::MainWindow& main) { return main.TabCount() > 0 && main.GridRowCount() > 0; }

// The stored position of the record shown in the selected row (the grid may be sorted).
int16_t positionOfSelectedRow(shell::MainWindow& main) {
  const int position = main.RecordPositionOfRow(main.GridSelectedIndex());
  if (position < 0 || position > 32767) throw shell::RuntimeError(6, "Overflow");
  return static_cast<int16_t>(position);
}

void showEditor(shell::MainWindow& main) {
  Form4 form(main.widget());
  shell::dialogs().runModal(&form);
}

}  // namespace

void AddRecordCommand(shell::MainWindow& main) {
  shell::Procedure p(QStringLiteral("Form1.PushButton14_Click"));
  if (main.TabCount() == 0) {
    p(100, [&] { notice(main, QString::fromLatin1(kAddTable)); });
    return;
  }
  p(102, [&] {
    modTools::lEditMode = 1;
    modTools::lDialogResult = 2;
  });
  p(104, [&] { showEditor(main); });
  if (modTools::lDialogResult == 2) return;
  p(106, [&] { main.SelectTab(main.TabIndex()); });
  p(108, [&] { main.SelectRow(main.GridRowCount()); });
}

void EditRecordCommand(shell::MainWindow& main) {
  shell::Procedure p(QStringLiteral("Form1.PushButton15_Click"));
  if (!haveRows(main)) {
    p(100, [&] { notice(main, QString::fromLatin1(kAddTable)); });
    return;
  }
  if (main.GridSelectedIndex() < 1) {
    p(102, [&] { notice(main, QString::fromLatin1(kSelectRecord)); });
    return;
  }
  bool positioned = false;
  p(104, [&] {
    modDB::iRecPos = positionOfSelectedRow(main);
    positioned = true;
  });
  if (!positioned) return;
  p(106, [&] {
    modTools::lEditMode = 0;
    modTools::lDialogResult = 2;
  });
  p(108, [&] { showEditor(main); });
  if (modTools::lDialogResult == 2) return;
  p(110, [&] { main.SelectTab(main.TabIndex()); });
  p(112, [&] { main.SelectRow(modDB::iRecPos + 1); });
}

void DeleteRecordCommand(shell::MainWindow& main) {
  shell::Procedure p(QStringLiteral("Form1.PushButton16_Click"));
  if (!haveRows(main)) {
    p(100, [&] { notice(main, QString::fromLatin1(kAddTable)); });
    return;
  }
  if (main.GridSelectedIndex() < 1) {
    p(102, [&] { notice(main, QString::fromLatin1(kSelectRecord)); });
    return;
  }
  bool yes = false;
  p(104, [&] {
    modDB::iRecPos = positionOfSelectedRow(main);
    yes = shell::MsgBox(QStringLiteral("Are you sure you want to delete this record."), shell::Buttons::YesNo,
                        shell::Icon::None, QString(), main.widget()) == shell::Answer::Yes;
  });
  if (!yes) return;
  int16_t result = 0;
  p(106, [&] { result = modDB::DeleteRecord(modDB::iRecPos); });
  if (result == 1) {
    p(108, [&] { main.SelectTab(main.TabIndex()); });
    p(110, [&] { main.SelectRow(main.GridRowCount()); });
  } else {
    p(112, [&] { notice(main, QString::fromStdString(modDB::sLastError)); });
  }
}

void GridDoubleClick(shell::MainWindow& main) {
  // No guard of its own: a failure is shown in a plain box with its text and the window goes on.
  try {
    if (main.MouseButton() == 1 && main.GridRowCount() > 0) {
      if (main.GridSelectedIndex() >= 1) modDB::iRecPos = positionOfSelectedRow(main);
      modTools::lEditMode = 0;
      modTools::lDialogResult = 2;
      showEditor(main);
      if (modTools::lDialogResult != 2) {
        main.SelectTab(main.TabIndex());
        main.SelectRow(modDB::iRecPos + 1);
      }
    }
  } catch (...) {
    notice(main, shell::describeCurrentException());
  }
  modTools::lDialogResult = 2;
}

}  // namespace edit
