#pragma once
// TMainWindow: the main window. It hosts one to four search pages as tabs of pgcMain, shares
// one menu bar and tool bar among them by pointing the page-specific items at the active
// page's actions, shows the active page's progress in three status panels, owns the
// pattern history and the file-mask groups, and loads and saves the window's state.
//
// Closing asks first while any page searches; on Yes every search is told to stop.
// FinishRun (or destruction) saves the settings, detaches the pages from the user and
// waits a bounded time for their workers; a page whose workers are still blocked (a slow
// server) is reported so the caller can end the process without waiting for them.
//
// UI thread only. TIcons must exist before the window is created.
#include <QElapsedTimer>
#include <QMainWindow>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "page/search_page.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolBar;
class QToolButton;
class TSearchPage;
class TIndexRefresh;
class TSearchTab;
class TTrayIcon;

inline constexpr int kMaxPages = 4;

class TMainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit TMainWindow(QWidget* parent = nullptr);
  ~TMainWindow() override;

  // Persisted state shared by the pages.
  std::vector<std::string> InputHistory;
  std::vector<std::string> FileMaskGroups;
  int32_t LogHeight = 92;
  // The result list's column widths after "File name" for new pages; empty: the defaults.
  std::vector<int> ColumnWidths;
  bool ShowTipAtStartup = true;

  // Controls.
  QTabWidget* pgcMain = nullptr;
  QStatusBar* StatusBar = nullptr;
  std::array<QLabel*, 3> StatusPanels{};
  QMenu* mnuFile = nullptr;
  QMenu* mnuActions = nullptr;
  QMenu* mnuHelp = nullptr;
  QMenu* mnuSort = nullptr;      // the sort drop-down of the tool bar
  QMenu* mnuSortSub = nullptr;   // the "Sort by" sub-menu of Actions
  QMenu* mnuFeedback = nullptr;
  QToolBar* ToolBar = nullptr;

  // The window's own actions.
  QAction* actNewPage = nullptr;
  QAction* actClosePage = nullptr;
  QAction* actExit = nullptr;
  QAction* actOptions = nullptr;
  QAction* actAbout = nullptr;
  QAction* actHelp = nullptr;
  QAction* actTipOfDay = nullptr;
  QAction* actRestore = nullptr;
  QAction* actConnDialog = nullptr;
  QAction* actDisconnDialog = nullptr;
  QAction* actBugReport = nullptr;
  QAction* actInfoRequest = nullptr;
  QAction* actHomePage = nullptr;
  QAction* actNull = nullptr;
  // Starts the active page's search again (F5); enabled while that page does not search.
  QAction* actSearchAgain = nullptr;

  // Page-specific menu items; each shows and runs the active page's action. The tool
  // buttons show the same items.
  QAction* miLoad = nullptr;
  QAction* miSave = nullptr;
  QAction* miExport = nullptr;
  QAction* miFastFind = nullptr;
  // The menus' items for the window's commands that open a dialog (captions with "...").
  QAction* miOptions = nullptr;
  QAction* miConnDialog = nullptr;
  QAction* miDisconnDialog = nullptr;
  QAction* miTipOfDay = nullptr;
  std::array<QAction*, 6> miSort{};   // miSort_1 .. miSort_6 (tool bar drop-down)
  std::array<QAction*, 6> miSort1{};  // miSort1_1 .. miSort1_6 (Actions sub-menu)
  QToolButton* tbLoad = nullptr;
  QToolButton* tbSave = nullptr;
  QToolButton* tbExport = nullptr;
  QToolButton* tbFastFind = nullptr;
  QToolButton* tbSort = nullptr;
  // The action a page-specific item currently shows (actNull before the first page).
  QAction* BoundAction(QAction* item) const;

  int PageCount() const;
  TSearchPage* Page(int index) const;
  TSearchPage* ActivePage() const;

  // Rewrites the three status panels from the active page.
  void RefreshStatus();
  // A page's counts changed. While its search runs they change thousands of times a
  // second, and setting a panel's text lays the text out anew: the panels are then
  // rewritten at most every kStatusRefreshMs, the last change included.
  void PageCountsChanged(TSearchPage* page);
  static constexpr int kStatusRefreshMs = 100;
  // The pattern box's change handler: the active tab's caption follows the text.
  void PagePatternChange(QComboBox* sender);
  // The page-change step: re-points the page items, refills the active page's pattern
  // list, refreshes the status bar.
  void PageChange();
  // StopSearch(force) on every searching page.
  void StopAllSearches();
  // A page's search has ended. When the window is out of sight (minimised or in the tray)
  // a desktop notification says so; clicking it brings the window back on that page.
  void SearchCompleted(TSearchPage* page);
  // Makes page the active one and brings the window back to the front.
  void ShowPage(TSearchPage* page);
  // What a page does with its completion message now (see TSearchPage::CompletionBoxPolicy).
  TSearchPage::TCompletionBox CompletionBoxNow() const;
  // Shows the completion messages that waited while the window was out of sight.
  void ShowHeldCompletions();

  // The enabling rules of the window's actions, now / at the next idle moment.
  void UpdateActions();
  void ScheduleUpdateActions();

  // Saves the settings (once), detaches every page and waits at most timeoutMs in all
  // for their searches to end. False when some worker is still running.
  bool FinishRun(int timeoutMs);

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The first activation shows the tip of the day once.
  void changeEvent(QEvent* event) override;
  // Back in sight: the held completion messages follow.
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateActions();
  void CreateMenusAndToolBar();
  void ApplyMainSettings();
  void SaveSettingsOnce();
  TSearchTab* Sheet(int index) const;
  QAction* NewItem(const QString& name);
  void BindItem(QAction* item, QAction* target);
  void RunBoundAction(QAction* item);

  void actNewPageExecute();
  void actClosePageExecute();
  void actOptionsExecute();
  void actAboutExecute();
  void actHelpExecute();
  void actTipOfDayExecute();
  void actRestoreExecute();
  void actSearchAgainExecute();
  void actConnDialogExecute();
  void actDisconnDialogExecute();
  void OpenAddress(const char* address);

  std::map<QAction*, QAction*> Bindings;  // page-specific item -> the action it shows
  std::map<QAction*, QMetaObject::Connection> BindingLinks;
  bool UpdateScheduled = false;
  QTimer* StatusTimer = nullptr;    // the pending rewrite of the status panels
  QElapsedTimer LastStatusRefresh;  // since the status panels were last rewritten
  void ScheduleHeldCompletions();
  bool OptionsOpen = false;
  bool ExitQuestionOpen = false;  // "Search in process, ..." is being asked
  bool SettingsSaved = false;

 public:
  // The tray menu and the notification-area icon (created at the end of the window's
  // creation; the icon goes first at destruction).
  std::unique_ptr<QMenu> pupTray;
  std::unique_ptr<TTrayIcon> TrayIcon;

  // The background refresh of the indexed locations (index_refresh.h) and the status
  // panel that shows it and the active page's index.
  std::unique_ptr<TIndexRefresh> IndexRefresh;
  QLabel* IndexPanel = nullptr;
  void RefreshIndexStatus();
};
