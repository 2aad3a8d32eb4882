// The main window: its commands and their rules, pages, status bar, close query, saved
// state and the help key.
#include <QAction>
#include <QComboBox>
#include <QKeySequence>
#include <QTableView>
#include <QLabel>
#include <QMenuBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>

#include <memory>

#include "page/test_page_support.h"
#include "results/logger.h"
#include "settings/main_settings.h"
#include "shell/app_identity.h"
#include "shell/html_help.h"
#include "shell/icons.h"
#include "shell/main_window.h"
#include "shell/tray_icon.h"

using namespace lqtest;

namespace {

class MainWindowTest : public TWindowTest {
 protected:
  void SetUp() override {
    TWindowTest::SetUp();
    Icons = std::make_unique<TIcons>();
    PreviousOpener = SetUrlOpener([this](const QUrl& url) {
      Opened.push_back(url);
      return true;
    });
  }
  void TearDown() override {
    SetUrlOpener(std::move(PreviousOpener));
    Icons.reset();
  }

  // A main window on screen, without the tip of the day.
  static std::unique_ptr<TMainWindow> ShownWindow() {
    auto window = std::make_unique<TMainWindow>();
    window->ShowTipAtStartup = false;
    window->show();
    return window;
  }
  // A shown window whose first page searches until Gate opens (or the rig goes).
  struct TBlockedWindow {
    TBlockedWindow() : Window(ShownWindow()), Page(*Window->ActivePage()) { StartBlockedSearch(Page, Gate, Tree.Path); }
    TTempDir Tree;
    TGate Gate;
    std::unique_ptr<TMainWindow> Window;
    TGateOpener Opener{Gate};
    TSearchPage& Page;
  };
  // Starts a search on page that stays running until gate opens.
  static void StartBlockedSearch(TSearchPage& page, TGate& gate, const std::filesystem::path& folder) {
    SearchIn(page, folder);
    UseBlockedWorkers(page, gate);
    page.actStartSearch->trigger();
    ASSERT_TRUE(page.Searching());
  }
  // Lets blocked workers go and waits for their page to be idle again.
  static void Finish(TSearchPage& page, TGate& gate) {
    gate.Release();
    EXPECT_TRUE(WaitUntilIdle(page));
  }

  std::unique_ptr<TIcons> Icons;
  TScriptedBoxes Boxes;
  TUrlOpener PreviousOpener;
  std::vector<QUrl> Opened;
};

// A tray that records the notifications sent through it.
struct TNotification {
  QString Title;
  QString Text;
  std::function<void()> Click;
};

class TNotifyingTrayHost : public TTrayHost {
 public:
  explicit TNotifyingTrayHost(std::vector<TNotification>& sent) : Sent(sent) {}
  bool IsAvailable() const override { return true; }
  void AddIcon(const TNotifyIconData&, QMenu*, std::function<void(unsigned)>) override {}
  void RemoveIcon(int) override {}
  void ShowMessage(const QString& title, const QString& text, const QIcon&,
                   std::function<void()> onClick) override {
    Sent.push_back({title, text, std::move(onClick)});
  }

 private:
  std::vector<TNotification>& Sent;
};

struct ActionRow {
  QAction* TMainWindow::*Action;
  const char* Caption;
  const char* ToolTip;  // the short hint; empty when there is none
  int Image;
};

}  // namespace

TEST_F(MainWindowTest, LayoutAndCommandTable) {
  TMainWindow window;
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Lanternquest"));
  EXPECT_EQ(window.size(), QSize(650, 450));
  EXPECT_EQ(window.minimumSize(), QSize(500, 400));
  QStringList menus;
  for (QAction* menu : window.menuBar()->actions()) menus << menu->text();
  EXPECT_EQ(menus, (QStringList{"&File", "&Actions", "&Help"}));
  EXPECT_EQ(window.PageCount(), 1);
  EXPECT_EQ(window.pgcMain->tabText(0), QStringLiteral("Enter file mask"));
  EXPECT_EQ(window.LogHeight, 92);

  const ActionRow rows[] = {
      {&TMainWindow::actNewPage, "New page", "New page", 9},
      {&TMainWindow::actClosePage, "Close page", "Close page", 16},
      {&TMainWindow::actExit, "E&xit", "Exit", 1},
      {&TMainWindow::actOptions, "Options", "", 0},
      {&TMainWindow::actAbout, "About...", "", 7},
      {&TMainWindow::actHelp, "Help", "", 4},
      {&TMainWindow::actTipOfDay, "Tip of day", "", 17},
      {&TMainWindow::actRestore, "Restore", "Restore", -1},
      {&TMainWindow::actConnDialog, "Connect network resource", "Connect network resource", 26},
      {&TMainWindow::actDisconnDialog, "Disconnect network resource", "Disconnect network resource", 27},
      {&TMainWindow::actBugReport, "Bug report", "Bug report", -1},
      {&TMainWindow::actInfoRequest, "Information request", "Information request", -1},
      {&TMainWindow::actHomePage, "WWW Home page", "WWW Home page", -1},
  };
  for (const ActionRow& row : rows) {
    QAction* action = window.*row.Action;
    SCOPED_TRACE(row.Caption);
    EXPECT_EQ(action->text(), QString::fromLatin1(row.Caption));
    if (row.ToolTip[0] != '\0') {
      EXPECT_EQ(action->toolTip(), QString::fromLatin1(row.ToolTip));
    }
    EXPECT_EQ(action->property("ImageIndex").toInt(), row.Image);
    EXPECT_EQ(action->icon().isNull(), row.Image < 0);
  }
  EXPECT_EQ(window.actExit->statusTip(), QStringLiteral("Quits the application"));
  for (int slot = 0; slot < kImageCount; ++slot) {
    EXPECT_FALSE(Icons->Image16(slot).isNull()) << slot;
    EXPECT_EQ(Icons->Image16Gray(slot).isNull(), slot >= kGreyedImageCount) << slot;
  }
}

// The program depends on adwaita-icon-theme, so even without a desktop session every
// command and tree node shows a theme icon, not a drawn stand-in.
TEST_F(MainWindowTest, CommandsAndTreeNodesShowThemeIcons) {
  for (const int slot : {0, 1, 2, 3, 4, 6, 7, 9, 10, 11, 12, 13, 14, 16, 17, 18, 19, 20, 21, 23, 26, 27, 28})
    EXPECT_FALSE(Icons->ThemeName(slot).isEmpty()) << "slot " << slot;
  EXPECT_EQ(Icons->ThemeName(3), QStringLiteral("folder"));
  EXPECT_EQ(Icons->ThemeName(13), QStringLiteral("folder-remote"));
  EXPECT_EQ(Icons->ThemeName(6), QStringLiteral("network-server"));
  TMainWindow window;
  const QImage newPage = window.actNewPage->icon().pixmap(16, 16).toImage();
  const QImage connect = window.actConnDialog->icon().pixmap(16, 16).toImage();
  EXPECT_NE(Icons->ThemeName(9), Icons->ThemeName(26));
  EXPECT_NE(newPage, connect) << "New page and Connect look different";
  EXPECT_NE(Icons->Image16(12).toImage(), Icons->Image16Gray(12).toImage()) << "a greyed form";
}

TEST_F(MainWindowTest, NewAndClosePageRules) {
  TTempDir tree;
  TGate gate;
  TMainWindow window;
  window.UpdateActions();
  EXPECT_TRUE(window.actNewPage->isEnabled());
  EXPECT_FALSE(window.actClosePage->isEnabled()) << "one page";
  window.actClosePage->trigger();
  EXPECT_EQ(window.PageCount(), 1);

  for (int i = 0; i < 5; ++i) window.actNewPage->trigger();
  EXPECT_EQ(window.PageCount(), kMaxPages);
  window.UpdateActions();
  EXPECT_FALSE(window.actNewPage->isEnabled());
  EXPECT_TRUE(window.actClosePage->isEnabled());
  window.actClosePage->trigger();
  EXPECT_EQ(window.PageCount(), 3);
  window.UpdateActions();
  EXPECT_TRUE(window.actNewPage->isEnabled());

  TGateOpener opener{gate};
  TSearchPage& active = *window.ActivePage();
  StartBlockedSearch(active, gate, tree.Path);
  window.UpdateActions();
  EXPECT_FALSE(window.actClosePage->isEnabled()) << "the active page searches";
  window.actClosePage->trigger();
  EXPECT_EQ(window.PageCount(), 3);
  Finish(active, gate);
  window.UpdateActions();
  EXPECT_TRUE(window.actClosePage->isEnabled());
}

TEST_F(MainWindowTest, CloseQueryWhileAnotherPageSearches) {
  TBlockedWindow rig;
  TGate& gate = rig.Gate;
  std::unique_ptr<TMainWindow>& window = rig.Window;
  TSearchPage& searching = rig.Page;
  ASSERT_TRUE(gate.WaitForWaiting(1));
  window->actNewPage->trigger();
  ASSERT_NE(window->ActivePage(), &searching);

  Boxes.Answers = {TMsgResult::No};
  EXPECT_FALSE(window->close());
  ASSERT_EQ(Boxes.Shown.size(), 1u);
  EXPECT_EQ(Boxes.Shown[0].Text,
            QStringLiteral("Search in process, do you want stop search and exit?"));
  EXPECT_EQ(Boxes.Shown[0].Caption, QStringLiteral("Exit"));
  EXPECT_EQ(Boxes.Shown[0].Buttons, TMsgButtons::YesNo);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(searching.Searching());
  EXPECT_TRUE(searching.actStartSearch->isEnabled()) << "not even stopping";

  Boxes.Answers = {TMsgResult::Yes};
  EXPECT_TRUE(window->close());
  EXPECT_EQ(Boxes.Shown.size(), 2u) << "the page does not ask its own question";
  EXPECT_FALSE(searching.actStartSearch->isEnabled()) << "told to stop";

  // The worker ignores the stop (a server that does not answer): the exit does not wait
  // for it beyond the limit it is given.
  EXPECT_FALSE(window->FinishRun(20));
  EXPECT_TRUE(searching.Searching());
  gate.Release();
  EXPECT_TRUE(window->FinishRun(120000));
  window.reset();
  EXPECT_EQ(Boxes.Shown.size(), 2u) << "no completion message while the window goes";
}

TEST_F(MainWindowTest, NoCompletionMessageOnceTheUserChoseToClose) {
  TBlockedWindow rig;
  TGate& gate = rig.Gate;
  std::unique_ptr<TMainWindow>& window = rig.Window;
  TSearchPage& page = rig.Page;
  Boxes.Answers = {TMsgResult::Yes};
  ASSERT_TRUE(window->close());
  // The search ends while the program is on its way out, before the exit waits for it.
  gate.Release();
  ASSERT_TRUE(WaitUntilIdle(page));
  ASSERT_EQ(Boxes.Shown.size(), 1u);
  EXPECT_EQ(Boxes.Shown[0].Caption, QStringLiteral("Exit"));
}

// One question at a time: a search that ends while "Search in process, ..." is asked
// puts no completion box over it, whatever the answer.
TEST_F(MainWindowTest, SearchEndingUnderTheExitQuestionShowsNoBox) {
  TBlockedWindow rig;
  TGate& gate = rig.Gate;
  std::unique_ptr<TMainWindow>& window = rig.Window;
  TSearchPage& page = rig.Page;
  EXPECT_FALSE(window->actClosePage->isEnabled());
  window->actNewPage->trigger();
  window->pgcMain->setCurrentIndex(0);
  window->UpdateActions();
  EXPECT_FALSE(window->actClosePage->isEnabled());
  EXPECT_EQ(window->actClosePage->toolTip(), QStringLiteral("Close page (not while its search runs: stop it first)"));
  Boxes.Answers = {TMsgResult::No};
  Boxes.WhileAsking = [&] { Finish(page, gate); };
  EXPECT_FALSE(window->close());
  QCoreApplication::processEvents();
  ASSERT_EQ(Boxes.Shown.size(), 1u);
  EXPECT_EQ(Boxes.Shown[0].Caption, QStringLiteral("Exit"));
  window->UpdateActions();
  EXPECT_TRUE(window->actClosePage->isEnabled());
  EXPECT_EQ(window->actClosePage->toolTip(), QStringLiteral("Close page"));
}

TEST_F(MainWindowTest, SearchEndingOutOfSightIsNotifiedAndTheClickShowsItsPage) {
  TTempDir tree;
  const int files = MakeTree(tree.Path, 2, 3);
  std::vector<TNotification> sent;
  TMainWindow window;
  window.ShowTipAtStartup = false;
  window.TrayIcon = std::make_unique<TTrayIcon>(&window, kTrayCallbackMessage,
                                                std::make_unique<TNotifyingTrayHost>(sent));
  window.TrayIcon->SetMinimizeToTrayQuery([] { return true; });
  window.show();
  TSearchPage& page = *window.ActivePage();
  SearchIn(page, tree.Path);
  page.actStartSearch->trigger();
  ASSERT_TRUE(WaitUntilIdle(page));
  EXPECT_TRUE(sent.empty()) << "the user saw this one end";

  // Ends while the window is in the tray, another page in front, one error in the log.
  window.actNewPage->trigger();
  window.showMinimized();
  QCoreApplication::processEvents();
  ASSERT_FALSE(window.isVisible()) << "hidden in the tray";
  page.actStartSearch->trigger();
  NETRESOURCEA server;
  server.lpRemoteName = "\\\\GONE";
  page.ErrorLog().AddError(53, server);  // before the workers' hand-offs can run
  ASSERT_TRUE(WaitUntilIdle(page));
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Title, QStringLiteral("Search complete"));
  EXPECT_EQ(sent[0].Text, QStringLiteral("%1 files found, 1 error").arg(files));
  const size_t boxesBefore = Boxes.Shown.size();
  QCoreApplication::processEvents();
  EXPECT_EQ(Boxes.Shown.size(), boxesBefore) << "no box over an empty desktop";

  sent[0].Click();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
  EXPECT_EQ(window.ActivePage(), &page) << "back on the page that finished";
  EXPECT_EQ(window.PageCount(), 2);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Boxes.Shown.size() == boxesBefore + 1; }, 5000))
      << "the box follows once the window is back";
  EXPECT_TRUE(Boxes.Shown.back().Text.endsWith(QStringLiteral("1 error: see the Errors log.")));

  // Minimised to the task bar is out of sight too.
  window.TrayIcon->SetMinimizeToTrayQuery([] { return false; });
  window.showMinimized();
  QCoreApplication::processEvents();
  page.actStartSearch->trigger();
  ASSERT_TRUE(WaitUntilIdle(page));
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].Text, QStringLiteral("%1 files found").arg(files));
}

TEST_F(MainWindowTest, StatusPanelsStayWhileAHintIsShown) {
  TMainWindow window;
  window.ShowTipAtStartup = false;
  window.show();
  window.StatusBar->showMessage(QStringLiteral("Start search"));
  for (QLabel* panel : window.StatusPanels) EXPECT_TRUE(panel->isVisible()) << panel->text().toStdString();
  EXPECT_EQ(window.StatusBar->currentMessage(), QStringLiteral("Start search"));
  // Left to right: threads, results, location.
  EXPECT_LT(window.StatusPanels[0]->x(), window.StatusPanels[1]->x());
  EXPECT_LT(window.StatusPanels[1]->x(), window.StatusPanels[2]->x());
}

// Qt appends a display name, once one is set, to every caption it hands the window system.
TEST_F(MainWindowTest, CaptionsReachTheWindowSystemUnchanged) {
  const QString testName = QCoreApplication::applicationName();
  SetApplicationIdentity();
  EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Lanternquest"));
  QCoreApplication::setApplicationName(QStringLiteral("renamed"));
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("renamed"))
      << "no display name of its own is set";
  QCoreApplication::setApplicationName(testName);
  EXPECT_FALSE(QApplication::windowIcon().isNull());
}

TEST_F(MainWindowTest, StatusBarTabCaptionAndPageItemsFollowTheActivePage) {
  TMainWindow window;
  TTempDir tree;
  const int files = MakeTree(tree.Path, 4, 5);
  TSearchPage& first = *window.ActivePage();
  SearchIn(first, tree.Path);

  first.cmbPattern->setEditText(QStringLiteral("*.txt"));
  EXPECT_EQ(window.pgcMain->tabText(0), QStringLiteral("*.txt"));
  first.cmbPattern->setEditText(QString());
  EXPECT_EQ(window.pgcMain->tabText(0), QStringLiteral("Enter file mask"));
  first.cmbPattern->setEditText(QStringLiteral("*.txt"));

  first.actStartSearch->trigger();
  first.cmbPattern->setEditText(QStringLiteral("typed during the search"));
  EXPECT_EQ(window.pgcMain->tabText(0), QStringLiteral("*.txt"));
  ASSERT_TRUE(WaitUntilIdle(first));
  EXPECT_EQ(window.StatusPanels[0]->text(), QStringLiteral("Active threads: 0"));
  EXPECT_EQ(window.StatusPanels[1]->text(), QStringLiteral("Results: %1").arg(files));
  EXPECT_EQ(window.StatusPanels[2]->text(), QString::fromStdString(tree.Path.string()));
  first.cmbPattern->setEditText(QStringLiteral("again"));
  EXPECT_EQ(window.pgcMain->tabText(0), QStringLiteral("again"));
  EXPECT_EQ(window.InputHistory, std::vector<std::string>{"*.txt"});

  EXPECT_EQ(window.BoundAction(window.miSave), first.actSaveToFile);
  window.actNewPage->trigger();
  TSearchPage& second = *window.ActivePage();
  ASSERT_NE(&second, &first);
  EXPECT_EQ(second.cmbPattern->count(), 1) << "the new page lists the shared history";
  EXPECT_EQ(window.StatusPanels[1]->text(), QStringLiteral("Results: 0"));
  const std::pair<QAction*, QAction*> items[] = {
      {window.miLoad, second.actLoadFromFile}, {window.miSave, second.actSaveToFile},
      {window.miExport, second.actExport},     {window.miFastFind, second.actFastFind},
      {window.miSort[0], second.actSort_1},    {window.miSort1[5], second.actSort_6}};
  for (const auto& [item, action] : items)
    EXPECT_EQ(window.BoundAction(item), action) << item->objectName().toStdString();
  EXPECT_EQ(window.miSave->isEnabled(), second.actSaveToFile->isEnabled());

  window.pgcMain->setCurrentIndex(0);
  EXPECT_EQ(window.BoundAction(window.miSort1[2]), first.actSort_3);
  EXPECT_EQ(window.StatusPanels[1]->text(), QStringLiteral("Results: %1").arg(files));
  first.UpdateActions();
  EXPECT_TRUE(window.miSave->isEnabled()) << "the item mirrors the page's rule";
}

TEST_F(MainWindowTest, WindowStateIsSavedAndRestoredThroughTheSettings) {
  {
    TMainWindow window;
    window.ShowTipAtStartup = false;
    window.setGeometry(100, 120, 700, 500);
    window.show();
    window.showMaximized();
    // The user drags the splitter; the program ends after the window has closed.
    QSplitter* splitter = window.ActivePage()->LogSplitter;
    const int total = splitter->sizes()[0] + splitter->sizes()[1];
    splitter->setSizes({total - 120, 120});
    window.InputHistory = {"b*", "a*"};
    window.ActivePage()->lvResults->setColumnWidth(1, 95);
    window.ActivePage()->lvResults->setColumnWidth(4, 44);
    EXPECT_TRUE(window.close());
    ASSERT_TRUE(window.FinishRun(0));
  }
  const TMainSettings saved = LoadMainSettings();
  EXPECT_TRUE(saved.Maximised);
  EXPECT_EQ(saved.Left, 100);
  EXPECT_EQ(saved.Top, 120);
  EXPECT_EQ(saved.Width, 700);
  EXPECT_EQ(saved.Height, 500);
  EXPECT_EQ(saved.LogHeight, 120);

  TMainWindow window;
  EXPECT_TRUE(window.windowState() & Qt::WindowMaximized);
  EXPECT_EQ(window.normalGeometry(), QRect(100, 120, 700, 500));
  EXPECT_EQ(window.LogHeight, 120);
  EXPECT_EQ(window.InputHistory, (std::vector<std::string>{"b*", "a*"}));
  window.ActivePage()->SetLogHeight(60);
  window.actNewPage->trigger();
  EXPECT_EQ(window.ActivePage()->LogHeight(), 120) << "the saved height, not the active pane's";
  for (TSearchPage* page : {window.Page(0), window.Page(1)}) {
    EXPECT_EQ(page->lvResults->columnWidth(1), 95) << "column widths come back";
    EXPECT_EQ(page->lvResults->columnWidth(4), 44);
  }
}

// The desktop's standard keys, shown in the menus; "..." after the items that open a
// dialog, while the commands keep their captions; F5 starts the search again.
TEST_F(MainWindowTest, StandardKeysAndDialogItemsInTheMenus) {
  TTempDir tree;
  MakeTree(tree.Path, 0, 2);
  TMainWindow window;
  window.ShowTipAtStartup = false;
  window.show();
  const auto first = [](QKeySequence::StandardKey key) { return QKeySequence::keyBindings(key).value(0); };
  EXPECT_EQ(window.actNewPage->shortcut(), first(QKeySequence::AddTab));
  EXPECT_EQ(window.actClosePage->shortcut(), first(QKeySequence::Close));
  EXPECT_EQ(window.actExit->shortcut(), first(QKeySequence::Quit));
  EXPECT_EQ(window.miFastFind->shortcut(), first(QKeySequence::Find));
  EXPECT_EQ(window.miSave->shortcut(), first(QKeySequence::Save));
  EXPECT_EQ(window.miLoad->shortcut(), first(QKeySequence::Open));
  EXPECT_EQ(window.actSearchAgain->shortcut(), QKeySequence(Qt::Key_F5));
  EXPECT_FALSE(window.miOptions->shortcut().isEmpty());
  QStringList actions;
  for (QAction* item : window.mnuActions->actions())
    if (!item->isSeparator()) actions << item->text();
  EXPECT_EQ(actions, (QStringList{"New page", "Close page", "Connect network resource...",
                                  "Disconnect network resource...", "Search again", "Find in results...", "Sort by",
                                  "Options..."}));
  EXPECT_EQ(window.actOptions->text(), QStringLiteral("Options"));
  EXPECT_EQ(window.miSave->text(), QStringLiteral("Save results..."));

  TSearchPage& page = *window.ActivePage();
  SearchIn(page, tree.Path);
  window.activateWindow();
  if (QTest::qWaitForWindowActive(&window))
    QTest::keyClick(&window, Qt::Key_F5);
  else
    window.actSearchAgain->trigger();  // no window activation on this platform
  EXPECT_TRUE(page.Searching());
  ASSERT_TRUE(WaitUntilIdle(page));
  EXPECT_EQ(page.ResultRowCount(), 2);
}

TEST_F(MainWindowTest, F1OpensHelpFromAnyWidget) {
  TMainWindow window;
  window.ShowTipAtStartup = false;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QSignalSpy help(window.actHelp, &QAction::triggered);
  window.ActivePage()->cmbPattern->setFocus();
  QTest::keyClick(window.windowHandle(), Qt::Key_F1);
  EXPECT_EQ(help.count(), 1);
  QTest::keyClick(window.windowHandle(), Qt::Key_F2);
  EXPECT_EQ(help.count(), 1);
}
