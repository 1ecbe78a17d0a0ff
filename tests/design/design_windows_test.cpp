// The table-design windows and commands driven as a user would, with the created tables checked in
// the file itself (through the object model after reopening, and the engine's check).
#include <QCheckBox>
#include <QKeyEvent>
#include <QListWidget>
#include <QAbstractItemView>

#include "design/commands.h"
#include "design/forms.h"
#include "gui_test_env.h"

namespace {

using design::Form2;
using testenv::checkFile;
using design::Form3;

class DesignTest : public testenv::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    modDB::ClearFieldDefs();
  }

  // Scripts the New Table command: the table name, the fields ("name,type,size,marks" each, marks
  // being auto-increment, zero-length and required as 0 or 1), then Create Table.
  void scriptNewTable(const QString& tableName, const QString& fields) {
    dialogs.modalHandlers["Form2"] = [this, tableName, fields](QDialog* d) {
      auto* form = static_cast<Form2*>(d);
      dialogs.modalHandlers["Form3"] = [fields](QDialog* d3) {
        auto* f = static_cast<Form3*>(d3);
        for (const QString& field : fields.split('|')) {
          const QStringList p = field.split(',');
          const QString marks = p.value(3, "000");
          f->cboFType()->setCurrentIndex(f->cboFType()->findText(p.value(1)));
          if (!p.value(2).isEmpty()) f->txtSize()->setText(p[2]);
          f->ChkAuto()->setChecked(marks[0] == '1');
          f->chkZeroLen()->setChecked(marks[1] == '1');
          f->chkReq()->setChecked(marks[2] == '1');
          f->txtFieldName()->setText(p[0]);
          f->PushButton(1)->click();
        }
        f->PushButton(2)->click();
      };
      form->PushButton(1)->click();
      form->txtTable()->setText(tableName);
      form->PushButton(3)->click();
      if (d->isVisible() || d->result() != QDialog::Accepted) d->reject();
    };
  }
};

// The field window and the New Table window driven step by step. Actions: "type T" (a type by
// name or place), "size S", "name S" (typed into the box), "auto|zero|req 0|1" (the marks), "add",
// "keys K" (keys typed into the size box; \b Backspace, \r Enter), "enter" (Enter in the name box),
// "popup K" (the type list opened and keys typed into it: v Down, \r Enter),
// "select N" (an entry of the list; -1 none), "remove", "table S" (the table name), "create". Checks:
// type size name, "created" (the table name taken and the window's result), "on" (size, auto and
// zero boxes enabled), "marks" (auto, zero, required checked), "defs" (the pending fields: name type
// size attributes required zero-length), "list" (the entries), "entry" (the selected entry as shown),
// boxes (the messages of the step).
class FieldWindowTest : public DesignTest {
 protected:
  void act(QString step) override {
    const QString verb = step.section(' ', 0, 0), arg = step.section(' ', 1);
    if (verb == "type") f.cboFType()->setCurrentIndex(arg.toInt() || arg == "0" ? arg.toInt() : f.cboFType()->findText(arg));
    else if (verb == "size") f.txtSize()->setText(arg);
    else if (verb == "name") f.txtFieldName()->setText(arg);
    else if (verb == "auto" || verb == "zero" || verb == "req") mark(verb)->setChecked(arg == "1");
    else if (verb == "add") f.PushButton(1)->click();
    else if (verb == "select") arg == "-1" ? form2.LstFields()->setCurrentRow(-1) : form2.SelectEntry(arg.toInt());
    else if (verb == "remove") form2.PushButton(2)->click();
    else if (verb == "table") form2.txtTable()->setText(arg);
    else if (verb == "create") form2.PushButton(3)->click();
    else if (verb == "popup") f.show(), f.cboFType()->showPopup();
    else if (verb != "keys" && verb != "enter") MainWindowTest::act(step);
    for (QChar c : verb == "popup" ? arg : QString())
      QTest::keyClick(f.cboFType()->view(), c == 'v' ? Qt::Key_Down : Qt::Key_Return);
    for (QChar c : verb == "keys" ? arg : verb == "enter" ? QStringLiteral("\r") : QString()) {
      const int key = c == '\b' ? Qt::Key_Backspace : c == '\r' ? Qt::Key_Return : c.toUpper().unicode();
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
      QApplication::sendEvent(verb == "keys" ? f.txtSize() : f.txtFieldName(), &press);
    }
  }
  QCheckBox* mark(const QString& name) const { return name == "auto" ? f.ChkAuto() : name == "zero" ? f.chkZeroLen() : f.chkReq(); }
  QString observe(const QString& key) const override {
    auto bit = [](QCheckBox* c, bool enabled) { return (enabled ? c->isEnabled() : c->isChecked()) ? '1' : '0'; };
    QStringList texts;
    for (const modDB::FieldDef& d : key == "defs" ? modDB::gFieldDefs : std::vector<modDB::FieldDef>{})
      texts << QStringLiteral("%1 %2 %3 %4 %5%6").arg(QString::fromStdString(d.Name)).arg(d.Type).arg(d.Size).arg(d.Attributes).arg(d.Required).arg(d.AllowZeroLength);
    for (int i = 0; key == "list" && i < form2.LstFields()->count(); ++i) texts << form2.LstFields()->item(i)->text();
    if (key == "type") return f.cboFType()->currentText();
    if (key == "size") return f.txtSize()->text();
    if (key == "name") return f.txtFieldName()->text();
    if (key == "on") return QString(f.txtSize()->isEnabled() ? '1' : '0') + bit(f.ChkAuto(), true) + bit(f.chkZeroLen(), true);
    if (key == "marks") return QString(bit(f.ChkAuto(), false)) + bit(f.chkZeroLen(), false) + bit(f.chkReq(), false);
    if (key == "defs" || key == "list") return texts.join('|');
    if (key == "entry")
      return QStringLiteral("%1 %2 %3 %4 %5%6%7").arg(form2.LstFields()->currentRow()).arg(form2.txtName()->text(), form2.txtType()->text(), form2.txtSize()->text())
          .arg(bit(form2.chkAuto(), false)).arg(bit(form2.chkZero(), false)).arg(bit(form2.ChkReq(), false));
    if (key == "created") return QString::fromStdString(modDB::sNewTableName) + " " + QString::number(modTools::lDialogResult);
    return MainWindowTest::observe(key);
  }

  bool cleared = (modDB::ClearFieldDefs(), true);  // before the windows read the pending table
  Form2 form2;
  Form3 f{&form2};
};

TEST_F(FieldWindowTest, TypeRulesKeepMarksOfDisabledBoxes) {
  // Auto-increment checked on Long, then Integer chosen: checked but disabled, not stored. Allow
  // Zero Length checked on Text, then Long chosen: kept and stored. After an add the choices stay,
  // the name box empties and the new entry is shown.
  run({{"", "type=Text; size=50; on=101"},
       {"type 9", "size=0; on=001"},
       {"type 7", "size=8"},
       {"type 3", ""}, {"auto 1", ""}, {"type 2", "marks=100; on=000"},
       {"name Count", ""}, {"add", "defs=Count 3 2 0 00"},
       {"type 8", ""}, {"zero 1", ""}, {"type 3", "on=010"},
       {"name Total", ""}, {"add", "defs=Count 3 2 0 00|Total 4 4 16 01; type=Long; name=; entry=1 Total Long 4 110"}});
}

// Choosing the type that is already chosen, from the open list, runs the type rule again; another
// type chosen the same way applies its own rule.
TEST_F(FieldWindowTest, ChoosingTheChosenTypeAgainResetsItsSize) {
  run({{"size 100", "type=Text"}, {"popup \r", "type=Text; size=50"}, {"popup v\r", "type=Memo; size=0; on=001"}});
}

// Create Table needs fields and a name (trimmed); a name is in the list once, whatever its case; a
// blank name adds nothing; the size box takes digits only; oversized sizes; removal.
TEST_F(FieldWindowTest, DuplicatesBlanksKeysOversizedSizesAndRemoval) {
  modTools::lDialogResult = 2;
  run({{"table T", ""}, {"create", "created= 2"},  // empty list: nothing happens
       {"type Long", ""}, {"name ID", ""}, {"add", ""}, {"name id", ""}, {"add", "boxes='id' is already in the list."},
       {"name Id", ""}, {"add", "boxes='Id' is already in the list."},
       {"name ID ", ""}, {"add", "defs=ID 4 4 0 00|ID  4 4 0 00; list=ID|ID "},  // a trailing space makes another name
       {"table    ", ""}, {"create", "boxes=Table name is required.; list=ID|ID ; created= 2"},
       // A blank name resets the type and marks without a message and keeps the name box's text.
       {"type 3", ""}, {"req 1", ""}, {"name    ", ""}, {"add", "type=Text; size=50; marks=000; name=   ; list=ID|ID "},
       // The size box takes digits and Backspace only; Enter there adds nothing, Enter in the name
       // box adds the field and inserts nothing.
       {"size ", ""}, {"keys a-.12\b0", "size=10"}, {"name Code", ""}, {"keys \r", "list=ID|ID "},
       {"enter", "list=ID|ID |Code; name=; defs=ID 4 4 0 00|ID  4 4 0 00|Code 10 10 0 00"},
       // A size past 32767 is reported and the field is still added, with size 0.
       {"size 40000", ""}, {"name Huge", ""}, {"add", "nboxes=1; list=ID|ID |Code|Huge"}});
  EXPECT_EQ(modDB::gFieldDefs.at(3).Size, 0);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes.at(0).title, "Application Error");
  EXPECT_TRUE(dialogs.boxes.at(0).text.startsWith("Overflow\r\nin Ledgerwick2021/08/31.Form3.PushButton1_Click at line "));
  // Removing an entry keeps each remaining entry's properties; with none selected nothing goes and
  // the first entry is shown.
  run({{"type Memo", ""}, {"zero 1", ""}, {"req 1", ""}, {"name Memo", ""}, {"add", ""},
       {"select -1", ""}, {"remove", "list=ID|ID |Code|Huge|Memo; entry=0 ID Long 4 000"},
       {"select 1", ""}, {"remove", "list=ID|Code|Huge|Memo; entry=0 ID Long 4 000"},
       {"select 3", "entry=3 Memo Memo 0 011"}, {"remove", "list=ID|Code|Huge"},
       {"table   My Table  ", ""}, {"create", "created=My Table 1"},
       {"remove", ""}, {"remove", ""}, {"remove", "list=; defs="}});
  EXPECT_TRUE(form2.txtName()->text().isEmpty());
}

// Every field type, in both formats, created through the windows and read back from the file.
TEST_F(DesignTest, NewTableCreatesExactlyTheDefinedFieldsInBothFormats) {
  for (int32_t version : {dao::dbVersion30, dao::dbVersion40}) {
    SCOPED_TRACE(version);
    openNew(version);
    scriptNewTable("  Every Type ", "Id,Long,,100|Flag,Boolean|Small,Byte|Mid,Integer|Money,Currency|Ratio,Single|"
                                    "Exact,Double|When,Date/Time|Name ,Text,20,011|Notes,Memo,,000");
    run({{"click 5", "tabs=Every Type; tab=1"}});
    EXPECT_EQ(modDB::iFieldCount, 0);  // the pending table is emptied
    modDB::CloseDB();
    ASSERT_TRUE(modDB::OpenDB(path.toStdString()));
    dao::Fields fields = modDB::gDB.GetTableDefs().Item("Every Type").GetFields();
    QStringList made;  // name, type, size, auto-increment, required, zero-length (of texts)
    for (int i = 0; i < fields.Count(); ++i) {
      const dao::Field x = fields.Item(i);
      made << QStringLiteral("%1 %2 %3 %4%5%6").arg(QString::fromStdString(x.Name())).arg(x.Type()).arg(x.Size())
                  .arg(x.Attributes() & dao::dbAutoIncrField ? 1 : 0).arg(x.Required()).arg(x.AllowZeroLength() && x.Type() >= 10);
    }
    EXPECT_EQ(made.join('|').toStdString(), "Id 4 4 100|Flag 1 1 000|Small 2 1 000|Mid 3 2 000|Money 5 8 000|Ratio 6 4 000|"
                              "Exact 7 8 000|When 8 8 000|Name  10 20 011|Notes 12 0 000");
    modDB::CloseDB();
    EXPECT_EQ(checkFile(path), "");
  }
}

TEST_F(DesignTest, EngineRefusalsAreShownAndCreateNothing) {
  openCopy("testV2000.mdb");
  const std::string before = "tabs=Table1|Table2|Table3|Table4";
  scriptNewTable("table1", "X,Text");
  run({{"click 5", "nboxes=1; " + before}});
  EXPECT_TRUE(dialogs.boxes.at(0).text.contains("already exists")) << dialogs.boxes.at(0).text.toStdString();
  EXPECT_EQ(dialogs.boxes.at(0).title, shell::AppTitle());
  // An unacceptable text size is the engine's to refuse; the next New Table starts empty.
  scriptNewTable("Wide", "Long Text,Text,300");
  run({{"click 5", "nboxes=1; " + before}});
  scriptNewTable("Fine", "Only,Text");
  run({{"click 5", "tabs=Fine|Table1|Table2|Table3|Table4"}});
  EXPECT_EQ(modDB::gDB.GetTableDefs().Item("Fine").GetFields().Count(), 1);
  // Closing the window creates nothing.
  dialogs.modalHandlers["Form2"] = [](QDialog* d) {
    static_cast<Form2*>(d)->txtTable()->setText("Never");
    static_cast<Form2*>(d)->PushButton(4)->click();
  };
  run({{"click 5", "tabs=Fine|Table1|Table2|Table3|Table4"}});
}

TEST_F(DesignTest, RenameAndDeleteTables) {
  openCopy("testV1997.mdb");
  form->SelectTab(2);
  // Cancelled or blank answers change nothing; another table's name is refused with the engine's
  // text; the new name is trimmed.
  dialogs.inputAnswers = {"", "   ", "Table1", "  Renamed  "};
  run({{"click 11", ""}, {"click 11", "tabs=Table1|Table2|Table3|Table4"},
       {"click 11", "nboxes=1; tabs=Table1|Table2|Table3|Table4"}});
  EXPECT_TRUE(dialogs.boxes.at(0).text.contains("already exists")) << dialogs.boxes.at(0).text.toStdString();
  EXPECT_EQ(dialogs.inputPrompts.at(0), "Enter a new name for the table 'Table2'");
  run({{"click 11", "tabs=Table1|Renamed|Table3|Table4; tab=2"},
       // No keeps the table; Yes on every table leaves no tabs, no columns and "Records: 0".
       {"no click 12", "nboxes=1; tabs=Table1|Renamed|Table3|Table4"}});
  for (int n = form->TabCount(); n > 0; --n) {
    run({{"yes click 12", "nboxes=1; " + std::string(n > 1 ? "tab=1" : "tabs=; rows=0; status=Records: 0")}});
    ASSERT_EQ(form->TabCount(), n - 1);
    EXPECT_EQ(status(), QStringLiteral("Records: %1").arg(form->GridRowCount()));
  }
  modDB::CloseDB();
  EXPECT_EQ(checkFile(path), "");
}

}  // namespace
