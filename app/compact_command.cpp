#include "app/compact_command.h"

#include <cstdio>

#include "shell/dialogs.h"
#include "shell/error_report.h"
#include "shell/main_window.h"
#include "db/compact_file.h"
#include "db/session.h"

namespace app {
namespace {

constexpr const char* kNoDatabase = "Please open or create a database first.";
constexpr const char* kFinished = "Finished";

}  // namespace

void CompactCommand(shell::MainWindow& main) {
  shell::Procedure p("Form1.PushButton4_Click");
  QWidget* parent = main.widget();
  if (!modDB::bDBOpen) {
    p(100, [&] { shell::MsgBox(kNoDatabase, shell::Buttons::Ok, shell::Icon::None, QString(), parent); });
    return;
  }
  std::string copy;
  const std::string source = modDB::sDBPath;
  const std::string password = modDB::sDBPassword;  // the copy keeps it
  p(102, [&] { copy = modDB::CompactTemporaryPath(source); });

  p(104, [&] { modDB::gDB.Close(); });  // bDBOpen stays True while the command runs

  // The compacted copy counts only when it was written completely and reads back as the source
  // does; anything less leaves the source exactly as it was.
  bool compacted = !copy.empty() && p(106, [&] { modDB::WriteCompactedCopy(source, copy, password); });
  bool replaced = false;
  if (compacted) {
    if (p(108, [&] { modDB::GiveOrdinaryAttributes(copy, source); })) {
      // The source is not removed first: the rename replaces it in one step.
      replaced = p(112, [&] { modDB::ReplaceWithCopy(copy, source); });
    }
  }
  if (!replaced && !copy.empty()) std::remove(copy.c_str());

  p(114, [&] { modDB::bDBOpen = modDB::OpenDB(source, password); });
  if (replaced) p(116, [&] { shell::MsgBox(kFinished, shell::Buttons::Ok, shell::Icon::None, QString(), parent); });
}

}  // namespace app
