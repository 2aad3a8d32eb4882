#pragma once
// TResultListActions: every command that works on a page's found files, over the
// page's result list (lvResults) and its result store: sort (header click and the
// "Sort by" menu), open file, open folder, copy (miCopy), drag out as files,
// type-to-find and "Find in results", save, load, export and clear; the popup menu
// popMain; and the enabling rule of each command.
//
// The page creates the actions (captions, hints, images) and owns them, the view, the
// menu and the store; this object connects their handlers and must be destroyed before
// any of them. Each command re-evaluates the enabling rules right before it runs; a
// disabled command does nothing.
//
// Errors of the result file and the exports are shown in the standard error box; the
// busy cursor is restored on every path.
//
// UI thread only. While the page searches, workers append to the store; the commands
// read records only below the view's row count, which never exceeds the store's count,
// and those that reorder, replace, empty or write the store are disabled meanwhile.
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "page/data_obj.h"

class QAction;
class QEvent;
class QKeyEvent;
class QMenu;
class QMouseEvent;
class QTableView;
class QWidget;
class TFindForm;
class TResultManager;
class TResultModel;

// What the page hands over. Every pointer must outlive the TResultListActions.
struct TResultListParts {
  QWidget* Page = nullptr;  // owner of the dialogs
  QTableView* lvResults = nullptr;
  QMenu* popMain = nullptr;  // filled here, in its order
  TResultManager* Store = nullptr;
  TResultModel* Model = nullptr;  // lvResults' model
  QAction* actOpenFile = nullptr;
  QAction* actBrowseDir = nullptr;
  QAction* actSaveToFile = nullptr;
  QAction* actLoadFromFile = nullptr;
  QAction* actExport = nullptr;
  std::array<QAction*, 6> actSort{};  // actSort_1 .. actSort_6 (tags 1 .. 6)
  QAction* actClearResults = nullptr;
  QAction* actFastFind = nullptr;
  std::function<bool()> Searching;           // the page's Searching flag
  std::function<void()> SyncResultCount;     // brings the row count to the store's count
  std::function<void()> ClearResultsAndLog;  // empties store, log and lists; raises OnPageChange
};

// A file dialog as the commands ask for it.
struct TFileDialogRequest {
  bool Save = false;  // save dialog (asks before overwriting) or open dialog (file must exist)
  QStringList NameFilters;
  QString SelectedFilter;
  QString DefaultSuffix;  // without the dot
  QString Directory;      // LastDialogFolder
};

class TResultListActions : public QObject {
  Q_OBJECT

 public:
  explicit TResultListActions(TResultListParts parts);
  ~TResultListActions() override;

  // "&Copy": a plain menu item (not a page action), enabled while any row is selected.
  QAction* miCopy = nullptr;
  QMenu* Sortby1 = nullptr;  // "Sort by"

  // State of the list's mouse and key handlers.
  bool TypeToFind = false;
  std::string LastDialogFolder;  // shared by the save, load and export dialogs
  int32_t DragStartX = -1;
  int32_t DragStartY = -1;
  bool Dragging = false;

  // Sets the enabled state of every result command (and miCopy) from the page's state.
  void UpdateActions();
  // True while a sort or a copy reads the store away from the UI thread (the commands
  // that change the store wait).
  bool Busy() const { return IsBusy; }

  // The commands. Each does nothing when its enabling rule says no.
  void actSort_1Execute(int tag);
  void actOpenFileExecute();
  void actBrowseDirExecute();
  void actEditCopyExecute();
  void actSaveToFileExecute();
  void actLoadFromFileExecute();
  void actExportExecute();
  void actClearResultsExecute();
  void actFastFindExecute();
  // A click on a column header: sorts by that column's tag (not while searching or empty).
  void lvResultsColumnClick(int column);
  // Opens "Find in results" modally with initialChar as its text (null: empty).
  void ShowFindDialog(QChar initialChar);
  // One find step for dialog (its OnFind).
  void FindInResults(TFindForm& dialog);

  // The full paths of the selected rows, in row order.
  std::vector<std::string> SelectedFileNames() const;

  // Replaceable for tests; by default OpenWithDesktop (its failure shown in the error
  // box), a QFileDialog
  // (empty result: cancelled), the toolkit's drag loop and a modal run of the find
  // dialog (which deletes itself when closed).
  std::function<void(const QUrl&)> OpenUrl;
  std::function<QString(const TFileDialogRequest&)> AskFileName;
  std::function<HRESULT(IDataObject*, IDropSource*, uint32_t okEffects, uint32_t* effect)> RunDragLoop;
  std::function<void(TFindForm&)> ShowModal;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool Allowed(QAction* action);
  int SelectedRowCount() const;  // 0, 1 or 2 (two or more)
  std::vector<int> SelectedRows() const;  // shown rows only, ascending
  bool lvResultsKeyPress(QKeyEvent* event);
  bool lvResultsMouseDown(QMouseEvent* event);
  bool lvResultsMouseMove(QMouseEvent* event);
  bool lvResultsMouseUp(QMouseEvent* event);
  void StartDrag();
  QString AskAndRemember(const TFileDialogRequest& request);
  void ShowError(const std::exception& error);
  int ShownRows() const;

  // The header's arrow for key (0: none); remembered in SortShown.
  void ShowSortIndicator(int32_t key);

  // IsBusy for as long as it lives, with the rules evaluated at both ends.
  struct TBusyScope {
    explicit TBusyScope(TResultListActions& owner);
    ~TBusyScope();
    TResultListActions& Owner;
  };

  TResultListParts Parts;
  bool IsBusy = false;
  int32_t SortShown = 0;  // the sort the header's arrow shows
  int PressedSelectedRow = -1;  // a press on an already selected row, pending its release
};
