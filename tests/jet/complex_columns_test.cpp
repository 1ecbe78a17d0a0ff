// Complex columns: the stored form of attachments, what a template table says a column holds,
// and the values, deletes, updates and inserts of a table with complex columns.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "jet/base/attachment_data.h"
#include "jet/base/bytes.h"
#include "jet/base/names.h"
#include "jet/catalog/complex_columns.h"
#include "jet/database.h"
#include "support/complex_fixture.h"
#include "support/error_of.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"

namespace {

using jet::Bytes;
using jet::ColumnType;
using jet::ComplexKind;

Bytes wrap(uint32_t kind, uint32_t length, const Bytes& body) {
  Bytes out;
  jet::le::append32(out, kind);
  jet::le::append32(out, length);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

TEST(AttachmentData, NewFilesAreStoredByteForByteAsAccessStoresThem) {
  jettest::TempDir dir;
  auto db = jet::Database::open(dir.copy("ace/complexDataTestV2007.accdb"));
  const jet::Attachment access =
      db->complexValues("Table1", "attach-data")->of(jet::Value(int64_t(2))).attachments.at(0);
  const jet::Attachment ours = jet::Attachment::of(access.name, access.type, access.data());
  EXPECT_EQ(ours.stored, access.stored);
  // Already-compressed formats are kept as they are, whatever the case of their type.
  EXPECT_EQ(jet::Attachment::of("a.ZIP", "ZIP", {1, 2}).stored[0], 0);
  EXPECT_EQ(jet::Attachment::of("a.png", "png", {1, 2}).stored[0], 1);
  // An empty file without an extension reads back, deflated or not.
  for (bool compress : {false, true}) {
    const jet::AttachmentContent empty = jet::decodeAttachment(jet::encodeAttachment("", {}, compress));
    EXPECT_TRUE(empty.data.empty() && empty.extension.empty()) << compress;
  }
}

TEST(AttachmentData, DamagedDataIsRefusedWithoutReadingPastIt) {
  // The content as kept and as deflated, without their wrappers (their byte-for-byte form: the test
  // above).
  const Bytes raw = jet::encodeAttachment("txt", {'a', 'b', 'c'}, false), packed = jet::encodeAttachment("txt", {'a', 'b', 'c'}, true);
  const Bytes c(raw.begin() + 8, raw.end()), z(packed.begin() + 8, packed.end());
  Bytes headerTooLong = c;
  jet::put32(headerTooLong.data(), 200);
  Bytes extensionTooLong = c;
  jet::put32(extensionTooLong.data() + 8, 40);
  Bytes headerTooShort = c;
  jet::put32(headerTooShort.data(), 4);
  const std::vector<Bytes> damaged = {
      {},
      {1, 0, 0, 0, 5, 0},                                // wrapper cut short
      wrap(2, uint32_t(c.size()), c),                    // unknown kind
      wrap(0, uint32_t(c.size()) + 1, c),                // raw content shorter than recorded
      wrap(1, uint32_t(c.size()) + 1, z),                // inflates to less than recorded
      wrap(1, uint32_t(c.size()) - 1, z),                // inflates to more than recorded
      wrap(1, uint32_t(c.size()), Bytes(z.begin(), z.end() - 3)),  // stream cut short
      wrap(1, 0x7fffffff, z),                            // impossible length
      wrap(0, uint32_t(headerTooLong.size()), headerTooLong),
      wrap(0, uint32_t(extensionTooLong.size()), extensionTooLong),
      wrap(0, uint32_t(headerTooShort.size()), headerTooShort),
      wrap(0, 8, Bytes(c.begin(), c.begin() + 8)),       // no extension length
  };
  for (size_t i = 0; i < damaged.size(); ++i)
    EXPECT_EQ(errorOf([&] { jet::decodeAttachment(damaged[i]); }), jet::err::kCorrupt) << "case " << i;
}

class ComplexTable : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (dir_.path() / "complex.mdb").string();
    complexfixture::build(path_);
    db_ = jet::Database::open(path_);
  }
  size_t rowsOf(const std::string& table) { return jettest::rowsOf(*db_, table).size(); }
  jet::ComplexValue valueOf(const std::string& column, int64_t key) {
    return db_->complexValues("Items", column)->of(jet::Value(key));
  }
  jettest::TempDir dir_;
  std::string path_;
  std::unique_ptr<jet::Database> db_;
};

TEST_F(ComplexTable, CompactionKeepsTheColumnsTiedToTheirHiddenTables) {
  db_->close();
  db_.reset();
  const std::string copy = (dir_.path() / "compacted.mdb").string();
  jet::Database::compact(path_, copy);
  db_ = jet::Database::open(copy);
  EXPECT_EQ(db_->table("Items").columns[2].complexKind, ComplexKind::Attachment);
  EXPECT_EQ(valueOf("files", 2).attachments.at(1).data(), complexfixture::kFileC);
  EXPECT_EQ(jet::complexText(valueOf("tags", 1), ";"), "red;green");
  // The definition's last key came along: a new row counts on from it.
  db_->insertRow("Items", {jet::Value(std::string("four")), {}, {}, {}, {}, {}});
  EXPECT_EQ(std::get<int64_t>(jettest::valuesOf(*db_, "Items").back()[1]), 4);
}

TEST_F(ComplexTable, WrittenValuesReplaceTheRowsOldOnesAndReadBack) {
  using V = jet::Value;
  const jet::Bytes file = {'n', 'e', 'w', 0, 1};
  jet::ComplexValue tags, files, scores, history;
  tags.values = {V(std::string("x")), V(std::string("y"))};
  files.attachments = {jet::Attachment::of("n.txt", "txt", file), jet::Attachment::of("p.jpg", "jpg", file)};
  scores.values = {V(int64_t(7))};
  history.versions = {{V(std::string("later")), V(jet::DateTime{complexfixture::kLater})},
                      {V(std::string("earlier")), V(jet::DateTime{complexfixture::kEarlier})}};
  db_->insertRow("Items", {V(std::string("four")), V{}, V{}, V{}, V{}, V{}},
                                          {{1, tags}, {2, files}, {5, scores}, {4, history}});
  // The new row took key 4; its values are found by it, the versions newest first again.
  EXPECT_EQ(jet::complexText(valueOf("tags", 4), ";"), "x;y");
  const jet::ComplexValue stored = valueOf("files", 4);
  ASSERT_EQ(stored.attachments.size(), 2u);
  EXPECT_EQ(stored.attachments[0].data(), file);
  EXPECT_EQ(stored.attachments[0].stored[0], 1);  // deflated
  EXPECT_EQ(stored.attachments[1].stored[0], 0);  // a jpg is kept as it is
  EXPECT_EQ(stored.attachments[1].name, "p.jpg");
  EXPECT_EQ(jet::complexText(valueOf("scores", 4), ";"), "7");
  EXPECT_EQ(jet::complexText(valueOf("history", 4), ";"), "later;earlier");

  // An update replaces the values of the columns it names and leaves the others and other rows.
  jet::ComplexValue one;
  one.values = {V(std::string("z"))};
  const jet::RowId first = jettest::rowIdsOf(*db_, "Items").at(0);
  std::vector<V> row = jettest::valuesOf(*db_, "Items").at(0);
  db_->updateRow("Items", first, row, {{1, one}, {2, jet::ComplexValue{}}});
  EXPECT_EQ(jet::complexText(valueOf("tags", 1), ";"), "z");
  EXPECT_EQ(valueOf("files", 1).size(), 0u);
  EXPECT_EQ(jet::complexText(valueOf("scores", 1), ";"), "10;20");
  EXPECT_EQ(jet::complexText(valueOf("tags", 2), ";"), "blue");
  EXPECT_EQ(rowsOf("f_1_tags"), 4u);  // blue, x, y, z
  EXPECT_EQ(rowsOf("f_2_files"), 4u);

  // Refusals write nothing: values of another kind, a column that is not complex.
  jet::ComplexValue wrongKind;
  wrongKind.attachments = {jet::Attachment::of("a.txt", "txt", file)};
  EXPECT_EQ(errorOf([&] { db_->updateRow("Items", first, row, {{1, wrongKind}}); }), jet::err::kConversion);
  EXPECT_EQ(errorOf([&] { db_->insertRow("Items", row, {{0, one}}); }), jet::err::kUnknownField);
  EXPECT_EQ(errorOf([&] { db_->complexValues("Items", "name"); }), jet::err::kUnknownField);
  EXPECT_EQ(errorOf([&] { db_->complexValues("Nowhere", "tags"); }), jet::err::kTableNotFound);
  EXPECT_EQ(rowsOf("Items"), 4u);
  EXPECT_EQ(rowsOf("f_1_tags"), 4u);

  // The key counter moved on: the next row gets key 5, after a reopen too.
  db_->close();
  db_ = jet::Database::open(path_);
  db_->insertRow("Items", {V(std::string("five")), V{}, V{}, V{}, V{}, V{}}, {{1, one}});
  EXPECT_EQ(jet::complexText(valueOf("tags", 5), ";"), "z");
  EXPECT_EQ(jettest::firstProblem(*db_), "");
}

// The append-only memo "notes" keeps each text it is saved with in "history", stamped now.
TEST_F(ComplexTable, SavingAnAppendOnlyMemoAddsItsNewTextToItsHistory) {
  using V = jet::Value;
  const std::vector<jet::RowId> ids = jettest::rowIdsOf(*db_, "Items");
  const jet::RowId second = ids.at(1), third = ids.at(2);
  std::vector<V> row = jettest::valuesOf(*db_, "Items").at(1);
  row[3] = std::string("n2 third");
  db_->updateRow("Items", second, row);
  jet::ComplexValue history = valueOf("history", 2);
  ASSERT_EQ(history.versions.size(), 3u);
  EXPECT_EQ(std::get<std::string>(history.versions[0].value), "n2 third");
  EXPECT_GT(std::get<jet::DateTime>(history.versions[0].modified).days, complexfixture::kLater);
  // Saving the same text, or only another field, adds nothing.
  row[0] = std::string("zwei");
  db_->updateRow("Items", second, row);
  EXPECT_EQ(valueOf("history", 2).size(), 3u);

  // A new row's first text is its first version, also through the bulk queue; Null is none.
  db_->insertRow("Items", {V(std::string("four")), V{}, V{}, V(std::string("first")), V{}, V{}});
  db_->queueInsert("Items", {V(std::string("five")), V{}, V{}, V(std::string("queued")), V{}, V{}});
  db_->queueInsert("Items", {V(std::string("six")), V{}, V{}, V{}, V{}, V{}});
  db_->commitQueued();
  EXPECT_EQ(jet::complexText(valueOf("history", 4), ";"), "first");
  EXPECT_EQ(jet::complexText(valueOf("history", 5), ";"), "queued");
  EXPECT_EQ(valueOf("history", 6).size(), 0u);
  // A history the caller writes itself is the one stored.
  jet::ComplexValue given;
  given.versions = {{V(std::string("own")), V(jet::DateTime{complexfixture::kEarlier})}};
  row = jettest::valuesOf(*db_, "Items").at(2);
  row[3] = std::string("own");
  db_->updateRow("Items", third, row, {{4, given}});
  history = valueOf("history", 3);
  ASSERT_EQ(history.versions.size(), 1u);
  EXPECT_EQ(std::get<jet::DateTime>(history.versions[0].modified).days, complexfixture::kEarlier);
  EXPECT_EQ(jettest::firstProblem(*db_), "");
}

std::set<int64_t> idsIn(jet::Database& db, const std::string& table, const std::string& column) {
  std::set<int64_t> out;
  const size_t pos = size_t(jet::columnIndex(db.table(table).columns, column));
  for (const auto& row : jettest::valuesOf(db, table))
    if (const auto* v = std::get_if<int64_t>(&row.at(pos))) out.insert(*v);
  return out;
}

// Dropping Access's table with every kind of complex column: its three hidden tables, the version
// history's own template, its MSysComplexColumns rows and its navigation-pane rows go; the
// resources table's attachments (another table's complex column) stay readable.
TEST(ComplexAccessFile, DroppingATableTakesItsHiddenTablesAndLeavesTheOthers) {
  jettest::TempDir dir;
  const std::string path = dir.copy("ace/complexDataTestV2007.accdb");
  const std::string attachments = "f_3B07F994AD0A4B56A3A1E13B3A1D3B70_attach-data";
  {
    auto db = jet::Database::open(path);
    // The hidden tables are the system's: they are not dropped on their own.
    EXPECT_EQ(errorOf([&] { db->dropTable(attachments); }), jet::err::kReadOnly);
    db->dropTable("Table1");
    std::map<std::string, int32_t> ids;
    for (const auto& o : db->objects()) ids[o.name] = o.id;
    for (const std::string gone : {std::string("Table1"), attachments,
                                   std::string("f_FCC66D28D650455480D923D1BD446BA6_multi-value-data"),
                                   std::string("f_0BFE159C44334BFB968A820EA89C2D7E_VersionHistory_F5F8918F-0A3F-"),
                                   std::string("MSysComplexTypeVH_7B4A12A4BE0B4564884754E9E31577B2")})
      EXPECT_FALSE(ids.count(gone)) << gone;
    EXPECT_TRUE(ids.count("f_63A2725FD5F0424B858BA73DA673639B_Data"));
    EXPECT_TRUE(ids.count("MSysComplexType_Text"));
    EXPECT_EQ(idsIn(*db, "MSysComplexColumns", "ComplexID"), std::set<int64_t>{1});
    // Ids of Table1 (109) and its hidden tables (41, 46, 60, 78) leave the navigation pane's lists.
    const std::set<int64_t> nav = idsIn(*db, "MSysNavPaneObjectIDs", "Id");
    for (int64_t id : {109, 41, 46, 60, 78}) EXPECT_FALSE(nav.count(id)) << id;
    EXPECT_TRUE(nav.count(104));
    EXPECT_FALSE(idsIn(*db, "MSysNavPaneGroupToObjects", "ObjectID").count(109));
    auto theme = db->complexValues("MSysResources", "Data")->of(jet::Value(int64_t(1)));
    ASSERT_EQ(theme.attachments.size(), 1u);
    EXPECT_EQ(theme.attachments[0].name, "Office Theme.thmx");
    EXPECT_EQ(jettest::firstProblem(*db), "");
  }
  // Both independent readers still read the whole file, and neither sees a dropped table.
  if (auto tables = oracle::mdbtools("mdb-tables", "-S -1 " + oracle::quote(path))) {
    EXPECT_EQ(tables->status, 0);
    EXPECT_EQ(tables->out.find("Table1"), std::string::npos);
    EXPECT_EQ(tables->out.find("attach-data"), std::string::npos);
    EXPECT_NE(tables->out.find("MSysResources"), std::string::npos);
  }
  if (auto lines = oracle::mdbReader(path)) {
    bool resources = false;
    for (const std::string& l : *lines) {
      EXPECT_NE(l.rfind("FAIL", 0), 0u) << l;
      EXPECT_EQ(l.find("attach-data"), std::string::npos) << l;
      if (l.rfind("ROW\tMSysResources\t", 0) == 0) resources = l.find("Office Theme.thmx") != std::string::npos;
    }
    EXPECT_TRUE(resources);
  }
}

// Values written into Access's own table: the hidden rows are what both readers find.
TEST(ComplexAccessFile, WrittenValuesReadBackInTheIndependentReader) {
  jettest::TempDir dir;
  const std::string path = dir.copy("ace/complexDataTestV2007.accdb");
  const std::string text = "written by the engine, twice: written by the engine";
  const jet::Bytes file(text.begin(), text.end());
  jet::Value key;
  {
    auto db = jet::Database::open(path);
    std::vector<jet::Value> row(db->table("Table1").columns.size());
    row[0] = std::string("row5");
    jet::ComplexValue files, values;
    files.attachments = {jet::Attachment::of("new.txt", "txt", file)};
    values.values = {jet::Value(std::string("value2")), jet::Value(std::string("value3"))};
    const auto& columns = db->table("Table1").columns;
    const size_t attach = size_t(jet::columnIndex(columns, "attach-data")), multi = size_t(jet::columnIndex(columns, "multi-value-data"));
    db->insertRow("Table1", row, {{attach, files}, {multi, values}});
    // The new row's key comes after the last the table gave (which Access had counted up to 7).
    key = jettest::valuesOf(*db, "Table1").back()[attach];
    EXPECT_EQ(std::get<int64_t>(key), 8);
    EXPECT_EQ(db->complexValues("Table1", "attach-data")->of(key).attachments.at(0).data(), file);
    EXPECT_EQ(jettest::firstProblem(*db), "");
  }
  auto lines = oracle::mdbReader(path);
  if (!lines) GTEST_SKIP() << "mdb-reader is not installed";
  bool attachment = false;
  std::vector<std::string> multi;
  for (const std::string& l : *lines) {
    if (l.rfind("FAIL", 0) == 0) EXPECT_NE(l.find("Table1"), std::string::npos) << l;  // as before the write
    if (l.find("\tf_3B07F994AD0A4B56A3A1E13B3A1D3B70_attach-data\t{\"_attach-data\":8,") != std::string::npos) {
      const size_t at = l.find("\"FileData\":\"") + 12;
      const std::string hex = l.substr(at, l.find('"', at) - at);
      jet::Bytes stored;
      for (size_t k = 0; k + 1 < hex.size(); k += 2) stored.push_back(uint8_t(std::stoi(hex.substr(k, 2), nullptr, 16)));
      EXPECT_EQ(jet::decodeAttachment(stored).data, file);
      EXPECT_NE(l.find("\"FileName\":\"new.txt\""), std::string::npos) << l;
      attachment = true;
    }
    if (l.find("\tf_FCC66D28D650455480D923D1BD446BA6_multi-value-data\t{\"_multi-value-data\":8,") != std::string::npos)
      multi.push_back(l.substr(l.find("\"Value\"")));
  }
  EXPECT_TRUE(attachment);
  EXPECT_EQ(multi, (std::vector<std::string>{"\"Value\":\"value2\"}", "\"Value\":\"value3\"}"}));
}

// The Access 2007 file with every kind of complex column, as Access wrote it.
TEST(ComplexAccessFile, ValuesOfEveryKindReadAsAccessStoredThem) {
  jettest::TempDir dir;
  const std::string path = dir.copy("ace/complexDataTestV2007.accdb");
  auto db = jet::Database::open(path);
  const jet::TableInfo info = db->table("Table1");
  std::map<std::string, jet::ColumnInfo> byName;
  for (const auto& c : info.columns) byName[c.name] = c;
  const std::string history = "VersionHistory_F5F8918F-0A3F-4DA9-AE71-184EE5012880";
  EXPECT_EQ(byName.at(history).complexKind, ComplexKind::VersionHistory);
  EXPECT_EQ(byName.at("multi-value-data").complexKind, ComplexKind::MultiValue);
  EXPECT_EQ(byName.at("multi-value-data").complexValueType, ColumnType::Text);
  EXPECT_EQ(byName.at("attach-data").complexKind, ComplexKind::Attachment);

  auto values = db->complexValues("Table1", "multi-value-data");
  EXPECT_EQ(jet::complexText(values->of(jet::Value(int64_t(2))), ";"), "value1;value4");
  EXPECT_EQ(jet::complexText(values->of(jet::Value(int64_t(3))), ";"), "value1;value2;value3;value4");
  EXPECT_EQ(values->of(jet::Value(int64_t(1))).size(), 0u);

  auto files = db->complexValues("Table1", "attach-data")->of(jet::Value(int64_t(2)));
  ASSERT_EQ(files.attachments.size(), 2u);
  EXPECT_EQ(files.attachments[0].name, "test_data.txt");
  EXPECT_EQ(files.attachments[0].type, "txt");
  const std::string text = "this is some test data for attachment.";
  EXPECT_EQ(files.attachments[0].data(), Bytes(text.begin(), text.end()));
  EXPECT_EQ(files.attachments[1].name, "test_data2.txt");

  EXPECT_EQ(jet::complexText(db->complexValues("Table1", history)->of(jet::Value(int64_t(3))), ";"),
            "row3-memo-again;row3-memo-revised;row3-memo");

  // The system table of resources holds an attachment too (the theme, a zip file).
  auto theme = db->complexValues("MSysResources", "Data")->of(jet::Value(int64_t(1)));
  ASSERT_EQ(theme.attachments.size(), 1u);
  const Bytes data = theme.attachments[0].data();
  ASSERT_GE(data.size(), 4u);
  EXPECT_EQ(std::string(data.begin(), data.begin() + 2), "PK");

  // Deleting a row, alone or in a range, takes its hidden rows; the others stay.
  const std::vector<jet::RowId> rows = jettest::rowIdsOf(*db, "Table1");
  auto left = [&](const std::string& column, int64_t key) { return db->complexValues("Table1", column)->of(jet::Value(key)).size(); };
  db->deleteRow("Table1", rows[2]);  // row3: four values, three versions, no attachment
  EXPECT_EQ(std::make_tuple(left("multi-value-data", 3), left(history, 3), left("multi-value-data", 2), left(history, 2)),
            std::make_tuple(0u, 0u, 2u, 1u));
  db->deleteRows("Table1", {rows[0], rows[1]});  // row2: two values, two files, a version
  EXPECT_EQ(std::make_tuple(left("multi-value-data", 2), left("attach-data", 2), left(history, 2)), std::make_tuple(0u, 0u, 0u));
  EXPECT_EQ(jettest::firstProblem(*db), "");
}

}  // namespace
