// The search page driven as the user drives it: start, stop, completion, history, lists.
#include <QAbstractItemModel>
#include <QComboBox>
#include <QLocale>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QToolButton>
#include <QAction>
#include <QLocale>

#include <QLineEdit>

#include <fstream>
#include <set>

#include "page/log_model.h"
#include "page/result_model.h"
#include "page/test_page_support.h"
#include "results/logger.h"
#include "results/result_manager.h"
#include "settings/program_options.h"

using namespace lqtest;

namespace {

class PageTest : public TWindowTest {
 protected:
  std::vector<std::string> History;
};

std::set<std::string> FoundNames(TSearchPage& page) {
  std::set<std::string> names;
  for (size_t i = 0; i < page.ResultStore().Count(); ++i)
    names.insert(page.ResultStore().Item(i).FullName());
  return names;
}

}  // namespace

TEST_F(PageTest, SearchRunsToCompletionAndReportsTheCount) {
  TTempDir tree;
  const int files = MakeTree(tree.Path, 20, 15);
  TSearchPage page(nullptr, History);
  SearchIn(page, tree.Path);
  int pageChanges = 0;
  page.OnPageChange = [&](TSearchPage*) { ++pageChanges; };
  TScriptedBoxes boxes;
  page.cmbPattern->setEditText(QStringLiteral("  *.txt "));

  page.actStartSearch->trigger();
  EXPECT_TRUE(page.Searching());
  EXPECT_EQ(page.actStartSearch->text(), QStringLiteral("Stop search"));
  EXPECT_EQ(page.actStartSearch->property("ImageIndex").toInt(), kStopImage);
  EXPECT_TRUE(page.btnStart->isHidden());
  EXPECT_FALSE(page.btnStop->isHidden());
  EXPECT_FALSE(page.actSaveToFile->isEnabled() && page.Searching());
  ASSERT_TRUE(WaitUntilIdle(page));

  EXPECT_EQ(page.ResultRowCount(), files);
  EXPECT_EQ(page.ResultModel().rowCount(), files) << "completion shows every row";
  EXPECT_EQ(FoundNames(page).count((tree.Path / "d3" / "f7.txt").string()), 1u);
  EXPECT_EQ(page.ActiveThreadCount(), 0);
  EXPECT_GT(pageChanges, 0);
  ASSERT_EQ(boxes.Shown.size(), 1u);
  EXPECT_EQ(boxes.Shown[0].Text,
            QStringLiteral("Search complete.\r\n%1 files found").arg(files));
  EXPECT_EQ(boxes.Shown[0].Caption, QStringLiteral("Lanternquest"));
  EXPECT_EQ(boxes.Shown[0].Icon, TMsgIcon::Information);
  EXPECT_EQ(page.actStartSearch->text(), QStringLiteral("Start search"));
  EXPECT_TRUE(page.actStartSearch->isEnabled());
  EXPECT_FALSE(page.btnStart->isHidden());
  EXPECT_TRUE(page.btnStop->isHidden());
  EXPECT_EQ(page.PatternText(), "*.txt");
  ASSERT_FALSE(History.empty());
  EXPECT_EQ(History.front(), "*.txt");

  // A second idle notification does not announce the search again.
  page.SearchStateChanged();
  EXPECT_EQ(boxes.Shown.size(), 1u);
}

TEST_F(PageTest, BlankPatternSearchesEverythingAndRenamesFirst) {
  TTempDir tree;
  const int files = MakeTree(tree.Path, 2, 3);
  TSearchPage page(nullptr, History);
  SearchIn(page, tree.Path);
  TScriptedBoxes boxes;
  std::vector<QString> captions;
  page.SetPatternChange([&](QComboBox* box) {
    captions.push_back(box->currentText());
    EXPECT_FALSE(page.Searching()) << "the caption changes before the search starts";
  });
  page.cmbPattern->setEditText(QStringLiteral("   "));
  captions.clear();
  page.actStartSearch->trigger();
  ASSERT_TRUE(WaitUntilIdle(page));
  EXPECT_EQ(captions, std::vector<QString>{QStringLiteral("*.*")});
  EXPECT_EQ(page.ResultRowCount(), files);
}

TEST_F(PageTest, MalformedPatternIsReportedAndStartsNothing) {
  TSearchPage page(nullptr, History);
  TTempDir tree;
  SearchIn(page, tree.Path);
  TScriptedBoxes boxes;
  page.cmbPattern->setEditText(QStringLiteral("[a-"));
  page.actStartSearch->trigger();
  EXPECT_FALSE(page.Searching());
  EXPECT_TRUE(History.empty());
  ASSERT_EQ(boxes.Shown.size(), 1u);
  EXPECT_EQ(boxes.Shown[0].Icon, TMsgIcon::Stop);
  EXPECT_EQ(boxes.Shown[0].Caption, QStringLiteral("Lanternquest"));
  EXPECT_FALSE(boxes.Shown[0].Text.isEmpty());
  EXPECT_EQ(page.actStartSearch->text(), QStringLiteral("Start search"));
  EXPECT_TRUE(page.actStartSearch->isEnabled());
}

// Workers cannot end while the UI thread does not run their hand-offs, so the search is
// certainly still running when the stop questions are answered.
TEST_F(PageTest, StopAsksFirstAndStoppedSearchStillReportsItsCount) {
  TTempDir tree;
  MakeTree(tree.Path, 30, 20);
  TSearchPage page(nullptr, History);
  SearchIn(page, tree.Path);
  TScriptedBoxes boxes;
  page.cmbPattern->setEditText(QStringLiteral("*"));
  page.actStartSearch->trigger();
  ASSERT_TRUE(page.Searching());

  boxes.Answers = {TMsgResult::No};
  page.actStartSearch->trigger();
  ASSERT_EQ(boxes.Shown.size(), 1u);
  EXPECT_EQ(boxes.Shown[0].Text, QStringLiteral("Do you want stop search?"));
  EXPECT_EQ(boxes.Shown[0].Caption, QStringLiteral("Stop search"));
  EXPECT_EQ(boxes.Shown[0].Buttons, TMsgButtons::YesNo);
  EXPECT_TRUE(page.Searching());
  EXPECT_TRUE(page.actStartSearch->isEnabled());

  boxes.Answers = {TMsgResult::Yes};
  page.actStartSearch->trigger();
  EXPECT_TRUE(page.Searching()) << "Stopping until the manager is idle";
  EXPECT_FALSE(page.actStartSearch->isEnabled());
  EXPECT_EQ(page.actStartSearch->text(), QStringLiteral("Stop search"));
  page.actStartSearch->trigger();  // disabled: nothing is asked
  EXPECT_EQ(boxes.Shown.size(), 2u);

  ASSERT_TRUE(WaitUntilIdle(page));
  ASSERT_EQ(boxes.Shown.size(), 3u);
  EXPECT_EQ(boxes.Shown[2].Text,
            QStringLiteral("Search complete.\r\n%1 files found").arg(page.ResultRowCount()));
  EXPECT_EQ(page.ResultRowCount(), int(page.ResultStore().Count()));
  EXPECT_TRUE(page.actStartSearch->isEnabled());
}

// The stop question is modal: the search may end while it is open, so the answer can come
// after there is nothing left to stop.
TEST_F(PageTest, StopAnsweredAfterTheSearchEndedLeavesThePageReady) {
  TTempDir tree;
  TGate gate;
  TSearchPage page(nullptr, History);
  TGateOpener opener{gate};
  SearchIn(page, tree.Path);
  UseBlockedWorkers(page, gate);
  TScriptedBoxes boxes;
  page.actStartSearch->trigger();
  ASSERT_TRUE(page.Searching());

  boxes.Answers = {TMsgResult::Yes};
  boxes.WhileAsking = [&] {
    gate.Release();
    EXPECT_TRUE(WaitUntilIdle(page));
  };
  page.actStartSearch->trigger();
  ASSERT_EQ(boxes.Shown.size(), 2u);
  EXPECT_EQ(boxes.Shown[1].Text, QStringLiteral("Search complete.\r\n0 files found"));
  EXPECT_FALSE(page.Searching());
  EXPECT_TRUE(page.actStartSearch->isEnabled()) << "the late Yes greys nothing";
  EXPECT_EQ(page.actStartSearch->text(), QStringLiteral("Start search"));

  boxes.WhileAsking = nullptr;
  page.actStartSearch->trigger();
  EXPECT_TRUE(page.Searching()) << "the next search starts";
  ASSERT_TRUE(WaitUntilIdle(page));
}

// History is offered, never filled in: what was typed is what is searched, and Enter
// starts it.
TEST_F(PageTest, TypedPatternIsSearchedAsTypedAndEnterStartsIt) {
  TTempDir tree;
  std::ofstream(tree.Path / "gamma") << "x";
  std::ofstream(tree.Path / "report.txt") << "x";
  History = {"*report*"};
  TSearchPage page(nullptr, History);
  SearchIn(page, tree.Path);
  page.SetPatternItems(History);
  page.cmbPattern->setEditText(QString());
  TScriptedBoxes boxes;
  page.show();
  page.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
  page.cmbPattern->setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return page.cmbPattern->hasFocus(); }));

  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Asterisk, Qt::NoModifier);
  EXPECT_EQ(page.cmbPattern->currentText(), QStringLiteral("*"));
  ASSERT_NE(QApplication::activePopupWidget(), nullptr) << "the history is offered as suggestions";
  QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Return);  // none of them chosen
  ASSERT_TRUE(page.Searching()) << "Enter starts the search";
  EXPECT_EQ(History.front(), "*");
  ASSERT_TRUE(WaitUntilIdle(page));
  EXPECT_EQ(page.ResultRowCount(), 2);

  QTest::keyClick(page.cmbPattern->lineEdit(), Qt::Key_Return);
  ASSERT_TRUE(page.Searching());
  QTest::keyClick(page.cmbPattern->lineEdit(), Qt::Key_Return);
  ASSERT_TRUE(WaitUntilIdle(page));
  for (const TMessageBoxRequest& box : boxes.Shown)
    EXPECT_NE(box.Text, QStringLiteral("Do you want stop search?")) << "Enter never stops a search";
}

TEST_F(PageTest, NoCompletionMessageWhenTheOptionIsOff) {
  TTempDir tree;
  MakeTree(tree.Path, 1, 2);
  TSearchPage page(nullptr, History);
  SearchIn(page, tree.Path);
  TScriptedBoxes boxes;
  ProgramOptions().MessageWhenComplete = false;
  page.actStartSearch->trigger();
  const bool idle = WaitUntilIdle(page);
  ProgramOptions().MessageWhenComplete = true;
  ASSERT_TRUE(idle);
  EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(PageTest, TwoPagesSearchAtOnceWithTheirOwnCounts) {
  TTempDir small, large;
  const int smallFiles = MakeTree(small.Path, 3, 4);
  const int largeFiles = MakeTree(large.Path, 40, 25);
  TSearchPage first(nullptr, History), second(nullptr, History);
  SearchIn(first, small.Path);
  SearchIn(second, large.Path);
  TScriptedBoxes boxes;
  first.actStartSearch->trigger();
  second.actStartSearch->trigger();
  EXPECT_TRUE(first.Searching());
  EXPECT_TRUE(second.Searching());
  ASSERT_TRUE(WaitUntilIdle(first));
  ASSERT_TRUE(WaitUntilIdle(second));
  EXPECT_EQ(first.ResultRowCount(), smallFiles);
  EXPECT_EQ(second.ResultRowCount(), largeFiles);
  EXPECT_EQ(first.ActiveThreadCount(), 0);
  EXPECT_EQ(second.ActiveThreadCount(), 0);
  std::multiset<QString> texts;
  for (const TMessageBoxRequest& box : boxes.Shown) texts.insert(box.Text);
  // Counts in the locale's digit grouping (1,025 in English).
  EXPECT_EQ(texts, (std::multiset<QString>{
                       QStringLiteral("Search complete.\r\n%1 files found").arg(QLocale().toString(smallFiles)),
                       QStringLiteral("Search complete.\r\n%1 files found").arg(QLocale().toString(largeFiles))}));
}

TEST_F(PageTest, HistoryKeepsFirstLetterCaseAndSixteenEntries) {
  TSearchPage page(nullptr, History);
  const auto enter = [&](const char* text) {
    page.cmbPattern->setEditText(QString::fromLatin1(text));
    page.UpdatePatternHistory();
  };
  enter("Report*.doc");
  enter("*.txt");
  enter("  report*.DOC ");
  EXPECT_EQ(History, (std::vector<std::string>{"Report*.doc", "*.txt"}));
  EXPECT_EQ(page.cmbPattern->count(), 2);
  EXPECT_EQ(page.PatternText(), "report*.DOC") << "the box keeps what was typed, trimmed";

  for (int i = 0; i < 20; ++i) enter(("p" + std::to_string(i)).c_str());
  ASSERT_EQ(History.size(), 16u);
  EXPECT_EQ(History.front(), "p19");
  EXPECT_EQ(History.back(), "p4");
  EXPECT_EQ(page.cmbPattern->count(), 16);
}

TEST_F(PageTest, PatternChangeIsDetachedWhileSearching) {
  TTempDir tree;
  MakeTree(tree.Path, 5, 5);
  TSearchPage page(nullptr, History);
  SearchIn(page, tree.Path);
  TScriptedBoxes boxes;
  int calls = 0;
  page.SetPatternChange([&](QComboBox*) { ++calls; });
  page.cmbPattern->setEditText(QStringLiteral("*.txt"));
  ASSERT_EQ(calls, 1);
  page.actStartSearch->trigger();
  page.cmbPattern->setEditText(QStringLiteral("typed meanwhile"));
  EXPECT_EQ(calls, 1);
  ASSERT_TRUE(WaitUntilIdle(page));
  page.cmbPattern->setEditText(QStringLiteral("after"));
  EXPECT_EQ(calls, 2);
}

TEST_F(PageTest, EnablingRulesFollowSearchingAndRows) {
  TTempDir tree;
  MakeTree(tree.Path, 0, 3);
  TSearchPage page(nullptr, History);
  SearchIn(page, tree.Path);
  TScriptedBoxes boxes;
  page.UpdateActions();
  EXPECT_FALSE(page.actSaveToFile->isEnabled());
  EXPECT_TRUE(page.actLoadFromFile->isEnabled());
  EXPECT_FALSE(page.actFastFind->isEnabled());

  page.actStartSearch->trigger();
  page.UpdateActions();
  EXPECT_FALSE(page.actLoadFromFile->isEnabled());
  ASSERT_TRUE(WaitUntilIdle(page));
  page.UpdateActions();
  for (QAction* action : {page.actSaveToFile, page.actExport, page.actClearResults,
                          page.actFastFind, page.actLoadFromFile})
    EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();
  for (QAction* sort : page.SortActions()) EXPECT_TRUE(sort->isEnabled());
  EXPECT_FALSE(page.actOpenFile->isEnabled());
  page.lvResults->selectRow(0);
  page.UpdateActions();
  EXPECT_TRUE(page.actOpenFile->isEnabled());
}

TEST_F(PageTest, ResultListGrowsWithoutScrollingAndLogFollowsItsLastLine) {
  TSearchPage page(nullptr, History);
  page.resize(600, 400);
  page.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
  TResultManager& store = page.ResultStore();
  auto folder = std::make_shared<const std::string>("/tmp/");
  const auto deliver = [&](int count) {
    std::vector<PSearchResult> batch;
    for (int i = 0; i < count; ++i) {
      batch.push_back(std::make_unique<TSearchResult>());
      batch.back()->Path = folder;
      batch.back()->Name = "n" + std::to_string(store.Count() + i);
    }
    store.Lock.WaitFor(0xFFFFFFFF);
    store.AddResults(int32_t(batch.size()), batch.data());
    store.Changed();
    store.Lock.Release();
  };
  deliver(500);
  EXPECT_EQ(page.ResultRowCount(), 500) << "the count follows every notification";
  page.ResultModel().Flush();
  page.lvResults->scrollToTop();
  const int top = page.lvResults->verticalScrollBar()->value();
  deliver(500);
  deliver(500);
  EXPECT_EQ(page.ResultRowCount(), 1500);
  EXPECT_LE(page.ResultModel().rowCount(), 1500);
  page.ResultModel().Flush();
  EXPECT_EQ(page.ResultModel().rowCount(), 1500);
  EXPECT_EQ(page.lvResults->verticalScrollBar()->value(), top);
  EXPECT_EQ(page.ResultModel().data(page.ResultModel().index(1499, 0)).toString(),
            QStringLiteral("/tmp/n1499"));

  NETRESOURCEA server;
  server.lpRemoteName = "\\\\nohost";
  server.lpProvider = "Samba";
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 40; ++i) page.ErrorLog().AddError(53, server);
    page.lvLog->scrollToTop();  // the user looked up; the next error brings the view back
    page.ErrorLog().Changed();
    const QModelIndex last = page.LogModel().index(page.LogModel().rowCount() - 1, 0);
    EXPECT_EQ(page.LogRowCount(), 40 * (round + 1));
    EXPECT_TRUE(page.lvLog->viewport()->rect().contains(page.lvLog->visualRect(last)))
        << "round " << round;
  }

  page.ClearResultsAndLog();
  EXPECT_EQ(page.ResultRowCount(), 0);
  EXPECT_EQ(page.ResultModel().rowCount(), 0);
  EXPECT_EQ(page.LogRowCount(), 0);
  EXPECT_EQ(store.Count(), 0u);
}
