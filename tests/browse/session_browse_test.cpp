// The session commands and browsing, driven through the main window on copies of the test
// databases: open, create, close, tabs, the grid, record counts, sorting, search and table info.
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTreeWidget>
#include <QtTest/QTest>

#include "app/form1.h"
#include "browse/forms.h"
#include "browse/record_grid.h"
#include "db/session.h"
#include "gui_test_env.h"
#include "jet/database.h"
#include "support/complex_fixture.h"

namespace {

class SessionTest : public testenv::MainWindowTest {
 protected:
  QStringList headers() const { return form->LstV()->records()->headers(); }
  void clickTab(int n) { form->sTab1()->setCurrentIndex(n - 1); }  // as the user does
};

TEST_F(SessionTest, OpenListsUserTablesAndTheFirstTable) {
  QString file = copyTestDatabase(QStringLiteral("testV2000.mdb"));
  open(file);
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join(QChar('|')).toStdString();
  EXPECT_TRUE(modDB::bDBOpen);
  EXPECT_EQ(modDB::sDBPath, file.toStdString());
  EXPECT_EQ(tabs(), (QStringList{"Table1", "Table2", "Table3", "Table4"}));
  EXPECT_EQ(form->TabIndex(), 1);
  EXPECT_EQ(modDB::sTable, "Table1");
  EXPECT_EQ(status(), file);  // the path replaces the count shown by the tab click
  EXPECT_EQ(headers(), (QStringList{"A", "B", "C", "D", "E", "F", "G", "H", "I"}));
  ASSERT_EQ(form->GridRowCount(), 2);
  EXPECT_EQ(form->GridCellText(1, 0), QStringLiteral("abcdefg"));
  EXPECT_EQ(form->GridCellText(1, 2), QStringLiteral("2"));
  EXPECT_EQ(form->GridCellText(2, 0), QStringLiteral("a"));

  clickTab(3);
  EXPECT_EQ(modDB::sTable, "Table3");
  EXPECT_EQ(headers(), (QStringList{"a", "b"}));
  EXPECT_EQ(form->GridRowCount(), 0);
  EXPECT_EQ(status(), QStringLiteral("Records: 0"));
  EXPECT_EQ(form->TabIndex(), 3);

  // Closing empties everything.
  click(3);
  EXPECT_FALSE(modDB::bDBOpen);
  EXPECT_EQ(form->TabCount(), 0);
  EXPECT_EQ(form->GridRowCount(), 0);
  EXPECT_TRUE(headers().isEmpty());
  EXPECT_EQ(status(), QStringLiteral("Ready"));
}

TEST_F(SessionTest, OlderFormatOpensTooAndACancelledOpenKeepsIt) {
  QString file = copyTestDatabase(QStringLiteral("testV1997.mdb"));
  open(file);
  EXPECT_EQ(tabs(), (QStringList{"Table1", "Table2", "Table3", "Table4"}));
  EXPECT_EQ(form->GridRowCount(), 2);
  click(2);  // no answer queued: cancelled
  EXPECT_TRUE(modDB::bDBOpen);
  EXPECT_EQ(modDB::sDBPath, file.toStdString());
  EXPECT_EQ(form->TabCount(), 4);
}

TEST_F(SessionTest, NonDatabaseFileLeavesTheWindowEmpty) {
  open(copyTestDatabase(QStringLiteral("testV2000.mdb")));
  QString junk = folder.filePath(QStringLiteral("junk.mdb"));
  QFile f(junk);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QByteArray(8192, 'x'));
  f.close();
  open(junk);
  EXPECT_EQ(dialogs.texts(), QStringList{"Cannot open database."});
  EXPECT_FALSE(modDB::bDBOpen);
  EXPECT_EQ(form->TabCount(), 0);
  EXPECT_EQ(form->GridRowCount(), 0);
  EXPECT_EQ(status(), QStringLiteral("Ready"));
}

TEST_F(SessionTest, SystemOnlyDatabasesOpenWithoutTabs) {
  for (const char* name : {"emptyJet4.mdb", "adox_jet4.mdb", "empty.mdb"}) {
    QString file = copyTestDatabase(QString::fromLatin1(name));
    open(file);
    EXPECT_TRUE(modDB::bDBOpen) << name;
    EXPECT_EQ(form->TabCount(), 0) << name;
    EXPECT_EQ(status(), file) << name;
    // Table commands need tabs, New Table only an open database (its window comes separately).
    dialogs.boxes.clear();
    click(13);
    click(14);
    EXPECT_EQ(dialogs.texts(), (QStringList{"Please add a table to a database.", "Please add a table to a database."}));
  }
  EXPECT_TRUE(dialogs.modalShown.empty());
}

TEST_F(SessionTest, NewDatabaseCreatesAndReplacesOnlyAfterYes) {
  QString file = folder.filePath(QStringLiteral("fresh.mdb"));
  dialogs.fileAnswers.push_back({file, 1, QString()});
  click(1);
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join(QChar('|')).toStdString();
  EXPECT_TRUE(QFileInfo::exists(file));
  EXPECT_TRUE(modDB::bDBOpen);
  EXPECT_EQ(form->TabCount(), 0);
  EXPECT_EQ(status(), file);

  // Over an existing file, No leaves the open database alone.
  QString other = copyTestDatabase(QStringLiteral("testV2000.mdb"));
  open(other);
  QByteArray before;
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    before = f.readAll();
  }
  dialogs.fileAnswers.push_back({file, 1, QString()});
  dialogs.answers.push_back(ui::Answer::No);
  click(1);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, file + QStringLiteral(" already exists.\r\nDo you want to replace it?"));
  EXPECT_EQ(dialogs.boxes[0].buttons, ui::Buttons::YesNo);
  EXPECT_EQ(modDB::sDBPath, other.toStdString());
  EXPECT_EQ(form->TabCount(), 4);
  QFile again(file);
  ASSERT_TRUE(again.open(QIODevice::ReadOnly));
  EXPECT_EQ(again.readAll(), before);
}

TEST_F(SessionTest, NewDatabaseOverTheOpenFileReplacesIt) {
  QString file = copyTestDatabase(QStringLiteral("testV2000.mdb"));
  open(file);
  ASSERT_EQ(form->TabCount(), 4);
  dialogs.fileAnswers.push_back({file, 1, QString()});
  dialogs.answers.push_back(ui::Answer::Yes);
  click(1);
  EXPECT_EQ(dialogs.boxes.size(), 1u);  // only the question
  EXPECT_TRUE(modDB::bDBOpen);
  EXPECT_EQ(form->TabCount(), 0);
  EXPECT_EQ(form->GridRowCount(), 0);
  EXPECT_EQ(status(), file);
  // The replacement is a new, empty database that opens again.
  click(3);
  open(file);
  EXPECT_TRUE(modDB::bDBOpen);
  EXPECT_EQ(form->TabCount(), 0);
}

TEST_F(SessionTest, SampleOpensInPlace) {
  ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("Samples")));
  QString sample = copyTestDatabase(QStringLiteral("indexTestV2000.mdb"), QStringLiteral("Samples/Sample.mdb"));
  click(17);
  ASSERT_EQ(dialogs.boxes.size(), 1u);  // only the question about the folder
  EXPECT_TRUE(modDB::bDBOpen);
  EXPECT_EQ(modDB::sDBPath, sample.toStdString());
  EXPECT_EQ(tabs(), (QStringList{"Table1", "Table2", "Table3"}));
  EXPECT_EQ(status(), sample);
  EXPECT_TRUE(dialogs.opened.empty());  // answered No
}

TEST_F(SessionTest, EmptyTableGuards) {
  open(copyTestDatabase(QStringLiteral("testPromotionV2000.mdb")));
  ASSERT_EQ(tabs(), QStringList{"jobDB1"});
  EXPECT_EQ(headers().size(), 10);
  EXPECT_EQ(form->GridRowCount(), 0);
  clickTab(1);
  form->sTab1_Click();
  EXPECT_EQ(status(), QStringLiteral("Records: 0"));
  dialogs.boxes.clear();
  for (int number : {6, 7, 8, 9, 10, 15, 16}) click(number);
  EXPECT_EQ(dialogs.texts(), QStringList(7, QStringLiteral("Please add a table to a database.")));
  dialogs.boxes.clear();
  click(13);  // Table Information needs tabs only
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_EQ(dialogs.modalShown, std::vector<QString>{QStringLiteral("Form5")});
}

TEST_F(SessionTest, MoreThan32767RecordsAreAllListedAndCountAsMinusOne) {
  QString file = copyTestDatabase(QStringLiteral("generated/big200kV2000.mdb"));
  open(file);
  ASSERT_EQ(tabs(), QStringList{"Big"});
  EXPECT_EQ(form->GridRowCount(), 200000);
  form->sTab1_Click();
  EXPECT_EQ(status(), QStringLiteral("Records: -1"));
  EXPECT_EQ(form->RecordPositionOfRow(200000), 199999);
  EXPECT_EQ(form->GridCellText(200000, 0), QStringLiteral("200000"));
}

TEST_F(SessionTest, SortDirectionFlipsAndANewTabIsUnsorted) {
  open(copyTestDatabase(QStringLiteral("indexTestV2000.mdb")));
  ASSERT_EQ(form->GridRowCount(), 4);
  auto firstColumn = [&] {
    QStringList list;
    for (int i = 1; i <= form->GridRowCount(); ++i) list << form->GridCellText(i, 0);
    return list;
  };
  form->LstV()->header()->sectionClicked(0);
  EXPECT_EQ(firstColumn(), (QStringList{"3", "2", "1", "0"}));
  form->LstV()->header()->sectionClicked(0);
  EXPECT_EQ(firstColumn(), (QStringList{"0", "1", "2", "3"}));
  form->LstV()->header()->sectionClicked(3);  // data, descending again
  EXPECT_EQ(form->GridCellText(1, 3), QStringLiteral("baz13"));
  EXPECT_EQ(form->RecordPositionOfRow(1), 3);
  clickTab(2);
  clickTab(1);
  EXPECT_EQ(firstColumn(), (QStringList{"0", "1", "2", "3"}));
}

// A table made for the tests below: names with accents and case, a memo with line breaks, a date, an
// amount and a Yes/No value.
QString peopleFile(const QString& folder) {
  const QString path = folder + QStringLiteral("/people.mdb");
  EXPECT_EQ(modDB::CreateDB(path.toStdString(), dao::dbVersion40), 1);
  EXPECT_TRUE(modDB::OpenDB(path.toStdString()));
  testenv::makeTable("People", {{"Name", dao::dbText, 20, 0, false, true},
                                {"Notes", dao::dbMemo, 0, 0, false, true},
                                {"When", dao::dbDate, 8, 0, false, false},
                                {"Amount", dao::dbCurrency, 8, 0, false, false},
                                {"Flag", dao::dbBoolean, 1, 0, false, false}});
  dao::Recordset rs = modDB::gDB.OpenRecordset("People");
  const char* rows[][5] = {{"Zoe", "one", "1985-03-14", "12.5", "True"},
                           {"\xc3\x85sa", "first line\r\nsecond line\nthird", "2001-03-05", "1234.25", "False"},
                           {"anna", "", "2001-03-05 13:45:00", "0.5", "False"},
                           {"Bert", "x\ry", "1999-12-31", "7", "True"},
                           {"10", "", "2000-01-01", "1", "False"},
                           {"9", "", "2000-01-02", "2", "False"}};
  for (const auto& row : rows) {
    rs.AddNew();
    for (int k = 0; k < 5; ++k)
      if (*row[k]) rs.GetFields().Item(k).SetValue(std::string(row[k]));
    rs.Update();
  }
  rs.Close();
  modDB::CloseDB();
  return path;
}

TEST_F(SessionTest, CellsWithLineBreaksStayOneLineTall) {
  open(peopleFile(folder.path()));
  form->show();
  ASSERT_EQ(form->GridRowCount(), 6);
  const QAbstractItemModel* model = form->LstV()->model();
  EXPECT_EQ(model->index(1, 1).data().toString(), QStringLiteral("first line\u23CEsecond line\u23CEthird"));
  EXPECT_EQ(model->index(3, 1).data().toString(), QStringLiteral("x\u23CEy"));
  // The record itself keeps its line breaks (the tip and the record editor show them).
  EXPECT_EQ(form->GridCellText(2, 1), QStringLiteral("first line\r\nsecond line\nthird"));
  EXPECT_EQ(model->index(1, 1).data(Qt::ToolTipRole).toString(), form->GridCellText(2, 1));
  const int plain = form->LstV()->visualRect(model->index(0, 1)).height();
  EXPECT_LT(plain, 2 * form->LstV()->fontMetrics().height());
  for (int row = 0; row < 6; ++row) EXPECT_EQ(form->LstV()->visualRect(model->index(row, 1)).height(), plain) << row;
}

TEST_F(SessionTest, HeaderClickSortsInTheUsersCollation) {
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  open(peopleFile(folder.path()));
  form->show();
  QHeaderView* header = form->LstV()->header();
  auto names = [&] {
    QStringList list;
    for (int i = 1; i <= form->GridRowCount(); ++i) list << form->GridCellText(i, 0);
    return list;
  };
  const QString aring = QString::fromUtf8("\xc3\x85sa");
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(0) + 5, 5));
  EXPECT_EQ(names(), (QStringList{"Zoe", "Bert", aring, "anna", "9", "10"}));  // descending first
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(0) + 5, 5));
  // Numbers are texts; the accented letter sorts beside its base letter, whatever the case.
  EXPECT_EQ(names(), (QStringList{"10", "9", "anna", aring, "Bert", "Zoe"}));
  QLocale::setDefault(QLocale::c());
}

class SearchTest : public SessionTest {
 protected:
  // Answers the Find window: chooses a field, types a value, presses OK (or Cancel).
  void answerFind(int field, const QString& value, bool ok = true) {
    dialogs.modalHandlers[QStringLiteral("Form6")] = [=](QDialog* d) {
      auto* form6 = static_cast<browse::Form6*>(d);
      form6->cboField()->setCurrentIndex(field);
      form6->txtValue()->setText(value);
      form6->findChild<QPushButton*>(ok ? QStringLiteral("PushButton1") : QStringLiteral("PushButton2"))->click();
    };
  }
};

TEST_F(SearchTest, FindsExactTextsOnly) {
  open(copyTestDatabase(QStringLiteral("testV2000.mdb")));
  form->SelectRow(1);
  struct Case {
    int field;
    QString value;
    int expectRow;
  } cases[] = {
      {0, "a", 2},           // not the "abcdefg" above it
      {0, "A", 1},           // case matters: nothing found, selection stays
      {0, " a", 1},          // a leading space is part of the value
      {0, "abcdef", 1},      // no partial match
      {1, "hijklmnop", 1},   // sub-item column
      {3, "222", 1},
      {3, "0", 2},
  };
  for (const Case& c : cases) {
    form->SelectRow(1);
    answerFind(c.field, c.value);
    click(6);
    EXPECT_EQ(form->GridSelectedIndex(), c.expectRow) << c.value.toStdString();
    EXPECT_EQ(modDB::iRecPos, c.expectRow - 1) << c.value.toStdString();
    EXPECT_EQ(modTools::sSearchText, c.value.toStdString());
    EXPECT_EQ(modTools::iSearchField, c.field);
  }
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join(QChar('|')).toStdString();
}

// Dates, amounts and Yes/No values are found however the user's language writes them; texts stay
// exact.
TEST_F(SearchTest, TypedValuesMatchAsTheGridShowsThem) {
  open(peopleFile(folder.path()));
  struct Case {
    QLocale locale;
    int field;
    QString value;
    int expectRow;
  };
  const QLocale us(QLocale::English, QLocale::UnitedStates), de(QLocale::German, QLocale::Germany),
      gb(QLocale::English, QLocale::UnitedKingdom);
  const Case cases[] = {
      {us, 2, "3/14/1985", 1},          {de, 2, "14.03.1985", 1},    {gb, 2, "5 Mar 2001", 2},
      {us, 2, "1985-03-14", 1},         {us, 2, "3/5/2001 1:45 PM", 3}, {gb, 2, "2001-03-05T13:45:00", 3},
      {de, 3, "1234,25", 2},            {de, 3, "1.234,25", 2},      {us, 3, "12.50", 1},
      {us, 4, "yes", 1},                {us, 4, "off", 2},           {us, 4, "-1", 1},
      {us, 0, "zoe", 6},                {us, 3, "1234.25", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale.name().toStdString() + " " + c.value.toStdString());
    QLocale::setDefault(c.locale);
    form->SelectRow(6);
    answerFind(c.field, c.value);
    click(6);
    EXPECT_EQ(form->GridSelectedIndex(), c.expectRow);
    EXPECT_EQ(modTools::sSearchText, c.value.toStdString());  // kept as typed
  }
  QLocale::setDefault(QLocale::c());
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join(QChar('|')).toStdString();
}

TEST_F(SearchTest, FirstMatchInDisplayedOrder) {
  open(copyTestDatabase(QStringLiteral("indexTestV2000.mdb")));  // otherfk1: 0 1 1 2
  answerFind(1, "1");
  click(6);
  EXPECT_EQ(form->GridSelectedIndex(), 2);
  EXPECT_EQ(form->RecordPositionOfRow(2), 1);
  form->LstV()->header()->sectionClicked(0);  // ids descending: 3 2 1 0
  answerFind(1, "1");
  click(6);
  EXPECT_EQ(form->GridSelectedIndex(), 2);
  EXPECT_EQ(form->GridCellText(2, 0), QStringLiteral("2"));
  EXPECT_EQ(form->RecordPositionOfRow(2), 2);
}

TEST_F(SearchTest, BlankValueKeepsTheWindowOpenAndCancelSearchesNothing) {
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
  click(6);
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(modTools::lDialogResult, 2);
  EXPECT_EQ(modTools::sSearchText, "a");
  EXPECT_EQ(form->GridSelectedIndex(), 1);

  // Closing the window from its title bar counts as Cancel too.
  dialogs.modalHandlers.clear();
  form->SelectRow(1);
  click(6);
  EXPECT_EQ(modTools::lDialogResult, 2);
  EXPECT_EQ(form->GridSelectedIndex(), 1);
}

TEST_F(SearchTest, EnterInTheValueBoxAccepts) {
  open(copyTestDatabase(QStringLiteral("testV2000.mdb")));
  form->SelectRow(1);
  dialogs.modalHandlers[QStringLiteral("Form6")] = [&](QDialog* d) {
    auto* form6 = static_cast<browse::Form6*>(d);
    form6->txtValue()->setText(QStringLiteral("a"));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(form6->txtValue(), &enter);
  };
  click(6);
  EXPECT_EQ(modTools::lDialogResult, 1);
  EXPECT_EQ(form->GridSelectedIndex(), 2);
}

class TableInfoTest : public SessionTest {
 protected:
  struct Row {
    QString name, type, size, attributes;
  };
  std::vector<Row> info(const QString& table) {
    for (int i = 0; i < form->sTab1()->count(); ++i)
      if (form->sTab1()->tabText(i) == table) clickTab(i + 1);
    std::vector<Row> rows;
    QString title;
    dialogs.modalHandlers[QStringLiteral("Form5")] = [&](QDialog* d) {
      auto* form5 = static_cast<browse::Form5*>(d);
      title = form5->lblTitle()->text();
      QTreeWidget* list = form5->LstInfo();
      for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* it = list->topLevelItem(i);
        rows.push_back({it->text(0), it->text(1), it->text(2), it->text(3)});
      }
      form5->findChild<QPushButton*>(QStringLiteral("PushButton1"))->click();
    };
    click(13);
    EXPECT_EQ(title, QStringLiteral("Table Name: ") + table);
    return rows;
  }
  // The attributes shown are the engine's own number for the field, undecoded.
  void expectEngineAttributes(const QString& table, const std::vector<Row>& rows) {
    dao::Fields fields = modDB::gDB.GetTableDefs().Item(table.toStdString()).GetFields();
    ASSERT_EQ(fields.Count(), static_cast<int>(rows.size()));
    for (int i = 0; i < fields.Count(); ++i)
      EXPECT_EQ(rows[i].attributes, QString::number(fields.Item(i).Attributes())) << rows[i].name.toStdString();
  }
};

// Each field's type name and size as the window lists them ("" where the type has no name of
// ours: replication ID, OLE object, Decimal), and the engine's own attribute number.
TEST_F(TableInfoTest, TypeNamesSizesAndAttributes) {
  const QString newer = copyTestDatabase(QStringLiteral("ace/empty2019.accdb"));
  {
    auto db = jet::Database::open(newer.toStdString());
    db->createTable({"Newer", {{"N", jet::ColumnType::BigInt}, {"D", jet::ColumnType::DateTimeExtended}}, {}});
  }
  const QString complex = QFileInfo(newer).dir().filePath(QStringLiteral("complex.mdb"));
  complexfixture::build(complex.toStdString());
  const QString common = "A Text 50|B Text 100|C Byte 1|D Integer 2|E Long 4|F Double 8|G Date 8|H Currency 8|I Boolean 1";
  struct Case {
    QString file, table, fields;  // "name type size" per field; "-": no type name; "*": not compared
  };
  const Case cases[] = {
      {copyTestDatabase("testV2000.mdb"), "Table1", common},
      {copyTestDatabase("testV1997.mdb"), "Table1", common},
      {copyTestDatabase("testV1997.mdb"), "Table4", "* * *|* - 16"},
      {copyTestDatabase("generated/longValuesV2000.mdb"), "Blobs", "* * *|* Memo 0|* - 0"},
      {copyTestDatabase("fixedNumericTestV2000.mdb"), "test", "* Memo 0|* - *|* - *|* - *|* - *|* - *|* - *"},
      {newer, "Newer", "N Large Number 8|D Date/Time Extended *"},
      {complex, "Items", "* * *|* Multi-valued Text *|* Attachment *|* * *|* * *|* Multi-valued Long *"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.file + " " + c.table).toStdString());
    open(c.file);
    const std::vector<Row> rows = info(c.table);
    const QStringList fields = c.fields.split(QChar('|'));
    ASSERT_EQ(rows.size(), size_t(fields.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
      // Name first, size last, the type name (which may have spaces) between them.
      QStringList parts = fields[int(i)].split(QChar(' '));
      const QString name = parts.takeFirst(), size = parts.takeLast(), type = parts.join(QChar(' '));
      if (name != "*") EXPECT_EQ(rows[i].name, name);
      if (type != "*") EXPECT_EQ(rows[i].type, type == "-" ? QString() : type) << rows[i].name.toStdString();
      if (size != "*") EXPECT_EQ(rows[i].size, size) << rows[i].name.toStdString();
    }
    expectEngineAttributes(c.table, rows);
  }
}

TEST_F(TableInfoTest, VanishedTableIsReportedAndTheWindowStillOpens) {
  open(copyTestDatabase(QStringLiteral("testV2000.mdb")));
  modDB::sTable = "NoSuchTable";
  std::vector<Row> rows;
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
