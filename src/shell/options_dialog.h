#pragma once
// TOptionsDialog: the modal "Options" dialog. It edits one search page's TSetting (where to search
// and the filters) and the program-wide options, and on "Ok" may save either group of the
// page's settings as the defaults for new pages. Nothing changes before "Ok" passes
// validation; "Cancel", Esc and the close box change nothing.
//
// Where to search is chosen in tvNet, the lazily expanded location tree (location_tree.h).
// A node that lists nothing loses its expand mark. While a node is listed the dialog stays
// disabled with the busy cursor.
//
// UI thread only. The setting, the options and the hive must outlive the dialog.
#include <QDialog>
#include <QSpinBox>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "shell/location_tree.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTimeEdit;
class TIndexRefresh;
class TIndexTab;
class QTreeWidget;
class TRegistryHive;
struct TProgramOptions;
struct TSetting;

// Largest byte count a size bound can hold.
inline constexpr int64_t kLargestSizeBound = 2147483647;

// A number box whose text can be read and set as typed (it may be empty or not a number).
// A text that becomes a number above the maximum is reset to the maximum.
class TSpinEdit : public QSpinBox {
 public:
  explicit TSpinEdit(QWidget* parent = nullptr);
  QString Text() const;
  void SetText(const QString& text);

 protected:
  QValidator::State validate(QString& input, int& pos) const override;
};

class TOptionsDialog : public QDialog {
  Q_OBJECT

 public:
  // Shows setting and options; the dialog is filled before it is shown.
  TOptionsDialog(QWidget* owner, TSetting& setting, TProgramOptions& options, TRegistryHive& hive,
         TNodeLister lister = PlatformNodeLister());
  // The same over the process's options and the user's settings file.
  TOptionsDialog(QWidget* owner, TSetting& setting);
  ~TOptionsDialog() override;

  // Tab "Network".
  QTabWidget* PageControl = nullptr;
  QLineEdit* LocationEdit = nullptr;
  QTreeWidget* tvNet = nullptr;
  QCheckBox* chbDefaultNetwork = nullptr;
  QPushButton* btnAddRange = nullptr;  // asks for an address range to add to the tree
  // Tab "Filters".
  QCheckBox* chbReadOnly = nullptr;
  QCheckBox* chbHidden = nullptr;
  QCheckBox* chbSystem = nullptr;
  QCheckBox* chbArchive = nullptr;
  QCheckBox* chbFolder = nullptr;
  QCheckBox* chbSizeFrom = nullptr;
  TSpinEdit* spnSizeFrom = nullptr;
  QComboBox* cmbSizeFrom = nullptr;
  QCheckBox* chbSizeTo = nullptr;
  TSpinEdit* spnSizeTo = nullptr;
  QComboBox* cmbSizeTo = nullptr;
  QCheckBox* chbTimeFrom = nullptr;
  QDateEdit* dtpDateFrom = nullptr;
  QTimeEdit* dtpTimeFrom = nullptr;
  QCheckBox* chbTimeTo = nullptr;
  QDateEdit* dtpDateTo = nullptr;
  QTimeEdit* dtpTimeTo = nullptr;
  QComboBox* cmbFileTimeType = nullptr;  // not shown; carries FileTimeType through
  QLineEdit* edtExclude = nullptr;       // masks of file and folder names left out
  QCheckBox* chbDefaultFilter = nullptr;
  // Tab "Common".
  TSpinEdit* spnMaxThread = nullptr;
  QCheckBox* chbMinimazeToTray = nullptr;
  QCheckBox* chbMsgWhenComplete = nullptr;
  // Tab "Index", once AddIndexTab has run.
  TIndexTab* IndexTab = nullptr;
  QPushButton* btnOk = nullptr;
  QPushButton* btnCancel = nullptr;

  // Adds the "Index" tab over refresh (index_tab.h), which must outlive the dialog; its
  // changes are applied with Ok.
  void AddIndexTab(TIndexRefresh& refresh);

  // The unit captions of the size lists; index i stands for a factor of 1024^i.
  static const std::vector<QString>& SizeUnits();

  // The two roots.
  TNetNode* NetworkRoot() const { return NetRoot; }
  TNetNode* LocalRoot() const { return LocalFolders; }

  // Expanding a node: lists it the first time; false when it is not to be expanded (no
  // expand mark, or nothing listed, which also removes the mark).
  bool tvNetExpanding(TNetNode* node);
  // The node's folder path: its caption, preceded by its ancestors' captions up to the
  // nearest node with a record (or the top local folder).
  std::string NodeFolderPath(const TNetNode* node) const;
  // The captions from the network root down to the selected node, "\"-separated, with
  // every doubled backslash collapsed.
  std::string NodeDisplayPath() const;
  TNetNode* SelectedNode() const;
  void UpdateButtons();
  // Adds the address range text below the network root (listing the root first when it
  // was not) and selects it; shows the error box and returns nullptr when text is no
  // range of at most /16.
  TNetNode* AddAddressRange(const QString& text);

  // The error of the current input, or empty when it may be stored. Fills in "Read only"
  // and "Archive" when no attribute is ticked.
  QString ValidateInput();
  // Validates, stores, saves the ticked default groups and closes with OK; on a failed
  // validation shows the error box and stays open.
  void btnOkClick();

  // True while a node is being listed.
  bool Busy() const { return IsBusy; }

  // Lists and opens the tree down to the page's local folder and marks it (done once the
  // dialog is first shown); returns the deepest node reached, or nullptr when the
  // location is not a local folder.
  TNetNode* OpenAtCurrentLocation();
  // Opens "Connect network resource" for remoteName (\\server\share); true when it
  // connected. Replaceable for tests.
  std::function<bool(const QString& remoteName)> ConnectResource;
  // True once the location field was typed in after the last choice in the tree.
  bool LocationWasTyped() const { return LocationTyped; }

 public slots:
  void reject() override;
  // Keeps the dialog's size for the next time, then closes.
  void done(int result) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void CreateComponents();
  QWidget* CreateNetworkTab();
  QWidget* CreateFiltersTab();
  QWidget* CreateCommonTab();
  void FormShow();
  bool PopulateNode(TNetNode* node, int* failure);
  void OfferConnect(TNetNode* node);
  void tvNetChange();
  void UpdateSizeControls();
  void UpdateTimeControls();
  void UpdateDateToMinimum();
  void StoreInput();
  void StoreTypedLocation();

  TSetting& SettingRef;
  TProgramOptions& Options;
  TRegistryHive& Hive;
  TNodeLister Lister;
  TNetNode* NetRoot = nullptr;
  TNetNode* LocalFolders = nullptr;
  bool IsBusy = false;
  bool LocationTyped = false;
  bool OpenedAtLocation = false;
};
