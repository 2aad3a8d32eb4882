// "Find in results": the dialog's own rules and a walk through the find steps on a list.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <stdexcept>

#include "page/find_form.h"
#include "test_result_list_harness.h"

namespace {

// 25 rows; the text "needle" is in rows 4, 12 and 20 (in different letter cases).
std::vector<TResultRow> HaystackRows() {
  static std::vector<std::string> names;
  names.clear();
  for (int i = 0; i < 25; ++i) names.push_back("file" + std::to_string(i) + ".txt");
  names[4] = "NEEDLE.txt";
  names[12] = "a needle b.txt";
  names[20] = "Needle.doc";
  std::vector<TResultRow> rows;
  for (const std::string& name : names) rows.push_back({"/hay/", name.c_str(), 1, 0, 0});
  return rows;
}

std::vector<int> SelectedRowsOf(const TResultListHarness& list) {
  std::vector<int> rows;
  for (const QModelIndex& index : list.View->selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

}  // namespace

TEST(FindForm, LayoutAndEnablingForBlankText) {
  EnsureResultListApp();
  auto* form = new TFindForm(nullptr, QChar());
  EXPECT_EQ(form->windowTitle(), QString("Find in results"));
  EXPECT_EQ(form->size(), QSize(330, 74));
  EXPECT_EQ(form->btnFind->text(), QString("&Find"));
  EXPECT_TRUE(form->btnFind->isDefault());
  EXPECT_EQ(form->btnCancel->text(), QString("&Close"));
  EXPECT_TRUE(form->edtFind->text().isEmpty());
  EXPECT_FALSE(form->btnFind->isEnabled());
  form->edtFind->setText("   ");
  EXPECT_FALSE(form->btnFind->isEnabled()) << "blanks only";
  form->edtFind->setText(" x ");
  EXPECT_TRUE(form->btnFind->isEnabled());

  QPointer<TFindForm> alive(form);
  form->show();
  QTest::keyClick(form, Qt::Key_Escape);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(alive.isNull()) << "closing frees the dialog";
}

TEST(FindForm, FirstActivationPutsTheCaretAfterTheInitialCharacter) {
  EnsureResultListApp();
  QPointer<TFindForm> form = new TFindForm(nullptr, QChar('a'));
  form->edtFind->selectAll();  // as if the edit had taken the focus selecting its text
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form));
  QTest::keyClick(form->edtFind, Qt::Key_B);
  EXPECT_EQ(form->edtFind->text(), QString("ab"));
  form->close();
}

TEST(FindForm, DisabledDuringAStepAndReenabledAfterAFailure) {
  TResultListHarness list;  // catches the error box
  auto* form = new TFindForm(nullptr, QChar('q'));
  bool disabledDuringStep = false;
  form->OnFind = [&](TFindForm& dialog) {
    disabledDuringStep = !dialog.isEnabled() && !dialog.btnFind->isEnabled() && !dialog.btnCancel->isEnabled();
    EXPECT_EQ(dialog.edtFind->selectedText(), QString("q"));
    throw std::runtime_error("step failed");
  };
  form->btnFindClick();
  EXPECT_TRUE(disabledDuringStep);
  EXPECT_TRUE(form->isEnabled() && form->btnFind->isEnabled() && form->btnCancel->isEnabled());
  ASSERT_EQ(list.Boxes.size(), 1u);
  EXPECT_EQ(list.Boxes[0].Text, QString("step failed"));
  delete form;
}

TEST(FindInResults, StepsThroughMatchesAndRestartsAtTheFocusedRow) {
  TResultListHarness list(HaystackRows());
  list.View->selectionModel()->setCurrentIndex(list.Model->index(10, 0), QItemSelectionModel::NoUpdate);
  list.SelectRows({0});
  auto* form = new TFindForm(list.Page.get(), QChar());
  form->Tag = -2;
  form->OnFind = [&](TFindForm& dialog) { list.Actions->FindInResults(dialog); };
  form->edtFind->setText("NEEDLE");

  form->btnFindClick();
  EXPECT_EQ(form->Tag, 12);
  EXPECT_EQ(SelectedRowsOf(list), (std::vector<int>{12})) << "a fresh step clears the selection";
  form->btnFindClick();
  EXPECT_EQ(form->Tag, 20);
  EXPECT_EQ(SelectedRowsOf(list), (std::vector<int>{12, 20})) << "matches accumulate";
  EXPECT_EQ(list.View->currentIndex().row(), 20);
  form->btnFindClick();
  EXPECT_EQ(form->Tag, -1) << "no wrap past the last row";
  EXPECT_EQ(SelectedRowsOf(list), (std::vector<int>{12, 20}));
  form->btnFindClick();
  EXPECT_EQ(form->Tag, 20) << "starts again at the focused row";
  EXPECT_EQ(SelectedRowsOf(list), (std::vector<int>{20}));

  form->edtFind->setText("needle ");
  form->Tag = -2;
  list.View->selectionModel()->setCurrentIndex(list.Model->index(0, 0), QItemSelectionModel::NoUpdate);
  form->btnFindClick();
  EXPECT_EQ(form->Tag, 12) << "a trailing blank is part of the text";
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  delete form;
}

TEST(FindForm, TypingGoesOnInTheEditAfterAStep) {
  EnsureResultListApp();
  QPointer<TFindForm> form = new TFindForm(nullptr, QChar('a'));
  int steps = 0;
  form->OnFind = [&](TFindForm&) { ++steps; };
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form));
  ASSERT_EQ(QApplication::focusWidget(), form->edtFind);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(steps, 1) << "Enter presses the default button";
  ASSERT_EQ(QApplication::focusWidget(), form->edtFind) << "the step gives the focus back";
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_B);
  EXPECT_EQ(form->edtFind->text(), QString("b")) << "the step selected the text; typing replaces it";
  form->close();
}
