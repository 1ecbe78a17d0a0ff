// Shared by the window tests: one QApplication for the whole test program (offscreen), and a
// fixture base that installs the scripted dialog seam and a private program folder.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include "app/form1.h"
#include "browse/forms.h"
#include "browse/record_grid.h"
#include "db/session.h"
#include "edit/dfield.h"
#include "edit/form4.h"
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
    shell::setDialogs(&dialogs);
    shell::SetProgramFolderForTesting(folder.path());
    shell::SetProviderProbeForTesting([] { return std::optional<shell::ProbeFailure>(); });
    shell::SetRandomSourceForTesting([] { return 50; });
    shell::SetAppTitle();
  }
  void TearDown() override {
    shell::setDialogs(nullptr);
    shell::SetProgramFolderForTesting(QString());
    shell::SetProviderProbeForTesting(nullptr);
    shell::SetRandomSourceForTesting(nullptr);
  }

  // Copies a test database into the program folder (or a folder in it) and returns the copy's path.
  QString copyTestDatabase(const QString& name, const QString& as = QString()) {
    QString source = QStringLiteral(TABULONIX_TESTDATA_DIR "/") + name;
    QString target = folder.filePath(as.isEmpty() ? QFileInfo(name).fileName() : as);
    QDir().mkpath(QFileInfo(target).path());
    QFile::remove(target);
    EXPECT_TRUE(QFile::copy(source, target)) << source.toStdString();
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    return target;
  }

  QTemporaryDir folder;
  shell::ScriptedDialogs dialogs;
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

  // The stored texts of the record at a position of a table ("<null>" for Null), read afresh.
  static QStringList stored(const std::string& table, int position) {
    dao::Recordset rs = modDB::gDB.OpenRecordset(table);
    rs.Move(position);
    QStringList texts;
    dao::Fields f = rs.GetFields();
    for (int k = 0; k < f.Count(); ++k)
      texts << (jet::isNull(f.Item(k).GetValue()) ? QStringLiteral("<null>")
                                                  : QString::fromStdString(jet::toText(f.Item(k).GetValue())));
    return texts;
  }
  static int recordCount(const std::string& table) { return modDB::gDB.OpenRecordset(table).RecordCount(); }
  // Answers the record editor: notes what it showed, types the given rows, presses the given button
  // (1 Add/Update, 3 Close), notes what it then holds ([selected]) and closes it if still open.
  void scriptEditor(std::map<int, QString> values, int button = 1) {
    dialogs.modalHandlers["Form4"] = [this, values, button](QDialog* d) {
      auto* editor = static_cast<edit::Form4*>(d);
      seen.clear();
      readOnly.clear();
      for (int k = 0; k < editor->RowCount(); ++k) {
        QLineEdit* box = editor->dField1(k)->txtValue();
        seen << editor->dField1(k)->Text();
        // A read-only box says why and looks unlike the others.
        readOnly.push_back(box->isReadOnly() && !box->toolTip().isEmpty() &&
                           box->palette().color(QPalette::Base) !=
                               editor->dField1(0)->txtValue()->palette().color(QPalette::Base));
      }
      for (const auto& [k, text] : values) editor->dField1(k)->SetText(text);
      editor->PushButton(button)->click();
      kept.clear();
      for (int k = 0; k < editor->RowCount(); ++k)
        kept << (editor->dField1(k)->txtValue()->hasSelectedText() ? "[" + editor->dField1(k)->Text() + "]" : editor->dField1(k)->Text());
      if (d->isVisible() || d->result() != QDialog::Accepted) d->reject();
    };
  }
  // Answers the Find window: a field, a value typed, OK.
  void scriptFind(int field, const QString& value) {
    dialogs.modalHandlers["Form6"] = [=](QDialog* d) {
      auto* find = static_cast<browse::Form6*>(d);
      find->cboField()->setCurrentIndex(field);
      find->txtValue()->setText(value);
      find->findChild<QPushButton*>(QStringLiteral("PushButton1"))->click();
    };
  }

  // One step of a scripted session: an action, then "; "-separated checks of what the window shows.
  // Actions: "open FILE" (through Open Database; a copy of a test file unless the path is absolute),
  // "create PATH" (New Database), "start FILE" (named on the command line), "click N", "row N"
  // (select), "highlight R", "tab N" (a mouse click on it), "tabclick" (the tab's click handler),
  // "sort C" (a mouse click on a column header), "find F VALUE", "add|edit K=V|K=V..." (the record
  // editor through Add or Edit Record), "" (nothing); each may follow "yes "/"no " (the answer to the
  // next question), "in LOCALE " (the user's language) and "row N " (a row selected first).
  // Checks: sel pos rows tabs ntabs tab status boxes nboxes open db table cols ncols shown opened
  // seen, kept (the editor's texts after its button), result (of the last dialog), search, field,
  // "col C" (a column top to bottom), "line R" (a row), "cell R C", "rec R" (the record of a row),
  // "stored TABLE P", "records TABLE". Lists are joined with '|'; "{dir}" is the program folder. A
  // step whose checks name no boxes shows none.
  struct Step {
    std::string act, expect;
  };
  void run(const std::vector<Step>& steps) {
    for (size_t i = 0; i < steps.size(); ++i) {
      const Step& s = steps[i];
      SCOPED_TRACE("step " + std::to_string(i + 1) + ": " + s.act + " => " + s.expect);
      dialogs.boxes.clear();
      dialogs.modalShown.clear();
      act(QString::fromStdString(s.act).replace(QStringLiteral("{dir}"), folder.path()));
      QString expect = QString::fromStdString(s.expect).replace(QStringLiteral("{dir}"), folder.path());
      if (!expect.contains(QStringLiteral("boxes="))) expect += QStringLiteral("; boxes=");
      for (const QString& check : expect.split(QStringLiteral("; "), Qt::SkipEmptyParts)) {
        const qsizetype eq = check.indexOf('=');
        ASSERT_GT(eq, 0) << check.toStdString();
        EXPECT_EQ(observe(check.left(eq)).toStdString(), check.mid(eq + 1).toStdString()) << check.left(eq).toStdString();
      }
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
  virtual void act(QString step) {
    for (QString first = step.section(' ', 0, 0);; first = step.section(' ', 0, 0)) {
      if (first == "yes" || first == "no") dialogs.answers.push_back(first == "yes" ? shell::Answer::Yes : shell::Answer::No);
      else if (first == "in") QLocale::setDefault(QLocale(step.section(' ', 1, 1))), step = step.section(' ', 1);
      else if (first == "row" && step.count(' ') > 1) form->SelectRow(step.section(' ', 1, 1).toInt()), step = step.section(' ', 1);
      else break;
      step = step.section(' ', 1);
    }
    const QString verb = step.section(' ', 0, 0), arg = step.section(' ', 1);
    const int n = arg.section(' ', 0, 0).toInt();
    std::map<int, QString> values;
    for (const QString& kv : arg.split('|', Qt::SkipEmptyParts)) values[kv.section('=', 0, 0).toInt()] = kv.section('=', 1);
    if (verb == "open") open(arg.startsWith('/') ? arg : copyTestDatabase(arg));
    else if (verb == "create") dialogs.fileAnswers.push_back({arg, 1, QString()}), click(1);
    else if (verb == "start") form->OpenDatabase(arg);
    else if (verb == "click") click(n);
    else if (verb == "row") form->SelectRow(n);
    else if (verb == "highlight") form->LstV()->selectDisplayedRow(n);  // as the arrow keys move it
    else if (verb == "tab") form->show(), QTest::mouseClick(form->sTab1(), Qt::LeftButton, {}, form->sTab1()->tabRect(n - 1).center());
    else if (verb == "tabclick") form->sTab1_Click();
    else if (verb == "sort") clickHeader(n);
    else if (verb == "find") scriptFind(n, arg.section(' ', 1)), click(6);
    else if (verb == "add" || verb == "edit") scriptEditor(values), click(verb == "add" ? 14 : 15);
    else if (!verb.isEmpty()) ADD_FAILURE() << "no such action: " << step.toStdString();
  }
  virtual QString observe(const QString& key) const {
    const QString what = key.section(' ', 0, 0), arg = key.section(' ', 1);
    const int n = arg.section(' ', 0, 0).toInt();
    QStringList texts;
    if (what == "col")
      for (int r = 1; r <= form->GridRowCount(); ++r) texts << form->GridCellText(r, n);
    for (const QString& name : what == "shown" ? dialogs.modalShown : what == "opened" ? dialogs.opened
                                                                                         : std::vector<QString>{})
      texts << name;
    if (what == "sel") return QString::number(form->GridSelectedIndex());
    if (what == "pos") return QString::number(modDB::iRecPos);
    if (what == "rows") return QString::number(form->GridRowCount());
    if (what == "tabs") return tabs().join('|');
    if (what == "ntabs") return QString::number(tabs().size());
    if (what == "tab") return QString::number(form->TabIndex());
    if (what == "status") return status();
    if (what == "boxes") return dialogs.texts().join('|');
    if (what == "nboxes") return QString::number(dialogs.boxes.size());
    if (what == "open") return QString::number(modDB::bDBOpen);
    if (what == "db") return QString::fromStdString(modDB::sDBPath);
    if (what == "table") return QString::fromStdString(modDB::sTable);
    if (what == "cols") return form->LstV()->records()->headers().join('|');
    if (what == "ncols") return QString::number(form->LstV()->records()->headers().size());
    if (what == "seen") return seen.join('|');
    if (what == "kept") return kept.join('|');
    if (what == "result") return QString::number(modTools::lDialogResult);
    if (what == "search") return QString::fromStdString(modTools::sSearchText);
    if (what == "field") return QString::number(modTools::iSearchField);
    if (what == "line")
      for (int c = 0; c < form->LstV()->records()->headers().size(); ++c) texts << form->GridCellText(n, c);
    if (what == "cell") return form->GridCellText(n, arg.section(' ', 1).toInt());
    if (what == "rec") return QString::number(form->RecordPositionOfRow(n));
    if (what == "stored") return stored(arg.section(' ', 0, 0).toStdString(), arg.section(' ', 1).toInt()).join('|');
    if (what == "records") return QString::number(recordCount(arg.toStdString()));
    if (what == "col" || what == "line" || what == "shown" || what == "opened") return texts.join('|');
    return QStringLiteral("<no such check>");
  }
  // A mouse click on a column's header, as the user sorts.
  void clickHeader(int column) {
    form->show();
    QHeaderView* header = form->LstV()->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(column) + 5, 5));
  }

  std::unique_ptr<app::Form1> form;
  QString path;  // the file openCopy or openNew opened
  QStringList seen, kept;  // the texts the record editor showed on opening and after its button
  std::vector<bool> readOnly;  // and which of its boxes took no typing, with a tip and another colour
};

// Writes a file, making its folder, and returns its path.
inline QString writeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size()) << path.toStdString();
  return path;
}

// A table made in the open database through the session's pending table, as Create Table makes it,
// with rows given as the texts of their values ("" leaves a value Null).
inline void makeTable(const std::string& name, std::vector<modDB::FieldDef> defs,
                      const std::vector<std::vector<std::string>>& rows = {}) {
  modDB::ClearFieldDefs();
  modDB::gFieldDefs = std::move(defs);
  modDB::iFieldCount = static_cast<int16_t>(modDB::gFieldDefs.size());
  modDB::sNewTableName = name;
  ASSERT_EQ(modDB::CreateNewTable(), 2) << modDB::sLastError;
  dao::Recordset rs = modDB::gDB.OpenRecordset(name);
  for (const auto& row : rows) {
    rs.AddNew();
    for (size_t k = 0; k < row.size(); ++k)
      if (!row[k].empty()) rs.GetFields().Item(static_cast<int>(k)).SetValue(row[k]);
    rs.Update();
  }
}

// A new Jet 4 file holding such a table, closed again.
inline QString fileWith(const QString& file, const std::string& table, std::vector<modDB::FieldDef> defs,
                        const std::vector<std::vector<std::string>>& rows) {
  EXPECT_EQ(modDB::CreateDB(file.toStdString(), dao::dbVersion40), 1);
  EXPECT_TRUE(modDB::OpenDB(file.toStdString()));
  makeTable(table, std::move(defs), rows);
  modDB::CloseDB();
  return file;
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
