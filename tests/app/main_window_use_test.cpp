// The main window as a user meets it with a database open: clicking another tab, a file that can
// only be read, the desktop's opener, and the command-line tool reading the file the window has open.
#include <unistd.h>

#include <QLabel>
#include <QProcess>

#include "gui_test_env.h"

namespace {

class MainWindowUseTest : public testenv::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    form->show();
  }
  void TearDown() override {
    if (!immutable.isEmpty()) QProcess::execute("chattr", {"-i", immutable});
    MainWindowTest::TearDown();
  }
  // A new file with one table of three records.
  QString oneTableFile() {
    return testenv::fileWith(folder.filePath("one.mdb"), "People", {{"Name", dao::dbText, 20, 0, false, true}},
                             {{"Ann"}, {"Bo"}, {"Cy"}});
  }
  QString immutable;
};

TEST_F(MainWindowUseTest, ClickingAnotherTabRunsTheClickOnce) {
  open(copyTestDatabase(QStringLiteral("testV2000.mdb")));
  ASSERT_GT(form->TabCount(), 1);
  int fills = 0;
  QObject::connect(form->LstV()->model(), &QAbstractItemModel::modelReset, [&] { ++fills; });
  run({{"tab 2", "tab=2"}});
  EXPECT_EQ(fills, 1);
  EXPECT_TRUE(status().startsWith(QStringLiteral("Records: ")));
}

TEST_F(MainWindowUseTest, AFileThatCanOnlyBeReadSaysSoInTheStatusLine) {
  const QString path = oneTableFile();
  open(path);
  EXPECT_EQ(status(), path);
  click(3);

  QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
  if (::access(QFile::encodeName(path).constData(), W_OK) == 0) {
    // The superuser writes files of any mode; the file system's immutable flag stops even it.
    if (QProcess::execute("chattr", {"+i", path}) != 0) GTEST_SKIP() << "no way to make a file unwritable for this user here";
    immutable = path;
  }
  open(path);
  ASSERT_TRUE(modDB::bDBOpen);
  EXPECT_EQ(status(), path + QStringLiteral(" (read-only)"));
  EXPECT_EQ(form->TabCount(), 1);
  run({{"tab 1", "status=Records: 3 (read-only)"}});
}

// The real seam reports whether the desktop's opener managed: an opener that fails, one that is
// missing, and one that succeeds.
TEST_F(MainWindowUseTest, RealSeamReportsAnOpenerThatFails) {
  shell::setDialogs(nullptr);
  const QByteArray path = qgetenv("PATH");
  QTemporaryDir bin;
  auto opener = [&](int code) {
    QFile::setPermissions(testenv::writeFile(bin.filePath(QStringLiteral("xdg-open")), QStringLiteral("#!/bin/sh\nexit %1\n").arg(code).toLatin1()),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  };
  qputenv("PATH", bin.path().toLocal8Bit());
  EXPECT_FALSE(shell::dialogs().shellOpen(folder.path()));  // none at all
  opener(3);
  EXPECT_FALSE(shell::dialogs().shellOpen(folder.path()));
  opener(0);
  EXPECT_TRUE(shell::dialogs().shellOpen(folder.path()));
  qputenv("PATH", path);
  shell::setDialogs(&dialogs);
}

// Every command of the built program works on the file while the window has it open, a write
// taking its turn; the window shows the other program's change at its next tab click.
TEST_F(MainWindowUseTest, CommandLineReadsTheFileTheWindowHasOpen) {
  const QString path = oneTableFile();
  open(path);
  ASSERT_TRUE(modDB::bDBOpen);
  auto cli = [&](const QStringList& args, QString* out = nullptr) {
    QProcess p;
    p.start(QStringLiteral(TABULONIX_BIN_DIR "/tabulonix-cli"), args);
    EXPECT_TRUE(p.waitForFinished(60000));
    if (out) *out = QString::fromUtf8(p.readAllStandardOutput());
    return p.exitCode();
  };
  QString out;
  EXPECT_EQ(cli({"tables", path}, &out), 0);
  EXPECT_EQ(out, QStringLiteral("People\n"));
  EXPECT_EQ(cli({"export", path, "People"}, &out), 0);
  EXPECT_TRUE(out.contains(QStringLiteral("Cy"))) << out.toStdString();
  EXPECT_EQ(cli({"check", path}, &out), 0);
  EXPECT_EQ(out, QStringLiteral("ok\n"));
  EXPECT_EQ(cli({"delete", path, "People", "0"}), 0);
  EXPECT_EQ(cli({"delete", path, "People", "x"}), 2);  // the built program's status tells failures apart
  run({{"tab 1", "status=Records: 2"}});
}

}  // namespace
