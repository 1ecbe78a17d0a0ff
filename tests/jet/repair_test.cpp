// Repair over a damage matrix of real files of both formats: index pages zeroed, data pages zeroed
// or with their structure bits flipped, long-value pages broken, catalog pages damaged, the header
// page damaged, the file cut short. Each repaired copy passes the check, and its rows are compared
// value by value with the undamaged original: every row off the damaged pages is there, and no
// row is there that the original does not hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/catalog/schema_writer.h"
#include "jet/database.h"
#include "jet/repair.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"

namespace {

using jettest::TempDir;

#ifdef TABULONIX_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

std::string rowText(const std::vector<jet::Value>& values) {
  std::string s;
  for (const jet::Value& v : values) {
    s += jet::toText(v);
    s += '\x1f';
  }
  return s;
}

struct Row {
  std::string text;
  std::vector<jet::Value> values;
  uint32_t page = 0;
};

// The user tables of a file: each row with its values and the page its address names.
std::map<std::string, std::vector<Row>> readTables(const std::string& path, std::map<std::string, uint32_t>* tdefs = nullptr) {
  jet::OpenOptions options;
  options.readOnly = true;
  auto db = jet::Database::open(path, options);
  std::map<std::string, std::vector<Row>> out;
  for (const jet::CatalogObject& o : db->objects()) {
    if (o.kind != jet::ObjectKind::Table) continue;
    if (tdefs) (*tdefs)[o.name] = o.tdefPage;
    auto cursor = db->openTable(o.name);
    std::vector<Row>& rows = out[o.name];
    while (cursor->next()) {
      Row r;
      r.values = cursor->values();
      r.text = rowText(r.values);
      r.page = cursor->rowId().page;
      rows.push_back(std::move(r));
    }
  }
  return out;
}

struct Pages {
  size_t size = 0;
  std::vector<uint8_t> bytes;
  uint32_t count() const { return uint32_t(bytes.size() / size); }
  uint8_t* page(uint32_t n) { return bytes.data() + size_t(n) * size; }
  uint8_t type(uint32_t n) { return page(n)[0]; }
  uint32_t owner(uint32_t n) { return jet::le32(page(n) + 4); }
};

Pages load(const std::string& path) {
  Pages p;
  p.bytes = jettest::readFile(path);
  p.size = p.bytes.size() > 0x14 && p.bytes[0x14] == 0 ? 2048 : 4096;
  return p;
}

jet::RepairReport repair(const std::string& from, const std::string& to) {
  jet::RepairReport report = jet::repairDatabase(from, to);
  for (const std::string& p : report.problems) ADD_FAILURE() << to << ": " << p;
  return report;
}

std::multiset<std::string> texts(const std::vector<Row>& rows) {
  std::multiset<std::string> s;
  for (const Row& r : rows) s.insert(r.text);
  return s;
}

// Every row of `copy` is a row of `original`, and every row of `original` whose page is not in
// `damaged` is in `copy`.
void expectSalvaged(const std::string& what, const std::map<std::string, std::vector<Row>>& original,
                    const std::map<std::string, std::vector<Row>>& copy, const std::set<uint32_t>& damaged) {
  for (const auto& [name, rows] : original) {
    auto it = copy.find(name);
    ASSERT_NE(it, copy.end()) << what << ": table " << name << " is missing";
    std::multiset<std::string> have = texts(it->second), had = texts(rows);
    for (const std::string& t : have) {
      auto at = had.find(t);
      ASSERT_NE(at, had.end()) << what << ": table " << name << " holds a row its original does not";
      had.erase(at);
    }
    std::multiset<std::string> left = texts(it->second);
    for (const Row& r : rows) {
      if (damaged.count(r.page)) continue;
      auto at = left.find(r.text);
      EXPECT_NE(at, left.end()) << what << ": table " << name << " lost a row of undamaged page " << r.page;
      if (at != left.end()) left.erase(at);
    }
  }
}

struct Case {
  const char* file;
  bool hasLongValues;
};

std::vector<Case> matrixFiles() {
  std::vector<Case> files = {{"compIndexTestV1997.mdb", false}, {"compIndexTestV2000.mdb", false},
                             {"indexTestV1997.mdb", false},    {"test2V2000.mdb", true},
                             {"more/mdbr-testV1997.mdb", true}, {"overflowTestV2000.mdb", false}};
  if (!kSanitized) {
    files.push_back({"generated/longValuesV2000.mdb", true});
    files.push_back({"more/mdbr-testV2000.mdb", true});
  }
  return files;
}

// The data pages holding rows of user tables.
std::vector<uint32_t> userDataPages(Pages& p, const std::map<std::string, uint32_t>& tdefs) {
  std::set<uint32_t> owners;
  for (const auto& [name, page] : tdefs) owners.insert(page);
  std::vector<uint32_t> out;
  for (uint32_t n = 3; n < p.count(); ++n)
    if (p.type(n) == 0x01 && owners.count(p.owner(n))) out.push_back(n);
  return out;
}

TEST(Repair, IndexPagesZeroedCostNothing) {
  for (const Case& c : matrixFiles()) {
    TempDir dir;
    const std::string src = dir.copy(c.file, "src.mdb");
    const auto original = readTables(src);
    Pages p = load(src);
    int zeroed = 0;
    for (uint32_t n = 3; n < p.count(); ++n)
      if (p.type(n) == 0x03 || p.type(n) == 0x04) {
        std::fill(p.page(n), p.page(n) + p.size, 0);
        ++zeroed;
      }
    jettest::writeFile(src, p.bytes);
    const std::string out = (dir.path() / "out.mdb").string();
    const jet::RepairReport report = repair(src, out);
    EXPECT_EQ(report.total().rowsLost, 0u) << c.file;
    const auto copy = readTables(out);
    for (const auto& [name, rows] : original) {
      ASSERT_TRUE(copy.count(name)) << c.file << " " << name;
      const std::vector<Row>& got = copy.at(name);
      ASSERT_EQ(got.size(), rows.size()) << c.file << " " << name;
      for (size_t i = 0; i < rows.size(); ++i)
        for (size_t v = 0; v < rows[i].values.size(); ++v)
          EXPECT_EQ(got[i].values[v], rows[i].values[v]) << c.file << " " << name << " row " << i << " field " << v;
    }
    (void)zeroed;
  }
}

// Access leaves superseded copies of a table's pages that still name the table, in use until
// compaction. A usage map that accounts for every row of the definition is taken alone, so the old
// rows of such a copy do not come back beside the current ones.
TEST(Repair, PagesTheMapGaveUpDoNotRepeatRows) {
  for (const std::string file : {"testV2000.mdb", "ace/testV2007.accdb"}) {
    TempDir dir;
    const std::string ext = file.substr(file.rfind('.'));
    const std::string src = dir.copy(file, "src" + ext);
    std::map<std::string, uint32_t> tdefs;
    const auto original = readTables(src, &tdefs);
    {
      auto f = jet::SchemaFile::open(src);
      const uint32_t tdef = tdefs.at("Table1");
      uint32_t dataPage = 0;
      for (uint32_t p : f->usageMapPages(f->definition(tdef).ownedPagesPointer))
        if (f->page(p)[0] == 0x01 && jet::le32(f->page(p).data() + 4) == tdef) dataPage = p;
      ASSERT_NE(dataPage, 0u) << file;
      const uint32_t copy = f->allocatePage();
      f->writePage(copy, f->page(dataPage).data());
    }
    const std::string out = (dir.path() / ("out" + ext)).string();
    repair(src, out);
    const auto repaired = readTables(out);
    ASSERT_EQ(repaired.size(), original.size()) << file << ": no table of rows repeating a key";
    for (const auto& [name, rows] : original) EXPECT_EQ(texts(repaired.at(name)), texts(rows)) << file << " " << name;
  }
}

TEST(Repair, DamagedDataPagesLoseOnlyTheirRows) {
  std::mt19937 random(18);
  for (const Case& c : matrixFiles()) {
    for (const bool zero : {true, false}) {
      TempDir dir;
      const std::string src = dir.copy(c.file, "src.mdb");
      std::map<std::string, uint32_t> tdefs;
      const auto original = readTables(src, &tdefs);
      Pages p = load(src);
      const std::vector<uint32_t> data = userDataPages(p, tdefs);
      if (data.empty()) continue;
      std::set<uint32_t> damaged;
      for (size_t i = 0; i < data.size(); i += 3) damaged.insert(data[i]);
      const uint32_t countAt = p.size == 2048 ? 8 : 12;
      for (uint32_t n : damaged) {
        uint8_t* d = p.page(n);
        if (zero) {
          std::fill(d, d + p.size, 0);
          continue;
        }
        // A bit of the page's structure: its type, owner, row count or a row's flags.
        const uint16_t rows = jet::le16(d + countAt);
        const int pick = int(random() % 4);
        if (pick == 0) d[0] ^= uint8_t(1u << (random() % 8));
        else if (pick == 1) d[4 + random() % 4] ^= uint8_t(1u << (random() % 8));
        else if (pick == 2) d[countAt + random() % 2] ^= uint8_t(1u << (random() % 8));
        else if (rows > 0) d[countAt + 2 + 2 * (random() % rows) + 1] ^= uint8_t(0x40u << (random() % 2));
      }
      jettest::writeFile(src, p.bytes);
      const std::string out = (dir.path() / "out.mdb").string();
      const jet::RepairReport report = repair(src, out);
      const std::string what = std::string(c.file) + (zero ? " zeroed" : " flipped");
      expectSalvaged(what, original, readTables(out), damaged);
      if (zero) EXPECT_GT(report.total().pagesSkipped, 0u) << what;
    }
  }
}

TEST(Repair, BrokenLongValuesBecomeNull) {
  for (const Case& c : matrixFiles()) {
    if (!c.hasLongValues) continue;
    TempDir dir;
    const std::string src = dir.copy(c.file, "src.mdb");
    const auto original = readTables(src);
    Pages p = load(src);
    int broken = 0;
    for (uint32_t n = 3; n < p.count(); ++n)
      if (p.type(n) == 0x01 && p.owner(n) == 0x4C41564C && n % 2 == 0) {
        std::fill(p.page(n), p.page(n) + p.size, 0);
        ++broken;
      }
    if (broken == 0) continue;
    jettest::writeFile(src, p.bytes);
    const std::string out = (dir.path() / "out.mdb").string();
    const jet::RepairReport report = repair(src, out);
    uint64_t lost = 0;
    for (const jet::RepairedTable& t : report.tables) {
      EXPECT_EQ(t.rowsLost, 0u) << c.file << " " << t.name;
      if (original.count(t.name)) lost += t.longValuesLost;
    }
    EXPECT_GT(report.total().longValuesLost, 0u) << c.file;
    const auto copy = readTables(out);
    uint64_t nulls = 0;
    for (const auto& [name, rows] : original) {
      const std::vector<Row>& got = copy.at(name);
      ASSERT_EQ(got.size(), rows.size()) << c.file << " " << name;
      for (size_t i = 0; i < rows.size(); ++i)
        for (size_t v = 0; v < rows[i].values.size(); ++v) {
          if (got[i].values[v] == rows[i].values[v]) continue;
          // Only a long value may differ, and only by being lost.
          EXPECT_TRUE(std::holds_alternative<jet::Null>(got[i].values[v])) << c.file << " " << name << " row " << i;
          ++nulls;
        }
    }
    EXPECT_EQ(nulls, lost) << c.file;
  }
}

// The catalog's rows lost: every table is found by scanning and comes back whole under the name
// of its definition page. A table whose definition is lost is named in the report.
TEST(Repair, TablesAreFoundByScanningWhenTheCatalogIsDamaged) {
  for (const char* file : {"indexTestV1997.mdb", "compIndexTestV2000.mdb", "test2V2000.mdb"}) {
    TempDir dir;
    const std::string src = dir.copy(file, "src.mdb");
    std::map<std::string, uint32_t> tdefs;
    const auto original = readTables(src, &tdefs);
    Pages p = load(src);
    for (uint32_t n = 3; n < p.count(); ++n)
      if (p.type(n) == 0x01 && p.owner(n) == 2) std::fill(p.page(n), p.page(n) + p.size, 0);
    jettest::writeFile(src, p.bytes);
    const std::string out = (dir.path() / "out.mdb").string();
    repair(src, out);
    const auto copy = readTables(out);
    for (const auto& [name, rows] : original) {
      const std::string found = "Recovered_" + std::to_string(tdefs[name]);
      ASSERT_TRUE(copy.count(found)) << file << ": " << name << " not found as " << found;
      EXPECT_EQ(texts(copy.at(found)), texts(rows)) << file << " " << name;
    }
    // The engine's own tables are found under their names, so the copy takes new tables.
    auto db = jet::Database::open(out);
    EXPECT_NO_THROW(db->table("MSysACEs")) << file;
    jet::NewTable t;
    t.name = "Added";
    t.columns = {{"N", jet::ColumnType::Long}};
    db->createTable(t);
    db->insertRow("Added", {int64_t(1)});
    EXPECT_EQ(jettest::firstProblem(*db), "") << file;
  }
  // The catalog's own definition zeroed: a new catalog, every table found by scanning and whole.
  for (const char* file : {"indexTestV1997.mdb", "compIndexTestV2000.mdb"}) {
    TempDir dir;
    const std::string src = dir.copy(file, "src.mdb");
    std::map<std::string, uint32_t> tdefs;
    const auto original = readTables(src, &tdefs);
    Pages p = load(src);
    std::fill(p.page(2), p.page(2) + p.size, 0);
    jettest::writeFile(src, p.bytes);
    const std::string out = (dir.path() / "out.mdb").string();
    EXPECT_TRUE(repair(src, out).catalogRebuilt) << file;
    const auto copy = readTables(out);
    for (const auto& [name, rows] : original) {
      const std::string found = "Recovered_" + std::to_string(tdefs[name]);
      ASSERT_TRUE(copy.count(found)) << file << ": " << name << " not found as " << found;
      EXPECT_EQ(texts(copy.at(found)), texts(rows)) << file << " " << name;
    }
    for (const auto& [name, rows] : copy) EXPECT_EQ(name.rfind("Recovered_", 0), 0u) << file << " " << name;
  }
  // One table's definition page zeroed: that table is lost and reported, the others are whole.
  TempDir dir;
  const std::string src = dir.copy("indexTestV2000.mdb", "src.mdb");
  std::map<std::string, uint32_t> tdefs;
  auto original = readTables(src, &tdefs);
  Pages p = load(src);
  const std::string victim = tdefs.begin()->first;
  std::fill(p.page(tdefs[victim]), p.page(tdefs[victim]) + p.size, 0);
  jettest::writeFile(src, p.bytes);
  const std::string out = (dir.path() / "out.mdb").string();
  const jet::RepairReport report = repair(src, out);
  bool named = false;
  for (const jet::RepairedTable& t : report.tables) named = named || (t.name == victim && !t.note.empty());
  EXPECT_TRUE(named);
  original.erase(victim);
  expectSalvaged("definition zeroed", original, readTables(out), {});
}

TEST(Repair, DamagedHeaderAndTruncatedFiles) {
  for (const char* file : {"compIndexTestV1997.mdb", "compIndexTestV2000.mdb", "test2V2000.mdb", "indexTestV1997.mdb"}) {
    TempDir dir;
    const std::string src = dir.copy(file, "src.mdb");
    const auto original = readTables(src);
    Pages p = load(src);
    std::vector<uint8_t> whole = p.bytes;
    std::fill(p.page(0), p.page(0) + p.size, 0);
    jettest::writeFile(src, p.bytes);
    const std::string out = (dir.path() / "out.mdb").string();
    const jet::RepairReport report = repair(src, out);
    EXPECT_TRUE(report.formatInferred) << file;
    jet::OpenOptions options;
    options.readOnly = true;
    EXPECT_EQ(jet::Database::open(out, options)->pageSize(), p.size) << file;
    expectSalvaged(std::string(file) + " header", original, readTables(out), {});

    // Cut at two thirds, mid-page: rows on the pages that remain are there.
    const std::string cut = (dir.path() / "cut.mdb").string();
    whole.resize(whole.size() * 2 / 3 + 100);
    jettest::writeFile(cut, whole);
    const std::string out2 = (dir.path() / "out2.mdb").string();
    repair(cut, out2);
    const auto copy = readTables(out2);
    const uint32_t kept = uint32_t(whole.size() / p.size);
    for (const auto& [name, rows] : copy) {
      if (!original.count(name)) continue;
      std::set<uint32_t> gone;
      for (uint32_t n = kept; n < p.count(); ++n) gone.insert(n);
      expectSalvaged(std::string(file) + " cut", {{name, original.at(name)}}, {{name, rows}}, gone);
    }
  }
}

// A row whose key a unique index already holds (the index and the rows disagree) goes to the
// table's conflicts table, with the same columns; the table itself keeps its index sound.
TEST(Repair, RowsRepeatingAUniqueKeyGoToAConflictsTable) {
  for (const jet::Format format : {jet::Format::Jet3, jet::Format::Jet4}) {
    TempDir dir;
    const std::string src = (dir.path() / "src.mdb").string();
    {
      jet::CreateOptions options;
      options.format = format;
      auto db = jet::Database::create(src, options);
      jet::NewTable t;
      t.name = "Parts";
      t.columns = {{"Code", jet::ColumnType::Long}, {"Label", jet::ColumnType::Text, 50}, {"Notes", jet::ColumnType::Memo}};
      t.indexes = {{"PrimaryKey", {{0, true}}, true}};
      db->createTable(t);
      for (int i = 0; i < 20; ++i)
        db->insertRow("Parts", {int64_t(0x5A5A0000 + i), "part " + std::to_string(i), std::string(3000, char('a' + i))});
      db->close();
    }
    // Row 7's code becomes row 3's on the data page; the index still says 7.
    Pages p = load(src);
    int patched = 0;
    for (uint32_t n = 3; n < p.count(); ++n) {
      if (p.type(n) != 0x01 || p.owner(n) == 0x4C41564C) continue;
      for (size_t at = 0; at + 4 <= p.size; ++at)
        if (jet::le32(p.page(n) + at) == 0x5A5A0007u) {
          jet::put32(p.page(n) + at, 0x5A5A0003u);
          ++patched;
        }
    }
    ASSERT_EQ(patched, 1);
    jettest::writeFile(src, p.bytes);
    const std::string out = (dir.path() / "out.mdb").string();
    repair(src, out);
    const auto copy = readTables(out);
    ASSERT_TRUE(copy.count("Parts_RepairConflicts"));
    ASSERT_EQ(copy.at("Parts").size(), 19u);
    const std::vector<Row>& conflicts = copy.at("Parts_RepairConflicts");
    ASSERT_EQ(conflicts.size(), 1u);
    EXPECT_EQ(conflicts[0].values[0], jet::Value(int64_t(0x5A5A0003)));
    EXPECT_EQ(conflicts[0].values[1], jet::Value(std::string("part 7")));
    EXPECT_EQ(conflicts[0].values[2], jet::Value(std::string(3000, 'h')));
  }
}

TEST(Repair, AProtectedFileNeedsItsPassword) {
  TempDir dir;
  const std::string src = dir.copy("more/passwordV2000.mdb", "src.mdb");
  const std::string out = (dir.path() / "out.mdb").string();
  EXPECT_EQ(errorOf([&] { jet::repairDatabase(src, out, "wrong"); }), 3031);
  const jet::RepairReport report = jet::repairDatabase(src, out, "password");
  EXPECT_TRUE(report.problems.empty());
  EXPECT_EQ(report.total().rowsLost, 0u);
  jet::OpenOptions options;
  options.readOnly = true;
  options.password = "password";
  auto a = jet::Database::open(src, options);
  auto b = jet::Database::open(out, options);
  for (const jet::CatalogObject& o : a->objects()) {
    if (o.kind != jet::ObjectKind::Table) continue;
    auto x = a->openTable(o.name);
    auto y = b->openTable(o.name);
    while (x->next()) {
      ASSERT_TRUE(y->next()) << o.name;
      EXPECT_EQ(x->values(), y->values()) << o.name;
    }
    EXPECT_FALSE(y->next()) << o.name;
  }
}

// Damage fuzzing found: each input is a test file with a byte range zeroed, and its repaired copy
// must pass the check. A catalog definition damaged where its rows are read (the Id, Name and Type
// columns' descriptors) read every catalog row wrongly: one id for every object.
TEST(Repair, FuzzFindingsGiveSoundCopies) {
  struct Finding {
    const char* file;
    uint32_t page, from, to;  // bytes [from, to) of the page zeroed
  };
  const Finding findings[] = {
      {"ace/empty2010.accdb", 2, 190, 320},
      {"testV2000.mdb", 2, 190, 320},
  };
  for (const Finding& f : findings) {
    TempDir dir;
    const std::string src = dir.copy(f.file, "src" + std::filesystem::path(f.file).extension().string());
    std::vector<uint8_t> bytes = jettest::readFile(src);
    const size_t page = bytes[0x14] == 0 ? 2048 : 4096;
    std::fill(bytes.begin() + long(f.page * page + f.from), bytes.begin() + long(f.page * page + f.to), uint8_t(0));
    jettest::writeFile(src, bytes);
    const std::string out = (dir.path() / ("out" + std::filesystem::path(f.file).extension().string())).string();
    const jet::RepairReport report = repair(src, out);
    EXPECT_TRUE(report.catalogRebuilt) << f.file;
  }
}

TEST(Repair, RefusesWhatIsNoDatabase) {
  TempDir dir;
  const std::string src = (dir.path() / "junk.mdb").string();
  jettest::writeFile(src, std::vector<uint8_t>(20000, 0x37));
  try {
    jet::repairDatabase(src, (dir.path() / "out.mdb").string());
    FAIL() << "repaired junk";
  } catch (const jet::Error& e) {
    EXPECT_FALSE(e.description().empty());
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.mdb"));
  // A real file cut short before its catalog: nothing to recover either.
  std::vector<uint8_t> bytes = jettest::readFile(jettest::testdata("testV2000.mdb"));
  bytes.resize(4096 + 100);
  jettest::writeFile(src, bytes);
  EXPECT_THROW(jet::repairDatabase(src, (dir.path() / "out.mdb").string()), jet::Error);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.mdb"));
}

}  // namespace
