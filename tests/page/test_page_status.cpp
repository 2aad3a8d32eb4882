// What the main window's status bar can read from a page at the moment the completion
// message is on screen: the finished search, not a count taken while it was still running.
#include <QAction>
#include <QComboBox>

#include <QAbstractItemModel>
#include <QTableView>

#include <vector>

#include "os/net_errors.h"
#include "page/test_page_support.h"
#include "smb/smb_client.h"
#include "smb/smb_path.h"

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

// A server that refuses the connection: what the engine logs reaches the Errors log,
// and the completion message says there were errors, after the count.
TEST_F(PageStatusTest, PlacesThatCouldNotBeSearchedShowInTheLogAndTheMessage) {
  TSmbClientOptions options;
  options.Interfaces = "127.0.0.1/8";
  options.NameResolveOrder = "host";
  SmbInitialize(options);
  SetSmbHostPort("127.0.0.9", 9);  // nothing listens there
  TSearchPage page(nullptr, History);
  NETRESOURCEA server;
  server.dwScope = RESOURCE_GLOBALNET;
  server.dwType = RESOURCETYPE_DISK;
  server.dwDisplayType = RESOURCEDISPLAYTYPE_SERVER;
  server.dwUsage = RESOURCEUSAGE_CONTAINER;
  server.lpRemoteName = "\\\\127.0.0.9";
  server.lpProvider = std::string(kSmbProviderName);
  CopyNetResource(server, page.Setting().NetResource);
  TScriptedBoxes boxes;
  page.actStartSearch->trigger();
  ASSERT_TRUE(WaitUntilIdle(page));
  ASSERT_EQ(page.LogRowCount(), 1);
  const QString line = page.lvLog->model()->index(0, 0).data().toString();
  EXPECT_TRUE(line.contains(QStringLiteral("127.0.0.9"))) << line.toStdString();
  ASSERT_EQ(boxes.Shown.size(), 1u);
  EXPECT_EQ(boxes.Shown[0].Text, QStringLiteral("Search complete.\r\n0 files found\r\n1 error: see the Errors log."));
}

// The folder picked for the page is deleted before the search: the search says so.
TEST_F(PageStatusTest, DeletedFolderIsAnErrorOfTheSearch) {
  TTempDir tree;
  const std::filesystem::path gone = tree.Path / "picked";
  std::filesystem::create_directories(gone);
  TSearchPage page(nullptr, History);
  SearchIn(page, gone);
  std::filesystem::remove(gone);
  TScriptedBoxes boxes;
  page.actStartSearch->trigger();
  ASSERT_TRUE(WaitUntilIdle(page));
  ASSERT_EQ(page.LogRowCount(), 1);
  EXPECT_TRUE(page.lvLog->model()->index(0, 0).data().toString().contains(QStringLiteral("picked")));
  ASSERT_EQ(boxes.Shown.size(), 1u);
  EXPECT_EQ(boxes.Shown[0].Text, QStringLiteral("Search complete.\r\n0 files found\r\n1 error: see the Errors log."));
}

// Held while the window is out of sight, the message comes once, when asked for; a new
// search forgets one that never came.
TEST_F(PageStatusTest, HeldCompletionMessageIsShownOnceWhenAskedFor) {
  TTempDir tree;
  const int files = MakeTree(tree.Path, 0, 3);
  TSearchPage page(nullptr, History);
  SearchIn(page, tree.Path);
  TScriptedBoxes boxes;
  page.CompletionBoxPolicy = [](TSearchPage*) { return TSearchPage::TCompletionBox::Hold; };
  page.actStartSearch->trigger();
  ASSERT_TRUE(WaitUntilIdle(page));
  EXPECT_TRUE(boxes.Shown.empty());
  ASSERT_TRUE(page.CompletionHeld());
  page.ShowHeldCompletion();
  page.ShowHeldCompletion();
  ASSERT_EQ(boxes.Shown.size(), 1u);
  EXPECT_EQ(boxes.Shown[0].Text, QStringLiteral("Search complete.\r\n%1 files found").arg(files));

  page.actStartSearch->trigger();
  ASSERT_TRUE(WaitUntilIdle(page));
  page.CompletionBoxPolicy = [](TSearchPage*) { return TSearchPage::TCompletionBox::Drop; };
  page.actStartSearch->trigger();
  ASSERT_TRUE(WaitUntilIdle(page));
  EXPECT_FALSE(page.CompletionHeld()) << "the held message of the search before went with it";
  EXPECT_EQ(boxes.Shown.size(), 1u);
}

}  // namespace
