// A database protected by a password, through the real main window: Open Database and Load Sample
// ask for the password with the input box and open the file with it; a cancelled or wrong answer
// is a file that cannot be opened; files without a password open without a question; Compact DB
// keeps the password in the compacted file.
#include <QDir>
#include <QPushButton>

#include "gui_test_env.h"
#include "jet/base/error.h"

namespace {

class PasswordPromptTest : public testenv::MainWindowTest {
 protected:
  void openThroughDialog(const QString& file, const QString& answer) {
    dialogs.inputAnswers.push_back(answer);
    open(file);
  }
};

// For each protected file: cancelled and wrong answers cannot open it, the right one does (the
// question names the file); the compacted file still needs the password.
TEST_F(PasswordPromptTest, WrongAnswersFailTheRightOneOpensAndCompactingKeepsThePassword) {
  struct Case {
    const char* file;
    QString right;
    std::vector<QString> wrong;
  } cases[] = {{"more/passwordV2000.mdb", "password", {QString(), "Password", "wrong"}},
               {"ace/passwordV2010.accdb", "password", {"Password"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const QString file = copyTestDatabase(QString::fromLatin1(c.file));
    dialogs.inputPrompts.clear();
    for (const QString& answer : c.wrong) {
      dialogs.boxes.clear();
      openThroughDialog(file, answer);
      EXPECT_FALSE(modDB::bDBOpen) << answer.toStdString();
      EXPECT_EQ(dialogs.texts(), QStringList{"Cannot open database."});
    }
    dialogs.boxes.clear();
    openThroughDialog(file, c.right);
    ASSERT_EQ(dialogs.inputPrompts.size(), c.wrong.size() + 1);
    EXPECT_EQ(dialogs.inputPrompts.back(), "Password for " + QFileInfo(file).fileName() + ":");
    EXPECT_EQ(dialogs.inputTitles.back(), QStringLiteral("Tabulonix"));
    ASSERT_TRUE(modDB::bDBOpen);
    const int tabs = form->TabCount();
    EXPECT_GT(tabs, 0);
    EXPECT_TRUE(dialogs.texts().isEmpty()) << dialogs.texts().join("|").toStdString();

    click(4);
    EXPECT_EQ(dialogs.texts(), QStringList{"Finished"});
    EXPECT_TRUE(modDB::bDBOpen) << "the compacted file is open again";
    EXPECT_EQ(form->TabCount(), tabs);
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

TEST_F(PasswordPromptTest, LoadSampleAsksForTheSamplesPassword) {
  ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("Samples")));
  copyTestDatabase("more/passwordV2000.mdb", QStringLiteral("Samples/Sample.mdb"));
  dialogs.inputAnswers.push_back(QStringLiteral("password"));
  click(17);
  ASSERT_EQ(dialogs.inputPrompts.size(), 1u);
  EXPECT_EQ(dialogs.inputPrompts[0], QStringLiteral("Password for Sample.mdb:"));
  EXPECT_TRUE(modDB::bDBOpen);
}

}  // namespace
