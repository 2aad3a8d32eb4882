#pragma once
// TMaskGroupsDialog: the modal "Edit file masks" dialog. It shows a list of file-mask groups (entries
// "name=masks") as a two-column grid, lets the user edit, add and delete rows, and on
// "Save" replaces the list's entries with the grid's rows in grid order. "Cancel", Esc and
// the close box leave the list unchanged.
//
// Rows: Insert, or Down on the last row, adds a row; Ctrl+Delete deletes the current row;
// the grid's context menu offers both. Rows left blank in both columns are dropped. A
// group name cannot contain "=" (the entry would read back with another name), so Save
// refuses such a name and keeps the dialog open.
//
// UI thread only. The list is held by reference and must outlive the dialog.
#include <QDialog>

#include <string>
#include <vector>

class QPushButton;
class QTableWidget;

// The name and masks of a group entry: the text before the first "=" and the rest. An
// entry without "=" is all name and has no masks.
struct TMaskGroup {
  std::string Name;
  std::string Masks;
};
TMaskGroup SplitMaskGroup(const std::string& entry);

class TMaskGroupsDialog : public QDialog {
  Q_OBJECT

 public:
  TMaskGroupsDialog(QWidget* owner, std::vector<std::string>& groups);

  QTableWidget* vleGroups = nullptr;
  QPushButton* btnSave = nullptr;
  QPushButton* btnClose = nullptr;

  // Appends an empty row and starts editing its name.
  void AddRow();
  // Deletes the current row, if any.
  void DeleteRow();
  // Replaces the list's entries with the grid's rows and closes with OK; a name with "="
  // is shown in the error box instead and the dialog stays open.
  void btnSaveClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::vector<std::string>& Groups;
};
