// The one seam through which the application shows message boxes, the input box, the file dialog
// and its modal windows. The real seam shows Qt dialogs; tests install a scripted seam that
// records every box and answers from a script.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <map>
#include <vector>

class QDialog;
class QWidget;

namespace shell {

enum class Icon { None, Information, Warning, Critical, Question };
enum class Buttons { Ok, YesNo, YesNoCancel, OkCancel };
enum class Answer { Ok, Cancel, Yes, No };
enum class Echo { Normal, Masked };  // Masked: a password, shown as dots while typed

struct FileDialogResult {
  QString path;         // empty when cancelled
  int filterIndex = 1;  // 1-based
  QString folder;       // the folder the dialog ended in
};

class DialogSeam {
 public:
  virtual ~DialogSeam() = default;
  virtual Answer messageBox(QWidget* parent, const QString& title, const QString& text, Buttons buttons,
                            Icon icon) = 0;
  // Returns the answer, or an empty string when cancelled (as the classic input box does).
  virtual QString inputBox(QWidget* parent, const QString& title, const QString& prompt,
                           const QString& defaultText, Echo echo) = 0;
  virtual FileDialogResult fileDialog(QWidget* parent, bool open, const QString& title, const QString& filter,
                                      const QString& folder) = 0;
  // Shows a window modally and returns when it has closed.
  virtual void runModal(QDialog* dialog) = 0;
  // Opens a folder or web address with the desktop's default handler; false when none could.
  virtual bool shellOpen(const QString& target) = 0;
};

// The seam in force; the real one unless a test installed another.
DialogSeam& dialogs();
void setDialogs(DialogSeam* seam);  // nullptr restores the real seam

// Shorthands. The title defaults to the application title.
Answer MsgBox(const QString& text, Buttons buttons = Buttons::Ok, Icon icon = Icon::None,
              const QString& title = QString(), QWidget* parent = nullptr);
QString InputBox(const QString& prompt, const QString& title, const QString& defaultText = QString(),
                 QWidget* parent = nullptr, Echo echo = Echo::Normal);

// A seam for tests: records every call and answers from queues. A modal window is handed to the
// handler registered for its object name ("Form4", ...), which drives it (fills, clicks) and must
// close it; with no handler the window is closed at once (as if from its title bar).
class ScriptedDialogs : public DialogSeam {
 public:
  struct Box {
    QString title, text;
    Buttons buttons;
    Icon icon;
  };
  std::vector<Box> boxes;
  std::deque<Answer> answers;            // answers for question boxes; OK boxes need none
  std::deque<QString> inputAnswers;
  std::vector<QString> inputPrompts;
  std::vector<QString> inputTitles;
  std::vector<Echo> inputEchoes;
  std::deque<FileDialogResult> fileAnswers;
  std::vector<QString> fileTitles;
  std::vector<QString> fileFilters;
  std::vector<QString> opened;           // targets given to shellOpen
  bool shellOpens = true;                // what shellOpen reports
  std::vector<QString> modalShown;       // object names of modal windows shown
  std::map<QString, std::function<void(QDialog*)>> modalHandlers;

  Answer messageBox(QWidget*, const QString& title, const QString& text, Buttons buttons, Icon icon) override;
  QString inputBox(QWidget*, const QString& title, const QString& prompt, const QString& defaultText,
                   Echo echo) override;
  FileDialogResult fileDialog(QWidget*, bool open, const QString& title, const QString& filter,
                              const QString& folder) override;
  void runModal(QDialog* dialog) override;
  bool shellOpen(const QString& target) override {
    opened.push_back(target);
    return shellOpens;
  }

  QStringList texts() const;
};

}  // namespace shell
