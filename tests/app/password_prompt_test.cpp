// A database protected by a password, through the real main window: Open Database and Load Sample
// ask for the password with the input box and open the file with it; a cancelled or wrong answer
// is a file that cannot be opened; files without a password open without a question; Compact DB
// keeps the password in the compacted file.
#include <QDir>
#include <QPushButton>

#include "app/form1.h"
#include "db/session.h"
#include "gui_test_env.h"
#include "jet/base/error.h"
#include "jet/database.h"

namespace {

using testenv::WindowTest;

class PasswordPromptTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    modDB::bDBOpen = false;
    form = std::make_unique<app::Form1>();
    ASSERT_TRUE(form->Form_Load());
  }
  void TearDown() override {
    modDB::CloseDB();
    form.reset();
    WindowTest::TearDown();
  }
  void click(int number) { form->button(number)->click(); }
  void openThroughDialog(const QString& file, const QString& answer) {
    dialogs.fileAnswers.push_back({file, 1, QString()});
    dialogs.inputAnswers.push_back(answer);
    click(2);
  }

  std::unique_ptr<app::Form1> form;
};

TEST_F(PasswordPromptTest, OpenDatabaseAsksForThePasswordAndOpensWithIt) {
  const QString file = copyTestDatabase("more/passwordV2000.mdb");
  openThroughDialog(file, QStringLiteral("password"));
  ASSERT_EQ(dialogs.inputPrompts.size(), 1u);
  EXPECT_EQ(dialogs.inputPrompts[0], QStringLiteral("Password for passwordV2000.mdb:"));
  EXPECT_EQ(dialogs.inputTitles[0], QStringLiteral("Tabulonix"));
  EXPECT_TRUE(modDB::bDBOpen);
  EXPECT_GT(form->TabCount(), 0);
  EXPECT_TRUE(dialogs.texts().isEmpty()) << dialogs.texts().join("|").toStdString();
}

TEST_F(PasswordPromptTest, ACancelledOrWrongPasswordCannotOpenTheDatabase) {
  const QString file = copyTestDatabase("more/passwordV2000.mdb");
  for (const QString& answer : {QString(), QStringLiteral("Password"), QStringLiteral("wrong")}) {
    dialogs.boxes.clear();
    openThroughDialog(file, answer);
    EXPECT_FALSE(modDB::bDBOpen) << answer.toStdString();
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("Cannot open database."));
  }
  EXPECT_EQ(dialogs.inputPrompts.size(), 3u);
}

TEST_F(PasswordPromptTest, FilesWithoutAPasswordOpenWithoutAQuestion) {
  openThroughDialog(copyTestDatabase("testV2000.mdb"), QStringLiteral("unused"));
  EXPECT_TRUE(modDB::bDBOpen);
  EXPECT_TRUE(dialogs.inputPrompts.empty());
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

TEST_F(PasswordPromptTest, CompactDBKeepsThePassword) {
  const QString file = copyTestDatabase("more/passwordV2000.mdb");
  openThroughDialog(file, QStringLiteral("password"));
  ASSERT_TRUE(modDB::bDBOpen);
  const int tabs = form->TabCount();
  click(4);
  ASSERT_FALSE(dialogs.boxes.empty());
  EXPECT_EQ(dialogs.boxes.back().text, QStringLiteral("Finished"));
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

TEST_F(PasswordPromptTest, AnEncryptedAccdbAsksForItsPasswordAndCompactsEncrypted) {
  const QString file = copyTestDatabase("ace/passwordV2010.accdb");
  openThroughDialog(file, QStringLiteral("Password"));
  EXPECT_FALSE(modDB::bDBOpen);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("Cannot open database."));
  openThroughDialog(file, QStringLiteral("password"));
  ASSERT_EQ(dialogs.inputPrompts.size(), 2u);
  EXPECT_EQ(dialogs.inputPrompts[1], QStringLiteral("Password for passwordV2010.accdb:"));
  ASSERT_TRUE(modDB::bDBOpen);
  EXPECT_EQ(form->TabCount(), 1);
  click(4);
  ASSERT_FALSE(dialogs.boxes.empty());
  EXPECT_EQ(dialogs.boxes.back().text, QStringLiteral("Finished"));
  EXPECT_TRUE(modDB::bDBOpen) << "the compacted file is open again";
  modDB::CloseDB();
  try {
    jet::Database::open(file.toStdString(), {true, ""});
    ADD_FAILURE() << "the compacted file opened without its password";
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.number(), jet::err::kInvalidPassword);
    EXPECT_NE(std::string(e.what()).find("encrypted"), std::string::npos) << e.what();
  }
  EXPECT_NO_THROW(jet::Database::open(file.toStdString(), {true, "password"}));
}

}  // namespace
