// The grid's quick paths change nothing the user sees: the header sort's order equals the
// collator's own comparison, and rows published early read the same as rows published at the end.
// The navigation buttons.
#include <QCollator>
#include <QLocale>
#include <QSignalBlocker>
#include <QSignalSpy>
#include <algorithm>
#include <random>
#include <vector>

#include "browse/grid.h"
#include "browse/text_order.h"
#include "gui_test_env.h"

namespace {

// What the sort must equal: a stable sort of the collator's sort keys of the texts.
std::vector<int32_t> collatorOrder(const std::vector<std::string>& texts, bool descending) {
  QCollator collator{QLocale(QLocale::English)};
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  collator.setNumericMode(false);
  std::vector<int32_t> order(texts.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int32_t>(i);
  std::vector<QCollatorSortKey> keys;
  for (const std::string& t : texts) keys.push_back(collator.sortKey(QString::fromStdString(t)));
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    int c = keys[a].compare(keys[b]);
    return descending ? c > 0 : c < 0;
  });
  return order;
}

std::vector<std::string> randomTexts(std::mt19937& rng, int count) {
  // Letters of both cases, digits, punctuation, spaces, tabs and line breaks, short and long,
  // with repeats so that ties occur; some texts share long prefixes.
  static const std::string kChars =
      "aAbBzZ09 5.,-_'\"!?#$%&()*+/:;<=>@[\\]^`{|}~\t\n\r\x01\x7f"
      "eEqQ";
  std::vector<std::string> texts;
  for (int i = 0; i < count; ++i) {
    if (i > 0 && rng() % 5 == 0) {
      texts.push_back(texts[rng() % texts.size()]);
      continue;
    }
    std::string t = rng() % 3 == 0 ? "Name 12345 " : "";
    const int n = static_cast<int>(rng() % 14);
    for (int k = 0; k < n; ++k) t.push_back(kChars[rng() % kChars.size()]);
    texts.push_back(t);
  }
  return texts;
}

TEST(TextOrderTest, TextsSortAsTheCollatorComparesThem) {
  ASSERT_TRUE(browse::TextOrder(QLocale(QLocale::English)).ranksAscii());
  std::mt19937 rng(7);
  std::vector<std::vector<std::string>> lists = {
      {"b", "A", "", "a", "ab", "a b", "a-b", "ab ", "10", "9", "B", "a\tb"},
      {"r\xc3\xa9sum\xc3\xa9", "Resume", "resume", "zebra", "\xc3\x89clair", "eclair", "apple", "Z\xc3\xbcrich"}};
  for (int round = 0; round < 4; ++round) lists.push_back(randomTexts(rng, 1500));
  for (const auto& texts : lists)
    for (bool descending : {false, true})
      ASSERT_EQ(browse::TextOrder(QLocale(QLocale::English))
                    .sort(int32_t(texts.size()), [&](int32_t i) { return std::string_view(texts[i]); }, descending),
                collatorOrder(texts, descending))
          << texts.size() << descending;
}

// Cells of every size up to several megabytes, so that rows are carried into fresh blocks part
// written and some rows need a block larger than the usual; the first rows are published early,
// and read as the rest.
TEST(RecordModelFillTest, CellsReadBackWhereRowsCrossBlocksAndOutgrowThem) {
  std::mt19937 rng(11);
  browse::RecordModel model;
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  for (const char* name : {"A", "B", "C"}) model.appendHeader(QString::fromLatin1(name));
  std::vector<std::vector<std::string>> expected;
  model.beginFill();
  for (int r = 0; r < 3000; ++r) {
    std::vector<std::string> row;
    const int cells = static_cast<int>(rng() % 4);  // rows ended early keep empty cells
    model.startRow();
    for (int c = 0; c < 3; ++c) {
      size_t size = rng() % 5000;
      if (r % 997 == 5 && c == 1) size = (size_t{5} << 20) + rng() % 1000;
      std::string text(size, static_cast<char>('a' + (r + c) % 26));
      if (!text.empty()) text.front() = static_cast<char>('0' + r % 10);
      if (c >= cells) text.clear();
      else model.addCell(text);
      row.push_back(text);
    }
    model.endRow();
    expected.push_back(row);
    if (r == 255) {
      model.publish();
      EXPECT_EQ(model.rowCount(), 256);
      EXPECT_EQ(inserted.count(), 1);
      EXPECT_EQ(model.data(model.index(255, 0), Qt::DisplayRole).toString().toStdString(), expected[255][0]);
      EXPECT_FALSE(model.data(model.index(256, 0), Qt::DisplayRole).isValid());
    }
  }
  model.endFill();
  EXPECT_EQ(inserted.count(), 2);
  ASSERT_EQ(model.rows(), 3000);
  for (int r = 0; r < 3000; ++r)
    for (int c = 0; c < 3; ++c) ASSERT_EQ(model.cell(r, c), expected[r][c]) << r << "," << c;
  model.sortBy(2, false);
  for (int r = 0; r < 3000; ++r) ASSERT_EQ(model.cell(r, 0), expected[model.storedPosition(r)][0]);
  EXPECT_GT(model.bytesHeld(), size_t{15} << 20);
  // A new fill starts from nothing, also for the views.
  model.beginFill();
  EXPECT_EQ(model.rowCount(), 0);
  model.endFill();
  EXPECT_EQ(model.rowCount(), 0);
  model.clearRows();
  EXPECT_EQ(model.rows(), 0);
  EXPECT_LT(model.bytesHeld(), size_t{1} << 10);
}

// The fill reads rows straight from the recordset; every cell must still read as the text of the
// value its Field gives (complex fields, dates, currencies and memos included; Null empty), in
// stored order, with the count the window shows.
using FillTest = testenv::MainWindowTest;

TEST_F(FillTest, EveryCellReadsAsItsFieldsValueText) {
  for (const char* file : {"testV2000.mdb", "ace/complexDataTestV2007.accdb", "test2V2000.mdb"}) {
    openCopy(file);
    for (int t = 1; t <= form->TabCount(); ++t) {
      form->SelectTab(t);
      const std::string table = modDB::sTable;
      const int records = recordCount(table);
      EXPECT_EQ(status(), QStringLiteral("Records: %1").arg(records)) << file << " " << table;
      ASSERT_EQ(form->GridRowCount(), records) << file << " " << table;
      for (int r = 0; r < records; ++r) {
        QStringList expected = stored(table, r);
        for (QString& text : expected) text = text == "<null>" ? QString() : text.left(text.indexOf(QChar(0)));
        for (int c = 0; c < expected.size(); ++c)
          ASSERT_EQ(form->GridCellText(r + 1, c), expected[c]) << file << " " << table << " row " << r << " field " << c;
      }
    }
    EXPECT_GT(form->TabCount(), 0) << file;
    modDB::CloseDB();
  }
}

// The navigation buttons on grids filled directly.
class NavigationTest : public testenv::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    QSignalBlocker quiet(form->sTab1());
    form->sTab1()->addTab(QStringLiteral("T"));
  }
  // Fills the grid directly with n rows: 1..n and a second column.
  void rows(int n) {
    browse::RecordModel& model = *form->LstV()->records();
    model.clearHeaders();
    model.appendHeader(QStringLiteral("F0"));
    model.appendHeader(QStringLiteral("F1"));
    model.beginFill();
    for (int i = 0; i < n; ++i) {
      model.startRow();
      model.addCell(std::to_string(i + 1));
      model.addCell("v" + std::to_string(n - i));
      model.endRow();
    }
    model.endFill();
  }
};

// Steps stop at both ends; Next steps from the highlight, not from the current row; a sort keeps
// the highlighted record but not the current position.
TEST_F(NavigationTest, StepsFirstLastAndSort) {
  rows(5);
  run({{"row 2", ""}, {"click 8", "sel=1; pos=0"}, {"click 8", "sel=1; pos=0"}, {"row 4", ""}, {"click 9", "sel=5"},
       {"click 9", "sel=5; pos=4"}, {"click 7", "pos=0"}, {"click 10", "pos=4"},
       {"row 1", ""}, {"highlight 2", "pos=0"}, {"click 9", "sel=4; pos=3"},
       {"row 1", "col 0=1|2|3|4|5"}, {"sort 0", "sel=5; pos=0; col 0=5|4|3|2|1"}, {"click 7", "sel=1; cell 1 0=5; rec 1=4"}});
}

// A step without a selection, and Last Record past the 16-bit range, report the error and keep the
// selection.
TEST_F(NavigationTest, ErrorsKeepTheSelection) {
  for (int count : {3, 40000}) {
    rows(count);
    const int number = count == 3 ? 9 : 10;
    if (count > 3) form->SelectRow(3);
    run({{"click " + std::to_string(number), "nboxes=1; sel=" + std::string(count == 3 ? "0" : "3")}});
    EXPECT_EQ(dialogs.boxes.at(0).title, QStringLiteral("Application Error"));
    EXPECT_TRUE(dialogs.boxes.at(0).text.contains(QStringLiteral("Form1.PushButton%1_Click at line 102").arg(number)));
    EXPECT_EQ(dialogs.boxes.at(0).text.startsWith(QStringLiteral("Overflow\r\n")), count > 3);
  }
  run({{"click 7", "sel=1"}});
}

}  // namespace
