// The table-design windows and commands driven as a user would, with the created tables checked in
// the file itself (through the object model after reopening, and the engine's check).
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QAbstractItemView>
#include <QtTest/QTest>

#include "design/commands.h"
#include "design/forms.h"
#include "gui_test_env.h"

namespace {

using design::Form2;
using testenv::checkFile;
using design::Form3;

void typeKey(QWidget* w, int key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(w, &press);
}

struct FieldOutline {
  QString name;
  QString type;
  QString size;  // empty: the type's own
  bool autoInc = false, zero = false, required = false;
};

// Adds one definition through the field window as a user would.
void addField(Form3& f, const FieldOutline& s) {
  f.cboFType()->setCurrentIndex(f.cboFType()->findText(s.type));
  if (!s.size.isEmpty()) f.txtSize()->setText(s.size);
  f.ChkAuto()->setChecked(s.autoInc);
  f.chkZeroLen()->setChecked(s.zero);
  f.chkReq()->setChecked(s.required);
  f.txtFieldName()->setText(s.name);
  f.PushButton(1)->click();
}

class DesignTest : public testenv::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    modDB::ClearFieldDefs();
  }

  // Scripts the New Table command: the table name, the fields, then Create Table.
  void scriptNewTable(const QString& tableName, std::vector<FieldOutline> fields) {
    dialogs.modalHandlers["Form2"] = [this, tableName, fields](QDialog* d) {
      auto* form = static_cast<Form2*>(d);
      dialogs.modalHandlers["Form3"] = [fields](QDialog* d3) {
        auto* f = static_cast<Form3*>(d3);
        for (const FieldOutline& s : fields) addField(*f, s);
        f->PushButton(2)->click();
      };
      form->PushButton(1)->click();
      form->txtTable()->setText(tableName);
      form->PushButton(3)->click();
      if (d->isVisible() || d->result() != QDialog::Accepted) d->reject();
    };
  }
};

TEST_F(DesignTest, FieldWindowTypeRulesKeepMarksOfDisabledBoxes) {
  Form2 form2;
  Form3 f(&form2);
  EXPECT_EQ(f.cboFType()->currentText(), "Text");
  EXPECT_EQ(f.txtSize()->text(), "50");
  EXPECT_TRUE(f.txtSize()->isEnabled());
  EXPECT_FALSE(f.ChkAuto()->isEnabled());
  EXPECT_TRUE(f.chkZeroLen()->isEnabled());

  f.cboFType()->setCurrentIndex(9);
  EXPECT_EQ(f.txtSize()->text(), "0");
  EXPECT_FALSE(f.txtSize()->isEnabled());
  f.cboFType()->setCurrentIndex(7);
  EXPECT_EQ(f.txtSize()->text(), "8");

  // Auto-increment checked on Long, then Integer chosen: checked but disabled, not stored.
  f.cboFType()->setCurrentIndex(3);
  f.ChkAuto()->setChecked(true);
  f.cboFType()->setCurrentIndex(2);
  EXPECT_TRUE(f.ChkAuto()->isChecked());
  EXPECT_FALSE(f.ChkAuto()->isEnabled());
  f.txtFieldName()->setText("Count");
  f.PushButton(1)->click();
  ASSERT_EQ(modDB::iFieldCount, 1);
  EXPECT_EQ(modDB::gFieldDefs[0].Type, dao::dbInteger);
  EXPECT_EQ(modDB::gFieldDefs[0].Attributes, 0);

  // Allow Zero Length checked on Text, then Long chosen: kept and stored.
  f.cboFType()->setCurrentIndex(8);
  f.chkZeroLen()->setChecked(true);
  f.cboFType()->setCurrentIndex(3);
  EXPECT_FALSE(f.chkZeroLen()->isEnabled());
  f.txtFieldName()->setText("Total");
  f.PushButton(1)->click();
  ASSERT_EQ(modDB::iFieldCount, 2);
  EXPECT_TRUE(modDB::gFieldDefs[1].AllowZeroLength);
  EXPECT_EQ(modDB::gFieldDefs[1].Attributes, dao::dbAutoIncrField);  // Long with the box still checked
  // After an add the choices stay, the name box empties and the new entry is shown.
  EXPECT_EQ(f.cboFType()->currentText(), "Long");
  EXPECT_TRUE(f.txtFieldName()->text().isEmpty());
  EXPECT_EQ(form2.LstFields()->currentRow(), 1);
  EXPECT_EQ(form2.txtName()->text(), "Total");
  EXPECT_EQ(form2.txtType()->text(), "Long");
  EXPECT_TRUE(form2.chkAuto()->isChecked());
  EXPECT_TRUE(dialogs.boxes.empty());
}

// Choosing the type that is already chosen, from the open list, runs the type rule again.
TEST_F(DesignTest, ChoosingTheChosenTypeAgainResetsItsSize) {
  Form2 form2;
  Form3 f(&form2);
  f.show();
  ASSERT_EQ(f.cboFType()->currentText(), "Text");
  f.txtSize()->setText("100");
  f.cboFType()->showPopup();
  QAbstractItemView* list = f.cboFType()->view();
  ASSERT_EQ(list->currentIndex().row(), 8);
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_EQ(f.cboFType()->currentText(), "Text");
  EXPECT_EQ(f.txtSize()->text(), "50");
  // Another type chosen the same way applies its own rule.
  f.cboFType()->showPopup();
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_EQ(f.cboFType()->currentText(), "Memo");
  EXPECT_EQ(f.txtSize()->text(), "0");
  EXPECT_FALSE(f.txtSize()->isEnabled());
}

TEST_F(DesignTest, FieldWindowDuplicatesBlanksKeysAndOversizedSizes) {
  Form2 form2;
  Form3 f(&form2);
  addField(f, {"ID", "Long"});
  addField(f, {"id", "Long"});
  addField(f, {"Id", "Long"});
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  EXPECT_EQ(dialogs.boxes[0].text, "'id' is already in the list.");
  EXPECT_EQ(dialogs.boxes[1].text, "'Id' is already in the list.");
  addField(f, {"ID ", "Long"});  // a trailing space makes another name
  EXPECT_EQ(modDB::iFieldCount, 2);
  EXPECT_EQ(form2.LstFields()->count(), 2);
  EXPECT_EQ(modDB::gFieldDefs[1].Name, "ID ");

  // A blank name resets the type and marks without a message and keeps the name box's text.
  dialogs.boxes.clear();
  f.cboFType()->setCurrentIndex(3);
  f.chkReq()->setChecked(true);
  f.txtFieldName()->setText("   ");
  f.PushButton(1)->click();
  EXPECT_EQ(f.cboFType()->currentText(), "Text");
  EXPECT_EQ(f.txtSize()->text(), "50");
  EXPECT_FALSE(f.chkReq()->isChecked());
  EXPECT_EQ(f.txtFieldName()->text(), "   ");
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_EQ(modDB::iFieldCount, 2);

  // The size box takes digits and Backspace only; Enter there adds nothing.
  f.txtSize()->clear();
  f.txtSize()->setFocus();
  typeKey(f.txtSize(), Qt::Key_A, "a");
  typeKey(f.txtSize(), Qt::Key_Minus, "-");
  typeKey(f.txtSize(), Qt::Key_Period, ".");
  typeKey(f.txtSize(), Qt::Key_1, "1");
  typeKey(f.txtSize(), Qt::Key_2, "2");
  typeKey(f.txtSize(), Qt::Key_Backspace, "\b");
  typeKey(f.txtSize(), Qt::Key_0, "0");
  EXPECT_EQ(f.txtSize()->text(), "10");
  f.txtFieldName()->setText("Code");
  typeKey(f.txtSize(), Qt::Key_Return, "\r");
  EXPECT_EQ(modDB::iFieldCount, 2);
  // Enter in the name box adds the field and inserts nothing.
  typeKey(f.txtFieldName(), Qt::Key_Return, "\r");
  ASSERT_EQ(modDB::iFieldCount, 3);
  EXPECT_EQ(modDB::gFieldDefs[2].Name, "Code");
  EXPECT_EQ(modDB::gFieldDefs[2].Size, 10);

  // A size past 32767 is reported and the field is still added, with size 0.
  f.txtSize()->setText("40000");
  f.txtFieldName()->setText("Huge");
  f.PushButton(1)->click();
  ASSERT_EQ(modDB::iFieldCount, 4);
  EXPECT_EQ(modDB::gFieldDefs[3].Size, 0);
  EXPECT_EQ(modDB::gFieldDefs[3].Name, "Huge");
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].title, "Application Error");
  EXPECT_TRUE(dialogs.boxes[0].text.startsWith("Overflow\r\nin Ledgerwick2021/08/31.Form3.PushButton1_Click at line "));
}

TEST_F(DesignTest, RemoveFieldKeepsEachEntrysProperties) {
  Form2 form2;
  {
    Form3 f(&form2);
    addField(f, {"A", "Text", "", false, true, false});
    addField(f, {"B", "Text", "", false, false, true});
    addField(f, {"C", "Memo", "", false, true, true});
  }
  // Nothing selected: nothing removed, the first entry shown.
  form2.LstFields()->setCurrentRow(-1);
  form2.PushButton(2)->click();
  EXPECT_EQ(modDB::iFieldCount, 3);
  EXPECT_EQ(form2.LstFields()->currentRow(), 0);
  EXPECT_EQ(form2.txtName()->text(), "A");

  form2.SelectEntry(1);
  form2.PushButton(2)->click();
  ASSERT_EQ(modDB::iFieldCount, 2);
  ASSERT_EQ(form2.LstFields()->count(), 2);
  EXPECT_EQ(form2.LstFields()->item(1)->text(), "C");
  EXPECT_EQ(form2.txtName()->text(), "A");
  EXPECT_TRUE(form2.chkZero()->isChecked());
  EXPECT_FALSE(form2.ChkReq()->isChecked());
  form2.SelectEntry(1);
  EXPECT_EQ(form2.txtType()->text(), "Memo");
  EXPECT_EQ(form2.txtSize()->text(), "0");
  EXPECT_TRUE(form2.chkZero()->isChecked());
  EXPECT_TRUE(form2.ChkReq()->isChecked());
  form2.PushButton(2)->click();
  form2.PushButton(2)->click();
  EXPECT_EQ(modDB::iFieldCount, 0);
  EXPECT_EQ(form2.LstFields()->count(), 0);
  EXPECT_TRUE(form2.txtName()->text().isEmpty());
}

TEST_F(DesignTest, CreateTableNeedsFieldsAndAName) {
  Form2 form2;
  form2.txtTable()->setText("T");
  form2.PushButton(3)->click();  // empty list: nothing happens
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_TRUE(modDB::sNewTableName.empty());
  {
    Form3 f(&form2);
    addField(f, {"A", "Text"});
  }
  form2.txtTable()->setText("   ");
  form2.PushButton(3)->click();
  ASSERT_EQ(dialogs.texts(), QStringList{"Table name is required."});
  EXPECT_EQ(form2.LstFields()->count(), 1);
  form2.txtTable()->setText("  My Table  ");
  modTools::lDialogResult = 2;
  form2.PushButton(3)->click();
  EXPECT_EQ(modDB::sNewTableName, "My Table");
  EXPECT_EQ(modTools::lDialogResult, 1);
}

// Every field type, in both formats, created through the windows and read back from the file.
TEST_F(DesignTest, NewTableCreatesExactlyTheDefinedFieldsInBothFormats) {
  for (int32_t version : {dao::dbVersion30, dao::dbVersion40}) {
    SCOPED_TRACE(version);
    openNew(version);
    const int before = form->TabCount();
    scriptNewTable("  Every Type ", {{"Id", "Long", "", true},
                                     {"Flag", "Boolean"},
                                     {"Small", "Byte"},
                                     {"Mid", "Integer"},
                                     {"Money", "Currency"},
                                     {"Ratio", "Single"},
                                     {"Exact", "Double"},
                                     {"When", "Date/Time"},
                                     {"Name ", "Text", "20", false, true, true},
                                     {"Notes", "Memo", "", false, false, false}});
    form->PushButton_Click(5);
    EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join("|").toStdString();
    ASSERT_EQ(form->TabCount(), before + 1);
    EXPECT_EQ(form->sTab1()->currentIndex(), before);
    EXPECT_EQ(form->sTab1()->tabText(before), "Every Type");
    EXPECT_EQ(modDB::iFieldCount, 0);  // the pending table is emptied

    modDB::CloseDB();
    ASSERT_TRUE(modDB::OpenDB(path.toStdString()));
    dao::Fields fields = modDB::gDB.GetTableDefs().Item("Every Type").GetFields();
    ASSERT_EQ(fields.Count(), 10);
    const int16_t types[] = {4, 1, 2, 3, 5, 6, 7, 8, 10, 12};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(fields.Item(i).Type(), types[i]) << i;
    EXPECT_EQ(fields.Item(0).Attributes() & dao::dbAutoIncrField, dao::dbAutoIncrField);
    EXPECT_EQ(fields.Item(3).Attributes() & dao::dbAutoIncrField, 0);
    EXPECT_EQ(fields.Item(8).Name(), "Name ");
    EXPECT_EQ(fields.Item(8).Size(), 20);
    EXPECT_TRUE(fields.Item(8).Required());
    EXPECT_TRUE(fields.Item(8).AllowZeroLength());
    EXPECT_FALSE(fields.Item(9).Required());
    EXPECT_FALSE(fields.Item(9).AllowZeroLength());
    modDB::CloseDB();
    EXPECT_EQ(checkFile(path), "");
  }
}

TEST_F(DesignTest, EngineRefusalsAreShownAndCreateNothing) {
  openCopy("testV2000.mdb");
  const QStringList before = tabs();
  ASSERT_TRUE(before.contains("Table1"));
  scriptNewTable("table1", {{"X", "Text"}});
  form->PushButton_Click(5);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_TRUE(dialogs.boxes[0].text.contains("already exists")) << dialogs.boxes[0].text.toStdString();
  EXPECT_EQ(dialogs.boxes[0].title, app::AppTitle());
  EXPECT_EQ(tabs(), before);

  // An unacceptable text size is the engine's to refuse; the next New Table starts empty.
  dialogs.boxes.clear();
  scriptNewTable("Wide", {{"Long Text", "Text", "300"}});
  form->PushButton_Click(5);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(tabs(), before);
  dialogs.boxes.clear();
  scriptNewTable("Fine", {{"Only", "Text"}});
  form->PushButton_Click(5);
  EXPECT_TRUE(dialogs.boxes.empty());
  ASSERT_EQ(tabs().size(), before.size() + 1);
  EXPECT_EQ(modDB::gDB.GetTableDefs().Item("Fine").GetFields().Count(), 1);

  // Closing the window creates nothing.
  dialogs.modalHandlers["Form2"] = [](QDialog* d) {
    static_cast<Form2*>(d)->txtTable()->setText("Never");
    static_cast<Form2*>(d)->PushButton(4)->click();
  };
  form->PushButton_Click(5);
  EXPECT_EQ(tabs().size(), before.size() + 1);
}

TEST_F(DesignTest, RenameAndDeleteTables) {
  openCopy("testV1997.mdb");
  const QStringList names = tabs();
  ASSERT_GE(names.size(), 2);
  form->SelectTab(2);
  // Cancelled or blank answers change nothing.
  dialogs.inputAnswers = {"", "   "};
  form->PushButton_Click(11);
  form->PushButton_Click(11);
  EXPECT_EQ(tabs(), names);
  EXPECT_TRUE(dialogs.boxes.empty());
  ASSERT_EQ(dialogs.inputPrompts.size(), 2u);
  EXPECT_EQ(dialogs.inputPrompts[0], "Enter a new name for the table '" + names[1] + "'");

  // Renaming to another table's name shows the engine's text and leaves both.
  dialogs.inputAnswers = {names[0]};
  form->PushButton_Click(11);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_TRUE(dialogs.boxes[0].text.contains("already exists")) << dialogs.boxes[0].text.toStdString();
  EXPECT_EQ(tabs(), names);

  dialogs.boxes.clear();
  dialogs.inputAnswers = {"  Renamed  "};
  form->PushButton_Click(11);
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join("|").toStdString();
  EXPECT_TRUE(tabs().contains("Renamed"));
  EXPECT_FALSE(tabs().contains(names[1]));
  EXPECT_EQ(form->TabIndex(), 2);

  // No keeps the table; Yes on every table leaves no tabs, no columns and "Records: 0".
  dialogs.answers = {ui::Answer::No};
  form->PushButton_Click(12);
  EXPECT_EQ(tabs().size(), names.size());
  while (form->TabCount() > 0) {
    dialogs.answers = {ui::Answer::Yes};
    const int n = form->TabCount();
    form->PushButton_Click(12);
    ASSERT_EQ(form->TabCount(), n - 1) << dialogs.texts().join("|").toStdString();
    if (n > 1) {
      EXPECT_EQ(form->TabIndex(), 1);
      EXPECT_EQ(form->Status(), QStringLiteral("Records: %1").arg(form->GridRowCount()));
    }
  }
  EXPECT_EQ(form->Status(), "Records: 0");
  EXPECT_EQ(form->GridRowCount(), 0);
  modDB::CloseDB();
  EXPECT_EQ(checkFile(path), "");
}

}  // namespace
