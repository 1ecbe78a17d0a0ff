#include "shell/dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

#include "shell/shell.h"

namespace shell {
namespace {

// Message texts use CR LF and lone CR as line breaks; Qt's labels break only on LF.
QString forDisplay(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QChar('\r'), QChar('\n'));
  return text;
}

// "Access Database Files(*.mdb)|*.mdb|" -> "Access Database Files(*.mdb)": each description and
// pattern pair becomes one Qt filter; a description that does not already end in its patterns in
// parentheses gets them appended, since Qt reads the patterns from there.
QStringList qtFilters(const QString& filter) {
  QStringList parts = filter.split(QChar('|'));
  if (!parts.isEmpty() && parts.last().isEmpty()) parts.removeLast();
  QStringList result;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    QString patterns = parts[i + 1];
    patterns.replace(QChar(';'), QChar(' '));
    if (!description.endsWith(QChar(')')))
      description += QStringLiteral(" (") + patterns.simplified() + QChar(')');
    result << description;
  }
  if (result.isEmpty()) result << QStringLiteral("All Files (*)");
  return result;
}

class RealDialogs : public DialogSeam {
 public:
  Answer messageBox(QWidget* parent, const QString& title, const QString& text, Buttons buttons,
                    Icon icon) override {
    QMessageBox box(parent);
    box.setWindowTitle(title);
    box.setText(forDisplay(text));
    box.setTextFormat(Qt::PlainText);
    switch (icon) {
      case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
      case Icon::Information: box.setIcon(QMessageBox::Information); break;
      case Icon::Warning: box.setIcon(QMessageBox::Warning); break;
      case Icon::Critical: box.setIcon(QMessageBox::Critical); break;
      case Icon::Question: box.setIcon(QMessageBox::Question); break;
    }
    switch (buttons) {
      case Buttons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
      case Buttons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
      case Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
      case Buttons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    }
    int r = box.exec();
    switch (r) {
      case QMessageBox::Yes: return Answer::Yes;
      case QMessageBox::No: return Answer::No;
      case QMessageBox::Ok: return Answer::Ok;
      default:
        // Closing a question box from its title bar counts as its negative answer.
        return buttons == Buttons::YesNo ? Answer::No : (buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel);
    }
  }

  QString inputBox(QWidget* parent, const QString& title, const QString& prompt, const QString& defaultText,
                   Echo echo) override {
    bool ok = false;
    QString text = QInputDialog::getText(parent, title, forDisplay(prompt),
                                         echo == Echo::Masked ? QLineEdit::Password : QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
  }

  FileDialogResult fileDialog(QWidget* parent, bool open, const QString& title, const QString& filter,
                              const QString& folder) override {
    QFileDialog dialog(parent, title, folder);
    QStringList filters = qtFilters(filter);
    dialog.setNameFilters(filters);
    dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    // Neither dialog asks about overwriting nor insists that the file exists: the commands ask
    // their own questions and report a missing file themselves.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!open) dialog.setDefaultSuffix(QStringLiteral("mdb"));
    FileDialogResult result;
    bool accepted = dialog.exec() == QDialog::Accepted;
    result.folder = dialog.directory().absolutePath();
    int index = filters.indexOf(dialog.selectedNameFilter());
    result.filterIndex = index < 0 ? 1 : index + 1;
    if (accepted && !dialog.selectedFiles().isEmpty()) result.path = dialog.selectedFiles().first();
    return result;
  }

  void runModal(QDialog* dialog) override { dialog->exec(); }

  bool shellOpen(const QString& target) override {
    if (target.contains(QStringLiteral("://"))) return QDesktopServices::openUrl(QUrl(target));
    return openLocal(target);
  }

 private:
  // A folder goes to the desktop's opener, which fails at once when it finds no file manager
  // (starting it is not enough to know). An opener still running after a moment has handed the
  // folder to a program that runs in its place, and is left to run.
  static bool openLocal(const QString& target) {
    auto* opener = new QProcess;
    QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
    opener->start(QStringLiteral("xdg-open"), {target});
    if (!opener->waitForStarted(3000)) {
      delete opener;
      return false;
    }
    if (!opener->waitForFinished(3000)) return true;
    return opener->exitStatus() == QProcess::NormalExit && opener->exitCode() == 0;
  }
};

RealDialogs& realDialogs() {
  static RealDialogs seam;
  return seam;
}

DialogSeam* current = nullptr;

}  // namespace

DialogSeam& dialogs() { return current ? *current : realDialogs(); }
void setDialogs(DialogSeam* seam) { current = seam; }

Answer MsgBox(const QString& text, Buttons buttons, Icon icon, const QString& title, QWidget* parent) {
  return dialogs().messageBox(parent, title.isEmpty() ? shell::AppTitle() : title, text, buttons, icon);
}

QString InputBox(const QString& prompt, const QString& title, const QString& defaultText, QWidget* parent, Echo echo) {
  return dialogs().inputBox(parent, title.isEmpty() ? shell::AppTitle() : title, prompt, defaultText, echo);
}

Answer ScriptedDialogs::messageBox(QWidget*, const QString& title, const QString& text, Buttons buttons,
                                   Icon icon) {
  boxes.push_back({title, text, buttons, icon});
  if (buttons == Buttons::Ok) return Answer::Ok;
  if (answers.empty()) return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
  Answer a = answers.front();
  answers.pop_front();
  return a;
}

QString ScriptedDialogs::inputBox(QWidget*, const QString& title, const QString& prompt, const QString&,
                                  Echo echo) {
  inputPrompts.push_back(prompt);
  inputTitles.push_back(title);
  inputEchoes.push_back(echo);
  if (inputAnswers.empty()) return QString();
  QString a = inputAnswers.front();
  inputAnswers.pop_front();
  return a;
}

FileDialogResult ScriptedDialogs::fileDialog(QWidget*, bool, const QString& title, const QString& filter,
                                             const QString& folder) {
  fileTitles.push_back(title);
  fileFilters.push_back(filter);
  if (fileAnswers.empty()) return FileDialogResult{QString(), 1, folder};
  FileDialogResult a = fileAnswers.front();
  fileAnswers.pop_front();
  if (a.folder.isEmpty()) a.folder = folder;
  return a;
}

void ScriptedDialogs::runModal(QDialog* dialog) {
  modalShown.push_back(dialog->objectName());
  auto it = modalHandlers.find(dialog->objectName());
  if (it != modalHandlers.end() && it->second) {
    it->second(dialog);
  } else {
    dialog->reject();
  }
}

QStringList ScriptedDialogs::texts() const {
  QStringList list;
  for (const Box& b : boxes) list << b.text;
  return list;
}

}  // namespace shell
