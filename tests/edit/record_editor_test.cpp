// The field editor control, the record editor and the record commands, driven through the main
// window on new and copied files, with what was stored read back from the file.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QtTest/QTest>

#include "edit/commands.h"
#include "edit/dfield.h"
#include "edit/form4.h"
#include "gui_test_env.h"
#include "support/complex_fixture.h"

namespace {

using edit::DField;
using edit::Form4;
using testenv::checkFile;
using testenv::makeTable;

// What a window relies on: one Change per changed text, the length limit on typing, a disabled box
// beside an enabled caption, a box that takes the width it is given, properties saved and read back.
TEST(DFieldTest, PropertiesEventsAndResize) {
  DField field(nullptr, QStringLiteral("dField1"));
  EXPECT_EQ(field.Caption(), "dField1");
  int changes = 0;
  QObject::connect(&field, &DField::Change, [&] { ++changes; });
  field.SetText("abc");
  field.SetText("abc");
  EXPECT_EQ(changes, 1);

  field.SetMaxLength(5);
  field.txtValue()->clear();
  field.txtValue()->insert("123456789");
  EXPECT_EQ(field.Text(), "12345");
  field.SetMaxLength(0);
  field.txtValue()->insert(QString(400, 'x'));
  EXPECT_EQ(field.Text().size(), 405);

  field.SetEnabled(false);
  EXPECT_FALSE(field.txtValue()->isEnabled());
  EXPECT_TRUE(field.lblName()->isEnabled());

  field.show();
  const int left = field.txtValue()->x();
  const int labelWidth = field.lblName()->width();
  field.resize(500, field.height());
  EXPECT_EQ(field.txtValue()->x(), left);
  EXPECT_EQ(field.txtValue()->x() + field.txtValue()->width(), 500);
  EXPECT_EQ(field.lblName()->width(), labelWidth);

  DField::PropertyBag bag;
  field.SetCaption("Amount");
  field.SetBackColor(0x00FFFFFFu);
  field.SetMaxLength(12);
  field.WriteProperties(bag);
  DField copy(nullptr, "other");
  copy.ReadProperties(bag);
  EXPECT_EQ(copy.Caption(), "Amount");
  EXPECT_EQ(copy.Text(), field.Text());
  EXPECT_EQ(copy.BackColor(), 0x00FFFFFFu);
  EXPECT_FALSE(copy.Enabled());
  EXPECT_EQ(copy.MaxLength(), 12);
  DField fresh(nullptr, "fresh");
  fresh.ReadProperties({});
  EXPECT_EQ(fresh.Caption(), "fresh");
  EXPECT_TRUE(fresh.Enabled());
}

class RecordTest : public testenv::MainWindowTest {
 protected:
  int tabOf(const QString& name) const {
    for (int i = 0; i < form->sTab1()->count(); ++i)
      if (form->sTab1()->tabText(i) == name) return i + 1;
    return 0;
  }
  // The stored texts of the record at a position, read through a fresh recordset.
  QStringList stored(const std::string& table, int position) {
    dao::Recordset rs = modDB::gDB.OpenRecordset(table);
    rs.Move(position);
    QStringList texts;
    dao::Fields f = rs.GetFields();
    for (int k = 0; k < f.Count(); ++k)
      texts << (jet::isNull(f.Item(k).GetValue()) ? QStringLiteral("<null>")
                                                  : QString::fromStdString(jet::toText(f.Item(k).GetValue())));
    rs.Close();
    return texts;
  }
  int recordCount(const std::string& table) {
    dao::Recordset rs = modDB::gDB.OpenRecordset(table);
    int n = rs.RecordCount();
    rs.Close();
    return n;
  }
  // Scripts the editor: fills the given rows, then presses the given button.
  void scriptEditor(std::map<int, QString> values, int button = 1) {
    dialogs.modalHandlers["Form4"] = [this, values, button](QDialog* d) {
      auto* form = static_cast<Form4*>(d);
      seen.clear();
      readOnly.clear();
      explained.clear();
      for (int k = 0; k < form->RowCount(); ++k) {
        QLineEdit* box = form->dField1(k)->txtValue();
        seen << form->dField1(k)->Text();
        readOnly.push_back(box->isReadOnly());
        // A read-only box says why and looks unlike the others.
        explained.push_back(!box->toolTip().isEmpty() && box->palette().color(QPalette::Base) !=
                                                              form->dField1(0)->txtValue()->palette().color(QPalette::Base));
      }
      for (const auto& [k, text] : values) form->dField1(k)->SetText(text);
      form->PushButton(button)->click();
      if (d->isVisible() || d->result() != QDialog::Accepted) d->reject();
    };
  }

  QStringList seen;  // the texts the editor showed on opening
  std::vector<bool> readOnly;  // and which of its boxes took no typing
  std::vector<bool> explained;  // and which of them had a tip and another colour
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
  for (int32_t version : {dao::dbVersion30, dao::dbVersion40}) {
    SCOPED_TRACE(version);
    dialogs.boxes.clear();
    openNew(version);
    makeTable("All", everyType());
    form->RefreshTables(1);
    const std::map<int, QString> first = {{1, "True"},       {2, "200"},        {3, "-1234"},
                                          {4, "12.5"},       {5, "0.25"},       {6, "3.14159"},
                                          {7, "2024-02-29 13:45:00"}, {8, "Grüße"}, {9, QString(3000, 'm')}};
    scriptEditor(first);
    form->PushButton_Click(14);
    ASSERT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join("|").toStdString();
    EXPECT_EQ(seen[0], "AutoInc");
    scriptEditor({{1, "False"}, {2, "7"}, {3, "8"}, {4, "9"}, {5, "1"}, {6, "2"}, {7, "2000-01-01"}, {8, "b"}, {9, ""}});
    form->PushButton_Click(14);
    ASSERT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join("|").toStdString();
    ASSERT_EQ(form->GridRowCount(), 2);
    EXPECT_EQ(form->GridSelectedIndex(), 2);  // the added record is the last row

    QStringList row = stored("All", 0);
    EXPECT_EQ(row[0], "1");
    for (const auto& [k, text] : first) EXPECT_EQ(row[k], text) << k;

    // An unchanged save leaves every stored value as it was; the number is never written.
    form->SelectRow(1);
    scriptEditor({});
    form->PushButton_Click(15);
    EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join("|").toStdString();
    EXPECT_EQ(seen[0], "AutoInc");
    EXPECT_EQ(seen[9].size(), 3000);
    EXPECT_EQ(stored("All", 0), row);
    EXPECT_EQ(form->GridSelectedIndex(), 1);

    // Editing one field changes only that field.
    form->SelectRow(1);
    scriptEditor({{8, "Changed"}});
    form->PushButton_Click(15);
    row[8] = "Changed";
    EXPECT_EQ(stored("All", 0), row);

    // Delete the first record after a No.
    form->SelectRow(1);
    dialogs.answers = {ui::Answer::No};
    form->PushButton_Click(16);
    EXPECT_EQ(recordCount("All"), 2);
    dialogs.answers = {ui::Answer::Yes};
    form->PushButton_Click(16);
    EXPECT_EQ(recordCount("All"), 1);
    EXPECT_EQ(stored("All", 0)[8], "b");
    EXPECT_EQ(form->GridSelectedIndex(), 1);
    modDB::CloseDB();
    EXPECT_EQ(checkFile(path), "");
  }
}

TEST_F(RecordTest, ScrollBarFromSevenFieldsAndTextLimits) {
  openNew(dao::dbVersion40);
  std::vector<modDB::FieldDef> six;
  for (int i = 0; i < 6; ++i) six.push_back(def(("F" + std::to_string(i)).c_str(), dao::dbText, 50));
  six[1] = def("Memo", dao::dbMemo, 0);
  six[2] = def("Num", dao::dbLong, 4);
  makeTable("Six", six);
  six.push_back(def("F6", dao::dbText, 5));
  makeTable("Seven", six);
  form->RefreshTables(1);

  modDB::sTable = "Six";
  modTools::lEditMode = 1;
  {
    Form4 form;
    EXPECT_EQ(form.windowTitle(), "Add Record");
    EXPECT_EQ(form.PushButton(1)->text(), "Add");
    ASSERT_EQ(form.RowCount(), 6);
    EXPECT_EQ(form.vBar1()->property("Max").toInt(), -6);
    EXPECT_FALSE(form.vBar1()->isEnabled());
    EXPECT_EQ(form.dField1(0)->MaxLength(), 50);
    EXPECT_EQ(form.dField1(1)->MaxLength(), 0);
    EXPECT_EQ(form.dField1(2)->MaxLength(), 0);
  }
  modDB::sTable = "Seven";
  Form4 form;
  ASSERT_EQ(form.RowCount(), 7);
  EXPECT_EQ(form.vBar1()->property("Max").toInt(), 43);
  EXPECT_TRUE(form.vBar1()->isEnabled());
  form.vBar1()->setValue(20);
  form.dField1(6)->txtValue()->insert("abcdefgh");
  EXPECT_EQ(form.dField1(6)->Text(), "abcde");
  form.PushButton(2)->click();  // Clear All
  EXPECT_EQ(form.vBar1()->value(), 0);
  EXPECT_EQ(form.dField1(6)->Text(), "");
}

// Long memos and OLE values, up to a megabyte, survive an edit of another field untouched.
TEST_F(RecordTest, LongValuesSurviveAnEditOfAnotherField) {
  openCopy("generated/longValuesV2000.mdb");
  form->SelectTab(1);
  ASSERT_EQ(modDB::sTable, "Blobs");
  const int rows = form->GridRowCount();
  ASSERT_GT(rows, 0);
  std::vector<QStringList> before;
  for (int i = 0; i < rows; ++i) before.push_back(stored("Blobs", i));
  // The record with the longest OLE value gets a new memo; its OLE value and every other record
  // stay exactly as they were.
  int chosen = 0;
  for (int i = 0; i < rows; ++i)
    if (before[i][2].size() > before[chosen][2].size()) chosen = i;
  ASSERT_GT(before[chosen][2].size(), 100000);
  form->SelectRow(chosen + 1);
  scriptEditor({{1, "short memo"}});
  form->PushButton_Click(15);
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join("|").left(300).toStdString();
  EXPECT_EQ(seen.value(0), "AutoInc");
  EXPECT_TRUE(seen.value(2) == before[chosen][2]);
  for (int i = 0; i < rows; ++i) {
    QStringList expected = before[i];
    if (i == chosen) expected[1] = "short memo";
    const QStringList now = stored("Blobs", i);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(now.value(k) == expected[k]) << i << "," << k;
  }
  modDB::CloseDB();
  EXPECT_EQ(checkFile(path), "");
}

TEST_F(RecordTest, RefusedSavesKeepTheEditorOpenAndStoreNothing) {
  openNew(dao::dbVersion40);
  makeTable("R", {def("Id", dao::dbLong, 4, dao::dbAutoIncrField), def("Count", dao::dbLong, 4),
                  def("Must", dao::dbLong, 4, 0, true), def("NoEmpty", dao::dbText, 20, 0, false, false)});
  form->RefreshTables(1);

  // Each refusal: the engine's text in the report, the editor still open with what was typed, the
  // refused field selected, nothing stored. Close then ends it.
  struct Case {
    std::map<int, QString> values;
    QString text;
    int field;
  };
  const Case cases[] = {
      {{{1, "abc"}, {2, "1"}, {3, "y"}}, "Data type conversion error.", 1},
      {{{1, "5"}, {3, "y"}}, "cannot contain a Null value", 2},
      {{{1, "5"}, {2, "1"}, {3, ""}}, "cannot be a zero-length string", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    dialogs.boxes.clear();
    bool stayedOpen = false;
    QString kept, selected;
    dialogs.modalHandlers["Form4"] = [&](QDialog* d) {
      auto* form = static_cast<Form4*>(d);
      for (const auto& [k, text] : c.values) form->dField1(k)->SetText(text);
      form->PushButton(1)->click();
      stayedOpen = d->result() != QDialog::Accepted;
      kept = form->dField1(c.field)->Text();
      selected = form->dField1(c.field)->txtValue()->selectedText();
      modTools::lDialogResult = 7;
      form->PushButton(3)->click();
    };
    form->PushButton_Click(14);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(kept, c.values.count(c.field) ? c.values.at(c.field) : QString());
    EXPECT_EQ(selected, kept);
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].title, "Application Error");
    EXPECT_TRUE(dialogs.boxes[0].text.contains(c.text)) << dialogs.boxes[0].text.toStdString();
    EXPECT_TRUE(dialogs.boxes[0].text.contains("Form4.AddRecord at line "));
    EXPECT_EQ(modTools::lDialogResult, 2);  // Close
    EXPECT_EQ(recordCount("R"), 0);
  }
  // An empty number editor means no value.
  dialogs.boxes.clear();
  scriptEditor({{2, "1"}, {3, "y"}});
  form->PushButton_Click(14);
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join("|").toStdString();
  ASSERT_EQ(recordCount("R"), 1);
  EXPECT_EQ(stored("R", 0).mid(1), (QStringList{"<null>", "1", "y"}));
  // The title-bar close box counts as Close.
  dialogs.modalHandlers["Form4"] = [](QDialog* d) {
    static_cast<Form4*>(d)->dField1(2)->SetText("77");
    d->show();
    d->close();
  };
  form->SelectRow(1);
  modTools::lDialogResult = 1;
  form->PushButton_Click(15);
  EXPECT_EQ(modTools::lDialogResult, 2);
  EXPECT_EQ(stored("R", 0)[2], "1");
  // A memo with line breaks, which a one-line box cannot show as they are, survives an edit of
  // another field.
  {
    dao::Recordset rs = modDB::gDB.OpenRecordset("R");
    rs.Edit();
    rs.GetFields().Item(3).SetValue(std::string("line one\r\nline two"));
    rs.Update();
    rs.Close();
  }
  form->SelectTab(1);
  form->SelectRow(1);
  scriptEditor({{1, "9"}});
  form->PushButton_Click(15);
  EXPECT_EQ(stored("R", 0).mid(1), (QStringList{"9", "1", "line one\r\nline two"}));
  modDB::CloseDB();
  EXPECT_EQ(checkFile(path), "");
}

TEST_F(RecordTest, CommandsActOnTheHighlightedRecord) {
  {
  openCopy("testV2000.mdb");
  const int table1 = tabOf("Table1");
  ASSERT_GT(table1, 0);
  // Row 2 of Table1 highlighted, another tab visited, then row 1 of Table1 highlighted again: the
  // edit acts on row 1. An unchanged save of an Access-made record leaves it as it was.
  form->SelectTab(table1);
  ASSERT_GE(form->GridRowCount(), 2);
  form->SelectRow(2);
  form->SelectTab(table1 == 1 ? 2 : 1);
  form->SelectTab(table1);
  form->SelectRow(1);
  const std::string otherName = "Table1";
  const QStringList before = stored(otherName, 0);
  scriptEditor({});
  form->PushButton_Click(15);
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join("|").toStdString();
  EXPECT_EQ(seen.size(), before.size());
  EXPECT_EQ(seen.value(1), form->GridCellText(1, 1));
  EXPECT_EQ(stored(otherName, 0), before);
  modDB::CloseDB();
  EXPECT_EQ(checkFile(path), "");
  }

  // Null values show as empty editors.
  openNew(dao::dbVersion30);
  makeTable("N", {def("A", dao::dbText, 10), def("B", dao::dbLong, 4)});
  {
    dao::Recordset rs = modDB::gDB.OpenRecordset("N");
    for (const char* v : {"c", "a", "b"}) {
      rs.AddNew();
      rs.GetFields().Item(0).SetValue(std::string(v));
      rs.Update();
    }
    rs.Close();
  }
  form->RefreshTables(1);
  ASSERT_EQ(form->GridRowCount(), 3);
  scriptEditor({}, 3);
  form->SelectRow(2);
  form->PushButton_Click(15);
  EXPECT_EQ(seen, (QStringList{"a", ""}));

  // After a header sort, the selected row's record is the one edited and deleted.
  form->LstV_ColumnClick(0);
  form->SelectRow(1);
  const QString shown = form->GridCellText(1, 0);
  scriptEditor({{1, "42"}});
  form->PushButton_Click(15);
  EXPECT_EQ(seen[0], shown);
  int edited = -1;
  for (int i = 0; i < 3; ++i)
    if (stored("N", i)[1] == "42") edited = i;
  ASSERT_GE(edited, 0);
  EXPECT_EQ(stored("N", edited)[0], shown);
  EXPECT_EQ(form->GridSelectedIndex(), edited + 1);  // the grid is rebuilt in stored order

  form->LstV_ColumnClick(0);
  form->SelectRow(1);
  const QString doomed = form->GridCellText(1, 0);
  dialogs.answers = {ui::Answer::Yes};
  form->PushButton_Click(16);
  ASSERT_EQ(recordCount("N"), 2);
  for (int i = 0; i < 2; ++i) EXPECT_NE(stored("N", i)[0], doomed);

  // The double click: nothing after a right-button press; the record at the selected row after a
  // left one.
  form->SelectRow(2);
  form->LstV_MouseDown(2);
  dialogs.modalShown.clear();
  modTools::lDialogResult = 1;
  edit::GridDoubleClick(*form);
  EXPECT_TRUE(dialogs.modalShown.empty());
  EXPECT_EQ(modTools::lDialogResult, 2);
  form->LstV_MouseDown(1);
  scriptEditor({{0, "dbl"}});
  edit::GridDoubleClick(*form);
  EXPECT_EQ(stored("N", 1)[0], "dbl");
  EXPECT_EQ(form->GridSelectedIndex(), 2);
  EXPECT_EQ(modTools::lDialogResult, 2);

  // Deleting every record, the last one included, leaves an empty grid without a selection.
  while (recordCount("N") > 0) {
    form->SelectRow(1);
    dialogs.answers = {ui::Answer::Yes};
    form->PushButton_Click(16);
  }
  EXPECT_EQ(form->GridRowCount(), 0);
  EXPECT_EQ(form->GridSelectedIndex(), 0);
  // Add Record on the empty table still opens the editor.
  dialogs.modalShown.clear();
  scriptEditor({}, 3);
  form->PushButton_Click(14);
  EXPECT_EQ(dialogs.modalShown, std::vector<QString>{"Form4"});
}

TEST_F(RecordTest, GuardsOfTheRecordCommands) {
  openCopy("testV1997.mdb");
  form->SelectTab(tabOf("Table1"));
  ASSERT_GT(form->GridRowCount(), 0);
  ASSERT_EQ(form->GridSelectedIndex(), 0);
  form->PushButton_Click(15);
  form->PushButton_Click(16);
  EXPECT_EQ(dialogs.texts(), QStringList(2, "Please select record."));
  EXPECT_TRUE(dialogs.modalShown.empty());
  // Close on the editor reloads nothing and stores nothing.
  form->SelectRow(1);
  const QStringList before = stored("Table1", 0);
  scriptEditor({{0, "changed"}}, 3);
  form->PushButton_Click(15);
  EXPECT_EQ(modTools::lDialogResult, 2);
  EXPECT_EQ(stored("Table1", 0), before);
}

// Dates, numbers and Yes/No values typed as the user's language writes them are stored as the same
// values as their invariant forms; what the grid then shows can be typed back unchanged.
TEST_F(RecordTest, ValuesTypedInTheUsersLanguageForms) {
  openNew(dao::dbVersion40);
  makeTable("V", {def("When", dao::dbDate, 8), def("Money", dao::dbCurrency, 8), def("Ratio", dao::dbDouble, 8),
                  def("Flag", dao::dbBoolean, 1)});
  form->RefreshTables(1);
  struct Case {
    QLocale locale;
    std::map<int, QString> typed;
    QStringList expected;
  };
  const QLocale us(QLocale::English, QLocale::UnitedStates), de(QLocale::German, QLocale::Germany),
      gb(QLocale::English, QLocale::UnitedKingdom);
  const Case cases[] = {
      {us, {{0, "3/14/1985"}, {1, "1,234.5"}, {2, "0.5"}, {3, "Yes"}}, {"1985-03-14", "1234.5", "0.5", "True"}},
      {us, {{0, "3/14/85 1:45 PM"}, {1, "2"}, {2, "-1.5"}, {3, "off"}}, {"1985-03-14 13:45:00", "2", "-1.5", "False"}},
      {de, {{0, "14.03.1985"}, {1, "12,5"}, {2, "1.234,25"}, {3, "-1"}}, {"1985-03-14", "12.5", "1234.25", "True"}},
      {de, {{0, "14.03.1985 08:05"}, {1, "0,0001"}, {2, "3"}, {3, "0"}}, {"1985-03-14 08:05:00", "0.0001", "3", "False"}},
      {gb, {{0, "5 Mar 2001"}, {1, "7"}, {2, "7"}, {3, "TRUE"}}, {"2001-03-05", "7", "7", "True"}},
      {gb, {{0, "2001-03-05T10:11:12"}, {1, "7"}, {2, "7"}, {3, "on"}}, {"2001-03-05 10:11:12", "7", "7", "True"}},
      {gb, {{0, "10:11"}, {1, "7"}, {2, "7"}, {3, "1"}}, {"10:11:00", "7", "7", "True"}},
  };
  int records = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale.name().toStdString() + " " + c.typed.at(0).toStdString());
    QLocale::setDefault(c.locale);
    dialogs.boxes.clear();
    scriptEditor(c.typed);
    form->PushButton_Click(14);
    EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join("|").toStdString();
    ASSERT_EQ(recordCount("V"), ++records);
    EXPECT_EQ(stored("V", records - 1), c.expected);
    // The grid shows the invariant forms, and typing them back changes nothing.
    const int row = form->GridSelectedIndex();
    ASSERT_EQ(row, records);
    std::map<int, QString> back;
    for (int k = 0; k < 4; ++k) back[k] = form->GridCellText(row, k);
    EXPECT_EQ(QStringList({back[0], back[1], back[2], back[3]}), c.expected);
    scriptEditor(back);
    form->PushButton_Click(15);
    EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join("|").toStdString();
    EXPECT_EQ(stored("V", records - 1), c.expected);
  }
  // A text no form reads is still refused by the engine.
  QLocale::setDefault(us);
  dialogs.boxes.clear();
  dialogs.modalHandlers["Form4"] = [](QDialog* d) {
    auto* form = static_cast<Form4*>(d);
    form->dField1(0)->SetText("14.03.1985");  // not a form of this language
    form->PushButton(1)->click();
    form->PushButton(3)->click();
  };
  form->PushButton_Click(14);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_TRUE(dialogs.boxes[0].text.contains("Data type conversion error.")) << dialogs.boxes[0].text.toStdString();
  EXPECT_EQ(recordCount("V"), records);
  QLocale::setDefault(QLocale::c());
}

// The wheel moves the rows one field per notch wherever it turns over the editor; the scroll bar's
// own steps stay one pixel; tabbing into a field out of view brings it into view.
TEST_F(RecordTest, WheelAndTabScrollTheFieldRows) {
  openNew(dao::dbVersion40);
  std::vector<modDB::FieldDef> many;
  for (int i = 0; i < 12; ++i) many.push_back(def(("F" + std::to_string(i)).c_str(), dao::dbText, 20));
  makeTable("Many", many);
  form->RefreshTables(1);
  modDB::sTable = "Many";
  modTools::lEditMode = 1;
  Form4 form;
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  const int row = form.dField1(1)->y();
  ASSERT_GT(row, 0);
  ASSERT_TRUE(form.vBar1()->isEnabled());
  EXPECT_EQ(form.vBar1()->singleStep(), 1);
  EXPECT_EQ(form.vBar1()->pageStep(), 1);

  auto wheel = [&](QWidget* over, int notches) {
    const QPoint at = over->rect().center();
    QWheelEvent e(at, over->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(over, &e);
  };
  wheel(form.dField1(0)->txtValue(), -1);  // one notch down over a field's box
  EXPECT_EQ(form.vBar1()->value(), row);
  EXPECT_EQ(form.pMover()->y(), -row);
  wheel(form.dField1(2)->lblName(), -2);   // over a caption
  EXPECT_EQ(form.vBar1()->value(), 3 * row);
  wheel(form.vBar1(), 1);                  // over the bar itself
  EXPECT_EQ(form.vBar1()->value(), 2 * row);
  wheel(form.PushButton(2), 5);            // over a button, past the top
  EXPECT_EQ(form.vBar1()->value(), 0);
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
  ASSERT_EQ(modDB::sTable, "Items");
  ASSERT_EQ(form->GridRowCount(), 3);
  // Attachment names and multiple values joined by "; ".
  EXPECT_EQ(form->GridCellText(1, 1), "red; green");
  EXPECT_EQ(form->GridCellText(2, 2), "b.bin; c.txt");
  EXPECT_EQ(form->GridCellText(1, 5), "10; 20");
  EXPECT_EQ(form->GridCellText(3, 1), "");

  form->SelectRow(2);
  scriptEditor({{0, "deux"}});
  form->PushButton_Click(15);
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join("|").toStdString();
  ASSERT_EQ(seen.size(), 6);
  EXPECT_EQ(seen[2], "b.bin; c.txt");
  EXPECT_EQ(seen[4], "n2 again; n2");
  EXPECT_EQ(readOnly, (std::vector<bool>{false, true, true, false, true, true}));
  EXPECT_EQ(explained, readOnly);
  const QStringList row = stored("Items", 1);
  EXPECT_EQ(row[0], "deux");
  EXPECT_EQ(row[1], "blue");
  EXPECT_EQ(row[2], "b.bin; c.txt");

  // Deleting the record takes its attachments with it.
  form->SelectRow(1);
  dialogs.answers = {ui::Answer::Yes};
  form->PushButton_Click(16);
  EXPECT_EQ(recordCount("Items"), 2);
  EXPECT_EQ(recordCount("f_2_files"), 2);
  modDB::CloseDB();
  EXPECT_EQ(checkFile(path), "");
}

}  // namespace
