// The Compact DB command: the open file is replaced by its verified compacted copy, reopened, and
// the window is left exactly as it was. When the compaction cannot be completed the original file
// stays byte-identical and open.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/compact_command.h"
#include "db/compact_file.h"
#include "db/session.h"
#include "jet/compact.h"
#include "jet/storage/fault_env.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/shell.h"
#include "support/files.h"

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) { return testsupport::readText(p.string()); }

// A main window that remembers every change asked of it, so the test can tell that the command
// left the tabs, grid, selection and status line alone.
class RecordingWindow : public app::MainWindow {
 public:
  QWidget* widget() override { return &widget_; }
  int TabCount() const override { return 2; }
  int TabIndex() const override { return 2; }
  int GridRowCount() const override { return 5; }
  int GridSelectedIndex() const override { return 3; }
  int RecordPositionOfRow(int index) const override { return index - 1; }
  int MouseButton() const override { return 1; }
  void ClearGrid() override { changes.push_back("ClearGrid"); }
  void SetStatus(const QString& text) override { changes.push_back("SetStatus " + text.toStdString()); }
  QString Status() const override { return "Records: 5"; }
  void RefreshTables(int n) override { changes.push_back("RefreshTables"); }
  void SelectTab(int n) override { changes.push_back("SelectTab"); }
  void SelectRow(int index) override { changes.push_back("SelectRow"); }
  std::vector<std::string> changes;

 private:
  QWidget widget_;
};

class CompactCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<RecordingWindow>();
    fs::create_directories(root_ / "program");
    fs::create_directories(root_ / "data");
    app::SetProgramFolderForTesting(QString::fromStdString((root_ / "program").string()));
    ui::setDialogs(&dialogs_);
    modDB::bDBOpen = false;
  }
  void TearDown() override {
    modDB::CloseDB();
    ui::setDialogs(nullptr);
  }
  // Copies a test database into the data folder and opens it as the session's database.
  fs::path openCopy(const std::string& name) {
    fs::path p = root_ / "data" / name;
    fs::copy_file(fs::path(TABULONIX_TESTDATA_DIR) / name, p);
    fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write);
    modDB::bDBOpen = modDB::OpenDB(p.string());
    EXPECT_TRUE(modDB::bDBOpen);
    modDB::sDBPath = p.string();
    return p;
  }
  void expectUntouchedAndOpen(const fs::path& db, const std::string& before) {
    EXPECT_EQ(readFile(db), before) << "the original changed";
    EXPECT_TRUE(modDB::bDBOpen);
    EXPECT_TRUE(modDB::gDB.IsOpen());
    EXPECT_EQ(modDB::sDBPath, db.string());
    EXPECT_FALSE(dialogs_.texts().contains("Finished"));
    ASSERT_FALSE(dialogs_.boxes.empty());
    EXPECT_EQ(dialogs_.boxes[0].title, "Application Error");
    EXPECT_TRUE(window_->changes.empty());
  }
  std::vector<std::string> folderContents(const fs::path& dir) {
    std::vector<std::string> names;
    // The lock file and the journal of the database the window has open are no leftovers.
    for (const auto& e : fs::directory_iterator(dir)) {
      const std::string name = e.path().filename().string();
      if (e.path().extension() != ".ldb" && !name.ends_with("-journal")) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  testsupport::TempDir tmp_;
  const fs::path root_ = tmp_.path();
  ui::ScriptedDialogs dialogs_;
  std::unique_ptr<RecordingWindow> window_;
};

}  // namespace

TEST_F(CompactCommandTest, ReplacesTheFileWithItsCompactedCopyAndLeavesTheWindowAlone) {
  fs::path db = openCopy("delTestV2000.mdb");
  // Leftovers named like the classic temporary file are never compacted onto or removed.
  std::ofstream(root_ / "program" / "tmp.mdb") << "leftover";
  std::ofstream(root_ / "data" / "tmp.mdb") << "leftover";

  app::CompactCommand(*window_);

  ASSERT_EQ(dialogs_.texts(), QStringList{"Finished"});
  EXPECT_TRUE(modDB::bDBOpen);
  EXPECT_EQ(modDB::sDBPath, db.string());
  EXPECT_TRUE(modDB::gDB.IsOpen());
  EXPECT_TRUE(window_->changes.empty());
  EXPECT_EQ(folderContents(root_ / "data"), (std::vector<std::string>{"delTestV2000.mdb", "tmp.mdb"}));
  EXPECT_EQ(folderContents(root_ / "program"), std::vector<std::string>{"tmp.mdb"});
  EXPECT_EQ(readFile(root_ / "data" / "tmp.mdb"), "leftover");
  EXPECT_EQ(readFile(root_ / "program" / "tmp.mdb"), "leftover");
  modDB::CloseDB();
  EXPECT_NO_THROW(jet::verifyCompactedCopy(fs::path(TABULONIX_TESTDATA_DIR "/delTestV2000.mdb"), db.string()));
  EXPECT_LE(fs::file_size(db), fs::file_size(fs::path(TABULONIX_TESTDATA_DIR "/delTestV2000.mdb")));
}

TEST_F(CompactCommandTest, AReadOnlyFileEndsWithNormalAttributes) {
  fs::path db = openCopy("testV1997.mdb");
  fs::permissions(db, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  app::CompactCommand(*window_);
  ASSERT_EQ(dialogs_.texts(), QStringList{"Finished"});
  EXPECT_TRUE((fs::status(db).permissions() & fs::perms::owner_write) != fs::perms::none);
  EXPECT_TRUE(modDB::bDBOpen);
}

TEST_F(CompactCommandTest, AFullDiskAtAnyPointLeavesTheOriginalAsItWas) {
  fs::path db = openCopy("delTestV2000.mdb");
  const std::string before = readFile(db);
  // The disk fills up at the first write of the copy, then at the second, and so on up to the
  // final sync: every failing run leaves the original as it was. The first run whose copy needs
  // fewer writes than that goes through.
  int nth = 1;
  for (; nth < 2000; ++nth) {
    SCOPED_TRACE(nth);
    dialogs_.boxes.clear();
    jet::FaultEnv::install().failAt(nth, jet::FaultEnv::Fault::DiskFull);
    app::CompactCommand(*window_);
    jet::FaultEnv::install().failAt(0, jet::FaultEnv::Fault::None);
    if (dialogs_.texts().contains("Finished")) break;
    expectUntouchedAndOpen(db, before);
    EXPECT_EQ(folderContents(root_ / "data"), std::vector<std::string>{"delTestV2000.mdb"});
    if (HasFailure()) break;
  }
  EXPECT_GT(nth, 3) << "the copy is written in more than a few steps";
  EXPECT_EQ(dialogs_.texts(), QStringList{"Finished"});
  EXPECT_TRUE(modDB::bDBOpen);
  EXPECT_TRUE(window_->changes.empty());
}

// The database's folder cannot be written: the temporary copy cannot be made beside it. Root may
// write anywhere, so the command then runs in a child process under an unprivileged user.
TEST_F(CompactCommandTest, AnUnwritableFolderLeavesTheOriginalAsItWasAndOpen) {
  fs::path db = root_ / "data" / "testV2000.mdb";
  fs::copy_file(fs::path(TABULONIX_TESTDATA_DIR) / "testV2000.mdb", db);
  fs::permissions(db, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                          fs::perms::group_write | fs::perms::others_read | fs::perms::others_write);
  fs::permissions(root_, fs::perms::all);
  fs::permissions(root_ / "data", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  const std::string before = readFile(db);

  enum : int { kOpened = 1, kStillOpen = 2, kSame = 4, kNoFinished = 8, kErrorShown = 16, kNothingLeft = 32 };
  fflush(nullptr);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
    int result = 0;
    modDB::bDBOpen = modDB::OpenDB(db.string());
    modDB::sDBPath = db.string();
    if (modDB::bDBOpen) result |= kOpened;
    app::CompactCommand(*window_);
    if (modDB::bDBOpen && modDB::gDB.IsOpen()) result |= kStillOpen;
    if (readFile(db) == before) result |= kSame;
    if (!dialogs_.texts().contains("Finished")) result |= kNoFinished;
    if (!dialogs_.boxes.empty() && dialogs_.boxes[0].title == "Application Error") result |= kErrorShown;
    if (folderContents(root_ / "data") == std::vector<std::string>{"testV2000.mdb"}) result |= kNothingLeft;
    modDB::CloseDB();
    ::_exit(result);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  const int result = WEXITSTATUS(status);
  ASSERT_NE(result, 100) << "could not change to an unprivileged user";
  EXPECT_EQ(result, kOpened | kStillOpen | kSame | kNoFinished | kErrorShown | kNothingLeft);
  fs::permissions(root_ / "data", fs::perms::owner_all, fs::perm_options::add);
}

