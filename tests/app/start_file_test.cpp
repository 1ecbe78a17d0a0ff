// A database named on the command line or dropped on the main window opens as Open Database opens
// it: the full path in the status line, "Cannot open database." for anything else.
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

}  // namespace
