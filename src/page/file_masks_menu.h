#pragma once
// The file-mask group menu of one search page: actSelectMask opens popFileMasks under
// btnSelectMask with one item per group, a separator and "Edit file mask" (actEditMasks,
// which opens TMaskGroupsDialog on the groups). Choosing a group puts its masks into the pattern box
// and calls the box's change handler (so the tab caption follows); it does not start a
// search. The menu is rebuilt each time it opens, so every page shows the groups as they
// are then.
//
// The object is a child of its page and lives as long as the page. The group list belongs
// to the main window and must outlive every page. UI thread only.
#include <QObject>

#include <functional>
#include <string>
#include <vector>

class QAction;
class TSearchPage;
class TMaskGroupsDialog;

class TFileMasksMenu : public QObject {
  Q_OBJECT

 public:
  TFileMasksMenu(TSearchPage& page, std::vector<std::string>& groups);

  // Caption and hint "Edit file mask"; a child of the page.
  QAction* actEditMasks = nullptr;

  // Rebuilds popFileMasks, then opens it at the bottom-left corner of btnSelectMask.
  void actSelectMaskExecute();
  // Rebuilds popFileMasks: the groups' names in list order, a separator, actEditMasks.
  void BuildMaskMenu();
  // Puts the masks of the group at the item's position into the pattern box.
  void MaskMenuItemClick(QAction* item);
  // Opens TMaskGroupsDialog on the groups (modally, through RunEditor).
  void actEditMasksExecute();

  // How the editor is shown; by default modally. Tests answer the dialog here.
  std::function<int(TMaskGroupsDialog&)> RunEditor;

 private:
  TSearchPage& Page;
  std::vector<std::string>& Groups;
};
