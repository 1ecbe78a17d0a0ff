// The field editor control, the record editor and the record commands, driven through the main
// window on new and copied files, with what was stored read back from the file; the record commands
// beside other programs.
#include <QLabel>
#include <QScrollBar>

#include <functional>

#include "edit/commands.h"
#include "gui_test_env.h"
#include "jet/storage/lock_file.h"
#include "support/complex_fixture.h"
#include "support/processes.h"

namespace {

using edit::DField;
using edit::Form4;
using testenv::checkFile;
using testenv::makeTable;

// The field control takes the width it is given: its box grows to the right edge, its caption stays.
TEST(DFieldTest, TheBoxTakesTheWidthItIsGiven) {
  DField field(nullptr, QStringLiteral("dField1"));
  EXPECT_EQ(field.Caption(), "dField1");
  field.show();
  const int left = field.txtValue()->x();
  const int labelWidth = field.lblName()->width();
  field.resize(500, field.height());
  EXPECT_EQ(field.txtValue()->x(), left);
  EXPECT_EQ(field.txtValue()->x() + field.txtValue()->width(), 500);
  EXPECT_EQ(field.lblName()->width(), labelWidth);
}

// Besides the shared steps: "press B" (a mouse button pressed on the grid) and "double" (a double
// click on it).
class RecordTest : public testenv::MainWindowTest {
 protected:
  void TearDown() override {
    dao::Engine().SetBusyTimeout(10);  // a test beside other programs sets it to 0
    MainWindowTest::TearDown();
  }
  int tabOf(const QString& name) const { return tabs().indexOf(name) + 1; }
  void act(QString step) override {
    if (step.startsWith("press ")) form->LstV_MouseDown(step.mid(6).toInt());
    else if (step == "double") edit::GridDoubleClick(*form);
    else MainWindowTest::act(step);
  }
};

modDB::FieldDef def(const char* name, int16_t type, int16_t size, int16_t attributes = 0, bool required = false,
                    bool zero = true) {
  return modDB::FieldDef{name, type, size, attributes, required, zero};
}

std::vector<modDB::FieldDef> everyType() {
  return {def("Id", dao::dbLong, 4, dao::dbAutoIncrField), def("Flag", dao::dbBoolean, 1), def("Small", dao::dbByte, 1),
          def("Mid", dao::dbInteger, 2),  def("Money", dao::dbCurrency, 8), def("Ratio", dao::dbSingle, 4),
          def("Exact", dao::dbDouble, 8), def("When", dao::dbDate, 8),      def("Name", dao::dbText, 10),
          def("Notes", dao::dbMemo, 0)};
}

TEST_F(RecordTest, AddEditDeleteEveryTypeInBothFormats) {
  const std::string memo(3000, 'm');
  const std::string first = "True|200|-1234|12.5|0.25|3.14159|2024-02-29 13:45:00|Gr\u00fc\u00dfe|" + memo;
  std::string typed;  // the same as the editor's rows 1 to 9
  for (int k = 1; const QString& v : QString::fromStdString(first).split('|')) typed += "|" + std::to_string(k++) + "=" + v.toStdString();
  for (int32_t version : {dao::dbVersion30, dao::dbVersion40}) {
    SCOPED_TRACE(version);
    openNew(version);
    makeTable("All", everyType());
    form->RefreshTables(1);
    // The number is the engine's; an unchanged save leaves every stored value as it was; editing one
    // field changes only that field; a record is deleted only after Yes.
    run({{"add " + typed.substr(1), "seen=AutoInc|||||||||; stored All 0=1|" + first},
         {"add 1=False|2=7|3=8|4=9|5=1|6=2|7=2000-01-01|8=b|9=", "rows=2; sel=2"},  // the added record is the last row
         {"row 1 edit", "seen=AutoInc|" + first + "; stored All 0=1|" + first + "; sel=1"},
         {"row 1 edit 8=Changed", "stored All 0=1|" + first.substr(0, first.find("Gr")) + "Changed|" + memo},
         {"row 1 no click 16", "nboxes=1; records All=2"},
         {"yes click 16", "nboxes=1; records All=1; sel=1; cell 1 8=b"}});
    modDB::CloseDB();
    EXPECT_EQ(checkFile(path), "");
  }
}

// Long memos and OLE values, up to a megabyte, survive an edit of another field untouched: the
// record with the longest OLE value gets a new memo, and nothing else changes.
TEST_F(RecordTest, LongValuesSurviveAnEditOfAnotherField) {
  openCopy("generated/longValuesV2000.mdb");
  form->SelectTab(1);
  ASSERT_EQ(modDB::sTable, "Blobs");
  std::vector<QStringList> records;
  int chosen = 0;
  for (int i = 0; i < form->GridRowCount(); ++i) {
    records.push_back(stored("Blobs", i));
    if (records[i][2].size() > records[chosen][2].size()) chosen = i;
  }
  ASSERT_GT(records[chosen][2].size(), 100000);
  run({{"row " + std::to_string(chosen + 1) + " edit 1=short memo", ""}});
  EXPECT_TRUE(seen.value(0) == "AutoInc" && seen.value(2) == records[chosen][2]);
  records[chosen][1] = "short memo";
  for (int i = 0; i < int(records.size()); ++i) EXPECT_TRUE(stored("Blobs", i) == records[i]) << i;
  modDB::CloseDB();
  EXPECT_EQ(checkFile(path), "");
}

TEST_F(RecordTest, RefusedSavesKeepTheEditorOpenAndStoreNothing) {
  openNew(dao::dbVersion40);
  makeTable("R", {def("Id", dao::dbLong, 4, dao::dbAutoIncrField), def("Count", dao::dbLong, 4),
                  def("Must", dao::dbLong, 4, 0, true), def("NoEmpty", dao::dbText, 20, 0, false, false)});
  form->RefreshTables(1);

  // Each refusal: the engine's text in the report, the editor still open with what was typed, the
  // refused field selected ([...]), nothing stored.
  const std::pair<std::string, std::string> cases[] = {
      {"add 1=abc|2=1|3=y", "AutoInc|[abc]|1|y|Data type conversion error."},
      {"add 1=5|3=y", "AutoInc|5||y|cannot contain a Null value"},
      {"add 1=5|2=1|3=", "AutoInc|5|1||cannot be a zero-length string"},
  };
  for (const auto& [act, kept] : cases) {
    run({{act, "nboxes=1; records R=0; kept=" + kept.substr(0, kept.rfind('|'))}});
    EXPECT_EQ(dialogs.boxes.at(0).title, "Application Error");
    EXPECT_TRUE(dialogs.boxes.at(0).text.contains(QString::fromStdString(kept.substr(kept.rfind('|') + 1))));
    EXPECT_TRUE(dialogs.boxes.at(0).text.contains("Form4.AddRecord at line ")) << dialogs.boxes.at(0).text.toStdString();
  }
  // An empty number editor means no value.
  run({{"add 2=1|3=y", "stored R 0=1|<null>|1|y"}});
  // The title-bar close box counts as Close.
  dialogs.modalHandlers["Form4"] = [](QDialog* d) {
    static_cast<Form4*>(d)->dField1(2)->SetText("77");
    d->show();
    d->close();
  };
  modTools::lDialogResult = 1;
  run({{"row 1 click 15", "stored R 0=1|<null>|1|y"}});
  EXPECT_EQ(modTools::lDialogResult, 2);
  // A memo with line breaks, which a one-line box cannot show as they are, survives an edit of
  // another field.
  {
    dao::Recordset rs = modDB::gDB.OpenRecordset("R");
    rs.Edit();
    rs.GetFields().Item(3).SetValue(std::string("line one\r\nline two"));
    rs.Update();
  }
  run({{"tab 1", ""}, {"row 1 edit 1=9", "stored R 0=1|9|1|line one\r\nline two"}});
  modDB::CloseDB();
  EXPECT_EQ(checkFile(path), "");
}

TEST_F(RecordTest, CommandsActOnTheHighlightedRecord) {
  // Row 2 of Table1 highlighted, another tab visited, then row 1 of Table1 highlighted again: the
  // edit acts on row 1. An unchanged save of an Access-made record leaves it as it was; the
  // commands need a highlighted record; Close on the editor stores nothing.
  for (const char* file : {"testV2000.mdb", "testV1997.mdb"}) {
    openCopy(file);
    const std::string table1 = std::to_string(tabOf("Table1")), other = table1 == "1" ? "2" : "1";
    const std::string before = stored("Table1", 0).join('|').toStdString();
    scriptEditor({{0, "changed"}}, 3);
    run({{"tab " + table1, "sel=0"}, {"click 15", "boxes=Please select record.; shown="},
         {"click 16", "boxes=Please select record.; shown="},
         {"row 2", ""}, {"tab " + other, ""}, {"tab " + table1, ""},
         {"row 1 click 15", "result=2; stored Table1 0=" + before},
         {"edit", "result=1; seen=" + before + "; line 1=" + before + "; stored Table1 0=" + before}});
    modDB::CloseDB();
    EXPECT_EQ(checkFile(path), "");
  }

  // Null values show as empty editors.
  openNew(dao::dbVersion30);
  makeTable("N", {def("A", dao::dbText, 10), def("B", dao::dbLong, 4)}, {{"c"}, {"a"}, {"b"}});
  form->RefreshTables(1);
  // After a header sort, the selected row's record is the one edited and deleted; the grid is then
  // rebuilt in stored order.
  run({{"row 2 edit", "seen=a|"}, {"sort 0", "col 0=c|b|a"},
       {"row 1 edit 1=42", "seen=c|; stored N 0=c|42; sel=1; col 0=c|a|b"},
       {"sort 0", "col 0=a|b|c"},  // the next click sorts the other way
       {"row 1 yes click 16", "nboxes=1; records N=2; col 0=c|b"}});

  // The double click: nothing after a right-button press; the record at the selected row after a
  // left one.
  modTools::lDialogResult = 1;
  scriptEditor({{0, "dbl"}});
  run({{"row 2", ""}, {"press 2", ""}, {"double", "shown=; result=2"},
       {"press 1", ""}, {"double", "shown=Form4; stored N 1=dbl|<null>; sel=2; result=2"}});

  // Deleting every record, the last one included, leaves an empty grid without a selection; Add
  // Record on the empty table still opens the editor.
  run({{"row 1 yes click 16", "nboxes=1; records N=1"},
       {"row 1 yes click 16", "nboxes=1; records N=0; rows=0; sel=0"}, {"add", "shown=Form4"}});
}

// Dates, numbers and Yes/No values typed as the user's language writes them (the United States
// forms too where no language is set) are stored as the same values as their invariant forms; what
// the grid then shows can be typed back unchanged. A text no form of the language reads is refused.
TEST_F(RecordTest, ValuesTypedInTheUsersLanguageForms) {
  openNew(dao::dbVersion40);
  makeTable("V", {def("When", dao::dbDate, 8), def("Money", dao::dbCurrency, 8), def("Ratio", dao::dbDouble, 8),
                  def("Flag", dao::dbBoolean, 1)});
  form->RefreshTables(1);
  const struct {
    std::string locale, typed, stored;
  } cases[] = {
      {"en_US", "0=3/14/1985|1=1,234.5|2=0.5|3=Yes", "1985-03-14|1234.5|0.5|True"},
      {"en_US", "0=3/14/85 1:45 PM|1=2|2=-1.5|3=off", "1985-03-14 13:45:00|2|-1.5|False"},
      {"de_DE", "0=14.03.1985|1=12,5|2=1.234,25|3=-1", "1985-03-14|12.5|1234.25|True"},
      {"de_DE", "0=14.03.1985 08:05|1=0,0001|2=3|3=0", "1985-03-14 08:05:00|0.0001|3|False"},
      {"de_DE", "0=15.03.1986|1=7|2=7|3=1", "1986-03-15|7|7|True"},
      {"en_GB", "0=5 Mar 2001|1=7|2=7|3=TRUE", "2001-03-05|7|7|True"},
      {"en_GB", "0=2001-03-05T10:11:12|1=7|2=7|3=on", "2001-03-05 10:11:12|7|7|True"},
      {"en_GB", "0=10:11|1=7|2=7|3=1", "10:11:00|7|7|True"},
      {"C", "0=3/14/1985|1=7|2=7|3=1", "1985-03-14|7|7|True"},
      {"C", "0=11/20/2018 10:30 AM|1=7|2=7|3=1", "2018-11-20 10:30:00|7|7|True"},
      {"C", "0=2001-02-03|1=7|2=7|3=1", "2001-02-03|7|7|True"},
      {"en_US", "0=14.03.1985", ""},  // not a form of this language
      {"de_DE", "0=3/14/1985", ""},   // a language that is set is not second-guessed
  };
  int records = 0;
  for (const auto& c : cases) {
    if (c.stored.empty()) {
      scriptEditor({{0, QString::fromStdString(c.typed.substr(2))}}, 1);
      run({{"in " + c.locale + " click 14", "nboxes=1; records V=" + std::to_string(records)}});
      EXPECT_TRUE(dialogs.texts().join("").contains("Data type conversion error.")) << dialogs.texts().join("").toStdString();
      continue;
    }
    const std::string row = std::to_string(++records), at = std::to_string(records - 1);
    std::string back;  // the grid's texts typed back
    for (int k = 0; const QString& v : QString::fromStdString(c.stored).split('|')) back += "|" + std::to_string(k++) + "=" + v.toStdString();
    run({{"in " + c.locale + " add " + c.typed, "records V=" + row + "; stored V " + at + "=" + c.stored + "; sel=" + row + "; line " + row + "=" + c.stored},
         {"edit " + back.substr(1), "stored V " + at + "=" + c.stored}});
  }
  QLocale::setDefault(QLocale::c());
}

// The scroll bar comes with the seventh field; the boxes take as many characters as a text field
// holds. The wheel moves the rows one field per notch wherever it turns over the editor; the scroll
// bar's own steps stay one pixel; tabbing into a field out of view brings it into view.
TEST_F(RecordTest, ScrollBarWheelTabAndTextLimits) {
  openNew(dao::dbVersion40);
  std::vector<modDB::FieldDef> many = {def("F0", dao::dbText, 50), def("Memo", dao::dbMemo, 0), def("Num", dao::dbLong, 4)};
  for (int i = 3; i < 6; ++i) many.push_back(def(("F" + std::to_string(i)).c_str(), dao::dbText, 50));
  makeTable("Six", many);
  for (int i = 6; i < 12; ++i) many.push_back(def(("F" + std::to_string(i)).c_str(), dao::dbText, i == 6 ? 5 : 20));
  makeTable("Many", many);
  form->RefreshTables(1);
  modDB::sTable = "Six";
  modTools::lEditMode = 1;
  {
    Form4 six;
    EXPECT_EQ(six.windowTitle(), "Add Record");
    EXPECT_EQ(six.PushButton(1)->text(), "Add");
    ASSERT_EQ(six.RowCount(), 6);
    EXPECT_EQ(six.vBar1()->property("Max").toInt(), -6);
    EXPECT_FALSE(six.vBar1()->isEnabled());
    EXPECT_EQ(six.dField1(0)->MaxLength(), 50);
    EXPECT_EQ(six.dField1(1)->MaxLength(), 0);
    EXPECT_EQ(six.dField1(2)->MaxLength(), 0);
  }
  modDB::sTable = "Many";
  Form4 form;
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  ASSERT_EQ(form.RowCount(), 12);
  const int row = form.dField1(1)->y();
  ASSERT_GT(row, 0);
  EXPECT_EQ(form.vBar1()->property("Max").toInt(), 288);  // 43 with seven fields, a row more for each further one
  ASSERT_TRUE(form.vBar1()->isEnabled());
  EXPECT_EQ(form.vBar1()->singleStep(), 1);
  EXPECT_EQ(form.vBar1()->pageStep(), 1);
  form.vBar1()->setValue(20);
  form.dField1(6)->txtValue()->insert("abcdefgh");
  EXPECT_EQ(form.dField1(6)->Text(), "abcde");
  form.PushButton(2)->click();  // Clear All
  EXPECT_EQ(form.vBar1()->value(), 0);
  EXPECT_EQ(form.dField1(6)->Text(), "");

  // Over a field's box, a caption, the bar itself and a button (past the top): rows to scroll to.
  const struct {
    QWidget* over;
    int notches, rows;
  } wheels[] = {{form.dField1(0)->txtValue(), -1, 1}, {form.dField1(2)->lblName(), -2, 3}, {form.vBar1(), 1, 2}, {form.PushButton(2), 5, 0}};
  for (const auto& w : wheels) {
    const QPoint at = w.over->rect().center();
    QWheelEvent e(at, w.over->mapToGlobal(at), QPoint(), QPoint(0, 120 * w.notches), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.over, &e);
    EXPECT_EQ(form.vBar1()->value(), w.rows * row) << w.notches;
    EXPECT_EQ(form.pMover()->y(), -w.rows * row);
  }
  // The bar's arrow still moves one pixel.
  form.vBar1()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(form.vBar1()->value(), 1);

  // Tab from field to field down to the last: each focused field is wholly in view.
  form.dField1(0)->txtValue()->setFocus();
  form.vBar1()->setValue(0);
  const int visible = form.pHolder()->contentsRect().height();
  for (int k = 1; k < form.RowCount(); ++k) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), form.dField1(k)->txtValue()) << k;
    const int top = form.dField1(k)->y() - form.vBar1()->value();
    EXPECT_GE(top, 0) << k;
    EXPECT_LE(top + form.dField1(k)->height(), visible) << k;
  }
  // And back up with Shift+Tab to the first.
  for (int k = form.RowCount() - 2; k >= 0; --k) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
  EXPECT_EQ(QApplication::focusWidget(), form.dField1(0)->txtValue());
  EXPECT_EQ(form.vBar1()->value(), 0);
}

TEST_F(RecordTest, ComplexFieldsShowAsTextAreReadOnlyAndSurviveSaving) {
  path = folder.filePath("complex.mdb");
  complexfixture::build(path.toStdString());
  ASSERT_TRUE(modDB::OpenDB(path.toStdString()));
  form->RefreshTables(1);
  form->SelectTab(tabOf("Items"));
  ASSERT_EQ(form->GridRowCount(), 3);
  // Attachment names and multiple values joined by "; "; the complex boxes are read-only.
  EXPECT_EQ(form->GridCellText(1, 1), "red; green");
  EXPECT_EQ(form->GridCellText(2, 2), "b.bin; c.txt");
  EXPECT_EQ(form->GridCellText(1, 5), "10; 20");
  EXPECT_EQ(form->GridCellText(3, 1), "");
  run({{"row 2 edit 0=deux", "records Items=3"}});
  EXPECT_EQ(seen.join('/').toStdString(), "two/blue/b.bin; c.txt/n2 again/n2 again; n2/");
  EXPECT_EQ(readOnly, (std::vector<bool>{false, true, true, false, true, true}));
  EXPECT_EQ(stored("Items", 1).mid(0, 3).join('/'), "deux/blue/b.bin; c.txt");
  // Deleting the record takes its attachments with it.
  run({{"row 1 yes click 16", "nboxes=1; records Items=2; records f_2_files=2"}});
  modDB::CloseDB();
  EXPECT_EQ(checkFile(path), "");
}

// The record actions beside other programs: an edit, a new record or a deletion refused with 3260,
// because another program holds the writer's turn or a Jet program has opened the file since,
// shows the message in the usual error report, keeps the editor open with what was typed, and
// stores nothing; once the other program is gone the same action goes through.
using Holder = std::shared_ptr<void>;

// Another program of ours in the middle of a transaction: it has the writer's turn.
Holder writerTurnElsewhere(const std::string& path) {
  std::shared_ptr<jet::Database> db = jet::Database::open(path);
  db->beginTransaction();
  db->insertRow("R", {std::string("Other")});
  return Holder(db, db.get());
}

// A Jet program (Access, say) that opened the file after us: in lock-file slot 1.
Holder jetUserElsewhere(const std::string& path) { return testsupport::jetUser(jet::lockFilePathOf(path), 1); }

using RecordBusyTest = RecordTest;

// Each action refused while another program holds the file, then done once it is gone, and put
// back so that the next action starts from the one record "Ann".
TEST_F(RecordBusyTest, AnActionRefusedWith3260ShowsTheMessageAndLosesNothing) {
  struct Other {
    const char* what;
    std::function<Holder(const std::string&)> hold;
    const char* message;
  };
  const Other others[] = {
      {"writer's turn elsewhere", writerTurnElsewhere, "Couldn't update; currently locked by user '"},
      {"Jet user elsewhere", jetUserElsewhere,
       "Couldn't update; currently locked by user 'Admin' on machine 'ACCESS-PC'."},
  };
  struct Action {
    Step refused;              // the editor's box is its first, a deletion's comes after the question
    std::vector<Step> done;    // once the other program is gone, and back to "Ann"
  };
  const Action actions[] = {
      {{"row 1 edit 0=Zed", "nboxes=1; kept=Zed; stored R 0=Ann"},
       {{"row 1 edit 0=Zed", "stored R 0=Zed"}, {"row 1 edit 0=Ann", "stored R 0=Ann"}}},
      {{"add 0=Bob", "nboxes=1; kept=Bob; records R=1"},
       {{"add 0=Bob", "records R=2"}, {"row 2 yes click 16", "nboxes=1; records R=1; stored R 0=Ann"}}},
      {{"row 1 yes click 16", "nboxes=2; records R=1"}, {{"row 1 yes click 16", "nboxes=1; records R=0"}, {"add 0=Ann", "records R=1"}}},
  };
  dao::Engine().SetBusyTimeout(0);  // the refusal at once rather than after ten seconds
  openNew(dao::dbVersion40);
  makeTable("R", {def("Name", dao::dbText, 20)}, {{"Ann"}});
  form->RefreshTables(1);
  for (const Other& h : others)
    for (const Action& a : actions) {
      SCOPED_TRACE(std::string(h.what) + ", " + a.refused.act);
      Holder other = h.hold(path.toStdString());
      ASSERT_TRUE(other);
      run({a.refused});
      const QString report = dialogs.boxes.empty() ? QString() : dialogs.boxes.back().text;
      EXPECT_TRUE(report.contains(QString::fromUtf8(h.message))) << report.toStdString();
      other.reset();
      run(a.done);
    }
  modDB::CloseDB();
  EXPECT_EQ(checkFile(path), "");
}

}  // namespace
