// Faults during writes, operation by operation: for every write operation and every page write or
// flush it issues, that write fails (disk full, I/O error, a short write). Afterwards the error has
// been reported, the file on disk is as it was before the operation (or, where the failure came
// after every page was written, as it is after it) and checks clean, and the same session can
// repeat the operation successfully.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/storage/page_file.h"
#include "jet/support/test_files.h"
#include "jet/storage/fault_env.h"

namespace fs = std::filesystem;
using jet::PageFile;

namespace {

// Every file these tests open goes through the fault and crash simulation.
const bool kSimulated = (jet::FaultEnv::install(), true);

using Fault = jet::FaultEnv::Fault;

#if TABULONIX_SANITIZED
// The sanitizer build goes through every failure point with one kind of fault only.
const std::vector<Fault> kFaults = {Fault::ShortWrite};
#else
const std::vector<Fault> kFaults = {Fault::DiskFull, Fault::IoError, Fault::ShortWrite};
#endif

constexpr int kMaxFailurePoints = 400;

const char* faultName(Fault f) {
  switch (f) {
    case Fault::DiskFull: return "disk full";
    case Fault::IoError: return "I/O error";
    case Fault::ShortWrite: return "short write";
    case Fault::None: break;
  }
  return "none";
}

int expectedError(Fault f) { return f == Fault::DiskFull ? jet::err::kDiskFull : jet::err::kIoError; }

// Disarms the process-wide fault whatever happens in the test.
struct Disarm {
  ~Disarm() { jet::FaultEnv::install().failAt(0, Fault::None); }
};

// Every user table's name, field names and rows (as sorted text: a repeated insert may land on
// another page, which is no difference a user sees).
std::string contentOf(const std::string& path) {
  auto db = jet::Database::open(path, {true, ""});
  std::string out;
  for (const auto& o : db->objects()) {
    if (o.kind != jet::ObjectKind::Table) continue;
    out += "[" + o.name + "]";
    auto cursor = db->openTable(o.name);
    for (const auto& c : cursor->table().columns) out += " " + c.name;
    out += "\n";
    std::vector<std::string> rows;
    while (cursor->next()) {
      std::string row;
      for (const auto& v : cursor->values()) row += jet::toText(v) + "|";
      rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    for (const auto& r : rows) out += r + "\n";
  }
  return out;
}

std::vector<std::string> problemsOf(const std::string& path) {
  auto db = jet::Database::open(path, {true, ""});
  return db->check().problems;
}

std::string personName(int i) {
  // Long keys fill index pages quickly, so that a few dozen rows reach a split.
  std::string s = "person " + std::to_string(1000 + i) + " ";
  while (s.size() < 180) s += char('a' + (i * 7 + int(s.size())) % 26);
  return s;
}

std::vector<jet::Value> personRow(int i, const std::string& note = "") {
  return {jet::Value{}, personName(i), note.empty() ? jet::Value{} : jet::Value{note}};
}

jet::NewTable peopleTable() {
  jet::NewTable t;
  t.name = "People";
  t.columns = {{"ID", jet::ColumnType::Long}, {"Name", jet::ColumnType::Text, 200}, {"Note", jet::ColumnType::Memo}};
  t.columns[0].autoNumber = true;
  t.indexes = {{"PrimaryKey", {{0, true}}, true, true}, {"ByName", {{1, true}}}};
  return t;
}

std::string longNote(size_t chars) {
  std::string s;
  while (s.size() < chars) s += "line " + std::to_string(s.size()) + " of a long note; ";
  return s.substr(0, chars);
}

// One write operation on an open database.
struct Operation {
  std::string name;
  std::function<void(jet::Database&)> run;
};

class WriteFaults : public ::testing::TestWithParam<jet::CreateOptions> {
 protected:
  // A database with the People table and `rows` rows; returns where the row after them would
  // split an index page when `findSplit` is set (the file then holds the rows before that one).
  std::string makeBase(int rows, bool findSplit = false, int* splitRow = nullptr) {
    const std::string path = (dir_.path() / ("base" + std::to_string(bases_++) + ".mdb")).string();
    auto db = jet::Database::create(path, GetParam());
    db->createTable(peopleTable());
    const size_t pageSize = GetParam().format == jet::Format::Jet3 ? 2048 : 4096;
    // Index pages (leaves and intermediate pages) in the file as it is now.
    auto indexPages = [&] {
      const std::vector<uint8_t> bytes = jettest::readFile(path);
      size_t n = 0;
      for (size_t at = 0; at < bytes.size(); at += pageSize) n += bytes[at] == 0x03 || bytes[at] == 0x04;
      return n;
    };
    for (int i = 0; i < rows || findSplit; ++i) {
      if (findSplit) {
        const std::vector<uint8_t> before = jettest::readFile(path);
        const size_t had = indexPages();
        db->insertRow("People", personRow(i));
        if (indexPages() > had && i > 0) {
          db->close();
          jettest::writeFile(path, before);
          *splitRow = i;
          return path;
        }
        if (i > 400) {
          ADD_FAILURE() << "no index split within 400 rows";
          break;
        }
        continue;
      }
      db->insertRow("People", personRow(i, i % 5 == 0 ? "note " + std::to_string(i) : ""));
    }
    db->close();
    return path;
  }

  // Runs the operation on a fresh copy of `base` with every failure point in turn.
  void runMatrix(const std::string& base, const Operation& op) {
    Disarm disarm;
    // The state after a successful run, and how many writes that takes.
    const std::string good = (dir_.path() / "good.mdb").string();
    fs::copy_file(base, good, fs::copy_options::overwrite_existing);
    uint64_t writes = 0;
    {
      auto db = jet::Database::open(good);
      db->objects();
      const uint64_t start = jet::FaultEnv::install().operations();
      op.run(*db);
      writes = jet::FaultEnv::install().operations() - start;
      db->close();
    }
    ASSERT_GT(writes, 0u) << op.name << " wrote nothing";
    ASSERT_LE(writes, uint64_t(kMaxFailurePoints)) << op.name;
    ASSERT_TRUE(problemsOf(good).empty()) << op.name << ": " << problemsOf(good).front();
    const std::string before = contentOf(base), after = contentOf(good);
    ASSERT_NE(before, after) << op.name << " changed nothing a user sees";
    const std::vector<uint8_t> baseBytes = jettest::readFile(base);

    std::cout << "[ matrix   ] " << op.name << ": " << writes << " failure points x " << kFaults.size() << " faults\n";
    const std::string work = (dir_.path() / "work.mdb").string();
    for (Fault fault : kFaults) {
      for (uint64_t n = 1; n <= writes; ++n) {
        const std::string where = op.name + ", " + faultName(fault) + " at write " + std::to_string(n) + " of " +
                                  std::to_string(writes);
        fs::copy_file(base, work, fs::copy_options::overwrite_existing);
        auto db = jet::Database::open(work);
        db->objects();
        jet::FaultEnv::install().failAt(int(n), fault);
        int error = 0;
        try {
          op.run(*db);
        } catch (const jet::Error& e) {
          error = e.number();
        }
        jet::FaultEnv::install().failAt(0, Fault::None);
        EXPECT_EQ(error, expectedError(fault)) << where;
        // The file as another reader sees it now, while the session is still open.
        if (jettest::readFile(work) != baseBytes) {
          const auto problems = problemsOf(work);
          EXPECT_TRUE(problems.empty()) << where << ": " << problems.front();
          const std::string now = contentOf(work);
          EXPECT_TRUE(now == before || now == after) << where << ": the file holds neither state";
        }
        // The session goes on: the same operation now succeeds.
        try {
          op.run(*db);
          db->close();
        } catch (const jet::Error& e) {
          ADD_FAILURE() << where << ": repeating it failed: " << e.description();
          continue;
        }
        const auto problems = problemsOf(work);
        EXPECT_TRUE(problems.empty()) << where << ", repeated: " << problems.front();
        EXPECT_EQ(contentOf(work), after) << where << ", repeated";
        if (HasFailure()) return;  // one broken failure point tells the story
      }
    }
  }

  jettest::TempDir dir_;
  int bases_ = 0;
};

TEST_P(WriteFaults, CreateDatabaseLeavesNoFileOrAWholeOne) {
  Disarm disarm;
  const std::string path = (dir_.path() / "new.mdb").string();
  uint64_t start = jet::FaultEnv::install().operations();
  jet::Database::create(path, GetParam())->close();
  const uint64_t writes = jet::FaultEnv::install().operations() - start;
  ASSERT_GT(writes, 0u);
  fs::remove(path);
  for (Fault fault : kFaults) {
    for (uint64_t n = 1; n <= writes; ++n) {
      const std::string where = std::string(faultName(fault)) + " at write " + std::to_string(n);
      jet::FaultEnv::install().failAt(int(n), fault);
      int error = 0;
      try {
        jet::Database::create(path, GetParam())->close();
      } catch (const jet::Error& e) {
        error = e.number();
      }
      jet::FaultEnv::install().failAt(0, Fault::None);
      EXPECT_EQ(error, expectedError(fault)) << where;
      // Only the last step, forcing the finished file to the disk, may fail with the file whole.
      if (fs::exists(path)) {
        EXPECT_EQ(n, writes) << where << ": a half-made database was left behind";
        EXPECT_TRUE(problemsOf(path).empty()) << where;
      }
      fs::remove(path);
    }
  }
  jet::Database::create(path, GetParam())->close();
  EXPECT_TRUE(problemsOf(path).empty());
}

TEST_P(WriteFaults, SchemaChanges) {
  const std::string base = makeBase(12);
  runMatrix(base, {"create table", [](jet::Database& db) {
                     jet::NewTable t = peopleTable();
                     t.name = "Added";
                     db.createTable(t);
                   }});
  runMatrix(base, {"rename table", [](jet::Database& db) { db.renameTable("People", "Persons"); }});
  runMatrix(base, {"drop table", [](jet::Database& db) { db.dropTable("People"); }});
}

TEST_P(WriteFaults, RowChanges) {
  const std::string base = makeBase(12);
  runMatrix(base, {"insert", [](jet::Database& db) { db.insertRow("People", personRow(100, "short note")); }});
  runMatrix(base, {"insert with a long value", [](jet::Database& db) {
                     db.insertRow("People", personRow(101, longNote(9000)));
                   }});
  // Row addresses are the same in every copy of the base file.
  jet::RowId fifth;
  {
    auto db = jet::Database::open(base, {true, ""});
    auto cursor = db->openTable("People");
    for (int i = 0; i < 5 && cursor->next(); ++i) fifth = cursor->rowId();
  }
  runMatrix(base, {"update to a long value", [&](jet::Database& db) {
                     db.updateRow("People", fifth, personRow(4, longNote(6000)));
                   }});
  runMatrix(base, {"update of the key", [&](jet::Database& db) {
                     db.updateRow("People", fifth, personRow(300));
                   }});
  runMatrix(base, {"delete", [&](jet::Database& db) { db.deleteRow("People", fifth); }});
  runMatrix(base, {"queued inserts", [](jet::Database& db) {
                     for (int i = 0; i < 20; ++i) db.queueInsert("People", personRow(200 + i, i % 4 ? "" : longNote(3000)));
                     db.commitQueued();
                   }});
}

TEST_P(WriteFaults, InsertThatSplitsAnIndexPage) {
  int split = 0;
  const std::string base = makeBase(0, true, &split);
  ASSERT_GT(split, 0);
  runMatrix(base, {"insert splitting an index page", [split](jet::Database& db) { db.insertRow("People", personRow(split)); }});
}

// A failing flush (the data reaching the disk) is reported by close; every page had been written,
// so the file holds the operation's result.
TEST_P(WriteFaults, AFailedFlushIsReportedAndKeepsTheWrittenState) {
  Disarm disarm;
  const std::string base = makeBase(3);
  {
    auto db = jet::Database::open(base);
    db->insertRow("People", personRow(50, "kept"));
    jet::FaultEnv::install().failAt(1, Fault::IoError);
    int error = 0;
    try {
      db->close();
    } catch (const jet::Error& e) {
      error = e.number();
    }
    EXPECT_EQ(error, jet::err::kIoError);
  }
  EXPECT_TRUE(problemsOf(base).empty());
  EXPECT_NE(contentOf(base).find(personName(50)), std::string::npos);
}

// Both .mdb formats, and an .accdb in the newer sort order.
INSTANTIATE_TEST_SUITE_P(EveryLayout, WriteFaults,
                         ::testing::Values(jet::CreateOptions{jet::Format::Jet3}, jet::CreateOptions{jet::Format::Jet4},
                                           jet::CreateOptions{jet::Format::Jet4, 1252, 1033, jet::FileVersion::Access2010}),
                         [](const auto& info) {
                           if (info.param.version == jet::FileVersion::Access2010) return "Access2010";
                           return info.param.format == jet::Format::Jet3 ? "Jet3" : "Jet4";
                         });

}  // namespace
