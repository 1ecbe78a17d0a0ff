// A database named on the command line or dropped on the main window opens as Open Database opens
// it: the full path in the status line, the masked password question, "Cannot open database." for
// anything else.
#include <QDir>
#include <QDropEvent>
#include <QInputDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "app/start_arguments.h"
#include "gui_test_env.h"
#include "shell/dialogs.h"

namespace {

TEST(StartArguments, FileHelpVersionAndMistakes) {
  const struct {
    QStringList args;
    QString file;
    bool help, version, error;
  } cases[] = {
      {{}, "", false, false, false},
      {{"a.mdb"}, "a.mdb", false, false, false},
      {{"--help"}, "", true, false, false},
      {{"-h", "a.mdb"}, "a.mdb", true, false, false},
      {{"--version"}, "", false, true, false},
      {{"--", "-odd.mdb"}, "-odd.mdb", false, false, false},
      {{"-"}, "-", false, false, false},
      {{"a.mdb", "b.mdb"}, "a.mdb", false, false, true},
      {{"--frobnicate"}, "", false, false, true},
  };
  for (const auto& c : cases) {
    const app::StartArguments a = app::ReadStartArguments(c.args);
    const std::string trace = c.args.join(' ').toStdString();
    EXPECT_EQ(a.file, c.file) << trace;
    EXPECT_EQ(a.help, c.help) << trace;
    EXPECT_EQ(a.version, c.version) << trace;
    EXPECT_EQ(!a.error.isEmpty(), c.error) << trace;
  }
}

class StartFileTest : public testenv::MainWindowTest {};

TEST_F(StartFileTest, NamedFilesOpenAsOpenDatabaseOpensThem) {
  copyTestDatabase(QStringLiteral("more/passwordV2000.mdb"));
  QFile text(folder.filePath(QStringLiteral("notes.mdb")));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("not a database, just text\n");
  text.close();
  const QString previousFolder = QDir::currentPath();
  QDir::setCurrent(folder.path());
  const std::string cannot = "status=Ready; open=0; tabs=; boxes=Cannot open database.";
  // Each replaces an open file; a relative name shows as the full path; a password is asked masked.
  for (const Step& named : std::vector<Step>{{"start {dir}/testV2000.mdb", "status={dir}/testV2000.mdb; open=1; ntabs=4"},
                                             {"start testV2000.mdb", "status={dir}/testV2000.mdb; open=1; ntabs=4"},
                                             {"start {dir}/passwordV2000.mdb", "status={dir}/passwordV2000.mdb; open=1; ntabs=1"},
                                             {"start {dir}/notes.mdb", cannot},
                                             {"start {dir}/missing.mdb", cannot}}) {
    dialogs.inputEchoes.clear();
    const bool asked = named.act.find("password") != std::string::npos;
    if (asked) dialogs.inputAnswers.push_back("password");
    run({{"open testV2000.mdb", ""}, named});
    EXPECT_EQ(dialogs.inputEchoes, asked ? std::vector<ui::Echo>{ui::Echo::Masked} : std::vector<ui::Echo>{});
  }
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
  ui::setDialogs(nullptr);
  for (ui::Echo echo : {ui::Echo::Masked, ui::Echo::Normal}) {
    QLineEdit::EchoMode shown = QLineEdit::NoEcho;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      shown = box->findChild<QLineEdit*>()->echoMode();
      box->reject();
    });
    ui::InputBox(QStringLiteral("Password for x.mdb:"), QString(), QString(), form.get(), echo);
    EXPECT_EQ(shown, echo == ui::Echo::Masked ? QLineEdit::Password : QLineEdit::Normal);
  }
  ui::setDialogs(&dialogs);
}

}  // namespace
