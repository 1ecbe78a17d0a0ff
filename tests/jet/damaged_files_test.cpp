// Damaged files: every real test file, truncated, with pages zeroed and with bytes flipped, is
// opened, read completely and checked. Each step either works or ends in a jet::Error - never a
// crash, a hang or another kind of exception. A write into a file whose check finds problems is
// refused and leaves the file as it was; a write the engine accepts leaves a file that still checks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "jet/database.h"

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<fs::path> smallTestFiles() {
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(TABULONIX_TESTDATA_DIR))
    if (e.path().extension() == ".mdb" && e.file_size() <= 600 * 1024) files.push_back(e.path());
  std::sort(files.begin(), files.end());
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
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tabulonix-damaged-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes the damaged bytes and reads them back through the engine.
  void expectCleanFailure(const std::string& bytes, const std::string& what) {
    fs::path p = dir_ / "damaged.mdb";
    writeFile(p, bytes);
    std::string why;
    Outcome o = readEverything(p, true, nullptr, &why);
    EXPECT_NE(o, Outcome::WrongException) << what << ": " << why;
  }
  fs::path dir_;
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
        jet::NewTable t;
        t.name = "AddedAfterDamage";
        t.columns = {{"A", jet::ColumnType::Long}};
        db->createTable(t);
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
