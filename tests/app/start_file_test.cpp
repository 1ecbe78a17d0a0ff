// A database named on the command line or dropped on the main window opens as Open Database opens
// it: the full path in the status line, "Cannot open database." for anything else; a protected
// file asks for its password.
#include <QDropEvent>
#include <QInputDialog>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "app/start_arguments.h"
#include "gui_test_env.h"

namespace {

// The file named, then "help", "version" and "error" where they are set.
TEST(StartArguments, FileHelpVersionAndMistakes) {
  const std::pair<QStringList, QString> cases[] = {
      {{}, ""},
      {{"a.mdb"}, "a.mdb"},
      {{"--help"}, " help"},
      {{"-h", "a.mdb"}, "a.mdb help"},
      {{"--version"}, " version"},
      {{"--", "-odd.mdb"}, "-odd.mdb"},
      {{"-"}, "-"},
      {{"a.mdb", "b.mdb"}, "a.mdb error"},
      {{"--frobnicate"}, " error"},
  };
  for (const auto& [args, expected] : cases) {
    const app::StartArguments a = app::ReadStartArguments(args);
    const QString read = a.file + (a.help ? " help" : "") + (a.version ? " version" : "") + (a.error.isEmpty() ? "" : " error");
    EXPECT_EQ(read.toStdString(), expected.toStdString()) << args.join(' ').toStdString();
  }
}

class StartFileTest : public testenv::MainWindowTest {};

// A file named on the command line replaces the open one as Open Database does (the shared part is
// the session and password tests'); a relative name shows as the full path.
TEST_F(StartFileTest, NamedFilesOpenAsOpenDatabaseOpensThem) {
  const QString previousFolder = QDir::currentPath();
  QDir::setCurrent(folder.path());
  run({{"open testV2000.mdb", ""}, {"start testV2000.mdb", "status={dir}/testV2000.mdb; open=1; ntabs=4"},
       {"start {dir}/missing.mdb", "status=Ready; open=0; tabs=; boxes=Cannot open database."}});
  QDir::setCurrent(previousFolder);
}

TEST_F(StartFileTest, OneDroppedLocalFileOpens) {
  const QString plain = copyTestDatabase(QStringLiteral("testV2000.mdb"));
  auto drop = [&](const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &enter);
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &dropped);
    QCoreApplication::processEvents();
    return enter.isAccepted();
  };
  EXPECT_FALSE(drop({QUrl::fromLocalFile(plain), QUrl::fromLocalFile(plain)}));
  EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.org/a.mdb"))}));
  EXPECT_EQ(status(), QStringLiteral("Ready"));
  EXPECT_TRUE(drop({QUrl::fromLocalFile(plain)}));
  EXPECT_EQ(status(), plain);
  EXPECT_TRUE(dialogs.boxes.empty());
}

// The real input box shows a password as dots, and other answers as typed.
TEST_F(StartFileTest, TheRealPasswordBoxMasksWhatIsTyped) {
  shell::setDialogs(nullptr);
  for (shell::Echo echo : {shell::Echo::Masked, shell::Echo::Normal}) {
    QLineEdit::EchoMode shown = QLineEdit::NoEcho;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      shown = box->findChild<QLineEdit*>()->echoMode();
      box->reject();
    });
    shell::InputBox(QStringLiteral("Password for x.mdb:"), QString(), QString(), form.get(), echo);
    EXPECT_EQ(shown, echo == shell::Echo::Masked ? QLineEdit::Password : QLineEdit::Normal);
  }
  shell::setDialogs(&dialogs);
}

// A database protected by a password, through Open Database: it asks for the password with the
// input box (masked) and opens the file with it; a cancelled or wrong answer is a file that cannot
// be opened; Compact DB reopens the compacted file with it.
using PasswordPromptTest = testenv::MainWindowTest;

// For each protected file: cancelled and wrong answers cannot open it, the right one does (the
// question names the file), and Compact DB reopens it.
TEST_F(PasswordPromptTest, WrongAnswersFailTheRightOneOpensAndCompactingKeepsThePassword) {
  struct Case {
    std::string file;
    std::vector<QString> wrong;
  } cases[] = {{"more/passwordV2000.mdb", {QString(), "Password", "wrong"}}, {"ace/passwordV2010.accdb", {"Password"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    dialogs.inputPrompts.clear();
    dialogs.inputEchoes.clear();
    for (const QString& answer : c.wrong) {
      dialogs.inputAnswers.push_back(answer);
      run({{"open " + c.file, "open=0; boxes=Cannot open database."}});
    }
    dialogs.inputAnswers.push_back("password");
    run({{"open " + c.file, "open=1"}});
    const QString file = QString::fromStdString(modDB::sDBPath);
    ASSERT_EQ(dialogs.inputPrompts.size(), c.wrong.size() + 1);
    EXPECT_EQ(dialogs.inputPrompts.back(), "Password for " + QFileInfo(file).fileName() + ":");
    EXPECT_EQ(dialogs.inputTitles.back(), QStringLiteral("Tabulonix"));
    EXPECT_EQ(dialogs.inputEchoes, std::vector<shell::Echo>(c.wrong.size() + 1, shell::Echo::Masked));
    ASSERT_GT(form->TabCount(), 0);
    // The compacted file is open again with the same password (that the copy keeps it: the
    // engine's compaction tests).
    run({{"click 4", "boxes=Finished; open=1; tabs=" + tabs().join('|').toStdString()}});
  }
}

}  // namespace
