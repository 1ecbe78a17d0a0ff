// A database protected by a password, through the real main window: Open Database asks for the
// password with the input box (masked) and opens the file with it; a cancelled or wrong answer is a file
// that cannot be opened; Compact DB keeps the password in the compacted file.

#include "gui_test_env.h"
#include "jet/base/error.h"

namespace {

using PasswordPromptTest = testenv::MainWindowTest;

// For each protected file: cancelled and wrong answers cannot open it, the right one does (the
// question names the file); the compacted file still needs the password.
TEST_F(PasswordPromptTest, WrongAnswersFailTheRightOneOpensAndCompactingKeepsThePassword) {
  struct Case {
    std::string file;
    std::vector<QString> wrong;
  } cases[] = {{"more/passwordV2000.mdb", {QString(), "Password", "wrong"}}, {"ace/passwordV2010.accdb", {"Password"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    dialogs.inputPrompts.clear();
    dialogs.inputEchoes.clear();
    for (const QString& answer : c.wrong) {
      dialogs.inputAnswers.push_back(answer);
      run({{"open " + c.file, "open=0; boxes=Cannot open database."}});
    }
    dialogs.inputAnswers.push_back("password");
    run({{"open " + c.file, "open=1"}});
    const QString file = QString::fromStdString(modDB::sDBPath);
    ASSERT_EQ(dialogs.inputPrompts.size(), c.wrong.size() + 1);
    EXPECT_EQ(dialogs.inputPrompts.back(), "Password for " + QFileInfo(file).fileName() + ":");
    EXPECT_EQ(dialogs.inputTitles.back(), QStringLiteral("Tabulonix"));
    EXPECT_EQ(dialogs.inputEchoes, std::vector<shell::Echo>(c.wrong.size() + 1, shell::Echo::Masked));
    ASSERT_GT(form->TabCount(), 0);
    run({{"click 4", "boxes=Finished; open=1; tabs=" + tabs().join('|').toStdString()}});  // the compacted file is open again
    modDB::CloseDB();
    try {
      jet::Database::open(file.toStdString(), {true, ""});
      ADD_FAILURE() << "the compacted file opened without its password";
    } catch (const jet::Error& e) {
      EXPECT_EQ(e.number(), jet::err::kInvalidPassword);
    }
    EXPECT_NO_THROW(jet::Database::open(file.toStdString(), {true, "password"}));
  }
}

}  // namespace
