// Repair over a damage matrix of real files of both formats: index pages zeroed, data pages zeroed
// or with their structure bits flipped, long-value pages broken, catalog pages damaged, the header
// page damaged, the file cut short (before its catalog: nothing to recover, nothing written). Each
// repaired copy passes the check, and its rows are compared value by value with the undamaged
// original: every row off the damaged pages is there, and no row is there that the original does
// not hold.
#include <gtest/gtest.h>

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

struct Row {
  std::vector<jet::Value> values;
  std::string text;   // the values' texts
  uint32_t page = 0;  // the page its address names
};

// The user tables of a file: each row with its values and the page its address names.
std::map<std::string, std::vector<Row>> readTables(const std::string& path, std::map<std::string, uint32_t>* tdefs = nullptr,
                                                   const std::string& password = "") {
  auto db = jet::Database::open(path, {true, password});
  std::map<std::string, std::vector<Row>> out;
  for (const jet::CatalogObject& o : db->objects()) {
    if (o.kind != jet::ObjectKind::Table) continue;
    if (tdefs) (*tdefs)[o.name] = o.tdefPage;
    auto cursor = db->openTable(o.name);
    std::vector<Row>& rows = out[o.name];
    while (cursor->next()) {
      std::string text;
      for (const jet::Value& v : cursor->values()) text += jet::toText(v) + '\x1f';
      rows.push_back({cursor->values(), text, cursor->rowId().page});
    }
  }
  return out;
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

// A copy of a test file to damage: its user tables as they were, its pages, and its repaired copy.
struct Damaged {
  explicit Damaged(const std::string& file)
      : ext(std::filesystem::path(file).extension().string()), src(dir.copy(file, "src" + ext)),
        out(dir.file("out" + ext)), original(readTables(src, &tdefs)), p(src) {}
  // Writes the damaged pages back and repairs the file into `out`; `copy` holds what it salvaged.
  jet::RepairReport repaired() {
    jettest::writeFile(src, p.bytes);
    const jet::RepairReport report = repair(src, out);
    copy = readTables(out);
    return report;
  }
  TempDir dir;
  std::string ext, src, out;
  std::map<std::string, uint32_t> tdefs;
  std::map<std::string, std::vector<Row>> original, copy;
  jettest::PageImage p;
};

// Every row of `copy` is a row of `original`, and every row of `original` whose page is not in
// `damaged` is in `copy`.
void expectSalvaged(const std::string& what, const std::map<std::string, std::vector<Row>>& original,
                    const std::map<std::string, std::vector<Row>>& copy, const std::set<uint32_t>& damaged) {
  for (const auto& [name, rows] : original) {
    auto it = copy.find(name);
    ASSERT_NE(it, copy.end()) << what << ": table " << name << " is missing";
    std::multiset<std::string> had = texts(rows), left = texts(it->second);
    for (const std::string& t : left) {
      auto at = had.find(t);
      ASSERT_NE(at, had.end()) << what << ": table " << name << " holds a row its original does not";
      had.erase(at);
    }
    for (const Row& r : rows) {
      if (damaged.count(r.page)) continue;
      auto at = left.find(r.text);
      EXPECT_NE(at, left.end()) << what << ": table " << name << " lost a row of undamaged page " << r.page;
      if (at != left.end()) left.erase(at);
    }
  }
}

// Every table of the original is in the copy with the same rows in the same order.
void expectSameRows(const std::string& what, const std::map<std::string, std::vector<Row>>& original,
                    const std::map<std::string, std::vector<Row>>& copy) {
  for (const auto& [name, rows] : original) {
    ASSERT_TRUE(copy.count(name)) << what << " " << name;
    const std::vector<Row>& got = copy.at(name);
    ASSERT_EQ(got.size(), rows.size()) << what << " " << name;
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(got[i].values, rows[i].values) << what << " " << name << " row " << i;
  }
}

// Every table of the original comes back whole in the copy, found by scanning: named after its
// definition's page.
void expectFoundByScanning(const Damaged& d) {
  for (const auto& [name, rows] : d.original) {
    const std::string found = "Recovered_" + std::to_string(d.tdefs.at(name));
    ASSERT_TRUE(d.copy.count(found)) << d.src << ": " << name << " not found as " << found;
    EXPECT_EQ(texts(d.copy.at(found)), texts(rows)) << name;
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

TEST(Repair, IndexPagesZeroedCostNothing) {
  for (const Case& c : matrixFiles()) {
    Damaged d(c.file);
    for (uint32_t n = 3; n < d.p.count(); ++n)
      if (d.p.type(n) == 0x03 || d.p.type(n) == 0x04) d.p.zero(n);
    EXPECT_EQ(d.repaired().total().rowsLost, 0u) << c.file;
    expectSameRows(c.file, d.original, d.copy);
  }
}

TEST(Repair, DamagedDataPagesLoseOnlyTheirRows) {
  std::mt19937 random(18);
  for (const Case& c : matrixFiles()) {
    for (const bool zero : {true, false}) {
      Damaged d(c.file);
      std::set<uint32_t> owners, damaged;
      for (const auto& [name, page] : d.tdefs) owners.insert(page);
      int nth = 0;  // every third data page of a user table
      for (uint32_t n = 3; n < d.p.count(); ++n)
        if (d.p.type(n) == 0x01 && owners.count(d.p.owner(n)) && nth++ % 3 == 0) damaged.insert(n);
      if (damaged.empty()) continue;
      const uint32_t countAt = d.p.size == 2048 ? 8 : 12;
      for (uint32_t n : damaged) {
        uint8_t* page = d.p.page(n);
        if (zero) {
          d.p.zero(n);
          continue;
        }
        // A bit of the page's structure: its type, owner, row count or a row's flags.
        const uint16_t rows = jet::le16(page + countAt);
        const int pick = int(random() % 4);
        if (pick == 0) page[0] ^= uint8_t(1u << (random() % 8));
        else if (pick == 1) page[4 + random() % 4] ^= uint8_t(1u << (random() % 8));
        else if (pick == 2) page[countAt + random() % 2] ^= uint8_t(1u << (random() % 8));
        else if (rows > 0) page[countAt + 2 + 2 * (random() % rows) + 1] ^= uint8_t(0x40u << (random() % 2));
      }
      const jet::RepairReport report = d.repaired();
      const std::string what = std::string(c.file) + (zero ? " zeroed" : " flipped");
      expectSalvaged(what, d.original, d.copy, damaged);
      EXPECT_TRUE(!zero || report.total().pagesSkipped > 0) << what;
    }
  }
}

TEST(Repair, BrokenLongValuesBecomeNull) {
  for (const Case& c : matrixFiles()) {
    if (!c.hasLongValues) continue;
    Damaged d(c.file);
    int broken = 0;
    for (uint32_t n = 3; n < d.p.count(); ++n)
      if (d.p.type(n) == 0x01 && d.p.owner(n) == 0x4C41564C && n % 2 == 0) d.p.zero(n), ++broken;
    if (broken == 0) continue;
    const jet::RepairReport report = d.repaired();
    uint64_t lost = 0, nulls = 0;
    for (const jet::RepairedTable& t : report.tables) {
      EXPECT_EQ(t.rowsLost, 0u) << c.file << " " << t.name;
      if (d.original.count(t.name)) lost += t.longValuesLost;
    }
    EXPECT_GT(report.total().longValuesLost, 0u) << c.file;
    for (const auto& [name, rows] : d.original) {
      const std::vector<Row>& got = d.copy.at(name);
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
    Damaged d(file);
    for (uint32_t n = 3; n < d.p.count(); ++n)
      if (d.p.type(n) == 0x01 && d.p.owner(n) == 2) d.p.zero(n);
    d.repaired();
    expectFoundByScanning(d);
    // The engine's own tables are found under their names, so the copy takes new tables.
    auto db = jet::Database::open(d.out);
    EXPECT_NO_THROW(db->table("MSysACEs")) << file;
    db->createTable({"Added", {{"N", jet::ColumnType::Long}}, {}});
    db->insertRow("Added", {int64_t(1)});
    EXPECT_EQ(jettest::firstProblem(*db), "") << file;
  }
  // The catalog's own definition zeroed: a new catalog, every table found by scanning and whole.
  for (const char* file : {"indexTestV1997.mdb", "compIndexTestV2000.mdb"}) {
    Damaged d(file);
    d.p.zero(2);
    EXPECT_TRUE(d.repaired().catalogRebuilt) << file;
    expectFoundByScanning(d);
    for (const auto& [name, rows] : d.copy) EXPECT_EQ(name.rfind("Recovered_", 0), 0u) << file << " " << name;
  }
  // One table's definition page zeroed: that table is lost and reported, the others are whole.
  Damaged d("indexTestV2000.mdb");
  const std::string victim = d.tdefs.begin()->first;
  d.p.zero(d.tdefs[victim]);
  bool named = false;
  for (const jet::RepairedTable& t : d.repaired().tables) named = named || (t.name == victim && !t.note.empty());
  EXPECT_TRUE(named);
  d.original.erase(victim);
  expectSalvaged("definition zeroed", d.original, d.copy, {});
}

TEST(Repair, DamagedHeaderAndTruncatedFiles) {
  for (const char* file : {"compIndexTestV1997.mdb", "compIndexTestV2000.mdb", "test2V2000.mdb", "indexTestV1997.mdb"}) {
    Damaged d(file);
    std::vector<uint8_t> whole = d.p.bytes;
    d.p.zero(0);
    EXPECT_TRUE(d.repaired().formatInferred) << file;
    EXPECT_EQ(jet::Database::open(d.out, {true, ""})->pageSize(), d.p.size) << file;
    expectSalvaged(std::string(file) + " header", d.original, d.copy, {});

    // Cut at two thirds, mid-page: rows on the pages that remain are there.
    const std::string cut = d.dir.file("cut.mdb"), out2 = d.dir.file("out2.mdb");
    whole.resize(whole.size() * 2 / 3 + 100);
    jettest::writeFile(cut, whole);
    repair(cut, out2);
    std::set<uint32_t> gone;
    for (uint32_t n = uint32_t(whole.size() / d.p.size); n < d.p.count(); ++n) gone.insert(n);
    for (const auto& [name, rows] : readTables(out2))
      if (d.original.count(name)) expectSalvaged(std::string(file) + " cut", {{name, d.original.at(name)}}, {{name, rows}}, gone);
    // Cut short before its catalog: nothing to recover, and nothing written.
    whole.resize(d.p.size + 100);
    jettest::writeFile(cut, whole);
    EXPECT_THROW(jet::repairDatabase(cut, d.dir.file("out3.mdb")), jet::Error) << file;
    EXPECT_FALSE(std::filesystem::exists(d.dir.file("out3.mdb"))) << file;
  }
}

// A row whose key a unique index already holds (the index and the rows disagree) goes to the
// table's conflicts table, with the same columns; the table itself keeps its index sound.
TEST(Repair, RowsRepeatingAUniqueKeyGoToAConflictsTable) {
  for (const jet::Format format : {jet::Format::Jet3Layout, jet::Format::Jet4Layout}) {
    TempDir dir;
    const std::string src = dir.file("src.mdb");
    {
      auto db = jet::Database::create(src, {format});
      db->createTable({"Parts", {{"Code", jet::ColumnType::Long}, {"Label", jet::ColumnType::Text, 50}, {"Notes", jet::ColumnType::Memo}},
                       {{"PrimaryKey", {{0, true}}, true}}});
      for (int i = 0; i < 20; ++i)
        db->insertRow("Parts", {int64_t(0x5A5A0000 + i), "part " + std::to_string(i), std::string(3000, char('a' + i))});
      db->close();
    }
    // Row 7's code becomes row 3's on the data page; the index still says 7.
    jettest::PageImage p(src);
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
    repair(src, dir.file("out.mdb"));
    const auto copy = readTables(dir.file("out.mdb"));
    ASSERT_TRUE(copy.count("Parts_RepairConflicts"));
    ASSERT_EQ(copy.at("Parts").size(), 19u);
    const std::vector<Row>& conflicts = copy.at("Parts_RepairConflicts");
    ASSERT_EQ(conflicts.size(), 1u);
    EXPECT_EQ(conflicts[0].values, (std::vector<jet::Value>{int64_t(0x5A5A0003), std::string("part 7"), std::string(3000, 'h')}));
  }
}

TEST(Repair, AProtectedFileNeedsItsPassword) {
  TempDir dir;
  const std::string src = dir.copy("more/passwordV2000.mdb", "src.mdb");
  const std::string out = dir.file("out.mdb");
  EXPECT_EQ(errorOf([&] { jet::repairDatabase(src, out, "wrong"); }), 3031);
  const jet::RepairReport report = jet::repairDatabase(src, out, "password");
  EXPECT_TRUE(report.problems.empty());
  EXPECT_EQ(report.total().rowsLost, 0u);
  expectSameRows("protected", readTables(src, nullptr, "password"), readTables(out, nullptr, "password"));
}

}  // namespace
