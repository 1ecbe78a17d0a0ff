// Damaged files: every real test file, truncated, with pages zeroed and with bytes flipped, is
// opened, read completely and checked. Each step either works or ends in a jet::Error - never a
// crash, a hang or another kind of exception. A write into a file whose check finds problems is
// refused and leaves the file as it was; a write the engine accepts leaves a file that still checks.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/database.h"
#include "jet/index/index_page.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) { return testsupport::readText(p.string()); }
void writeFile(const fs::path& p, const std::string& bytes) { jettest::writeFile(p.string(), {bytes.begin(), bytes.end()}); }

std::vector<fs::path> smallTestFiles() {
  std::vector<fs::path> files;
  for (const std::string& name : jettest::allTestFiles())
    if (fs::file_size(jettest::testdata(name)) <= 600 * 1024) files.push_back(jettest::testdata(name));
  return files;
}

size_t pageSizeOf(const std::string& bytes) {
  // The version byte of the header: 0 for the 2 KB-page format, 1 and later for 4 KB pages.
  return bytes.size() > 0x14 && bytes[0x14] == 0 ? 2048 : 4096;
}

// What a damaged file did to the engine.
enum class Outcome { Worked, Refused, WrongException };

// Opens, reads every table's every row and runs the check. Returns Refused when any step threw a
// jet::Error, and fills `problems` with the check's findings when it got that far.
Outcome readEverything(const fs::path& file, bool readOnly, std::vector<std::string>* problems, std::string* why) {
  try {
    jet::OpenOptions options;
    options.readOnly = readOnly;
    auto db = jet::Database::open(file.string(), options);
    bool refused = false;
    for (const auto& object : db->objects()) {
      if (object.kind != jet::ObjectKind::Table && object.kind != jet::ObjectKind::SystemTable) continue;
      try {
        auto cursor = db->openTable(object.name);
        while (cursor->next())
          for (const auto& v : cursor->values()) (void)jet::toText(v);
      } catch (const jet::Error&) {
        refused = true;
      }
    }
    jet::CheckReport report = db->check();
    if (problems) *problems = report.problems;
    db->close();
    return refused ? Outcome::Refused : Outcome::Worked;
  } catch (const jet::Error& e) {
    if (e.description().empty()) {
      *why = "a jet::Error without a description";
      return Outcome::WrongException;
    }
    return Outcome::Refused;
  } catch (const std::exception& e) {
    *why = std::string("std::exception: ") + e.what();
    return Outcome::WrongException;
  } catch (...) {
    *why = "an exception of unknown type";
    return Outcome::WrongException;
  }
}

class DamagedFilesTest : public ::testing::Test {
 protected:
  // Writes the damaged bytes and reads them back through the engine.
  void expectCleanFailure(const std::string& bytes, const std::string& what) {
    fs::path p = dir_ / "damaged.mdb";
    writeFile(p, bytes);
    std::string why;
    Outcome o = readEverything(p, true, nullptr, &why);
    EXPECT_NE(o, Outcome::WrongException) << what << ": " << why;
  }
  jettest::TempDir tmp_;
  const fs::path dir_ = tmp_.path();
};

}  // namespace

TEST_F(DamagedFilesTest, TruncatedFilesEndInAnEngineError) {
  for (const fs::path& file : smallTestFiles()) {
    const std::string bytes = readFile(file);
    const size_t page = pageSizeOf(bytes);
    for (size_t length : {size_t{0}, size_t{1}, size_t{100}, page - 1, page, page + 1, 2 * page + 17, bytes.size() / 2,
                          bytes.size() - page, bytes.size() - 1}) {
      if (length >= bytes.size()) continue;
      expectCleanFailure(bytes.substr(0, length), file.filename().string() + " cut to " + std::to_string(length));
    }
  }
}

TEST_F(DamagedFilesTest, ZeroedPagesEndInAnEngineErrorOrReadCleanly) {
  for (const fs::path& file : smallTestFiles()) {
    const std::string bytes = readFile(file);
    const size_t page = pageSizeOf(bytes);
    for (size_t p = 0; p * page < bytes.size(); ++p) {
      std::string damaged = bytes;
      std::fill(damaged.begin() + p * page, damaged.begin() + std::min(bytes.size(), (p + 1) * page), '\0');
      expectCleanFailure(damaged, file.filename().string() + " page " + std::to_string(p) + " zeroed");
    }
  }
}

TEST_F(DamagedFilesTest, FlippedBytesEndInAnEngineErrorOrReadCleanly) {
  std::mt19937 random(20261205);
  for (const fs::path& file : smallTestFiles()) {
    const std::string bytes = readFile(file);
    const size_t page = pageSizeOf(bytes);
    for (int round = 0; round < 40; ++round) {
      std::string damaged = bytes;
      // Half the rounds hit the structures at the start of a page (headers, row offsets), where
      // damage matters most; the rest hit anywhere.
      size_t pages = bytes.size() / page;
      int flips = 1 + static_cast<int>(random() % 8);
      std::string where;
      for (int i = 0; i < flips; ++i) {
        size_t at = round % 2 ? random() % bytes.size() : (random() % pages) * page + random() % 64;
        damaged[at] = static_cast<char>(damaged[at] ^ (1 + random() % 255));
        where += " " + std::to_string(at);
      }
      expectCleanFailure(damaged, file.filename().string() + " flipped at" + where);
    }
  }
}

TEST_F(DamagedFilesTest, WritingIntoAnInconsistentFileIsRefusedAndChangesNothing) {
  std::mt19937 random(77);
  int refusedWrites = 0;
  for (const fs::path& file : smallTestFiles()) {
    const std::string bytes = readFile(file);
    const size_t page = pageSizeOf(bytes);
    for (int round = 0; round < 6; ++round) {
      std::string damaged = bytes;
      size_t p = 1 + random() % (bytes.size() / page - 1);
      for (int i = 0; i < 4; ++i) {
        size_t at = p * page + random() % 32;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x5a);
      }
      fs::path target = dir_ / "write.mdb";
      writeFile(target, damaged);
      std::vector<std::string> problems;
      std::string why;
      if (readEverything(target, true, &problems, &why) == Outcome::WrongException) {
        ADD_FAILURE() << file.filename() << ": " << why;
        continue;
      }
      const std::string what = file.filename().string() + " page " + std::to_string(p);
      bool wrote = false;
      try {
        auto db = jet::Database::open(target.string());
        db->createTable({"AddedAfterDamage", {{"A", jet::ColumnType::Long}}, {}});
        db->insertRow("AddedAfterDamage", {int64_t{1}});
        db->close();
        wrote = true;
      } catch (const jet::Error&) {
      } catch (const std::exception& e) {
        ADD_FAILURE() << what << ": " << e.what();
      }
      if (!problems.empty()) {
        EXPECT_FALSE(wrote) << what << ": wrote into a file whose check says: " << problems.front();
        EXPECT_TRUE(readFile(target) == damaged) << what << ": a refused write changed the file";
        refusedWrites += !wrote;
      } else if (wrote) {
        std::vector<std::string> after;
        readEverything(target, true, &after, &why);
        EXPECT_TRUE(after.empty()) << what << ": the write left " << (after.empty() ? "" : after.front());
      }
    }
  }
  EXPECT_GT(refusedWrites, 0) << "no damage was ever detected; the test exercised nothing";
}

// Targeted damage on files made here, in both formats: a table with a primary key and an index on
// long names (several index pages under an intermediate root) and a memo stored as a chain of
// long-value rows. Each kind of damage must be named by check, end reads with a jet::Error (or
// read cleanly), and refuse writes without touching the file.
namespace {

class TargetedDamage : public ::testing::TestWithParam<jet::Format> {
 protected:
  void SetUp() override {
    format_ = GetParam();
    pageSize_ = format_ == jet::Format::Jet3 ? 2048 : 4096;
    path_ = (dir_.path() / "made.mdb").string();
    auto db = jet::Database::create(path_, {format_});
    db->createTable({"People", {{"ID", jet::ColumnType::Long, 0, true}, {"Name", jet::ColumnType::Text, 200}, {"Note", jet::ColumnType::Memo}},
                     {{"PrimaryKey", {{0, true}}, true, true}, {"ByName", {{1, true}}}}});
    for (int i = 0; i < 60; ++i) {
      std::string name = "name " + std::to_string(1000 + i) + " " + std::string(170, char('a' + i % 26));
      std::string note = i == 7 ? std::string(9000, 'n') : "";
      db->insertRow("People", {jet::Value{}, name, note.empty() ? jet::Value{} : jet::Value{note}});
    }
    tdef_ = db->table("People").tdefPage;
    db->close();
    bytes_ = readFile(path_);
    ASSERT_TRUE(problems(bytes_).empty());
  }

  uint8_t* page(std::string& b, size_t n) { return reinterpret_cast<uint8_t*>(&b[n * pageSize_]); }
  size_t pages() const { return bytes_.size() / pageSize_; }
  std::vector<size_t> pagesOfType(uint8_t type) {
    std::vector<size_t> out;
    for (size_t p = 2; p < pages(); ++p)
      if (uint8_t(bytes_[p * pageSize_]) == type) out.push_back(p);
    return out;
  }

  std::vector<std::string> problems(const std::string& bytes) {
    fs::path p = dir_.path() / "probe.mdb";
    writeFile(p, bytes);
    std::vector<std::string> found;
    std::string why;
    Outcome o = readEverything(p, true, &found, &why);
    EXPECT_NE(o, Outcome::WrongException) << why;
    return found;
  }

  // The damaged bytes must be named by check and refuse a write, leaving the file as it was.
  void expectNamedAndRefused(const std::string& damaged, const std::string& what, const std::string& mention) {
    const auto found = problems(damaged);
    ASSERT_FALSE(found.empty()) << what << ": check found nothing";
    bool named = false;
    for (const auto& p : found) named = named || p.find(mention) != std::string::npos;
    EXPECT_TRUE(named) << what << ": no problem mentions '" << mention << "'; first: " << found.front();
    fs::path target = dir_.path() / "target.mdb";
    writeFile(target, damaged);
    EXPECT_NE(errorOf([&] {
                jet::Database::open(target.string())->insertRow("People", {jet::Value{}, std::string("after the damage"), jet::Value{}});
              }),
              0)
        << what << ": the write was accepted";
    EXPECT_TRUE(readFile(target) == damaged) << what << ": the refused write changed the file";
  }

  jettest::TempDir dir_;
  jet::Format format_;
  size_t pageSize_ = 0;
  std::string path_, bytes_;
  uint32_t tdef_ = 0;
};

TEST_P(TargetedDamage, WrongPageTypes) {
  std::string d = bytes_;
  page(d, tdef_)[0] = 0x01;
  expectNamedAndRefused(d, "table definition marked as a data page", "People");
  d = bytes_;
  size_t leaf = 0;
  for (size_t p : pagesOfType(0x04))
    if (!leaf && jet::le32(page(d, p) + 4) == tdef_) leaf = p;
  ASSERT_NE(leaf, 0u);
  page(d, leaf)[0] = 0x02;
  expectNamedAndRefused(d, "index leaf marked as a table definition", "People");
  d = bytes_;
  // The pages of the table's memo (the catalog keeps its property blobs on long-value pages too).
  const std::string narrow(16, 'n'), wide = [] { std::string w; for (int i = 0; i < 16; ++i) w += std::string("n\0", 2); return w; }();
  size_t memoPages = 0;
  for (size_t p : pagesOfType(0x01)) {
    const std::string body = d.substr(p * pageSize_, pageSize_);
    if (body.compare(4, 4, "LVAL") != 0) continue;
    if (body.find(narrow) == std::string::npos && body.find(wide) == std::string::npos) continue;
    page(d, p)[0] = 0x03;
    ++memoPages;
  }
  ASSERT_GT(memoPages, 1u);
  expectNamedAndRefused(d, "long-value pages marked as index pages", "People");
}

TEST_P(TargetedDamage, LongValueChainThatLoops) {
  // Every link of every long-value row points back at itself.
  std::string d = bytes_;
  const size_t countAt = format_ == jet::Format::Jet3 ? 8 : 12;
  int links = 0;
  for (size_t p : pagesOfType(0x01)) {
    uint8_t* pg = page(d, p);
    if (std::memcmp(pg + 4, "LVAL", 4) != 0) continue;
    const uint16_t rows = uint16_t(pg[countAt] | pg[countAt + 1] << 8);
    for (uint16_t r = 0; r < rows; ++r) {
      const uint16_t start = uint16_t(pg[countAt + 2 + 2 * r] | pg[countAt + 3 + 2 * r] << 8) & 0x1FFF;
      if (start + 4 > pageSize_) continue;
      jet::put32(pg + start, uint32_t(p) << 8 | r);
      ++links;
    }
  }
  ASSERT_GT(links, 0) << "the memo was not stored as a chain";
  expectNamedAndRefused(d, "long-value chain looping", "loops");
}

TEST_P(TargetedDamage, IndexTreeThatLoops) {
  // The intermediate root's first child becomes the root itself.
  const auto layout = jet::IndexPageLayout::of(format_);
  std::string d = bytes_;
  bool done = false;
  for (size_t p : pagesOfType(0x03)) {
    jet::IndexPage node = jet::parseIndexPage(format_, page(d, p), pageSize_);
    if (node.entries.empty()) continue;
    node.entries.front().child = uint32_t(p);
    ASSERT_TRUE(jet::writeIndexPage(format_, node, page(d, p)));
    done = true;
    break;
  }
  ASSERT_TRUE(done) << "no intermediate index page was made";
  expectNamedAndRefused(d, "index tree looping", "index");
  // Leaves chained to themselves.
  d = bytes_;
  for (size_t p : pagesOfType(0x04)) {
    jet::put32(page(d, p) + layout.prevOffset, uint32_t(p));
    jet::put32(page(d, p) + layout.nextOffset, uint32_t(p));
  }
  expectNamedAndRefused(d, "index leaves chained to themselves", "index");
}

TEST_P(TargetedDamage, TableDefinitionChainThatLoops) {
  std::string d = bytes_;
  jet::put32(page(d, tdef_) + 4, tdef_);
  expectNamedAndRefused(d, "table definition continued on itself", "People");
  d = bytes_;
  jet::put32(page(d, tdef_) + 4, uint32_t(pages() + 40));
  expectNamedAndRefused(d, "table definition continued past the end", "People");
}

TEST_P(TargetedDamage, CountsOutOfRange) {
  const bool jet3 = format_ == jet::Format::Jet3;
  struct Field { size_t at; int width; const char* what; };
  // Offsets of the definition's counts: rows, columns, indexes, real indexes.
  const std::vector<Field> fields = {{size_t(jet3 ? 0x0C : 0x10), 4, "row count"},
                                     {size_t(jet3 ? 0x19 : 0x2D), 2, "column count"},
                                     {size_t(jet3 ? 0x1B : 0x2F), 4, "index count"},
                                     {size_t(jet3 ? 0x1F : 0x33), 4, "real index count"}};
  for (const Field& f : fields) {
    for (uint32_t value : {0xFFFFFFFFu, 0x7FFFu, 0u}) {
      std::string d = bytes_;
      if (f.width == 2) jet::put16(page(d, tdef_) + f.at, uint16_t(value));
      else jet::put32(page(d, tdef_) + f.at, value);
      if (d == bytes_) continue;
      expectNamedAndRefused(d, std::string(f.what) + " set to " + std::to_string(value), "People");
    }
  }
  // A data page claiming more rows than fit, and row offsets past the page.
  const size_t countAt = jet3 ? 8 : 12;
  for (size_t p : pagesOfType(0x01)) {
    std::string d = bytes_;
    uint8_t* pg = page(d, p);
    if (std::memcmp(pg + 4, "LVAL", 4) == 0 || jet::le32(pg + 4) != tdef_) continue;
    jet::put16(pg + countAt, 0xFFFF);
    expectNamedAndRefused(d, "data page row count", "People");
    d = bytes_;
    pg = page(d, p);
    jet::put16(pg + countAt + 2, uint16_t(pageSize_ + 100));
    expectNamedAndRefused(d, "row offset past the page", "People");
    break;
  }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, TargetedDamage, ::testing::Values(jet::Format::Jet3, jet::Format::Jet4),
                         [](const auto& info) { return info.param == jet::Format::Jet3 ? "Jet3" : "Jet4"; });

}  // namespace
