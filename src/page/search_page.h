#pragma once
// TSearchPage: one search page. It owns, for its whole life, one search manager, one result
// store, one error log and one TSetting, and presents the store and the log in two
// virtual lists (lvResults, lvLog). It turns the pattern box and its settings into the
// root search task, starts and stops the search, follows the notifications of the
// manager, the store and the log, and keeps the shared pattern history.
//
// States: Ready (Searching false, start form), Searching (Searching true, stop form,
// actStartSearch enabled), Stopping (Searching true, stop form, actStartSearch disabled).
//
// Threads: everything here runs on the UI thread. Workers reach the page only through
// the notifications of the manager, the store and the log, which run on the UI thread
// while the worker waits. The page takes no lock of its own.
//
// Destruction frees the manager first; the manager waits for its workers, so no worker
// touches the store or the log after them. Call ShutDown on every page before destroying
// any of them when several pages go at once.
#include <QIcon>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QMenu;
class QSplitter;
class QTableView;
class QToolButton;
class TFileMasksMenu;
class TIndexTyping;
class TLogger;
class TLogModel;
class TResultManager;
class TResultListActions;
class TResultModel;
class TSearchManager;
class TSetting;

// Image slots of the start/stop command in the shared image list.
inline constexpr int kStartImage = 19;
inline constexpr int kStopImage = 20;

class TSearchPage : public QWidget {
  Q_OBJECT

 public:
  // A change handler of the pattern box (sender: the box).
  using TPatternChange = std::function<void(QComboBox* sender)>;
  // A notification with the page as sender.
  using TPageEvent = std::function<void(TSearchPage* sender)>;
  // Looks up an image of the shared 16 x 16 image list by slot.
  using TImageSource = std::function<QIcon(int slot)>;

  // inputHistory: the main window's pattern history, shared by all pages; it must
  // outlive the page. The page's settings are loaded from the saved defaults.
  TSearchPage(QWidget* owner, std::vector<std::string>& inputHistory);
  ~TSearchPage() override;
  TSearchPage(const TSearchPage&) = delete;
  TSearchPage& operator=(const TSearchPage&) = delete;

  // Components.
  QFrame* PatternPanel = nullptr;
  QLabel* PatternLabel = nullptr;
  QComboBox* cmbPattern = nullptr;
  QToolButton* btnSelectMask = nullptr;
  QToolButton* btnStart = nullptr;
  QToolButton* btnStop = nullptr;
  QTableView* lvResults = nullptr;
  QSplitter* LogSplitter = nullptr;
  QTableView* lvLog = nullptr;
  QMenu* popMain = nullptr;       // the result list's popup menu (filled by its commands)
  QMenu* popFileMasks = nullptr;  // the file-mask group menu

  // The page's actions (actMain). Each carries its image slot as the "ImageIndex"
  // property. Handlers of the result commands are connected by their own code; the
  // enabling rules are evaluated by UpdateActions.
  QAction* actStartSearch = nullptr;
  QAction* actSelectMask = nullptr;
  QAction* actOpenFile = nullptr;
  QAction* actBrowseDir = nullptr;
  QAction* actSaveToFile = nullptr;
  QAction* actLoadFromFile = nullptr;
  QAction* actExport = nullptr;
  QAction* actSort_1 = nullptr;
  QAction* actSort_2 = nullptr;
  QAction* actSort_3 = nullptr;
  QAction* actSort_4 = nullptr;
  QAction* actSort_5 = nullptr;
  QAction* actSort_6 = nullptr;
  QAction* actClearResults = nullptr;
  QAction* actFastFind = nullptr;
  std::array<QAction*, 6> SortActions() const;

  // Raised with the page as sender whenever what the status bar shows may have changed.
  TPageEvent OnPageChange;
  // Raised once per search when it has ended (run out of work or stopped), before the
  // completion message; the page's counts are final then.
  TPageEvent OnSearchComplete;

  // What becomes of the completion message ("Message when complete") when a search ends:
  // shown at once; held until ShowHeldCompletion (the window is out of sight, so the box
  // waits until the user is back); or left out (a question was open, and the end of the
  // search has made it moot). Unset: shown at once.
  enum class TCompletionBox { Show, Hold, Drop };
  std::function<TCompletionBox(TSearchPage* sender)> CompletionBoxPolicy;
  // The message of a search that ended: "Search complete.", the number of files found
  // and, when the Errors log has lines, how many (counts in the locale's digit grouping).
  QString CompletionText() const;
  bool CompletionHeld() const { return !HeldCompletion.isEmpty(); }
  // Shows the held completion message, if any (modal; returns when it is closed).
  void ShowHeldCompletion();
  void DropHeldCompletion() { HeldCompletion.clear(); }

  // Owned engine objects; they live as long as the page.
  TSearchManager& SearchManager() { return *Manager; }
  TResultManager& ResultStore() { return *Store; }
  TLogger& ErrorLog() { return *Log; }
  TSetting& Setting() { return *Settings; }

  bool Searching() const { return IsSearching; }
  // True while the result list sorts or copies (see TResultListActions::Busy).
  bool Sorting() const;
  bool CompletionPending() const { return IsCompletionPending; }
  int32_t ActiveThreadCount() const { return ActiveThreads; }
  // The row counts of the two lists (always the counts last delivered).
  int ResultRowCount() const;
  int LogRowCount() const;
  TResultModel& ResultModel() { return *Results; }
  // The result list's commands (sort, open, copy, drag, find, save, load, export).
  TResultListActions& ResultActions() { return *ResultCommands; }
  TLogModel& LogModel() { return *LogRows; }
  // The answers from an index while the user types (index_typing.h).
  TIndexTyping& IndexTyping() { return *TypingAnswers; }

  // The pattern box's change handler. Set by the main window; detached while a search
  // runs (kept in SavedPatternChange) so that editing the box leaves the tab caption.
  void SetPatternChange(TPatternChange handler) { PatternChange = std::move(handler); }
  const TPatternChange& GetPatternChange() const { return PatternChange; }
  // Replaces the pattern box's drop-down items, keeping its text and handler quiet.
  void SetPatternItems(const std::vector<std::string>& items);
  std::string PatternText() const;

  // Gives the page its file-mask group menu over groups, the main window's list, which
  // must outlive the page. Until then the group button does nothing.
  void SetFileMaskGroups(std::vector<std::string>& groups);
  TFileMasksMenu* FileMasksMenu() const { return MaskMenu; }

  // The widths of the result list's columns after "File name" (which takes the rest).
  std::vector<int> ColumnWidths() const;
  // Sets them, as many as given (a saved list from an older version may be shorter).
  void SetColumnWidths(const std::vector<int>& widths);

  // Height of the error-log pane.
  int LogHeight() const;
  void SetLogHeight(int height);

  // The start/stop command: starts in the start form, otherwise StopSearch(false).
  void actStartSearchExecute();
  // Stops the search; asks "Do you want stop search?" first unless force.
  void StopSearch(bool force);
  void SetSearchButtonState(int image);
  void UpdatePatternHistory();
  void ClearResultsAndLog();
  // The manager's OnThreadChange handler.
  void SearchStateChanged();
  // The store's and the log's OnChange handlers.
  void SyncResultCount();
  void SyncLogCount();

  // Evaluates the enabling rules of the page's commands now.
  void UpdateActions();
  // Evaluates them at the next idle moment; many requests before then give one update.
  void ScheduleUpdateActions();

  // Detaches every handler that could reach the user (completion message, tab caption,
  // status bar) before the page is destroyed, for instance at exit while searches end.
  void ShutDown();

  // Waits (pumping the UI hand-off) until the page's search has ended or timeoutMs has
  // passed; true when no worker runs any more.
  bool WaitForSearchEnd(int timeoutMs);

  // The shared image list, installed once by its holder at start-up.
  static void SetImageSource(TImageSource source);
  static QIcon Image(int slot);

 protected:
  void showEvent(QShowEvent* event) override;

 signals:
  // The enabling rules were evaluated: what they read (searching, rows, selection) may
  // have changed. The main window re-evaluates its own rules then.
  void ActionsUpdated();

 private:
  void CreateComponents();
  void CreateActions();
  void StartSearch();
  void cmbPatternChange();
  void actSelectMaskExecute();

  std::vector<std::string>& InputHistory;
  std::unique_ptr<TResultManager> Store;
  std::unique_ptr<TLogger> Log;
  std::unique_ptr<TSearchManager> Manager;
  std::unique_ptr<TSetting> Settings;
  TResultModel* Results = nullptr;  // owned by the page as a QObject child
  TLogModel* LogRows = nullptr;     // owned by the page as a QObject child
  std::unique_ptr<TResultListActions> ResultCommands;  // destroyed first: it holds the view and actions

  TFileMasksMenu* MaskMenu = nullptr;  // owned by the page as a QObject child
  TIndexTyping* TypingAnswers = nullptr;  // owned by the page as a QObject child
  TPatternChange PatternChange;
  TPatternChange SavedPatternChange;
  bool IsCompletionPending = false;
  bool IsSearching = false;
  int32_t ActiveThreads = 0;
  bool UpdateScheduled = false;
  bool IsShutDown = false;
  bool WasShown = false;  // laid out at least once: the log pane has its real height
  bool StopQuestionOpen = false;  // "Do you want stop search?" is being asked
  QString HeldCompletion;         // the completion message waiting for the window
};
