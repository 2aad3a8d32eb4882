// A page on an indexed folder answers from the index while the user types, and Enter
// still runs the live search.
#include <QComboBox>
#include <QLineEdit>

#include <algorithm>
#include <set>

#include "support/index_fixture.h"
#include "page/index_shelf.h"
#include "page/index_typing.h"
#include "page/result_model.h"
#include "results/result_manager.h"
#include "test_page_support.h"

namespace {

using lqtest::TTempDir;

class IndexTypingTest : public lqtest::TWindowTest {
 protected:
  void SetUp() override {
    TWindowTest::SetUp();
    Root = Files.Path / "share";
    for (const char* folder : {"a/b", "c"}) std::filesystem::create_directories(Root / folder);
    for (const char* file : {"a/report1.txt", "a/b/report2.txt", "a/notes.md", "c/report9.txt", "top.txt"})
      std::ofstream(Root / file) << "report";
    std::ofstream(Root / "a/b/big.txt") << std::string(5000, 'x');
    ASSERT_EQ(lqtest::UpdateIndexWithCli(Root.string()), 0);
    Shelf = std::make_unique<TIndexShelf>(Folder.Folder.string());
    Shelf->SetLocations({Root.string()});
    SetIndexShelf(Shelf.get());
  }
  void TearDown() override { SetIndexShelf(nullptr); }

  // Types text into the page's pattern box, key by key, after clearing it.
  static void Type(TSearchPage& page, const QString& text) {
    page.cmbPattern->lineEdit()->clear();
    QTest::keyClicks(page.cmbPattern->lineEdit(), text);
  }
  static bool WaitForAnswers(TSearchPage& page) {
    return QTest::qWaitFor([&] { return !page.IndexTyping().Queries().Busy(); }, 30000);
  }
  static std::set<std::string> Shown(TSearchPage& page) {
    std::set<std::string> names;
    for (size_t i = 0; i < size_t(page.ResultRowCount()); ++i) names.insert(page.ResultStore().Item(i).FullName());
    return names;
  }

  TTempDir Files;
  lqtest::TPrivateIndexFolder Folder{Files.Path / "cache"};
  std::filesystem::path Root;
  std::unique_ptr<TIndexShelf> Shelf;
  std::vector<std::string> History;
  lqtest::TScriptedBoxes Boxes;  // the completion message is acknowledged
};

TEST_F(IndexTypingTest, AFolderInsideAnIndexedLocationShowsTheMatchesWhileTyping) {
  TSearchPage page(nullptr, History);
  SearchIn(page, Root / "a");
  page.Setting().FileSizeTo = 1000;  // the page's filters apply: big.txt is left out
  page.show();

  Type(page, QStringLiteral("report*"));
  ASSERT_TRUE(WaitForAnswers(page));
  const std::string a = (Root / "a").string();
  EXPECT_EQ(Shown(page), (std::set<std::string>{a + "/report1.txt", a + "/b/report2.txt"}));
  EXPECT_FALSE(page.Searching()) << "nothing was started";
  EXPECT_TRUE(page.IndexTyping().StatusText().startsWith(QStringLiteral("Index of "))) << page.IndexTyping().StatusText().toStdString();
  EXPECT_EQ(page.ResultModel().rowCount(), 2) << "the rows are in the view, not only in the store";

  // Every further key replaces the answer; only the last pattern's entries remain.
  QTest::keyClick(page.cmbPattern->lineEdit(), Qt::Key_Backspace);
  QTest::keyClicks(page.cmbPattern->lineEdit(), QStringLiteral("2.txt"));
  ASSERT_TRUE(WaitForAnswers(page));
  EXPECT_EQ(Shown(page), std::set<std::string>{a + "/b/report2.txt"});

  // The indexed rows are ordinary results: they sort like any.
  page.ResultStore().SortKey = -skFileName;
  Type(page, QStringLiteral("*.txt"));
  ASSERT_TRUE(WaitForAnswers(page));
  EXPECT_EQ(page.ResultRowCount(), 2);
  page.actSort_2->trigger();
  EXPECT_EQ(page.ResultStore().Item(0).Name, "report1.txt");
}

TEST_F(IndexTypingTest, EnterRunsTheLiveSearchWhoseResultsReplaceTheIndexedOnes) {
  TSearchPage page(nullptr, History);
  SearchIn(page, Root);
  page.show();
  Type(page, QStringLiteral("report*"));
  ASSERT_TRUE(WaitForAnswers(page));
  EXPECT_EQ(page.ResultRowCount(), 3);

  // A file made after the index: only the live search can know it.
  std::ofstream(Root / "c/report10.txt") << "new";
  QTest::keyClick(page.cmbPattern->lineEdit(), Qt::Key_Return);
  EXPECT_TRUE(page.Searching() || page.ResultRowCount() == 4);
  ASSERT_TRUE(WaitUntilIdle(page));
  EXPECT_EQ(page.ResultRowCount(), 4);
  EXPECT_EQ(Shown(page).count((Root / "c/report10.txt").string()), 1u);
  EXPECT_TRUE(page.IndexTyping().StatusText().isEmpty()) << "the live results are not the index's";
}

TEST_F(IndexTypingTest, APageOutsideEveryIndexedLocationWaitsForStartAsAlways) {
  const std::filesystem::path elsewhere = Files.Path / "elsewhere";
  std::filesystem::create_directories(elsewhere);
  std::ofstream(elsewhere / "report5.txt") << "x";
  TSearchPage page(nullptr, History);
  SearchIn(page, elsewhere);
  page.show();
  Type(page, QStringLiteral("report*"));
  QTest::qWait(100);
  EXPECT_EQ(page.ResultRowCount(), 0);
  EXPECT_FALSE(page.IndexTyping().Queries().Busy());
  EXPECT_TRUE(page.IndexTyping().StatusText().isEmpty());

  // An index the command line made of a location the user never added is not used.
  Shelf->SetLocations({});
  SearchIn(page, Root);
  Type(page, QStringLiteral("report*"));
  QTest::qWait(100);
  EXPECT_EQ(page.ResultRowCount(), 0);
}

}  // namespace
