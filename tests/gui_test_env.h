// Shared by the window tests: one QApplication for the whole test program (offscreen), and a
// fixture base that installs the scripted dialog seam and a private program folder.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "app/form1.h"
#include "db/session.h"
#include "jet/database.h"
#include "shell/dialogs.h"
#include "shell/shell.h"

namespace testenv {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // Offscreen, with any settings of the offscreen platform the caller gave ("offscreen:...").
    if (!qEnvironmentVariable("QT_QPA_PLATFORM").startsWith(QStringLiteral("offscreen")))
      qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "tabulonix-tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};

// Scripted dialogs, a fresh program folder, a provider probe that passes and a home-page draw that
// never hits.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder.isValid());
    ui::setDialogs(&dialogs);
    app::SetProgramFolderForTesting(folder.path());
    app::SetProviderProbeForTesting([] { return std::optional<app::ProbeFailure>(); });
    app::SetRandomSourceForTesting([] { return 50; });
    app::SetAppTitle();
  }
  void TearDown() override {
    ui::setDialogs(nullptr);
    app::SetProgramFolderForTesting(QString());
    app::SetProviderProbeForTesting(nullptr);
    app::SetRandomSourceForTesting(nullptr);
  }

  // Copies a test database into the program folder and returns the copy's path.
  QString copyTestDatabase(const QString& name, const QString& as = QString()) {
    QString source = QStringLiteral(TABULONIX_TESTDATA_DIR "/") + name;
    QString target = folder.filePath(as.isEmpty() ? QFileInfo(name).fileName() : as);
    QFile::remove(target);
    EXPECT_TRUE(QFile::copy(source, target)) << source.toStdString();
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    return target;
  }

  QTemporaryDir folder;
  ui::ScriptedDialogs dialogs;
};

// A loaded main window and no open database; open() answers the file dialog of Open Database.
class MainWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    modDB::bDBOpen = false;
    form = std::make_unique<app::Form1>();
    ASSERT_TRUE(form->Form_Load());
  }
  void TearDown() override {
    form.reset();
    if (modDB::bDBOpen) modDB::CloseDB();
    modDB::bDBOpen = false;
    WindowTest::TearDown();
  }
  void click(int number) { form->button(number)->click(); }
  void open(const QString& path) {
    dialogs.fileAnswers.push_back({path, 1, QString()});
    click(2);
  }
  QStringList tabs() const {
    QStringList names;
    for (int i = 0; i < form->sTab1()->count(); ++i) names << form->sTab1()->tabText(i);
    return names;
  }
  QString status() const { return form->Status(); }
  // Opens a copy of a test database, or a new empty file of the given version, without the dialog.
  void openCopy(const QString& name) {
    path = copyTestDatabase(name);
    ASSERT_TRUE(modDB::OpenDB(path.toStdString()));
    form->RefreshTables(1);
  }
  void openNew(int32_t version) {
    path = folder.filePath(version == dao::dbVersion30 ? "new97.mdb" : "new2000.mdb");
    QFile::remove(path);
    ASSERT_EQ(modDB::CreateDB(path.toStdString(), version), 1);
    ASSERT_TRUE(modDB::OpenDB(path.toStdString()));
    form->RefreshTables(1);
  }

  std::unique_ptr<app::Form1> form;
  QString path;  // the file openCopy or openNew opened
};

// A table made in the open database through the session's pending table, as Create Table makes it.
inline void makeTable(const std::string& name, std::vector<modDB::FieldDef> defs) {
  modDB::ClearFieldDefs();
  modDB::gFieldDefs = std::move(defs);
  modDB::iFieldCount = static_cast<int16_t>(modDB::gFieldDefs.size());
  modDB::sNewTableName = name;
  ASSERT_EQ(modDB::CreateNewTable(), 2) << modDB::sLastError;
}

// The engine's whole-file consistency check of a closed file; empty when the file is sound.
inline std::string checkFile(const QString& file) {
  jet::OpenOptions o;
  o.readOnly = true;
  std::string problems;
  for (const std::string& p : jet::Database::open(file.toStdString(), o)->check().problems) problems += p + "\n";
  return problems;
}

}  // namespace testenv
