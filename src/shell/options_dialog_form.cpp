// The dialog's controls: its three tabs and their layout. The behaviour behind them
// (the tree, the checks, what Ok stores) is in options_dialog.cpp.
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

constexpr int kSizeBoxMaximum = 999999;

}  // namespace

void TOptionsDialog::CreateComponents() {
  setWindowTitle(QStringLiteral("Options"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  PageControl = new QTabWidget(this);
  PageControl->addTab(CreateNetworkTab(), QStringLiteral("Network"));
  PageControl->addTab(CreateFiltersTab(), QStringLiteral("Filters"));
  PageControl->addTab(CreateCommonTab(), QStringLiteral("Common"));

  btnOk = new QPushButton(QStringLiteral("Ok"), this);
  btnOk->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  connect(btnCancel, &QPushButton::clicked, this, &TOptionsDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOk);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addWidget(PageControl, 1);
  layout->addLayout(buttons);
  // 369 x 323, or what the tabs' contents need in the desktop's font if that is more, so
  // no control is squeezed below its smallest size; resizable (long names), and the size
  // the user gave it comes back the next time.
  setMinimumSize(minimumSizeHint());
  setSizeGripEnabled(true);
  resize(LoadOptionsSize(Hive).value_or(QSize(369, 323)).expandedTo(minimumSizeHint()));
}

QWidget* TOptionsDialog::CreateNetworkTab() {
  auto* tab = new QWidget;
  LocationEdit = new QLineEdit(tab);
  // A location may also be typed or pasted: a folder, \\server\share or smb://server/share.
  LocationEdit->setPlaceholderText(QStringLiteral("/folder, \\\\server\\share or smb://server/share"));
  connect(LocationEdit, &QLineEdit::textEdited, this, [this] {
    LocationTyped = true;
    UpdateButtons();
  });

  tvNet = new QTreeWidget(tab);
  tvNet->setHeaderHidden(true);
  tvNet->setColumnCount(1);
  tvNet->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvNet->setSelectionMode(QAbstractItemView::SingleSelection);
  tvNet->setIconSize(QSize(16, 16));
  tvNet->setIndentation(19);
  // The chosen node stays marked while another control has the focus.
  QPalette keep = tvNet->palette();
  for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
    keep.setColor(QPalette::Inactive, role, keep.color(QPalette::Active, role));
  tvNet->setPalette(keep);
  connect(tvNet, &QTreeWidget::itemSelectionChanged, this, [this] { tvNetChange(); });
  connect(tvNet, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
    auto* node = static_cast<TNetNode*>(item);
    if (node->childCount() > 0) return;  // listed already: nothing to do
    {
      // Shut again until the node has children to show.
      const QSignalBlocker quiet(tvNet);
      node->setExpanded(false);
    }
    if (tvNetExpanding(node)) node->setExpanded(true);
  });

  chbDefaultNetwork = new QCheckBox(QStringLiteral("Save as default"), tab);
  // Networks that discovery does not cross (VLANs, VPNs) are reached by address.
  btnAddRange = new QPushButton(QStringLiteral("Add address range..."), tab);
  connect(btnAddRange, &QPushButton::clicked, this, [this] {
    bool ok = false;
    const QString text = QInputDialog::getText(this, QStringLiteral("Add address range"),
                                               QStringLiteral("IPv4 range, e.g. 10.1.2.0/24 (at most /16):"),
                                               QLineEdit::Normal, QString(), &ok);
    if (ok) AddAddressRange(text.trimmed());
  });
  auto* layout = new QVBoxLayout(tab);
  layout->addWidget(LocationEdit);
  layout->addWidget(tvNet, 1);
  auto* below = new QHBoxLayout;
  below->addWidget(chbDefaultNetwork, 1);
  below->addWidget(btnAddRange);
  layout->addLayout(below);
  return tab;
}

QWidget* TOptionsDialog::CreateFiltersTab() {
  auto* tab = new QWidget;
  auto* attributes = new QGroupBox(QStringLiteral(" File attributes "), tab);
  chbReadOnly = new QCheckBox(QStringLiteral("Read only"), attributes);
  chbHidden = new QCheckBox(QStringLiteral("Hidden"), attributes);
  chbSystem = new QCheckBox(QStringLiteral("System"), attributes);
  chbArchive = new QCheckBox(QStringLiteral("Archive"), attributes);
  chbFolder = new QCheckBox(QStringLiteral("Find folders"), attributes);
  auto* attributeGrid = new QGridLayout(attributes);
  attributeGrid->setContentsMargins(6, 2, 6, 2);
  attributeGrid->addWidget(chbReadOnly, 0, 0);
  attributeGrid->addWidget(chbHidden, 0, 1);
  attributeGrid->addWidget(chbSystem, 0, 2);
  attributeGrid->addWidget(chbArchive, 1, 0);
  attributeGrid->addWidget(chbFolder, 1, 1);

  // One bound per row, like the time bounds below: side by side, the number boxes were too
  // narrow for their largest value.
  auto* sizes = new QGroupBox(QStringLiteral(" File size "), tab);
  auto* sizeGrid = new QGridLayout(sizes);
  sizeGrid->setContentsMargins(6, 2, 6, 2);
  const auto addSize = [&](QCheckBox*& check, TSpinEdit*& number, QComboBox*& units, const char* caption,
                           int row) {
    check = new QCheckBox(QString::fromLatin1(caption), sizes);
    number = new TSpinEdit(sizes);
    number->setRange(0, kSizeBoxMaximum);
    units = new QComboBox(sizes);
    sizeGrid->addWidget(check, row, 0);
    sizeGrid->addWidget(number, row, 1);
    sizeGrid->addWidget(units, row, 2);
    connect(check, &QCheckBox::toggled, this, [this] { UpdateSizeControls(); });
  };
  addSize(chbSizeFrom, spnSizeFrom, cmbSizeFrom, "From", 0);
  addSize(chbSizeTo, spnSizeTo, cmbSizeTo, "to", 1);
  sizeGrid->setColumnStretch(3, 1);

  auto* times = new QGroupBox(QStringLiteral(" File time "), tab);
  auto* timeGrid = new QGridLayout(times);
  timeGrid->setContentsMargins(6, 2, 6, 2);
  const auto addTime = [&](QCheckBox*& check, QDateEdit*& date, QTimeEdit*& time, const char* caption, int row) {
    check = new QCheckBox(QString::fromLatin1(caption), times);
    date = new QDateEdit(times);
    date->setCalendarPopup(true);
    time = new QTimeEdit(times);
    time->setDisplayFormat(QStringLiteral("HH:mm"));
    timeGrid->addWidget(check, row, 0);
    timeGrid->addWidget(date, row, 1);
    timeGrid->addWidget(time, row, 2);
    connect(check, &QCheckBox::toggled, this, [this] { UpdateTimeControls(); });
  };
  addTime(chbTimeFrom, dtpDateFrom, dtpTimeFrom, "From", 0);
  addTime(chbTimeTo, dtpDateTo, dtpTimeTo, "to", 1);
  connect(dtpDateFrom, &QDateEdit::dateChanged, this, [this] { UpdateDateToMinimum(); });
  cmbFileTimeType = new QComboBox(times);
  cmbFileTimeType->addItems({QStringLiteral("Files modified"), QStringLiteral("Files created")});
  cmbFileTimeType->hide();

  auto* excludeRow = new QHBoxLayout;
  excludeRow->setContentsMargins(6, 2, 6, 2);
  auto* excludeLabel = new QLabel(QStringLiteral("&Exclude:"), tab);
  edtExclude = new QLineEdit(tab);
  edtExclude->setPlaceholderText(QStringLiteral(".git;node_modules;*.bak"));
  edtExclude->setToolTip(QStringLiteral("Files and folders whose names match one of these masks are "
                                        "left out; the folders are not searched"));
  excludeLabel->setBuddy(edtExclude);
  excludeRow->addWidget(excludeLabel);
  excludeRow->addWidget(edtExclude, 1);

  chbDefaultFilter = new QCheckBox(QStringLiteral("Save as default"), tab);
  auto* layout = new QVBoxLayout(tab);
  layout->setSpacing(2);
  layout->addWidget(attributes);
  layout->addWidget(sizes);
  layout->addWidget(times);
  layout->addLayout(excludeRow);
  layout->addWidget(chbDefaultFilter);
  layout->addStretch(1);
  return tab;
}

QWidget* TOptionsDialog::CreateCommonTab() {
  auto* tab = new QWidget;
  auto* label = new QLabel(QStringLiteral("Max threads per search:"), tab);
  spnMaxThread = new TSpinEdit(tab);
  spnMaxThread->setRange(1, TProgramOptions::kMaxThreadsLimit);
  label->setBuddy(spnMaxThread);
  chbMinimazeToTray = new QCheckBox(QStringLiteral("Minimaze to tray"), tab);
  chbMsgWhenComplete = new QCheckBox(QStringLiteral("Message when complete"), tab);
  auto* threads = new QHBoxLayout;
  threads->addWidget(label);
  threads->addWidget(spnMaxThread);
  threads->addStretch(1);
  auto* layout = new QVBoxLayout(tab);
  layout->addLayout(threads);
  layout->addWidget(chbMinimazeToTray);
  layout->addWidget(chbMsgWhenComplete);
  layout->addStretch(1);
  return tab;
}

// Fills the controls from the page's settings and the options. Runs once, when the
// dialog is built, so that coming back to the dialog (after an error box) keeps the input.
