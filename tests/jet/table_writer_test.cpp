// Writing rows: refused writes that leave the file as it was, queued inserts, pages used again, rows
// of fixed columns only, range deletes; and rows encoded as Access lays them out.
#include "jet/table/table_writer.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "jet/database.h"
#include "jet/file_database.h"
#include "jet/storage/page_file.h"
#include "jet/support/oracles.h"
#include "jet/support/test_files.h"
#include "jet/table/row.h"
#include "jet/table/row_writer.h"
#include "jet/table/table_scan.h"
#include "support/error_of.h"

namespace {

using jet::Value;

using jettest::valuesOf;

std::vector<Value> table1Row(const std::string& a, int64_t e) {
  return {std::string(a), std::string("b-" + a), int64_t(7), int64_t(-3), e, 2.5, jet::DateTime{40000.5},
          jet::Currency{123400}, true};
}

// Rows refused by a key (taken, or Null in the primary key), a range or a size, and a delete of a
// row not there, leave the file as it was, byte for byte.
class TableWriterBothFormats : public ::testing::TestWithParam<const char*> {};

TEST_P(TableWriterBothFormats, DuplicateKeysAndFailedWritesLeaveTheFileUnchanged) {
  jettest::TempDir dir;
  std::string path = dir.copy(GetParam());
  auto before = jettest::readFile(path);
  {
    auto db = jet::Database::open(path);
    // "a" is already the primary key of a row.
    EXPECT_EQ(errorOf([&] { db->insertRow("Table1", table1Row("a", 1)); }), jet::err::kDuplicateKey);
    std::vector<Value> nullKey = table1Row("z", 1);
    nullKey[0] = jet::Null{};
    EXPECT_EQ(errorOf([&] { db->insertRow("Table1", nullKey); }), jet::err::kNullInIndex);
    // Values the fields cannot hold: out of range for Byte and Integer, text for a Long (converting
    // it is the caller's job), one character more than the text field takes.
    const std::pair<size_t, Value> misfits[] = {{2, int64_t(256)}, {3, int64_t(40000)}, {4, std::string("12")}, {0, std::string(51, 'q')}};
    for (const auto& [field, value] : misfits) {
      std::vector<Value> row = table1Row("z", 1);
      row[field] = value;
      EXPECT_EQ(errorOf([&] { db->insertRow("Table1", row); }), field ? jet::err::kConversion : jet::err::kTextTooLong) << field;
    }
    EXPECT_THROW(db->deleteRow("Table1", jet::RowId{0, 0}), jet::Error);
  }
  EXPECT_EQ(jettest::readFile(path), before);
}

INSTANTIATE_TEST_SUITE_P(Formats, TableWriterBothFormats, ::testing::Values("testV1997.mdb", "testV2000.mdb"));

// A new Jet 4 file with a table with an auto-number key and a unique text index, for bulk loading.
std::string bulkTable(const jettest::TempDir& dir) {
  const std::string path = dir.file("bulk.mdb");
  jet::Database::create(path, {jet::Format::Jet4Layout})
      ->createTable({"Bulk",
                     {{"ID", jet::ColumnType::Long, 0, true}, {"Name", jet::ColumnType::Text, 40}, {"Note", jet::ColumnType::Memo}},
                     {{"PrimaryKey", {{0, true}}, true, true, false, true}, {"Name", {{1, true}}, false, true}}});
  return path;
}

std::vector<Value> bulkRow(int i) {
  return {Value{}, std::string("name " + std::to_string(i)),
          i % 7 == 0 ? Value(std::string(300 + i % 50, char('a' + i % 26))) : Value{}};
}

TEST(QueuedInserts, ARefusedRowKeepsTheRowsBeforeItAndLaterRowsStillGoIn) {
  jettest::TempDir dir;
  std::string path = bulkTable(dir);
  const int rows = int(jet::TableWriter::kBatchRows) * 2 + 500;
  const int duplicateAt = int(jet::TableWriter::kBatchRows) + 300;
  {
    auto db = jet::Database::open(path);
    int commits = 0;
    for (int i = 0; i < rows; ++i) {
      if (i == duplicateAt) {
        size_t queued = db->queuedRows();
        EXPECT_EQ(errorOf([&] { db->queueInsert("Bulk", bulkRow(17)); }), jet::err::kDuplicateKey);
        EXPECT_EQ(db->queuedRows(), queued);
      }
      db->queueInsert("Bulk", bulkRow(i));
      if (db->queueFull()) {
        db->commitQueued();
        ++commits;
      }
    }
    EXPECT_GE(commits, 2);
    db->close();  // commits the rest
  }
  auto db = jet::Database::open(path, {true, ""});
  EXPECT_EQ(jettest::firstProblem(*db), "");
  auto all = valuesOf(*db, "Bulk");
  ASSERT_EQ(all.size(), size_t(rows));
  for (int i = 0; i < rows; ++i) {
    // The refused row took no auto-number: the rows are numbered without a gap.
    EXPECT_EQ(std::get<int64_t>(all[size_t(i)][0]), i + 1);
    EXPECT_EQ(all[size_t(i)], [&] { auto r = bulkRow(i); r[0] = int64_t(i + 1); return r; }()) << i;
  }
  EXPECT_EQ(db->table("Bulk").rowCount, uint32_t(rows));
  EXPECT_EQ(db->nextAutoNumber("Bulk"), rows + 1);
}

// Reading the table writes the queued rows first, and their long values share pages: 200 memos of
// about 300 characters each would add 200 pages at one a page. (A failed commit of queued rows: the
// write-fault matrix.)
TEST(QueuedInserts, OtherCallsSeeQueuedRowsWhoseLongValuesSharePages) {
  jettest::TempDir dir;
  auto db = jet::Database::open(bulkTable(dir));
  const uint32_t before = db->pageCount();
  for (int i = 0; i < 1400; ++i) db->queueInsert("Bulk", bulkRow(i));
  EXPECT_EQ(db->queuedRows(), 1400u);
  EXPECT_EQ(valuesOf(*db, "Bulk").size(), 1400u);
  EXPECT_EQ(db->queuedRows(), 0u);
  EXPECT_LT(db->pageCount() - before, 120u);
  EXPECT_TRUE(db->check().ok());
}

// Deleted rows make room for new ones: every other row deleted (no page empties, but each has room),
// then all of them, round after round: the file grows by a few index pages, then not at all.
TEST(PageReuse, DeletedRowsMakeRoomForNewOnes) {
  jettest::TempDir dir;
  std::string path = bulkTable(dir);
  auto db = jet::Database::open(path);
  auto fill = [&](int from, int to) {
    std::vector<jet::RowId> ids;
    for (int i = from; i < to; ++i) ids.push_back(db->insertRow("Bulk", bulkRow(i)));
    return ids;
  };
  std::vector<jet::RowId> ids = fill(0, 2000);
  const uint32_t grown = db->pageCount();
  for (size_t i = 0; i < ids.size(); i += 2) db->deleteRow("Bulk", ids[i]);
  fill(2000, 2900);
  // New keys go after the last ones in the key index: a few new index pages, nothing else.
  EXPECT_LE(db->pageCount(), grown + 4);
  EXPECT_EQ(jettest::firstProblem(*db), "");
  auto numbers = [&] {
    std::set<int64_t> out;
    for (const auto& r : valuesOf(*db, "Bulk")) out.insert(std::get<int64_t>(r[0]));
    return out;
  };
  EXPECT_EQ(numbers().size(), 1900u);
  EXPECT_EQ(*numbers().rbegin(), 2900);
  const uint32_t reused = db->pageCount();
  for (int round = 0; round < 3; ++round) {
    for (const auto& id : jettest::rowIdsOf(*db, "Bulk")) db->deleteRow("Bulk", id);
    fill(3000 + round * 1900, 4900 + round * 1900);
    EXPECT_LE(db->pageCount(), reused) << "round " << round;
  }
  db.reset();
  auto again = jet::Database::open(path, {true, ""});
  EXPECT_EQ(jettest::firstProblem(*again), "");
  EXPECT_EQ(valuesOf(*again, "Bulk").size(), 1900u);
}

TEST(PageReuse, UpdatesAndDeletesOnTheLastPageBetweenInserts) {
  // The row just added is made longer or shorter in place, or deleted, then more rows follow on the
  // same page: every row reads back as last written.
  jettest::TempDir dir;
  std::string path = bulkTable(dir);
  auto db = jet::Database::open(path);
  std::map<int64_t, std::string> expected;
  for (int i = 0; i < 600; ++i) {
    std::vector<Value> row = bulkRow(i);
    const bool queued = i % 3 == 0;
    const jet::RowId id = queued ? db->queueInsert("Bulk", row) : db->insertRow("Bulk", row);
    const int64_t number = i + 1;
    expected[number] = std::get<std::string>(row[1]);
    if (i % 5 == 1) {
      row[0] = number;
      row[1] = std::string(i % 2 ? 3 : 35, char('A' + i % 26)) + std::to_string(i);
      db->updateRow("Bulk", id, row);
      expected[number] = std::get<std::string>(row[1]);
    } else if (i % 11 == 4) {
      db->deleteRow("Bulk", id);
      expected.erase(number);
    }
  }
  db->commitQueued();
  std::map<int64_t, std::string> got;
  for (const auto& r : valuesOf(*db, "Bulk")) got[std::get<int64_t>(r[0])] = std::get<std::string>(r[1]);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(jettest::firstProblem(*db), "");
}

// A table of fixed-length columns only: rows go in, are updated and come back laid out as
// Access lays them (no variable part), in both formats; the file passes check and the independent
// readers see the same numbers.
TEST(AllFixedRows, WrittenUpdatedAndReadByOthers) {
  for (jet::Format format : {jet::Format::Jet3Layout, jet::Format::Jet4Layout}) {
    const bool jet3 = format == jet::Format::Jet3Layout;
    jettest::TempDir dir;
    const std::string path = (dir.path() / "fixed.mdb").string();
    {
      auto db = jet::Database::create(path, {format});
      db->createTable({"Lines", {{"OrderId", jet::ColumnType::Long}, {"ProductId", jet::ColumnType::Long}, {"Price", jet::ColumnType::Currency},
                                 {"Quantity", jet::ColumnType::Integer}, {"Discount", jet::ColumnType::Single}}, {}});
      for (int i = 0; i < 300; ++i)
        db->insertRow("Lines", {int64_t(i), int64_t(1000 + i), jet::Currency{12345 * i}, int64_t(i % 7),
                                i % 3 ? Value(0.25f) : Value(jet::Null{})});
      jet::RowId first = db->insertRow("Lines", {int64_t(-1), jet::Null{}, jet::Null{}, jet::Null{}, jet::Null{}});
      db->updateRow("Lines", first, {int64_t(-1), int64_t(7), jet::Currency{1}, int64_t(2), 0.5f});
      db->close();
    }
    {
      jet::FileDatabase impl(path, {true, ""});
      const jet::Tdef& def = impl.tableDef("Lines");
      jet::TableScan scan(impl.pageFile(), def, impl.codec());
      size_t rows = 0;
      while (scan.next()) {
        EXPECT_EQ(scan.rowSize(), jet3 ? 24u : 25u) << "row " << rows;
        ++rows;
      }
      EXPECT_EQ(rows, 301u);
    }
    auto db = jet::Database::open(path, {true, ""});
    auto rows = valuesOf(*db, "Lines");
    ASSERT_EQ(rows.size(), 301u);
    EXPECT_EQ(std::get<int64_t>(rows[5][1]), 1005);
    EXPECT_TRUE(jet::isNull(rows[3][4]));
    EXPECT_EQ(std::get<int64_t>(rows[300][1]), 7);
    EXPECT_TRUE(db->check().problems.empty());
    db->close();

    if (auto out = oracle::mdbtools("mdb-export", "-H " + oracle::quote(path) + " Lines")) {
      const std::vector<std::string> lines = testsupport::lines(out->out);
      long sum = 0;
      for (const std::string& line : lines) sum += std::stol(line.substr(line.find(',') + 1));
      EXPECT_EQ(lines.size(), 301u);
      EXPECT_EQ(sum, 300 * 1000 + 299 * 300 / 2 + 7) << "the second column as mdbtools reads it";
    }
  }
}

// A range delete is one commit: all its rows go, or (a row not there, a row named twice) none.
TEST(RangeDelete, DeletesEveryRowOrNone) {
  jettest::TempDir dir;
  std::string path = bulkTable(dir);
  auto db = jet::Database::open(path);
  for (int i = 0; i < 600; ++i) db->queueInsert("Bulk", bulkRow(i));
  db->commitQueued();
  const std::vector<jet::RowId> ids = jettest::rowIdsOf(*db, "Bulk");
  ASSERT_EQ(ids.size(), 600u);
  const auto before = valuesOf(*db, "Bulk");
  auto deleting = [&](std::vector<jet::RowId> rows) { return errorOf([&] { db->deleteRows("Bulk", rows); }); };
  std::vector<jet::RowId> twice(ids.begin() + 10, ids.begin() + 20);
  twice.push_back(ids[15]);
  EXPECT_EQ(deleting(twice), jet::err::kInvalidArgument);
  std::vector<jet::RowId> gone(ids.begin() + 10, ids.begin() + 400);
  gone.push_back(jet::RowId{ids[5].page, 250});
  EXPECT_EQ(deleting(gone), jet::err::kNoCurrentRecord);
  EXPECT_EQ(valuesOf(*db, "Bulk"), before);

  // Rows with long values, across many pages; the rest stay as they were.
  EXPECT_EQ(deleting(std::vector<jet::RowId>(ids.begin() + 100, ids.begin() + 550)), 0);
  const auto after = valuesOf(*db, "Bulk");
  ASSERT_EQ(after.size(), 150u);
  EXPECT_EQ(after[99], before[99]);
  EXPECT_EQ(after[100], before[550]);
  EXPECT_EQ(db->table("Bulk").rowCount, 150u);
  EXPECT_EQ(jettest::firstProblem(*db), "");
}

// Re-encoding the values of stored rows gives back the bytes Access wrote (testV1997), or bytes
// that read back to the same values and take no more room (elsewhere Access leaves stale bytes
// under Null fixed columns and slack after variable data).
TEST(RowWriter, ReencodesStoredRows) {
  for (const char* file : {"testV1997.mdb", "testV2000.mdb", "test2V1997.mdb", "test2V2000.mdb"}) {
    jet::FileDatabase db(jettest::testdata(file), {true, ""});
    bool exact = std::string(file) == "testV1997.mdb";
    for (const auto& o : db.objects()) {
      if (o.kind != jet::ObjectKind::Table) continue;
      const jet::Tdef& def = db.tableDef(o.name);
      jet::TableScan scan(db.pageFile(), def, db.codec());
      jet::LongValueReader lv(db.pageFile(), def.format);
      jet::RowReader reader(def, db.codec(), lv);
      size_t rows = 0;
      while (scan.next() && rows < 50) {
        jet::Bytes stored(scan.rowData(), scan.rowData() + scan.rowSize());
        // Long values keep their stored references so that only the row layout is compared.
        jet::RowLayout layout;
        jet::parseRow(def, stored.data(), stored.size(), layout);
        jet::Bytes encoded = jet::encodeRow(def, scan.values(), db.codec(), [&](const jet::ColumnDef& c, const jet::Bytes&) {
          const uint8_t* d;
          size_t len;
          jet::columnBytes(def, c, layout, d, len);
          return jet::Bytes(d, d + len);
        });
        if (exact) {
          EXPECT_EQ(encoded, stored) << file << " " << o.name << " row " << rows;
        } else {
          std::vector<Value> back;
          reader.decode(encoded.data(), encoded.size(), back);
          EXPECT_EQ(back, scan.values()) << file << " " << o.name << " row " << rows;
          EXPECT_LE(encoded.size(), stored.size());
        }
        ++rows;
      }
    }
  }
}

}  // namespace
