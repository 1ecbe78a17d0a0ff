// Faults and crashes during writes, over one table of write operations. For every operation and
// every page write or force it issues:
// - that write fails (disk full, I/O error, a short write): the error is reported, the file on disk
//   checks clean and holds the state before or after the operation, and the same session repeats
//   the operation successfully;
// - a forked child ends there, as a killed process or as a power cut would (what was not forced is
//   lost, whole or in part): the file checks clean and holds one of the two states, seen through a
//   read-only open (which applies a hot journal in memory and changes nothing) and a read-write
//   open (which plays it back).
// Then creating a database under both, the journal's own cases, and a real kill test: a child doing
// large writes is killed at random moments. (That no page changes before the journal holds what it
// was follows from the crash matrix: a kill at each write leaves one of the two states.)
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "jet/database.h"
#include "jet/storage/fault_env.h"
#include "jet/storage/journal.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"
#include "support/processes.h"

namespace fs = std::filesystem;
using jet::FaultEnv;
using Fault = jet::FaultEnv::Fault;
using Crash = jet::FaultEnv::Crash;

namespace {

// Every file these tests open goes through the fault and crash simulation.
const bool kSimulated = (FaultEnv::install(), true);

#if TABULONIX_SANITIZED
// The sanitizer build uses one kind of fault, visits every fourth crash point and kills a smaller
// table's writer less often.
const std::vector<Fault> kFaults = {Fault::ShortWrite};
constexpr uint64_t kPointStep = 4;
constexpr int kKills = 6;
constexpr int kKillRows = 1500;
#else
const std::vector<Fault> kFaults = {Fault::DiskFull, Fault::IoError, Fault::ShortWrite};
constexpr uint64_t kPointStep = 1;
constexpr int kKills = 20;
constexpr int kKillRows = 6000;
#endif
constexpr uint64_t kMaxFailurePoints = 400;

const char* faultName(Fault f) { return f == Fault::DiskFull ? "disk full" : f == Fault::IoError ? "I/O error" : "short write"; }
int expectedError(Fault f) { return f == Fault::DiskFull ? jet::err::kDiskFull : jet::err::kIoError; }

// Disarms the process-wide fault whatever happens in the test.
struct Disarm {
  ~Disarm() { FaultEnv::install().failAt(0, Fault::None); }
};

// What a reader sees: every user table's name, fields and rows (sorted: a repeated insert may land
// on another page, which is no difference a user sees), and the check's first problem.
struct View {
  std::string content;
  std::string problem;
};

View viewOf(const std::string& path, bool readOnly) {
  auto db = jet::Database::open(path, {readOnly, ""});
  View v;
  for (const auto& obj : db->objects()) {
    if (obj.kind != jet::ObjectKind::Table) continue;
    v.content += "[" + obj.name + "]";
    for (const auto& c : db->table(obj.name).columns) v.content += " " + c.name;
    std::vector<std::string> rows = jettest::rowsOf(*db, obj.name);
    std::sort(rows.begin(), rows.end());
    for (const auto& r : rows) v.content += "\n" + r;
    v.content += "\n";
  }
  v.problem = jettest::firstProblem(*db);
  db->close();
  return v;
}

// A file a crash left behind: a reader sees a sound state and changes neither the file nor its
// journal; a writer plays the journal back, removes it and sees the same state. Returns that state.
View afterCrash(const std::string& path) {
  const std::string journal = jet::journalPathOf(path);
  const auto bytes = jettest::readFile(path);
  const auto journalBytes = fs::exists(journal) ? jettest::readFile(journal) : std::vector<uint8_t>{};
  const View seen = viewOf(path, true);
  EXPECT_EQ(seen.problem, "") << "read-only";
  EXPECT_EQ(jettest::readFile(path), bytes) << "a reader changed the file";
  EXPECT_EQ(fs::exists(journal) ? jettest::readFile(journal) : std::vector<uint8_t>{}, journalBytes) << "a reader changed the journal";
  const View played = viewOf(path, false);
  EXPECT_FALSE(fs::exists(journal)) << "the journal was left";
  EXPECT_EQ(played.problem, "");
  EXPECT_EQ(played.content, seen.content) << "the writer sees another state than the reader did";
  return seen;
}

std::string longNote(size_t chars) {
  std::string s;
  while (s.size() < chars) s += "line " + std::to_string(s.size()) + " of a long note; ";
  return s.substr(0, chars);
}

// Long names fill index pages quickly, so that a few dozen rows reach a split.
std::vector<jet::Value> personRow(int i, const std::string& note = "") {
  std::string name = "person " + std::to_string(1000 + i) + " ";
  while (name.size() < 180) name += char('a' + (i * 7 + int(name.size())) % 26);
  return {jet::Value{}, name, note.empty() ? jet::Value{} : jet::Value{note}};
}

jet::NewTable peopleTable(const std::string& name = "People") {
  return {name, {{"ID", jet::ColumnType::Long, 0, true}, {"Name", jet::ColumnType::Text, 200}, {"Note", jet::ColumnType::Memo}},
          {{"PrimaryKey", {{0, true}}, true, true}, {"ByName", {{1, true}}}}};
}

using testsupport::inChild;

// The file an operation starts from: the People table with 24 rows, every fourth with a long note.
struct Base {
  std::string path;
  std::vector<jet::RowId> ids;
};

struct Operation {
  const char* name;
  bool faults, crashes;  // the matrices it runs in
  std::function<void(jet::Database&, const Base&)> run;
};

const Operation kOperations[] = {
    {"CreateTable", true, true, [](jet::Database& db, const Base&) { db.createTable(peopleTable("Added")); }},
    {"RenameTable", true, true, [](jet::Database& db, const Base&) { db.renameTable("People", "Persons"); }},
    {"DropTable", true, true, [](jet::Database& db, const Base&) { db.dropTable("People"); }},
    {"Insert", true, true, [](jet::Database& db, const Base&) { db.insertRow("People", personRow(100, "short")); }},
    {"InsertLongValue", true, false,
     [](jet::Database& db, const Base&) { db.insertRow("People", personRow(101, longNote(9000))); }},
    {"UpdateToLongValue", true, true,
     [](jet::Database& db, const Base& b) { db.updateRow("People", b.ids[4], personRow(4, longNote(6000))); }},
    {"UpdateOfTheKey", true, false,
     [](jet::Database& db, const Base& b) { db.updateRow("People", b.ids[4], personRow(300)); }},
    {"Delete", true, true, [](jet::Database& db, const Base& b) { db.deleteRow("People", b.ids[8]); }},
    {"RangeDelete", false, true,
     [](jet::Database& db, const Base& b) {
       db.deleteRows("People", std::vector<jet::RowId>(b.ids.begin() + 2, b.ids.begin() + 20));
     }},
    {"QueuedInserts", true, true,
     [](jet::Database& db, const Base&) {
       for (int i = 0; i < 30; ++i) db.queueInsert("People", personRow(200 + i, i % 5 ? "" : longNote(3000)));
       db.commitQueued();
     }},
};

struct Layout {
  const char* name;
  jet::CreateOptions options;
  bool crashes;  // the crash matrices run on the two .mdb layouts
};

const Layout kLayouts[] = {{"Jet3", {jet::Format::Jet3Layout}, true},
                           {"Jet4", {jet::Format::Jet4Layout}, true},
                           {"Access2010", {jet::Format::Jet4Layout, 1252, 1033, jet::FileVersion::Access2010}, false}};

class WriteFaults : public ::testing::TestWithParam<std::tuple<size_t, size_t>> {
 protected:
  const Layout& layout() const { return kLayouts[std::get<0>(GetParam())]; }
  const Operation& op() const { return kOperations[std::get<1>(GetParam())]; }

  Base makeBase() {
    Base b;
    b.path = dir_.file("base.mdb");
    auto db = jet::Database::create(b.path, layout().options);
    db->createTable(peopleTable());
    for (int i = 0; i < 24; ++i) db->insertRow("People", personRow(i, i % 4 ? "" : longNote(1500 + i * 150)));
    b.ids = jettest::rowIdsOf(*db, "People");
    db->close();
    return b;
  }

  // Runs the operation once on a copy of the base: the states before and after it, and how many
  // writes it takes (with closing the file, which forces it, when `withClose`).
  uint64_t runOnce(const Base& base, const std::string& work, bool withClose, View* before, View* after) {
    fs::copy_file(base.path, work, fs::copy_options::overwrite_existing);
    auto db = jet::Database::open(work);
    db->objects();
    const uint64_t start = FaultEnv::install().operations();
    op().run(*db, base);
    uint64_t writes = FaultEnv::install().operations() - start;
    db->close();
    if (withClose) writes = FaultEnv::install().operations() - start;
    *before = viewOf(base.path, true);
    *after = viewOf(work, true);
    EXPECT_EQ(after->problem, "");
    EXPECT_NE(before->content, after->content) << "the operation changed nothing a user sees";
    return writes;
  }

  jettest::TempDir dir_;
};

TEST_P(WriteFaults, EveryWriteFails) {
  Disarm disarm;
  const Base base = makeBase();
  const std::string work = dir_.file("work.mdb");
  View before, after;
  const uint64_t writes = runOnce(base, work, false, &before, &after);
  ASSERT_FALSE(HasFailure());
  ASSERT_GT(writes, 0u);
  ASSERT_LE(writes, kMaxFailurePoints);
  const std::vector<uint8_t> baseBytes = jettest::readFile(base.path);
  for (Fault fault : kFaults) {
    for (uint64_t n = 1; n <= writes; ++n) {
      SCOPED_TRACE(std::string(faultName(fault)) + " at write " + std::to_string(n) + " of " + std::to_string(writes));
      fs::copy_file(base.path, work, fs::copy_options::overwrite_existing);
      auto db = jet::Database::open(work);
      db->objects();
      FaultEnv::install().failAt(int(n), fault);
      const int error = errorOf([&] { op().run(*db, base); });
      FaultEnv::install().failAt(0, Fault::None);
      EXPECT_EQ(error, expectedError(fault));
      // The file as another reader sees it now, while the session is still open.
      if (jettest::readFile(work) != baseBytes) {
        const View now = viewOf(work, true);
        EXPECT_EQ(now.problem, "");
        EXPECT_TRUE(now.content == before.content || now.content == after.content) << "the file holds neither state";
      }
      // The session goes on: the same operation now succeeds.
      try {
        op().run(*db, base);
        db->close();
      } catch (const jet::Error& e) {
        ADD_FAILURE() << "repeating it failed: " << e.description();
        continue;
      }
      const View repeated = viewOf(work, true);
      EXPECT_EQ(repeated.problem, "");
      EXPECT_EQ(repeated.content, after.content);
      if (HasFailure()) return;  // one broken failure point tells the story
    }
  }
}

class Crashes : public WriteFaults {};

TEST_P(Crashes, EveryWriteCrashes) {
  const Base base = makeBase();
  const std::string work = dir_.file("work.mdb"), journal = jet::journalPathOf(work);
  View before, after;
  const uint64_t writes = runOnce(base, work, true, &before, &after);
  ASSERT_FALSE(HasFailure());
  for (Crash kind : {Crash::Exit, Crash::PowerLoss}) {
    for (uint64_t n = 1; n <= writes; n += kPointStep) {
      SCOPED_TRACE(std::string(kind == Crash::Exit ? "killed" : "power cut") + " at write " + std::to_string(n) + " of " +
                   std::to_string(writes));
      fs::copy_file(base.path, work, fs::copy_options::overwrite_existing);
      fs::remove(journal);
      const int status = inChild([&] {
        auto db = jet::Database::open(work);
        db->objects();
        FaultEnv::install().crashAt(int(n), kind, uint32_t(n * 7919 + 13));
        op().run(*db, base);
        db->close();
      });
      ASSERT_EQ(status, FaultEnv::kCrashExitCode);
      const View seen = afterCrash(work);
      EXPECT_TRUE(seen.content == before.content || seen.content == after.content) << "a reader sees neither state";
      if (HasFailure()) return;
    }
  }
}

// The operations each matrix runs, on every layout it runs on.
std::vector<std::tuple<size_t, size_t>> cases(bool crashes) {
  std::vector<std::tuple<size_t, size_t>> out;
  for (size_t l = 0; l < std::size(kLayouts); ++l)
    for (size_t o = 0; o < std::size(kOperations); ++o)
      if (crashes ? kOperations[o].crashes && kLayouts[l].crashes : kOperations[o].faults) out.emplace_back(l, o);
  return out;
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<size_t, size_t>>& info) {
  return std::string(kLayouts[std::get<0>(info.param)].name) + "_" + kOperations[std::get<1>(info.param)].name;
}

INSTANTIATE_TEST_SUITE_P(Operations, WriteFaults, ::testing::ValuesIn(cases(false)), caseName);
INSTANTIATE_TEST_SUITE_P(Operations, Crashes, ::testing::ValuesIn(cases(true)), caseName);

// A new file, a database created or a compacted copy, appears whole or not at all: a failed write
// leaves no file (only the last step, forcing the finished file, may fail with the file whole), a
// crash leaves none or a whole sound one.
class NewFileFaults : public ::testing::TestWithParam<std::tuple<size_t, bool>> {
 protected:
  jettest::TempDir dir_;
};

TEST_P(NewFileFaults, NoFileOrAWholeOne) {
  Disarm disarm;
  const Layout& layout = kLayouts[std::get<0>(GetParam())];
  const bool compact = std::get<1>(GetParam());
  const std::string base = dir_.file("base.mdb"), path = dir_.file("new.mdb");
  {
    auto db = jet::Database::create(base, layout.options);
    db->createTable(peopleTable());
    for (int i = 0; i < 12; ++i) db->insertRow("People", personRow(i, i % 4 ? "" : longNote(1500 + i * 150)));
  }
  const std::string whole = compact ? viewOf(base, true).content : "";
  auto make = [&] { compact ? jet::Database::compact(base, path) : jet::Database::create(path, layout.options)->close(); };
  const uint64_t start = FaultEnv::install().operations();
  make();
  const uint64_t writes = FaultEnv::install().operations() - start;
  ASSERT_GT(writes, 0u);
  for (Fault fault : kFaults) {
    for (uint64_t n = 1; n <= writes; ++n) {
      SCOPED_TRACE(std::string(faultName(fault)) + " at write " + std::to_string(n));
      fs::remove(path);
      FaultEnv::install().failAt(int(n), fault);
      const int error = errorOf(make);
      FaultEnv::install().failAt(0, Fault::None);
      EXPECT_EQ(error, expectedError(fault));
      if (fs::exists(path)) {
        EXPECT_EQ(n, writes) << "a half-made file was left behind";
        const View v = viewOf(path, true);
        EXPECT_EQ(v.problem, "");
        EXPECT_EQ(v.content, whole);
      }
    }
  }
  if (!layout.crashes) return;
  for (Crash kind : {Crash::Exit, Crash::PowerLoss}) {
    for (uint64_t n = 1; n <= writes; n += kPointStep) {
      SCOPED_TRACE(std::string(kind == Crash::Exit ? "killed" : "power cut") + " at write " + std::to_string(n));
      fs::remove(path);
      const int status = inChild([&] {
        FaultEnv::install().crashAt(int(n), kind, uint32_t(n));
        make();
      });
      ASSERT_EQ(status, FaultEnv::kCrashExitCode);
      if (fs::exists(path)) {
        EXPECT_EQ(afterCrash(path).content, whole);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, NewFileFaults, ::testing::Combine(::testing::Range<size_t>(0, std::size(kLayouts)), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(kLayouts[std::get<0>(info.param)].name) + (std::get<1>(info.param) ? "_Compact" : "_Create");
                         });

// The journal itself, left hot by a commit (most rows deleted) killed just before it is cleared,
// every page written: a reader applies it in memory and changes nothing, a writer plays it back,
// restoring the original pages and length exactly. One that is torn, changed, zeroed or another
// file's (here: the file replaced by a rename) is not applied, and a writer removes it.
TEST(HotJournal, IsAppliedByReadersAndPlayedBackByWritersUnlessDamagedOrForeign) {
  jettest::TempDir dir;
  const std::string base = dir.file("base.mdb"), work = dir.file("work.mdb"), journal = jet::journalPathOf(work);
  {
    auto db = jet::Database::create(base, {jet::Format::Jet4Layout});
    db->createTable(peopleTable());
    for (int i = 0; i < 30; ++i) db->insertRow("People", personRow(i, i % 3 ? "" : longNote(2000)));
  }
  const std::vector<jet::RowId> ids = jettest::rowIdsOf(*jet::Database::open(base, {true, ""}), "People");
  fs::copy_file(base, work);
  jettest::crashBeforeTheJournalIsCleared(
      work, [&](jet::Database& db) { db.deleteRows("People", std::vector<jet::RowId>(ids.begin() + 1, ids.end())); });
  const std::vector<uint8_t> crashed = jettest::readFile(work), hot = jettest::readFile(journal);
  ASSERT_NE(crashed, jettest::readFile(base)) << "the pages were written";
  const View before = viewOf(base, true);
  std::vector<uint8_t> changed = hot, zeroed = hot;
  changed[jet::kJournalHeaderBytes + 4 + 4096 / 2] ^= 0x40;
  std::fill(zeroed.begin(), zeroed.begin() + long(jet::kJournalHeaderBytes), uint8_t(0));
  const struct {
    const char* what;
    std::vector<uint8_t> journal;
    bool foreign;
  } cases[] = {{"hot", hot, false},
               {"torn", std::vector<uint8_t>(hot.begin(), hot.end() - 100), false},
               {"a record changed", changed, false},
               {"header zeroed", zeroed, false},
               {"another file's", hot, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const bool valid = c.journal == hot && !c.foreign;
    jettest::writeFile(work, crashed);
    if (c.foreign) {
      fs::copy_file(work, dir.file("other.mdb"));
      fs::rename(dir.file("other.mdb"), work);
    }
    jettest::writeFile(journal, c.journal);
    const View seen = viewOf(work, true);
    EXPECT_EQ(seen.problem, "");
    EXPECT_EQ(seen.content == before.content, valid) << "applied or not";
    EXPECT_EQ(jettest::readFile(work), crashed) << "a reader changed the file";
    EXPECT_EQ(jettest::readFile(journal), c.journal) << "a reader changed the journal";
    { jet::Database::open(work)->close(); }
    EXPECT_FALSE(fs::exists(journal)) << "a writer left the journal";
    EXPECT_TRUE(jettest::readFile(work) == (valid ? jettest::readFile(base) : crashed)) << "played back or not";
  }
}

TEST(JournalFormat, RoundTripsAndRefusesDamage) {
  std::vector<uint8_t> a(2048, 0x11), b(2048, 0x22);
  const auto bytes = jet::encodeJournal(2048, 10 * 2048, 7, 9, {{3, a.data()}, {8, b.data()}}, 1234);
  auto j = jet::decodeJournal(bytes);
  ASSERT_TRUE(j);
  EXPECT_EQ(std::tie(j->pageSize, j->originalLength, j->device, j->inode), std::make_tuple(2048u, 10u * 2048, 7u, 9u));
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
  auto row = [](int i, bool withNote) { return personRow(i, withNote ? longNote(1500 + i * 37 % 4000) : ""); };
  jettest::TempDir dir;
  const std::string base = dir.file("base.mdb"), work = dir.file("work.mdb");
  {
    auto db = jet::Database::create(base, {jet::Format::Jet4Layout});
    db->createTable(peopleTable());
    for (int i = 0; i < kKillRows; ++i) db->queueInsert("People", row(i, i % 50 == 0));
    db->close();
  }
  std::mt19937 rng(seed);
  for (int r = 0; r < repeats; ++r) {
    SCOPED_TRACE("repeat " + std::to_string(r) + " of seed " + std::to_string(seed));
    fs::copy_file(base, work, fs::copy_options::overwrite_existing);
    const uint32_t childSeed = rng();
    const int delayMs = 20 + int(rng() % 400);
    const int pid = testsupport::spawn([&]() -> int {
      if (forced) jet::Env::setSyncToDisk(true);
      std::mt19937 crng(childSeed);
      auto db = jet::Database::open(work);
      for (;;) {
        const std::vector<jet::RowId> ids = jettest::rowIdsOf(*db, "People");
        const size_t from = crng() % std::max<size_t>(1, ids.size() / 2);
        switch (crng() % 4) {
          case 0:  // a range delete, row by row
            for (size_t i = from; i < from + std::min<size_t>(300, ids.size() - from); ++i) db->deleteRow("People", ids[i]);
            break;
          case 3:  // a range delete in one commit
            db->deleteRows("People", std::vector<jet::RowId>(ids.begin() + long(from),
                                                             ids.begin() + long(from + std::min<size_t>(1500, ids.size() - from))));
            break;
          case 1:  // an import
            for (int i = 0; i < 1500; ++i) db->queueInsert("People", row(int(crng() % 100000), i % 40 == 0));
            db->commitQueued();
            break;
          default:  // long values changed
            for (int i = 0; i < 20 && !ids.empty(); ++i)
              db->updateRow("People", ids[crng() % ids.size()], row(int(crng() % 100000), i % 2 == 0));
        }
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    ::kill(pid, SIGKILL);
    const int status = testsupport::waitFor(pid);
    ASSERT_EQ(status, -SIGKILL) << "the child stopped by itself";
    SCOPED_TRACE("after " + std::to_string(delayMs) + " ms");
    afterCrash(work);
    if (HasFailure()) break;
  }
}

}  // namespace
