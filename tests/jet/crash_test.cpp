// Crashes during writes. For every write operation and every write or force it issues, a forked
// child runs the operation and ends at that point, either as a killed process would or as a power
// cut would (what was not yet forced to the disk is lost, whole or in part). Afterwards the file
// passes its check and holds the state before the operation or the state after it, seen through a
// read-only open (which applies a hot journal in memory) and a read-write open (which plays it
// back). Then the journal's own cases, and a real kill test: a child doing large writes is killed
// at random moments.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "jet/database.h"
#include "jet/storage/journal.h"
#include "jet/storage/page_file.h"
#include "jet/support/test_files.h"
#include "jet/storage/fault_env.h"

namespace fs = std::filesystem;
using jet::PageFile;

namespace {

// Every file these tests open goes through the fault and crash simulation.
const bool kSimulated = (jet::FaultEnv::install(), true);

#if TABULONIX_SANITIZED
// The sanitizer build visits every fourth crash point and kills a smaller table's writer less often.
constexpr uint64_t kPointStep = 4;
constexpr int kKills = 6;
constexpr int kKillRows = 1500;
#else
constexpr uint64_t kPointStep = 1;
constexpr int kKills = 20;
constexpr int kKillRows = 6000;
#endif

// Every user table's name, fields and rows (sorted: a repeated insert may land elsewhere).
std::string contentOf(jet::Database& db) {
  std::string out;
  for (const auto& o : db.objects()) {
    if (o.kind != jet::ObjectKind::Table) continue;
    out += "[" + o.name + "]";
    auto cursor = db.openTable(o.name);
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

// What a reader sees, and whether the file checks clean (the first problem otherwise).
struct View {
  std::string content;
  std::string problem;
};

View viewOf(const std::string& path, bool readOnly) {
  jet::OpenOptions o;
  o.readOnly = readOnly;
  auto db = jet::Database::open(path, o);
  View v;
  v.content = contentOf(*db);
  const auto problems = db->check().problems;
  if (!problems.empty()) v.problem = problems.front();
  db->close();
  return v;
}

std::string note(int i) {
  std::string s;
  while (s.size() < size_t(1500 + i * 37 % 4000)) s += "note " + std::to_string(i) + " line " + std::to_string(s.size()) + "; ";
  return s;
}

std::vector<jet::Value> personRow(int i, bool withNote) {
  std::string name = "person " + std::to_string(1000 + i) + " ";
  while (name.size() < 120) name += char('a' + (i * 7 + int(name.size())) % 26);
  return {jet::Value{}, name, withNote ? jet::Value{note(i)} : jet::Value{}};
}

jet::NewTable peopleTable(const std::string& name = "People") {
  jet::NewTable t;
  t.name = name;
  t.columns = {{"ID", jet::ColumnType::Long}, {"Name", jet::ColumnType::Text, 200}, {"Note", jet::ColumnType::Memo}};
  t.columns[0].autoNumber = true;
  t.indexes = {{"PrimaryKey", {{0, true}}, true, true}, {"ByName", {{1, true}}}};
  return t;
}

// Runs `work` in a forked child; returns its exit status (or -signal).
int inChild(const std::function<void()>& work) {
  fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    int code = 0;
    try {
      work();
    } catch (...) {
      code = 3;
    }
    ::_exit(code);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

struct Operation {
  std::string name;
  std::function<void(jet::Database&)> run;
};

class Crashes : public ::testing::TestWithParam<jet::Format> {
 protected:
  std::string makeBase(int rows) {
    const std::string path = (dir_.path() / "base.mdb").string();
    fs::remove(path);
    auto db = jet::Database::create(path, {GetParam()});
    db->createTable(peopleTable());
    for (int i = 0; i < rows; ++i) db->insertRow("People", personRow(i, i % 4 == 0));
    db->close();
    return path;
  }

  // Every crash point of the operation, of both kinds.
  void runMatrix(const std::string& base, const Operation& op) {
    const std::string work = (dir_.path() / "work.mdb").string();
    const std::string journal = jet::journalPathOf(work);
    fs::copy_file(base, work, fs::copy_options::overwrite_existing);
    uint64_t writes = 0;
    {
      auto db = jet::Database::open(work);
      db->objects();
      const uint64_t start = jet::FaultEnv::install().operations();
      op.run(*db);
      db->close();
      writes = jet::FaultEnv::install().operations() - start;
    }
    const View after = viewOf(work, true);
    ASSERT_EQ(after.problem, "") << op.name;
    const View before = viewOf(base, true);
    ASSERT_NE(before.content, after.content) << op.name << " changed nothing a reader sees";
    std::cout << "[ crashes  ] " << op.name << ": " << writes << " crash points x 2 kinds\n";

    for (jet::FaultEnv::Crash kind : {jet::FaultEnv::Crash::Exit, jet::FaultEnv::Crash::PowerLoss}) {
      for (uint64_t n = 1; n <= writes; n += kPointStep) {
        const std::string where = op.name + (kind == jet::FaultEnv::Crash::Exit ? ", killed" : ", power cut") +
                                  " at write " + std::to_string(n) + " of " + std::to_string(writes);
        fs::copy_file(base, work, fs::copy_options::overwrite_existing);
        fs::remove(journal);
        const int status = inChild([&] {
          auto db = jet::Database::open(work);
          db->objects();
          jet::FaultEnv::install().crashAt(int(n), kind, uint32_t(n * 7919 + 13));
          op.run(*db);
          db->close();
        });
        ASSERT_EQ(status, jet::FaultEnv::kCrashExitCode) << where;
        // A reader sees a consistent state and changes nothing.
        const auto bytes = jettest::readFile(work);
        const bool hot = fs::exists(journal);
        const auto journalBytes = hot ? jettest::readFile(journal) : std::vector<uint8_t>{};
        const View seen = viewOf(work, true);
        EXPECT_EQ(seen.problem, "") << where << " (read-only)";
        EXPECT_TRUE(seen.content == before.content || seen.content == after.content)
            << where << ": a reader sees neither state";
        EXPECT_EQ(jettest::readFile(work), bytes) << where << ": a reader changed the file";
        EXPECT_EQ(fs::exists(journal), hot) << where;
        if (hot) {
          EXPECT_EQ(jettest::readFile(journal), journalBytes) << where << ": a reader changed the journal";
        }
        // A writer plays the journal back: the same state, and it stays.
        const View played = viewOf(work, false);
        EXPECT_FALSE(fs::exists(journal)) << where << ": the journal was left";
        EXPECT_EQ(played.problem, "") << where;
        EXPECT_EQ(played.content, seen.content) << where << ": the writer sees another state than the reader did";
        if (HasFailure()) return;
      }
    }
  }

  jettest::TempDir dir_;
};

TEST_P(Crashes, RowChanges) {
  const std::string base = makeBase(24);
  std::vector<jet::RowId> ids;
  {
    auto db = jet::Database::open(base, {true, ""});
    auto cursor = db->openTable("People");
    while (cursor->next()) ids.push_back(cursor->rowId());
  }
  ASSERT_EQ(ids.size(), 24u);
  runMatrix(base, {"insert", [](jet::Database& db) { db.insertRow("People", personRow(100, true)); }});
  runMatrix(base, {"update", [&](jet::Database& db) { db.updateRow("People", ids[4], personRow(300, true)); }});
  runMatrix(base, {"delete", [&](jet::Database& db) { db.deleteRow("People", ids[8]); }});
  runMatrix(base, {"range delete", [&](jet::Database& db) {
                     db.deleteRows("People", std::vector<jet::RowId>(ids.begin() + 2, ids.begin() + 20));
                   }});
  runMatrix(base, {"import", [](jet::Database& db) {
                     for (int i = 0; i < 40; ++i) db.queueInsert("People", personRow(200 + i, i % 5 == 0));
                     db.commitQueued();
                   }});
}

TEST_P(Crashes, SchemaChanges) {
  const std::string base = makeBase(6);
  runMatrix(base, {"create table", [](jet::Database& db) { db.createTable(peopleTable("Added")); }});
  runMatrix(base, {"rename table", [](jet::Database& db) { db.renameTable("People", "Persons"); }});
  runMatrix(base, {"drop table", [](jet::Database& db) { db.dropTable("People"); }});
}

// A new database appears whole or not at all.
TEST_P(Crashes, CreateDatabase) {
  const std::string path = (dir_.path() / "new.mdb").string();
  const uint64_t start = jet::FaultEnv::install().operations();
  jet::Database::create(path, {GetParam()})->close();
  const uint64_t writes = jet::FaultEnv::install().operations() - start;
  for (jet::FaultEnv::Crash kind : {jet::FaultEnv::Crash::Exit, jet::FaultEnv::Crash::PowerLoss}) {
    for (uint64_t n = 1; n <= writes; n += kPointStep) {
      const std::string where = std::string(kind == jet::FaultEnv::Crash::Exit ? "killed" : "power cut") + " at write " +
                                std::to_string(n) + " of " + std::to_string(writes);
      fs::remove(path);
      const int status = inChild([&] {
        jet::FaultEnv::install().crashAt(int(n), kind, uint32_t(n));
        jet::Database::create(path, {GetParam()})->close();
      });
      ASSERT_EQ(status, jet::FaultEnv::kCrashExitCode) << where;
      if (!fs::exists(path)) continue;
      const View v = viewOf(path, false);
      EXPECT_EQ(v.problem, "") << where;
      EXPECT_EQ(v.content, "") << where;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, Crashes, ::testing::Values(jet::Format::Jet3, jet::Format::Jet4),
                         [](const auto& info) { return info.param == jet::Format::Jet3 ? "Jet3" : "Jet4"; });

// The journal itself: a hot one is applied by readers in memory and played back by writers; one
// that is torn, zeroed or belongs to another file changes nothing.
class HotJournal : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = (dir_.path() / "base.mdb").string();
    auto db = jet::Database::create(base_, {jet::Format::Jet4});
    db->createTable(peopleTable());
    for (int i = 0; i < 30; ++i) db->insertRow("People", personRow(i, i % 3 == 0));
    db->close();
    work_ = (dir_.path() / "work.mdb").string();
    journal_ = jet::journalPathOf(work_);
  }

  // Leaves `work_` as a commit that deletes most rows leaves it when killed just before the
  // journal is cleared: every page written, the journal still hot.
  void crashLate() {
    fs::copy_file(base_, work_, fs::copy_options::overwrite_existing);
    auto ids = rowIds();
    auto op = [&](jet::Database& db) { db.deleteRows("People", std::vector<jet::RowId>(ids.begin() + 1, ids.end())); };
    uint64_t writes = 0;
    {
      auto db = jet::Database::open(work_);
      db->objects();
      const uint64_t start = jet::FaultEnv::install().operations();
      op(*db);
      writes = jet::FaultEnv::install().operations() - start;  // ... page writes, force, clear, force
      db->close();
    }
    fs::copy_file(base_, work_, fs::copy_options::overwrite_existing);
    ASSERT_EQ(inChild([&] {
                auto db = jet::Database::open(work_);
                db->objects();
                jet::FaultEnv::install().crashAt(int(writes - 1), jet::FaultEnv::Crash::Exit, 0);
                op(*db);
              }),
              jet::FaultEnv::kCrashExitCode);
    ASSERT_TRUE(fs::exists(journal_));
    ASSERT_NE(jettest::readFile(work_), jettest::readFile(base_)) << "the pages were written";
  }

  std::vector<jet::RowId> rowIds() {
    auto db = jet::Database::open(base_, {true, ""});
    auto cursor = db->openTable("People");
    std::vector<jet::RowId> ids;
    while (cursor->next()) ids.push_back(cursor->rowId());
    return ids;
  }

  jettest::TempDir dir_;
  std::string base_, work_, journal_;
};

TEST_F(HotJournal, AReaderAppliesItInMemoryAndAWriterPlaysItBack) {
  crashLate();
  const auto crashed = jettest::readFile(work_);
  const auto journal = jettest::readFile(journal_);
  const View before = viewOf(base_, true);
  const View seen = viewOf(work_, true);
  EXPECT_EQ(seen.problem, "");
  EXPECT_EQ(seen.content, before.content);
  EXPECT_EQ(jettest::readFile(work_), crashed);
  EXPECT_EQ(jettest::readFile(journal_), journal);
  // A writer restores the original pages and length exactly, and removes the journal.
  { jet::Database::open(work_)->close(); }
  EXPECT_FALSE(fs::exists(journal_));
  EXPECT_EQ(jettest::readFile(work_), jettest::readFile(base_));
}

TEST_F(HotJournal, TornZeroedOrForeignJournalsChangeNothing) {
  crashLate();
  const auto journal = jettest::readFile(journal_);
  const auto crashed = jettest::readFile(work_);
  const View before = viewOf(base_, true);
  std::vector<std::vector<uint8_t>> bad;
  bad.emplace_back(journal.begin(), journal.begin() + long(journal.size() - 100));  // torn
  std::vector<uint8_t> flipped = journal;
  flipped[jet::kJournalHeaderBytes + 4 + 4096 / 2] ^= 0x40;  // a record's bytes changed
  bad.push_back(flipped);
  std::vector<uint8_t> zeroed = journal;
  std::fill(zeroed.begin(), zeroed.begin() + long(jet::kJournalHeaderBytes), uint8_t(0));
  bad.push_back(zeroed);
  for (size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    jettest::writeFile(work_, crashed);
    jettest::writeFile(journal_, bad[i]);
    const View seen = viewOf(work_, true);
    EXPECT_NE(seen.content, before.content) << "an invalid journal was applied";
    EXPECT_TRUE(fs::exists(journal_)) << "a reader removed the journal";
    { jet::Database::open(work_)->close(); }
    EXPECT_FALSE(fs::exists(journal_)) << "a writer left an invalid journal";
    EXPECT_EQ(jettest::readFile(work_), crashed) << "an invalid journal was played back";
  }
  // A valid journal beside another file (here: the file replaced by a rename) is not its journal.
  jettest::writeFile(work_, crashed);
  const std::string other = (dir_.path() / "other.mdb").string();
  fs::copy_file(work_, other);
  fs::rename(other, work_);
  jettest::writeFile(journal_, journal);
  { jet::Database::open(work_)->close(); }
  EXPECT_FALSE(fs::exists(journal_));
  EXPECT_EQ(jettest::readFile(work_), crashed);
}

TEST(JournalFormat, RoundTripsAndRefusesDamage) {
  std::vector<uint8_t> a(2048, 0x11), b(2048, 0x22);
  const auto bytes = jet::encodeJournal(2048, 10 * 2048, 7, 9, {{3, a.data()}, {8, b.data()}}, 1234);
  auto j = jet::decodeJournal(bytes);
  ASSERT_TRUE(j);
  EXPECT_EQ(j->pageSize, 2048u);
  EXPECT_EQ(j->originalLength, 10u * 2048);
  EXPECT_EQ(j->device, 7u);
  EXPECT_EQ(j->inode, 9u);
  ASSERT_EQ(j->pages.size(), 2u);
  EXPECT_EQ(j->pages[1].first, 8u);
  EXPECT_EQ(j->pages[1].second, b);
  // Any single changed byte of the header or a record, or a missing tail, makes it invalid.
  for (size_t at : {size_t(0), size_t(17), size_t(30), jet::kJournalHeaderBytes, jet::kJournalHeaderBytes + 1000,
                    bytes.size() - 1}) {
    auto bad = bytes;
    bad[at] ^= 0x01;
    EXPECT_FALSE(jet::decodeJournal(bad)) << at;
  }
  EXPECT_FALSE(jet::decodeJournal(std::vector<uint8_t>(bytes.begin(), bytes.end() - 1)));
  // A record past the original length cannot be the file's.
  EXPECT_FALSE(jet::decodeJournal(jet::encodeJournal(2048, 8 * 2048, 7, 9, {{8, b.data()}}, 1)));
}

// A child doing large writes (range deletes row by row and in one commit, imports, long-value
// updates) is killed at random moments (TABULONIX_KILL_REPEATS, _SEED and _SYNC vary it outside
// the suite); every file it leaves passes its check, seen by a reader and after a writer's playback.
TEST(KillTest, LargeWritesKilledAtRandomMomentsLeaveSoundFiles) {
  int repeats = kKills;
  if (const char* r = std::getenv("TABULONIX_KILL_REPEATS")) repeats = std::max(1, std::atoi(r));
  uint32_t seed = 20261205;
  if (const char* s = std::getenv("TABULONIX_KILL_SEED")) seed = uint32_t(std::strtoul(s, nullptr, 10));
  // Forcing in the child makes commits as long as a user's, so that more kills land inside one.
  const bool forced = std::getenv("TABULONIX_KILL_SYNC") != nullptr;
  jettest::TempDir dir;
  const std::string base = (dir.path() / "base.mdb").string();
  {
    auto db = jet::Database::create(base, {jet::Format::Jet4});
    db->createTable(peopleTable());
    for (int i = 0; i < kKillRows; ++i) db->queueInsert("People", personRow(i, i % 50 == 0));
    db->close();
  }
  const std::string work = (dir.path() / "work.mdb").string();
  std::mt19937 rng(seed);
  int killed = 0, killedInCommit = 0;
  for (int r = 0; r < repeats; ++r) {
    SCOPED_TRACE("repeat " + std::to_string(r) + " of seed " + std::to_string(seed));
    fs::copy_file(base, work, fs::copy_options::overwrite_existing);
    const uint32_t childSeed = rng();
    const int delayMs = 20 + int(rng() % 400);
    fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (forced) jet::Env::setSyncToDisk(true);
      std::mt19937 crng(childSeed);
      try {
        auto db = jet::Database::open(work);
        for (int round = 0;; ++round) {
          std::vector<jet::RowId> ids;
          std::vector<std::vector<jet::Value>> rows;
          auto cursor = db->openTable("People");
          while (cursor->next()) ids.push_back(cursor->rowId());
          cursor.reset();
          switch (crng() % 4) {
            case 0: {  // a range delete, row by row
              const size_t from = crng() % std::max<size_t>(1, ids.size() / 2), count = std::min<size_t>(300, ids.size() - from);
              for (size_t i = from; i < from + count; ++i) db->deleteRow("People", ids[i]);
              break;
            }
            case 3: {  // a range delete in one commit
              const size_t from = crng() % std::max<size_t>(1, ids.size() / 2), count = std::min<size_t>(1500, ids.size() - from);
              db->deleteRows("People", std::vector<jet::RowId>(ids.begin() + long(from), ids.begin() + long(from + count)));
              break;
            }
            case 1:  // an import
              for (int i = 0; i < 1500; ++i) db->queueInsert("People", personRow(int(crng() % 100000), i % 40 == 0));
              db->commitQueued();
              break;
            default:  // long values changed
              for (int i = 0; i < 20 && !ids.empty(); ++i)
                db->updateRow("People", ids[crng() % ids.size()], personRow(int(crng() % 100000), i % 2 == 0));
          }
        }
      } catch (...) {
        ::_exit(3);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself (status " << status << ")";
    ++killed;
    const std::string journal = jet::journalPathOf(work);
    killedInCommit += fs::exists(journal) && jet::decodeJournal(jettest::readFile(journal)) ? 1 : 0;
    const View seen = viewOf(work, true);
    EXPECT_EQ(seen.problem, "") << "after " << delayMs << " ms (read-only)";
    const View played = viewOf(work, false);
    EXPECT_EQ(played.problem, "") << "after " << delayMs << " ms";
    EXPECT_EQ(played.content, seen.content);
    if (HasFailure()) break;
  }
  std::cout << "[ killed   ] " << killed << " kills, " << killedInCommit << " of them inside a commit (a hot journal)\n";
}

}  // namespace
