#pragma once
// TIndexTab: the "Index" tab of the options dialog. It lists the locations whose index the
// program keeps, each with its entries, the size of its index on disk, when it was
// updated, how long that took and whether an update runs or failed; it adds the location
// chosen in the dialog's location tree (the Network tab), removes the selected one, asks
// for an update of the selected one now ("Update now"), and edits the refresh interval.
//
// Adding, removing and the interval take effect with the dialog's Ok (Apply): they are
// then saved in the settings file and handed to the refresh. "Update now" acts at once on
// a location that is indexed already. The rows follow the refresh as it runs.
//
// UI thread only. The refresh must outlive the tab.
#include <QWidget>

#include <functional>
#include <string>

#include "settings/index_settings.h"

class QLabel;
class QPushButton;
class QSpinBox;
class QTreeWidget;
class TIndexRefresh;
class TNetNode;
class TRegistryHive;

// The location a tree node stands for, as an index names it; empty when no index can be
// made of it (the local root, a workgroup, a provider).
std::string IndexLocationOfNode(const TNetNode* node);

class TIndexTab : public QWidget {
  Q_OBJECT

 public:
  // chosen: the node selected in the location tree, or null.
  TIndexTab(TIndexRefresh& refresh, std::function<TNetNode*()> chosen, QWidget* parent = nullptr);

  QTreeWidget* lvIndex = nullptr;
  QPushButton* btnAddIndex = nullptr;
  QPushButton* btnRemoveIndex = nullptr;
  QPushButton* btnUpdateIndex = nullptr;
  QSpinBox* spnRefreshMinutes = nullptr;

  // Columns of lvIndex.
  enum { colLocation, colEntries, colSize, colUpdated, colTook, colState, kColumnCount };

  // Adds the location of the tree's selected node. Shows why not in the error box and
  // returns false when none is chosen or no index can be made of it.
  bool AddChosen();
  // Adds location (false when it is listed already).
  bool AddLocation(const std::string& location);
  // Removes the selected row.
  void RemoveSelected();
  // "Update now" on the selected row.
  void UpdateSelected();
  // Selects the row of location; false when it is not listed.
  bool Select(const std::string& location);

  // What Ok will store.
  TIndexSettings Edited() const;
  // Saves Edited in hive and hands it to the refresh. Throws TRegistryError when the
  // settings file cannot be written (the refresh has the new settings all the same).
  void Apply(TRegistryHive& hive);
  // The text of column of location's row; empty when it is not listed (tests).
  QString RowText(const std::string& location, int column) const;

 private:
  void Refill();
  void UpdateButtons();
  std::string SelectedLocation() const;

  TIndexRefresh& Refresh;
  std::function<TNetNode*()> Chosen;
  std::vector<std::string> Locations;  // as edited
};
