// What the main window's status bar can read from a page at the moment the completion
// message is on screen: the finished search, not a count taken while it was still running.
#include <QAction>
#include <QComboBox>

#include <vector>

#include "page/test_page_support.h"

using namespace lqtest;

namespace {

class PageStatusTest : public TWindowTest {
 protected:
  std::vector<std::string> History;
};

struct TStatusSeen {
  size_t BoxesShown;
  bool Searching;
  int32_t Threads;
  int Rows;
};

TEST_F(PageStatusTest, CompletionMessageComesAfterTheStatusOfTheFinishedSearch) {
  TTempDir tree;
  const int files = MakeTree(tree.Path, 6, 5);
  TSearchPage page(nullptr, History);
  SearchIn(page, tree.Path);
  TScriptedBoxes boxes;
  std::vector<TStatusSeen> seen;
  page.OnPageChange = [&](TSearchPage* sender) {
    seen.push_back({boxes.Shown.size(), sender->Searching(), sender->ActiveThreadCount(),
                    sender->ResultRowCount()});
  };
  page.cmbPattern->setEditText(QStringLiteral("*.txt"));

  page.actStartSearch->trigger();
  ASSERT_TRUE(WaitUntilIdle(page));
  ASSERT_EQ(boxes.Shown.size(), 1u);

  // The last status raised before the message box: the one on screen beside it.
  const TStatusSeen* beforeBox = nullptr;
  for (const TStatusSeen& status : seen)
    if (status.BoxesShown == 0) beforeBox = &status;
  ASSERT_NE(beforeBox, nullptr);
  EXPECT_FALSE(beforeBox->Searching);
  EXPECT_EQ(beforeBox->Threads, 0);
  EXPECT_EQ(beforeBox->Rows, files);
}

}  // namespace
