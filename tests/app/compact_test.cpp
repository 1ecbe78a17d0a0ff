// The Compact DB command: the open file is replaced by its verified compacted copy, reopened, and
// the window is left exactly as it was. When the compaction cannot be completed the original file
// stays byte-identical and open.
#include <sys/stat.h>
#include <unistd.h>

#include "app/compact_command.h"
#include "gui_test_env.h"
#include "jet/compact.h"
#include "jet/storage/fault_env.h"
#include "support/files.h"

namespace fs = std::filesystem;

namespace {

std::string readFile(const QString& p) { return testsupport::readText(p.toStdString()); }

class CompactCommandTest : public testenv::MainWindowTest {
 protected:
  // Opens a copy of a test database with a table selected and a row highlighted, and counts the
  // grid's fills from then on.
  void openWithRow(const QString& file) {
    open(path = file);
    form->SelectRow(2);
    shown = window();
    QObject::connect(form->LstV()->model(), &QAbstractItemModel::modelReset, [this] { ++fills; });
  }
  // What the window shows: the tabs, the selected one, the rows, the highlight and the status line.
  std::string window() const {
    return (tabs().join('|') + QStringLiteral(" %1 %2 %3 ").arg(form->TabIndex()).arg(form->GridRowCount()).arg(form->GridSelectedIndex()) + status()).toStdString();
  }
  // The original as it was and open, an error shown, the window left alone.
  void expectUntouchedAndOpen(const std::string& before) {
    EXPECT_EQ(readFile(path), before) << "the original changed";
    EXPECT_TRUE(modDB::bDBOpen && modDB::gDB.IsOpen());
    EXPECT_EQ(modDB::sDBPath, path.toStdString());
    EXPECT_FALSE(dialogs.texts().contains("Finished"));
    ASSERT_FALSE(dialogs.boxes.empty());
    EXPECT_EQ(dialogs.boxes.at(0).title, "Application Error");
    EXPECT_EQ(window(), shown);
    EXPECT_EQ(fills, 0);
  }
  // The folder's files but the lock file and the journal of the database the window has open.
  std::vector<std::string> folderContents() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder.path().toStdString())) {
      const std::string name = e.path().filename().string();
      if (e.path().extension() != ".ldb" && !name.ends_with("-journal")) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string shown;
  int fills = 0;
};

// The disk fills up at the first write of the copy, then at the second, and so on up to the final
// sync: every failing run leaves the original as it was. The first run whose copy needs fewer
// writes than that replaces the file with its verified compacted copy, reopened, the window left
// alone. A leftover named like the classic temporary file is never compacted onto or removed; a
// read-only file ends with normal attributes.
TEST_F(CompactCommandTest, AFullDiskAtAnyPointLeavesTheOriginalThenTheCopyReplacesIt) {
  openWithRow(copyTestDatabase("delTestV2000.mdb"));
  testenv::writeFile(folder.filePath("tmp.mdb"), "leftover");
  const std::string before = readFile(path);
  const std::vector<std::string> files = {"delTestV2000.mdb", "tmp.mdb"};
  int nth = 1;
  for (; nth < 2000; ++nth) {
    SCOPED_TRACE(nth);
    dialogs.boxes.clear();
    jet::FaultEnv::install().failAt(nth, jet::FaultEnv::Fault::DiskFull);
    click(4);
    jet::FaultEnv::install().failAt(0, jet::FaultEnv::Fault::None);
    if (dialogs.texts().contains("Finished")) break;
    expectUntouchedAndOpen(before);
    EXPECT_EQ(folderContents(), files);
    if (HasFailure()) break;
  }
  EXPECT_GT(nth, 3) << "the copy is written in more than a few steps";
  EXPECT_EQ(dialogs.texts(), QStringList{"Finished"});
  EXPECT_TRUE(modDB::bDBOpen && modDB::gDB.IsOpen());
  EXPECT_EQ(modDB::sDBPath, path.toStdString());
  EXPECT_EQ(window(), shown);
  EXPECT_EQ(fills, 0);
  EXPECT_EQ(folderContents(), files);
  EXPECT_EQ(readFile(folder.filePath("tmp.mdb")), "leftover");
  const fs::path original(TABULONIX_TESTDATA_DIR "/delTestV2000.mdb");
  EXPECT_LE(fs::file_size(path.toStdString()), fs::file_size(original));
  fs::permissions(path.toStdString(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  run({{"click 4", "boxes=Finished; open=1"}});
  EXPECT_TRUE((fs::status(path.toStdString()).permissions() & fs::perms::owner_write) != fs::perms::none);
  modDB::CloseDB();
  EXPECT_NO_THROW(jet::verifyCompactedCopy(original, path.toStdString()));
}

// The database's folder cannot be written: the temporary copy cannot be made beside it. Root may
// write anywhere, so the command then runs in a child process under an unprivileged user.
TEST_F(CompactCommandTest, AnUnwritableFolderLeavesTheOriginalAsItWasAndOpen) {
  const fs::path dir = folder.path().toStdString();
  fs::permissions(dir, fs::perms::all);
  path = copyTestDatabase("testV2000.mdb");
  const std::string before = readFile(path);
  fs::permissions(path.toStdString(), fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));
  fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
  fflush(nullptr);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
    openWithRow(path);
    click(4);
    expectUntouchedAndOpen(before);
    EXPECT_EQ(folderContents(), std::vector<std::string>{"testV2000.mdb"});
    ::_exit(HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
  ASSERT_NE(WEXITSTATUS(status), 100) << "could not change to an unprivileged user";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's failures are printed above";
}

}  // namespace
