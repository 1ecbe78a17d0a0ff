// Dates typed as the user's language writes them, taken by the record editor and the search window
// alike, with the United States forms read too where no language is set.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include "browse/forms.h"
#include "edit/dfield.h"
#include "edit/form4.h"
#include "gui_test_env.h"
#include "shell/typed_text.h"

namespace {

using edit::Form4;

using TypedValuesTest = testenv::MainWindowTest;

// The same typed date is stored by the editor and found by the search, in the language set and,
// with none set, in the United States forms as well.
TEST_F(TypedValuesTest, DatesTypedInTheLanguagesFormsAreStoredAndFound) {
  openNew(dao::dbVersion40);
  testenv::makeTable("D", {{"Name", dao::dbText, 20}, {"When", dao::dbDate, 8}});
  form->RefreshTables(1);
  const QLocale c = QLocale::c(), de(QLocale::German, QLocale::Germany);
  const struct {
    QLocale locale;
    QString typed;
    QString stored;  // the invariant form; empty: refused
  } cases[] = {
      {c, "3/14/1985", "1985-03-14"},
      {c, "11/20/2018 10:30 AM", "2018-11-20 10:30:00"},
      {c, "2001-02-03", "2001-02-03"},
      {de, "15.03.1986", "1986-03-15"},
      {de, "3/14/1985", ""},  // a language that is set is not second-guessed
  };
  for (const auto& c : cases) {
    EXPECT_EQ(app::InvariantText(c.typed, dao::dbDate, c.locale), c.stored.isEmpty() ? c.typed : c.stored)
        << c.typed.toStdString();
  }
  int records = 0;
  for (const auto& k : cases) {
    if (k.stored.isEmpty()) continue;
    SCOPED_TRACE(k.typed.toStdString());
    QLocale::setDefault(k.locale);
    const QString name = QStringLiteral("r%1").arg(++records);
    dialogs.boxes.clear();
    dialogs.modalHandlers["Form4"] = [&](QDialog* d) {
      auto* editor = static_cast<Form4*>(d);
      editor->dField1(0)->SetText(name);
      editor->dField1(1)->SetText(k.typed);
      editor->PushButton(1)->click();
      if (d->isVisible()) d->reject();
    };
    form->PushButton_Click(14);
    ASSERT_TRUE(dialogs.boxes.empty()) << dialogs.texts().join("|").toStdString();
    // The search finds the new row by the date as it was typed.
    form->SelectRow(1);
    dialogs.modalHandlers["Form6"] = [&](QDialog* d) {
      auto* find = static_cast<browse::Form6*>(d);
      find->cboField()->setCurrentIndex(1);
      find->txtValue()->setText(k.typed);
      find->findChild<QPushButton*>(QStringLiteral("PushButton1"))->click();
    };
    form->button(6)->click();
    const int row = form->GridSelectedIndex();
    EXPECT_EQ(form->GridCellText(row, 0), name);
  }
  QLocale::setDefault(QLocale::c());
}

}  // namespace
