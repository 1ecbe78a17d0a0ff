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
  const QString plain = copyTestDatabase(QStringLiteral("testV2000.mdb"));
  const QString protectedFile = copyTestDatabase(QStringLiteral("more/passwordV2000.mdb"));
  const QString text = folder.filePath(QStringLiteral("notes.mdb"));
  QFile f(text);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("not a database, just text\n");
  f.close();
  const QString previousFolder = QDir::currentPath();
  QDir::setCurrent(folder.path());
  const struct {
    QString named;      // as typed on the command line
    QString password;   // the answer to the question, if one is asked
    QString status;     // the status line afterwards
    QStringList boxes;
  } cases[] = {
      {plain, "", plain, {}},
      {QStringLiteral("testV2000.mdb"), "", plain, {}},  // relative: the full path is shown
      {protectedFile, QStringLiteral("password"), protectedFile, {}},
      {text, "", QStringLiteral("Ready"), {QStringLiteral("Cannot open database.")}},
      {folder.filePath(QStringLiteral("missing.mdb")), "", QStringLiteral("Ready"), {QStringLiteral("Cannot open database.")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named.toStdString());
    open(plain);  // something open before, which the new file replaces
    dialogs.boxes.clear();
    dialogs.inputEchoes.clear();
    if (!c.password.isEmpty()) dialogs.inputAnswers.push_back(c.password);
    form->OpenDatabase(c.named);
    EXPECT_EQ(status(), c.status);
    EXPECT_EQ(dialogs.texts(), c.boxes);
    EXPECT_EQ(modDB::bDBOpen, c.boxes.isEmpty());
    EXPECT_EQ(form->TabCount() > 0, c.boxes.isEmpty());
    EXPECT_EQ(dialogs.inputEchoes, c.password.isEmpty() ? std::vector<ui::Echo>{} : std::vector<ui::Echo>{ui::Echo::Masked});
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
