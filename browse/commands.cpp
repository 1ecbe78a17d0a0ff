#include "browse/commands.h"

#include <QWidget>

#include "shell/dialogs.h"
#include "shell/error_report.h"
#include "shell/main_window.h"
#include "browse/forms.h"
#include "shell/typed_text.h"
#include "db/record_save.h"
#include "db/session.h"

namespace browse {
namespace {

constexpr const char* kAddTable = "Please add a table to a database.";

void notice(shell::MainWindow& main, const char* text) {
  shell::MsgBox(QString::fromLatin1(text), shell::Buttons::Ok, shell::Icon::None, QString(), main.widget());
}

bool haveRows(shell::MainWindow& main) { return main.TabCount() > 0 && main.GridRowCount() > 0; }

// Grid positions are 16-bit values; a larger one overflows as the classic Integer does.
int16_t asInteger(long value) {
  if (value > 32767 || value < -32768) throw shell::RuntimeError(6, "Overflow");
  return static_cast<int16_t>(value);
}

// The grid's text for a value typed for column `column` of the current table, when the column holds
// no text and the value reads as one of its type; a null string otherwise.
QString ShownForm(const QString& typed, int column) {
  if (!modDB::bDBOpen) return QString();
  try {
    dao::Fields fields = modDB::gDB.GetTableDefs().Item(modDB::sTable).GetFields();
    if (column >= fields.Count()) return QString();
    const int16_t type = fields.Item(column).Type();
    if (type == dao::dbText || type == dao::dbMemo) return QString();
    std::optional<std::string> text = modDB::ShownText(type, shell::InvariantText(typed, type).toStdString());
    return text ? QString::fromStdString(*text) : QString();
  } catch (const dao::Error&) {
    return QString();
  }
}

}  // namespace

void StepRow(shell::MainWindow& main, bool backward) {
  int selected = main.GridSelectedIndex();
  if (selected == 0) throw shell::RuntimeError(91, "Object variable or With block variable not set");
  int16_t i = asInteger(selected);
  int16_t n;
  if (backward) {
    n = asInteger(long{i} - 1);
    if (n <= 1) n = 1;
  } else {
    n = asInteger(long{i} + 1);
    if (n >= main.GridRowCount()) n = asInteger(main.GridRowCount());
  }
  main.SelectRow(n);
}

void MoveFirstCommand(shell::MainWindow& main) {
  shell::Procedure p(QStringLiteral("Form1.PushButton7_Click"));
  if (!haveRows(main)) {
    p(100, [&] { notice(main, kAddTable); });
    return;
  }
  p(102, [&] { main.SelectRow(1); });
}

void MovePreviousCommand(shell::MainWindow& main) {
  shell::Procedure p(QStringLiteral("Form1.PushButton8_Click"));
  if (!haveRows(main)) {
    p(100, [&] { notice(main, kAddTable); });
    return;
  }
  p(102, [&] { StepRow(main, true); });
}

void MoveNextCommand(shell::MainWindow& main) {
  shell::Procedure p(QStringLiteral("Form1.PushButton9_Click"));
  if (!haveRows(main)) {
    p(100, [&] { notice(main, kAddTable); });
    return;
  }
  p(102, [&] { StepRow(main, false); });
}

void MoveLastCommand(shell::MainWindow& main) {
  shell::Procedure p(QStringLiteral("Form1.PushButton10_Click"));
  if (!haveRows(main)) {
    p(100, [&] { notice(main, kAddTable); });
    return;
  }
  p(102, [&] { main.SelectRow(asInteger(main.GridRowCount())); });
}

void SearchCommand(shell::MainWindow& main) {
  shell::Procedure p(QStringLiteral("Form1.PushButton6_Click"));
  if (!haveRows(main)) {
    p(100, [&] { notice(main, kAddTable); });
    return;
  }
  p(102, [&] {
    Form6 form(main.widget());
    shell::dialogs().runModal(&form);
  });
  if (modTools::lDialogResult == 2) return;
  p(104, [&] {
    const QString wanted = QString::fromStdString(modTools::sSearchText);
    const int column = modTools::iSearchField < 1 ? 0 : modTools::iSearchField;
    // A date, number or Yes/No value also matches as the grid shows it, however it was typed.
    const QString shown = ShownForm(wanted, column);
    const int rows = main.GridRowCount();
    for (int index = 1; index <= rows; ++index) {
      const QString cell = main.GridCellText(index, column);
      if (cell == wanted || (!shown.isNull() && cell == shown)) {
        main.SelectRow(asInteger(index));
        break;
      }
    }
  });
}

void TableInfoCommand(shell::MainWindow& main) {
  shell::Procedure p(QStringLiteral("Form1.PushButton13_Click"));
  if (main.TabCount() == 0) {
    p(100, [&] { notice(main, kAddTable); });
    return;
  }
  p(102, [&] {
    Form5 form(main.widget());
    shell::dialogs().runModal(&form);
  });
}

}  // namespace browse
