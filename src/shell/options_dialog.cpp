#include "shell/options_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <optional>
#include <sstream>

#include "engine/masks.h"
#include "hive/registry.h"
#include "os/dir_listing.h"
#include "os/net_errors.h"
#include "page/message_box.h"
#include "settings/program_options.h"
#include "settings/setting.h"
#include "shell/conn_dialog.h"
#include "shell/index_tab.h"
#include "shell/typed_location.h"
#include "shell/window_memory.h"

namespace {

const char kNotIntegerMessage[] = "'%1' is not a valid integer value";
const char kSizeOrderMessage[] = "The file size \"to\" can not be lower then file size \"from\"!";
const char kTimeOrderMessage[] = "The file time \"to\" can not be lower then file time \"from\"!";
const char kSizeTooLargeMessage[] =
    "The file size \"%1\" can not be larger than 2147483647 bytes (just under 2 GB)!";

QString ToDisplay(const std::string& text) { return QString::fromLocal8Bit(text); }

// The first day of the date-time count.
QDate DayZero() { return QDate(1899, 12, 30); }

double DateTimeOf(const QDateEdit* date, const QTimeEdit* time) {
  return double(DayZero().daysTo(date->date())) + time->time().msecsSinceStartOfDay() / 86400000.0;
}

void ShowDateTime(double value, QDateEdit* date, QTimeEdit* time) {
  const double days = std::floor(value);
  date->setDate(DayZero().addDays(static_cast<qint64>(days)));
  const int ms = std::clamp(static_cast<int>(std::llround((value - days) * 86400000.0)), 0, 86399999);
  time->setTime(QTime::fromMSecsSinceStartOfDay(ms));
}

// A stored size bound as the number and unit index that show it; the remainder is dropped.
std::pair<int, int> ShownSize(int32_t bound) {
  int unit = 0;
  int64_t number = bound;
  while (number >= 1024 && unit + 1 < int(TOptionsDialog::SizeUnits().size())) {
    number /= 1024;
    ++unit;
  }
  return {static_cast<int>(number), unit};
}

// The whole number a text holds (blanks around it allowed), or nothing.
std::optional<int64_t> WholeNumber(const QString& text) {
  bool ok = false;
  const qlonglong value = text.trimmed().toLongLong(&ok);
  return ok ? std::optional<int64_t>(value) : std::nullopt;
}

// The number typed into a box, or nothing when the text is not a whole number.
std::optional<int64_t> NumberOf(const TSpinEdit* box) { return WholeNumber(box->Text()); }

int64_t UnitFactor(const QComboBox* units) { return int64_t(1) << (10 * std::max(0, units->currentIndex())); }

}  // namespace

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent) {
  connect(lineEdit(), &QLineEdit::textChanged, this, [this](const QString& text) {
    if (const std::optional<int64_t> number = WholeNumber(text); number && *number > maximum())
      SetText(QString::number(maximum()));
  });
}

QValidator::State TSpinEdit::validate(QString& input, int& pos) const {
  // A number above the maximum is let in, to be replaced by the maximum at once; refused,
  // the keystroke would be dropped and leave a shorter number than the one typed.
  if (const std::optional<int64_t> number = WholeNumber(input); number && *number > maximum())
    return QValidator::Acceptable;
  return QSpinBox::validate(input, pos);
}

QString TSpinEdit::Text() const { return lineEdit()->text(); }
void TSpinEdit::SetText(const QString& text) { lineEdit()->setText(text); }

const std::vector<QString>& TOptionsDialog::SizeUnits() {
  static const std::vector<QString> units{QStringLiteral("B"), QStringLiteral("KB"), QStringLiteral("MB"),
                                          QStringLiteral("GB")};
  return units;
}

TOptionsDialog::TOptionsDialog(QWidget* owner, TSetting& setting, TProgramOptions& options, TRegistryHive& hive,
               TNodeLister lister)
    : QDialog(owner), SettingRef(setting), Options(options), Hive(hive), Lister(std::move(lister)) {
  ConnectResource = [this](const QString& remoteName) {
    TConnDialog dialog(this);
    dialog.edtRemoteName->setText(remoteName);
    return dialog.exec() == QDialog::Accepted;
  };
  CreateComponents();
  FormShow();
}

TOptionsDialog::TOptionsDialog(QWidget* owner, TSetting& setting)
    : TOptionsDialog(owner, setting, ProgramOptions(), CurrentUserHive()) {}

TOptionsDialog::~TOptionsDialog() = default;

void TOptionsDialog::FormShow() {
  for (QComboBox* units : {cmbSizeFrom, cmbSizeTo}) {
    units->clear();
    for (const QString& unit : SizeUnits()) units->addItem(unit);
    units->setCurrentIndex(0);
  }

  NetRoot = AddNetworkRoot(tvNet);
  LocalFolders = AddLocalFoldersRoot(tvNet);

  LocationEdit->setText(ToDisplay(SettingRef.NetResFullPath));

  const uint32_t attr = SettingRef.FileAttr;
  chbReadOnly->setChecked(attr & kAttrReadOnly);
  chbHidden->setChecked(attr & kAttrHidden);
  chbSystem->setChecked(attr & kAttrSystem);
  chbArchive->setChecked(attr & kAttrArchive);
  chbFolder->setChecked(attr & kAttrDirectory);

  const auto showSize = [](int32_t bound, QCheckBox* check, TSpinEdit* number, QComboBox* units) {
    const bool bounded = bound > 0;
    check->setChecked(bounded);
    const auto [shown, unit] = bounded ? ShownSize(bound) : std::pair<int, int>{0, 0};
    number->setValue(shown);
    units->setCurrentIndex(unit);
  };
  showSize(SettingRef.FileSizeFrom, chbSizeFrom, spnSizeFrom, cmbSizeFrom);
  showSize(SettingRef.FileSizeTo, chbSizeTo, spnSizeTo, cmbSizeTo);
  UpdateSizeControls();

  cmbFileTimeType->setCurrentIndex(SettingRef.FileTimeType);
  edtExclude->setText(ToDisplay(SettingRef.Exclude));

  {
    // The earliest "to" date is settled once both bounds are shown.
    const QSignalBlocker quiet(dtpDateFrom);
    const auto showTime = [](double bound, QCheckBox* check, QDateEdit* date, QTimeEdit* time) {
      const bool bounded = bound > 0;
      check->setChecked(bounded);
      if (bounded) ShowDateTime(bound, date, time);
      else date->setDate(QDate::currentDate());
    };
    showTime(SettingRef.FileTimeFrom, chbTimeFrom, dtpDateFrom, dtpTimeFrom);
    showTime(SettingRef.FileTimeTo, chbTimeTo, dtpDateTo, dtpTimeTo);
  }
  UpdateTimeControls();

  spnMaxThread->setValue(Options.MaxThreads);
  chbMinimazeToTray->setChecked(Options.MinimazeToTray);
  chbMsgWhenComplete->setChecked(Options.MessageWhenComplete);
}

void TOptionsDialog::UpdateSizeControls() {
  spnSizeFrom->setEnabled(chbSizeFrom->isChecked());
  cmbSizeFrom->setEnabled(chbSizeFrom->isChecked());
  spnSizeTo->setEnabled(chbSizeTo->isChecked());
  cmbSizeTo->setEnabled(chbSizeTo->isChecked());
}

void TOptionsDialog::UpdateTimeControls() {
  dtpDateFrom->setEnabled(chbTimeFrom->isChecked());
  dtpTimeFrom->setEnabled(chbTimeFrom->isChecked());
  dtpDateTo->setEnabled(chbTimeTo->isChecked());
  dtpTimeTo->setEnabled(chbTimeTo->isChecked());
  UpdateDateToMinimum();
}

// The "to" date cannot be chosen before a ticked "From" date. A stored "to" date that
// already lies before it is left as it is (validation refuses it), never moved: moving it
// would change the stored bound just by opening the dialog.
void TOptionsDialog::UpdateDateToMinimum() {
  const QDate from = dtpDateFrom->date();
  if (chbTimeFrom->isChecked() && !(chbTimeTo->isChecked() && dtpDateTo->date() < from)) {
    dtpDateTo->setMinimumDate(from);
  } else {
    dtpDateTo->clearMinimumDate();
  }
}

TNetNode* TOptionsDialog::SelectedNode() const {
  const QList<QTreeWidgetItem*> selected = tvNet->selectedItems();
  return selected.isEmpty() ? nullptr : static_cast<TNetNode*>(selected.front());
}

void TOptionsDialog::tvNetChange() {
  if (TNetNode* node = SelectedNode()) {
    LocationEdit->setText(node->text(0));
    LocationTyped = false;  // the node chosen last is the location
  }
  UpdateButtons();
}

void TOptionsDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (OpenedAtLocation) return;
  OpenedAtLocation = true;
  // Once on screen: the folders are listed one level after another.
  QTimer::singleShot(0, this, [this] { OpenAtCurrentLocation(); });
}

TNetNode* TOptionsDialog::OpenAtCurrentLocation() {
  // A local folder: its folders from the file-system root (or the home folder) down are
  // listed and opened, and the deepest one found is shown. A network location would need
  // the network listed first, which may take long; the tree stays shut for it.
  const std::string path = SettingRef.NetResPath;
  if (SettingRef.NetResource || path.empty() || path.front() != '/' || LocalFolders == nullptr) return nullptr;
  TNetNode* best = nullptr;
  size_t bestLength = 0;
  for (int i = 0; i < LocalFolders->childCount(); ++i) {
    TNetNode* top = LocalFolders->ChildNode(i);
    std::string prefix = top->Caption();
    while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
    const bool under = path == prefix || prefix == "/" || path.rfind(prefix + "/", 0) == 0;
    if (under && prefix.size() >= bestLength) {
      best = top;
      bestLength = prefix == "/" ? 0 : prefix.size();
    }
  }
  if (best == nullptr) return nullptr;
  TNetNode* node = best;
  std::stringstream rest(path.substr(bestLength));
  for (std::string part; std::getline(rest, part, '/');) {
    if (part.empty()) continue;
    if (!tvNetExpanding(node)) break;
    node->setExpanded(true);
    TNetNode* next = nullptr;
    for (int i = 0; i < node->childCount() && next == nullptr; ++i)
      if (node->ChildNode(i)->Caption() == part) next = node->ChildNode(i);
    if (next == nullptr) break;
    node = next;
  }
  tvNet->scrollToItem(node);
  {
    // Marked, not chosen: the location field keeps the whole path, and Ok with nothing
    // else chosen keeps the location as it was.
    const QSignalBlocker quiet(tvNet->selectionModel());
    tvNet->setCurrentItem(node, 0, QItemSelectionModel::NoUpdate);
  }
  // The listing was the dialog's, not the user's: Ok still keeps the location as it is.
  btnOk->setEnabled(true);
  return node;
}

void TOptionsDialog::done(int result) {
  if (!IsBusy) {
    try {
      SaveOptionsSize(size(), Hive);
    } catch (const TRegistryError&) {
      // Only the size is lost.
    }
  }
  QDialog::done(result);
}

TNetNode* TOptionsDialog::AddAddressRange(const QString& text) {
  if (IsBusy) return nullptr;
  if (!NetRoot->Listed) tvNetExpanding(NetRoot);
  TNetNode* node = AddAddressRangeNode(NetRoot, text.toStdString());
  if (node == nullptr) {
    ShowErrorBox(this, QStringLiteral("\"%1\" is not an address range such as 10.1.2.0/24 (at most /16).").arg(text));
    return nullptr;
  }
  // Kept in the settings: the range is in the tree again the next time it is listed.
  std::vector<std::string> ranges = LoadAddressRanges(Hive);
  if (std::find(ranges.begin(), ranges.end(), node->Caption()) == ranges.end()) {
    ranges.push_back(node->Caption());
    try {
      SaveAddressRanges(ranges, Hive);
    } catch (const TRegistryError& error) {
      ShowErrorBox(this, ToDisplay(error.what()));
    }
  }
  NetRoot->SetChildrenMark(true);
  NetRoot->setExpanded(true);
  tvNet->setCurrentItem(node);
  return node;
}

void TOptionsDialog::UpdateButtons() {
  btnCancel->setEnabled(true);
  btnOk->setEnabled(SelectedNode() != nullptr || LocationTyped);
  setEnabled(true);
}

bool TOptionsDialog::tvNetExpanding(TNetNode* node) {
  if (node == nullptr || IsBusy || !node->HasChildrenMark()) return false;
  if (node->childCount() > 0) return true;
  int failure = 0;
  bool added = !node->Listed && PopulateNode(node, &failure);
  if (node == NetRoot) {
    // The ranges added before follow what the network lists.
    for (const std::string& range : LoadAddressRanges(Hive))
      if (AddAddressRangeNode(NetRoot, range) != nullptr) added = true;
  }
  if (!added) node->SetChildrenMark(false);
  if (!added && (failure == EACCES || failure == EPERM)) {
    OfferConnect(node);
    return node->childCount() > 0;  // listed after all, once connected
  }
  return added;
}

void TOptionsDialog::OfferConnect(TNetNode* node) {
  // A protected share (or a folder in it) lists nothing until it is connected with a
  // name and password: say so, and offer the dialog that does it.
  const std::string folder = NodeFolderPath(node);
  const QString name = ToDisplay(folder);
  if (!AskYesNo(this,
                QStringLiteral("Access to \"%1\" was denied.\nConnect to it with a user name and password?").arg(name),
                QStringLiteral("Access denied")))
    return;
  const std::optional<TUncName> unc = ParseUncName(folder);
  if (!unc) return;
  TUncName share = *unc;
  share.Rest.clear();
  if (!ConnectResource || !ConnectResource(ToDisplay(UncText(share)))) return;
  // Connected: listed again, with the new login.
  node->Listed = false;
  node->SetChildrenMark(true);
  if (tvNetExpanding(node)) node->setExpanded(true);
}

bool TOptionsDialog::PopulateNode(TNetNode* node, int* failure) {
  IsBusy = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // Disabling the dialog takes the keyboard focus away and enabling it does not give it
  // back; the control that had it (the tree, as a rule) gets it again afterwards, so the
  // arrow keys go on moving through the tree.
  QPointer<QWidget> focused = focusWidget();
  btnOk->setEnabled(false);
  btnCancel->setEnabled(false);
  setEnabled(false);
  struct TRestore {
    TOptionsDialog* Dialog;
    QPointer<QWidget> Focused;
    ~TRestore() {
      QApplication::restoreOverrideCursor();
      Dialog->IsBusy = false;
      Dialog->UpdateButtons();
      if (Focused != nullptr && Focused->isEnabled()) Focused->setFocus();
    }
  } restore{this, focused};
  return ListNodeChildren(node, Lister, failure) > 0;
}

std::string TOptionsDialog::NodeFolderPath(const TNetNode* node) const { return NodeFolderPathOf(node); }

std::string TOptionsDialog::NodeDisplayPath() const { return NodeDisplayPathOf(SelectedNode()); }

QString TOptionsDialog::ValidateInput() {
  if (!chbReadOnly->isChecked() && !chbHidden->isChecked() && !chbSystem->isChecked() &&
      !chbArchive->isChecked()) {
    chbReadOnly->setChecked(true);
    chbArchive->setChecked(true);
  }

  std::optional<int64_t> sizeFrom, sizeTo;
  if (chbSizeFrom->isChecked() && chbSizeTo->isChecked()) {
    for (const TSpinEdit* box : {spnSizeFrom, spnSizeTo})
      if (!NumberOf(box)) return QString::fromLatin1(kNotIntegerMessage).arg(box->Text());
  }
  // A size bound holds at most kLargestSizeBound bytes; a larger product is refused, never
  // stored wrapped round.
  const auto tooLarge = [](const QCheckBox* check, const TSpinEdit* box, const QComboBox* units) {
    const std::optional<int64_t> number = NumberOf(box);
    return check->isChecked() && number &&
           (*number > kLargestSizeBound || *number * UnitFactor(units) > kLargestSizeBound);
  };
  if (tooLarge(chbSizeFrom, spnSizeFrom, cmbSizeFrom)) return QString::fromLatin1(kSizeTooLargeMessage).arg("from");
  if (tooLarge(chbSizeTo, spnSizeTo, cmbSizeTo)) return QString::fromLatin1(kSizeTooLargeMessage).arg("to");
  if (chbSizeFrom->isChecked() && chbSizeTo->isChecked() &&
      *NumberOf(spnSizeTo) * UnitFactor(cmbSizeTo) < *NumberOf(spnSizeFrom) * UnitFactor(cmbSizeFrom))
    return QString::fromLatin1(kSizeOrderMessage);

  if (chbTimeFrom->isChecked() && chbTimeTo->isChecked() &&
      DateTimeOf(dtpDateFrom, dtpTimeFrom) > DateTimeOf(dtpDateTo, dtpTimeTo))
    return QString::fromLatin1(kTimeOrderMessage);

  if (LocationTyped && !ParseTypedLocation(LocationEdit->text().toLocal8Bit().toStdString()))
    return QStringLiteral("\"%1\" is no folder, server or share that can be searched.\n%2")
        .arg(LocationEdit->text().trimmed(), ToDisplay(TypedLocationHelp(true)));

  for (const std::string& mask : SplitMasks(edtExclude->text().trimmed().toLocal8Bit().toStdString())) {
    try {
      TMask compiled(mask);
    } catch (const TMaskError& error) {
      return ToDisplay(error.what());
    }
  }
  return {};
}

void TOptionsDialog::AddIndexTab(TIndexRefresh& refresh) {
  if (IndexTab != nullptr) return;
  IndexTab = new TIndexTab(refresh, [this] { return SelectedNode(); });
  PageControl->addTab(IndexTab, QStringLiteral("Index"));
  setFixedSize(size().expandedTo(minimumSizeHint()));
}

void TOptionsDialog::btnOkClick() {
  if (!btnOk->isEnabled() || IsBusy) return;
  if (const QString error = ValidateInput(); !error.isEmpty()) {
    ShowErrorBox(this, error);
    return;
  }
  StoreInput();
  if (IndexTab != nullptr) {
    try {
      IndexTab->Apply(Hive);
    } catch (const TRegistryError& error) {
      // The locations are indexed from now on; only keeping them for the next run failed.
      ShowErrorBox(this, ToDisplay(error.what()));
    }
  }
  if (chbDefaultFilter->isChecked() || chbDefaultNetwork->isChecked()) {
    try {
      SavePageDefaults(SettingRef, chbDefaultFilter->isChecked(), chbDefaultNetwork->isChecked(), Hive);
    } catch (const TRegistryError& error) {
      // The page already uses the new settings; only keeping them as defaults failed.
      ShowErrorBox(this, ToDisplay(error.what()));
    }
  }
  accept();
}

void TOptionsDialog::StoreInput() {
  TSetting& s = SettingRef;
  s.FileAttr = 0x08;
  if (chbReadOnly->isChecked()) s.FileAttr |= kAttrReadOnly;
  if (chbHidden->isChecked()) s.FileAttr |= kAttrHidden;
  if (chbSystem->isChecked()) s.FileAttr |= kAttrSystem;
  if (chbArchive->isChecked()) s.FileAttr |= kAttrArchive;
  if (chbFolder->isChecked()) s.FileAttr |= kAttrDirectory;

  const auto bytes = [](const QCheckBox* check, const TSpinEdit* box, const QComboBox* units) -> int32_t {
    if (!check->isChecked()) return -1;
    const int64_t value = NumberOf(box).value_or(0) * UnitFactor(units);
    return static_cast<int32_t>(std::clamp<int64_t>(value, 0, kLargestSizeBound));
  };
  s.FileSizeFrom = bytes(chbSizeFrom, spnSizeFrom, cmbSizeFrom);
  s.FileSizeTo = bytes(chbSizeTo, spnSizeTo, cmbSizeTo);
  if (s.FileSizeFrom > s.FileSizeTo && s.FileSizeFrom > 0) s.FileSizeTo = -1;

  s.FileTimeType = cmbFileTimeType->currentIndex();
  s.FileTimeFrom = chbTimeFrom->isChecked() ? DateTimeOf(dtpDateFrom, dtpTimeFrom) : 0.0;
  s.FileTimeTo = chbTimeTo->isChecked() ? DateTimeOf(dtpDateTo, dtpTimeTo) : 0.0;
  s.Exclude = edtExclude->text().trimmed().toLocal8Bit().toStdString();

  const std::optional<int64_t> threads = NumberOf(spnMaxThread);
  Options.MaxThreads = ClampMaxThreads(static_cast<int32_t>(
      std::clamp<int64_t>(threads.value_or(1), 1, TProgramOptions::kMaxThreadsLimit)));
  Options.MinimazeToTray = chbMinimazeToTray->isChecked();
  Options.MessageWhenComplete = chbMsgWhenComplete->isChecked();

  if (LocationTyped) {
    StoreTypedLocation();
    return;
  }
  const TNetNode* node = SelectedNode();
  if (node == nullptr) {
    // The location stays; a record read back from the saved defaults has empty names
    // where it had none, and is given back its absent names so that it still names the
    // same container.
    if (s.NetResource) CopyNetResource(WithAbsentEmptyNames(*s.NetResource), s.NetResource);
    return;
  }
  FreeNetResource(s.NetResource);
  if (node->Record) {
    CopyNetResource(WithAbsentEmptyNames(*node->Record), s.NetResource);
    s.NetResPath.clear();
    s.NetResFullPath = NodeDisplayPath();
  } else {
    s.NetResPath = NodeFolderPath(node);
    // A local folder shows as its own path; a folder under a share as its network path.
    s.NetResFullPath = IsUncPath(s.NetResPath) ? NodeDisplayPath() : s.NetResPath;
  }
}

void TOptionsDialog::StoreTypedLocation() {
  // Checked by ValidateInput; stored as the command-line program takes the same text.
  const std::optional<TTypedLocation> typed = ParseTypedLocation(LocationEdit->text().toLocal8Bit().toStdString());
  if (!typed) return;
  TSetting& s = SettingRef;
  FreeNetResource(s.NetResource);
  if (!typed->Network) {
    s.NetResPath = typed->Folder;
    s.NetResFullPath = typed->Folder;
    return;
  }
  const std::string unc = UncText(typed->Name);
  s.NetResFullPath = unc;
  if (!typed->Name.Rest.empty()) {
    s.NetResPath = unc;  // a folder below a share
    return;
  }
  NETRESOURCEA record;
  const bool share = !typed->Name.Share.empty();
  record.dwScope = RESOURCE_GLOBALNET;
  record.dwType = RESOURCETYPE_DISK;
  record.dwDisplayType = share ? RESOURCEDISPLAYTYPE_SHARE : RESOURCEDISPLAYTYPE_SERVER;
  record.dwUsage = RESOURCEUSAGE_CONTAINER | (share ? RESOURCEUSAGE_CONNECTABLE : 0);
  record.lpRemoteName = unc;
  record.lpProvider = std::string(kSmbProviderName);
  CopyNetResource(record, s.NetResource);
  s.NetResPath.clear();
}

void TOptionsDialog::reject() {
  if (IsBusy) return;  // the listing finishes first; the dialog is disabled meanwhile
  QDialog::reject();
}

void TOptionsDialog::closeEvent(QCloseEvent* event) {
  if (IsBusy) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}
