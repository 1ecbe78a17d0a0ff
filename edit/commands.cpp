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

void notice(app::MainWindow& main, const QString& text) {
  ui::MsgBox(text, ui::Buttons::Ok, ui::Icon::None, QString(), main.widget());
}

bool haveRows(app::MainWindow& main) { return main.TabCount() > 0 && main.GridRowCount() > 0; }

// The stored position of the record shown in the selected row (the grid may be sorted).
int16_t positionOfSelectedRow(app::MainWindow& main) {
  const int position = main.RecordPositionOfRow(main.GridSelectedIndex());
  if (position < 0 || position > 32767) throw app::RuntimeError(6, "Overflow");
  return static_cast<int16_t>(position);
}

void showEditor(app::MainWindow& main) {
  Form4 form(main.widget());
  ui::dialogs().runModal(&form);
}

}  // namespace

void AddRecordCommand(app::MainWindow& main) {
  app::Procedure p(QStringLiteral("Form1.PushButton14_Click"));
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

void EditRecordCommand(app::MainWindow& main) {
  app::Procedure p(QStringLiteral("Form1.PushButton15_Click"));
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

void DeleteRecordCommand(app::MainWindow& main) {
  app::Procedure p(QStringLiteral("Form1.PushButton16_Click"));
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
    yes = ui::MsgBox(QStringLiteral("Are you sure you want to delete this record."), ui::Buttons::YesNo,
                     ui::Icon::None, QString(), main.widget()) == ui::Answer::Yes;
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

void GridDoubleClick(app::MainWindow& main) {
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
    notice(main, app::describeCurrentException());
  }
  modTools::lDialogResult = 2;
}

}  // namespace edit
