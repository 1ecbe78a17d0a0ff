// The session commands and browsing, driven through the main window on copies of the test
// databases: open, create, close, tabs, the grid, record counts, sorting, search and table info.
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpression>
#include <QTreeWidget>

#include "gui_test_env.h"
#include "support/complex_fixture.h"

namespace {

using SessionTest = testenv::MainWindowTest;

// Open, tabs, close, a cancelled open and a file that is no database; the guards of an empty
// table; more than 32767 records; the header sort's direction, and a new tab unsorted.
TEST_F(SessionTest, OpenTabsCloseGuardsAndSort) {
  testenv::writeFile(folder.filePath(QStringLiteral("junk.mdb")), QByteArray(8192, 'x'));
  const std::string tables = "tabs=Table1|Table2|Table3|Table4", addTable = "boxes=Please add a table to a database.";
  run({{"open testV2000.mdb", tables + "; open=1; db={dir}/testV2000.mdb; tab=1; table=Table1; status={dir}/testV2000.mdb; "
                              "cols=A|B|C|D|E|F|G|H|I; rows=2; col 0=abcdefg|a; cell 1 2=2"},
       {"tab 3", "table=Table3; cols=a|b; rows=0; status=Records: 0; tab=3"},
       {"click 3", "open=0; tabs=; rows=0; cols=; status=Ready"},
       {"open testV1997.mdb", tables + "; rows=2"},
       {"click 2", tables + "; open=1; db={dir}/testV1997.mdb"},  // no file answered: cancelled
       {"open {dir}/junk.mdb", "boxes=Cannot open database.; open=0; tabs=; rows=0; status=Ready"},
       {"open testPromotionV2000.mdb", "tabs=jobDB1; ncols=10; rows=0"}, {"tabclick", "status=Records: 0"},
       {"click 6", addTable}, {"click 7", addTable}, {"click 8", addTable}, {"click 9", addTable},
       {"click 10", addTable}, {"click 15", addTable}, {"click 16", addTable},
       {"click 13", "shown=Form5"},  // Table Information needs tabs only
       {"open generated/big200kV2000.mdb", "tabs=Big; rows=200000; rec 200000=199999; cell 200000 0=200000"},
       {"tabclick", "status=Records: -1"},
       {"open indexTestV2000.mdb", "rows=4"},
       {"sort 0", "col 0=3|2|1|0"},  // descending first
       {"sort 0", "col 0=0|1|2|3"},
       {"sort 3", "cell 1 3=baz13; rec 1=3"},  // another column: descending again
       {"tab 2", ""},
       {"tab 1", "col 0=0|1|2|3"}});
}

TEST_F(SessionTest, NewDatabaseCreatesAndReplacesOnlyAfterYes) {
  const std::string replace = " already exists.\r\nDo you want to replace it?";
  run({{"create {dir}/fresh.mdb", "open=1; tabs=; status={dir}/fresh.mdb"},
       {"open testV2000.mdb", "tabs=Table1|Table2|Table3|Table4"}});
  QFile fresh(folder.filePath(QStringLiteral("fresh.mdb")));
  ASSERT_TRUE(fresh.open(QIODevice::ReadOnly));
  const QByteArray before = fresh.readAll();
  // Over another file, No leaves the open database alone; over the open file, Yes replaces it with
  // a new, empty database that opens again.
  run({{"no create {dir}/fresh.mdb", "boxes={dir}/fresh.mdb" + replace + "; db={dir}/testV2000.mdb; tabs=Table1|Table2|Table3|Table4"}});
  EXPECT_EQ(dialogs.boxes.at(0).buttons, shell::Buttons::YesNo);
  fresh.seek(0);
  EXPECT_EQ(fresh.readAll(), before);
  run({{"yes create {dir}/testV2000.mdb", "boxes={dir}/testV2000.mdb" + replace + "; open=1; tabs=; rows=0; status={dir}/testV2000.mdb"},
       {"click 3", "open=0"},
       {"open {dir}/testV2000.mdb", "open=1; tabs="}});
}

// A table made for the tests below: names with accents and case, memos with line breaks and a NUL,
// a date, an amount and a Yes/No value.
QString peopleFile(const QString& folder) {
  return testenv::fileWith(folder + "/people.mdb", "People",
                           {{"Name", dao::dbText, 20, 0, false, true}, {"Notes", dao::dbMemo, 0, 0, false, true},
                            {"When", dao::dbDate, 8}, {"Amount", dao::dbCurrency, 8}, {"Flag", dao::dbBoolean, 1}},
                           {{"Zoe", "one", "1985-03-14", "12.5", "True"},
                            {"\xc3\x85sa", "first line\r\nsecond line\nthird", "2001-03-05", "1234.25", "False"},
                            {"anna", "", "2001-03-05 13:45:00", "0.5", "False"},
                            {"Bert", "x\ry", "1999-12-31", "7", "True"},
                            {"10", std::string("x\0y", 3), "2000-01-01", "1", "False"},
                            {"9", "", "2000-01-02", "2", "False"}});
}

// Cells with line breaks stay one line tall, the record keeping its breaks (the tip and the record
// editor show them). Dates, amounts and Yes/No values are found however the user's language writes
// them (and kept as typed); texts stay exact. A header click sorts in the user's collation: numbers
// are texts, the accented letter sorts beside its base letter, whatever the case.
TEST_F(SessionTest, LineBreaksTypedSearchAndCollation) {
  open(peopleFile(folder.path()));
  form->show();
  ASSERT_EQ(form->GridRowCount(), 6);
  const QAbstractItemModel* model = form->LstV()->model();
  EXPECT_EQ(model->index(1, 1).data().toString(), QStringLiteral("first line\u23CEsecond line\u23CEthird"));
  EXPECT_EQ(model->index(3, 1).data().toString(), QStringLiteral("x\u23CEy"));
  EXPECT_EQ(form->GridCellText(2, 1), QStringLiteral("first line\r\nsecond line\nthird"));
  EXPECT_EQ(form->GridCellText(5, 1), QStringLiteral("x"));  // a cell ends at a NUL
  EXPECT_EQ(model->index(1, 1).data(Qt::ToolTipRole).toString(), form->GridCellText(2, 1));
  const int plain = form->LstV()->visualRect(model->index(0, 1)).height();
  EXPECT_LT(plain, 2 * form->LstV()->fontMetrics().height());
  for (int row = 0; row < 6; ++row) EXPECT_EQ(form->LstV()->visualRect(model->index(row, 1)).height(), plain) << row;
  // (Each language's forms: the record editor's tests, which read typed values the same way.)
  const Step steps[] = {
      {"in en_US find 2 3/14/1985", "sel=1"},         {"in de_DE find 2 14.03.1985", "sel=1"},
      {"in en_GB find 2 5 Mar 2001", "sel=2"},        {"in en_US find 2 3/5/2001 1:45 PM", "sel=3"},
      {"in de_DE find 3 1.234,25", "sel=2; search=1.234,25"}, {"in en_US find 3 12.50", "sel=1"},
      {"in en_US find 4 yes", "sel=1"},               {"in en_US find 4 off", "sel=2"},
      {"in en_US find 0 zoe", "sel=6"}};
  for (const Step& step : steps) run({{"row 6", ""}, step});
  run({{"in en_US sort 0", "col 0=Zoe|Bert|\u00c5sa|anna|9|10"},  // descending first
       {"sort 0", "col 0=10|9|anna|\u00c5sa|Bert|Zoe"}});
  QLocale::setDefault(QLocale::c());
}

// Exact texts only: case, spaces and parts matter; the selection stays where nothing is found. The
// first match is the first in the displayed order.
TEST_F(SessionTest, FindsExactTextsInDisplayedOrder) {
  open(copyTestDatabase(QStringLiteral("testV2000.mdb")));
  const Step steps[] = {{"find 0 a", "sel=2; pos=1; search=a; field=0"},  // not the "abcdefg" above it
                        {"find 0 A", "sel=1; pos=0; search=A"},           {"find 0  a", "sel=1; pos=0; search= a"},
                        {"find 0 abcdef", "sel=1; pos=0"},                {"find 1 hijklmnop", "sel=1; field=1"},
                        {"find 3 222", "sel=1; pos=0; field=3"},          {"find 3 0", "sel=2; pos=1; search=0"}};
  for (const Step& step : steps) run({{"row 1", ""}, step});
  run({{"open indexTestV2000.mdb", ""},  // otherfk1: 0 1 1 2
       {"find 1 1", "sel=2; rec 2=1"},
       {"sort 0", "col 0=3|2|1|0"},
       {"find 1 1", "sel=2; cell 2 0=2; rec 2=2"}});
}

TEST_F(SessionTest, BlankValueKeepsTheWindowOpenAndCancelOrEnter) {
  open(copyTestDatabase(QStringLiteral("testV2000.mdb")));
  form->SelectRow(1);
  modTools::sSearchText = "a";
  modTools::iSearchField = 0;
  bool stillOpen = false;
  dialogs.modalHandlers[QStringLiteral("Form6")] = [&](QDialog* d) {
    auto* form6 = static_cast<browse::Form6*>(d);
    EXPECT_EQ(form6->cboField()->count(), 9);
    EXPECT_EQ(form6->cboField()->currentIndex(), 0);
    EXPECT_TRUE(form6->txtValue()->text().isEmpty());
    form6->txtValue()->setText(QStringLiteral("   "));
    form6->findChild<QPushButton*>(QStringLiteral("PushButton1"))->click();
    stillOpen = form6->result() == 0 && modTools::sSearchText == "a";
    form6->findChild<QPushButton*>(QStringLiteral("PushButton2"))->click();
  };
  run({{"click 6", "search=a; sel=1; result=2"}});
  EXPECT_TRUE(stillOpen);
  // Closing the window from its title bar counts as Cancel too.
  dialogs.modalHandlers.clear();
  modTools::lDialogResult = 1;
  run({{"click 6", "sel=1; result=2"}});
  // Enter in the value box accepts.
  dialogs.modalHandlers[QStringLiteral("Form6")] = [&](QDialog* d) {
    auto* form6 = static_cast<browse::Form6*>(d);
    form6->txtValue()->setText(QStringLiteral("a"));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(form6->txtValue(), &enter);
  };
  run({{"click 6", "sel=2; result=1"}});
}

using TableInfoTest = testenv::MainWindowTest;

// Each field's type name and size as the window lists them ("-": no type name of ours, as for
// replication ID, OLE object, Decimal; "*" stands for anything), and the engine's own attribute
// number, undecoded.
TEST_F(TableInfoTest, TypeNamesSizesAndAttributes) {
  const QString newer = copyTestDatabase(QStringLiteral("ace/empty2019.accdb"));
  jet::Database::open(newer.toStdString())
      ->createTable({"Newer", {{"N", jet::ColumnType::BigInt}, {"D", jet::ColumnType::DateTimeExtended}}, {}});
  const QString complex = folder.filePath(QStringLiteral("complex.mdb"));
  complexfixture::build(complex.toStdString());
  const QString common = "A Text 50|B Text 100|C Byte 1|D Integer 2|E Long 4|F Double 8|G Date 8|H Currency 8|I Boolean 1";
  const struct {
    QString file, table, fields;
  } cases[] = {
      {copyTestDatabase("testV2000.mdb"), "Table1", common},
      {copyTestDatabase("testV1997.mdb"), "Table1", common},
      {copyTestDatabase("testV1997.mdb"), "Table4", "*|* - 16"},
      {copyTestDatabase("generated/longValuesV2000.mdb"), "Blobs", "*|* Memo 0|* - 0"},
      {copyTestDatabase("fixedNumericTestV2000.mdb"), "test", "* Memo 0|* - *|* - *|* - *|* - *|* - *|* - *"},
      {newer, "Newer", "N Large Number 8|D Date/Time Extended *"},
      {complex, "Items", "*|* Multi-valued Text *|* Attachment *|*|*|* Multi-valued Long *"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE((c.file + " " + c.table).toStdString());
    open(c.file);
    form->sTab1()->setCurrentIndex(tabs().indexOf(c.table));
    dao::Fields fields = modDB::gDB.GetTableDefs().Item(c.table.toStdString()).GetFields();
    QStringList rows, attributes;
    dialogs.modalHandlers[QStringLiteral("Form5")] = [&](QDialog* d) {
      auto* form5 = static_cast<browse::Form5*>(d);
      rows << form5->lblTitle()->text();
      for (int i = 0; i < form5->LstInfo()->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* it = form5->LstInfo()->topLevelItem(i);
        rows << it->text(0) + " " + (it->text(1).isEmpty() ? "-" : it->text(1)) + " " + it->text(2);
        attributes << it->text(3) + "=" + QString::number(fields.Item(i).Attributes());
      }
      form5->findChild<QPushButton*>(QStringLiteral("PushButton1"))->click();
    };
    click(13);
    const QStringList expected = QStringList("Table Name: " + c.table) + c.fields.split('|');
    ASSERT_EQ(rows.size(), expected.size()) << rows.join('|').toStdString();
    for (int i = 0; i < rows.size(); ++i) {
      const QRegularExpression pattern("^" + QRegularExpression::escape(expected[i]).replace("\\*", ".*") + "$");
      EXPECT_TRUE(pattern.match(rows[i]).hasMatch()) << rows[i].toStdString() << " is not " << expected[i].toStdString();
    }
    for (const QString& a : attributes) EXPECT_EQ(a.section('=', 0, 0), a.section('=', 1)) << rows.join('|').toStdString();
  }
}

TEST_F(TableInfoTest, VanishedTableIsReportedAndTheWindowStillOpens) {
  open(copyTestDatabase(QStringLiteral("testV2000.mdb")));
  modDB::sTable = "NoSuchTable";
  bool shown = false;
  dialogs.modalHandlers[QStringLiteral("Form5")] = [&](QDialog* d) {
    shown = true;
    EXPECT_EQ(static_cast<browse::Form5*>(d)->LstInfo()->topLevelItemCount(), 0);
    d->reject();
  };
  click(13);
  EXPECT_TRUE(shown);
  ASSERT_FALSE(dialogs.boxes.empty());
  for (const auto& box : dialogs.boxes) {
    EXPECT_EQ(box.title, QStringLiteral("Application Error"));
    EXPECT_TRUE(box.text.contains(QStringLiteral("in Ledgerwick2021/08/31.Form5.Form_Load at line ")));
  }
}

}  // namespace
