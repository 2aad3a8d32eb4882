#include "shell/index_tab.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "hive/registry.h"
#include "page/index_shelf.h"
#include "page/message_box.h"
#include "results/result_text.h"
#include "settings/setting.h"
#include "settings/settings_layout.h"
#include "shell/index_refresh.h"
#include "shell/location_tree.h"

namespace {

QString Display(const std::string& text) { return QString::fromLocal8Bit(text); }

QString DurationText(int64_t ms) {
  if (ms < 60000) return QString::number(double(ms) / 1000.0, 'f', 1) + QStringLiteral(" s");
  const int64_t seconds = ms / 1000;
  return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
}

QString WhenText(int64_t ms) {
  const QDateTime when = QDateTime::fromMSecsSinceEpoch(ms);
  return when.toString(when.date() == QDate::currentDate() ? QStringLiteral("HH:mm") : QStringLiteral("yyyy-MM-dd HH:mm"));
}

}  // namespace

std::string IndexLocationOfNode(const TNetNode* node) {
  if (node == nullptr || node->Kind == TNetNode::TKind::LocalRoot) return std::string();
  TSetting chosen;
  if (node->Record) {
    CopyNetResource(WithAbsentEmptyNames(*node->Record), chosen.NetResource);
  } else {
    chosen.NetResource.reset();
    chosen.NetResPath = NodeFolderPathOf(node);
  }
  return IndexLocationOfSetting(chosen);
}

TIndexTab::TIndexTab(TIndexRefresh& refresh, std::function<TNetNode*()> chosen, QWidget* parent)
    : QWidget(parent), Refresh(refresh), Chosen(std::move(chosen)), Locations(refresh.Settings().Locations) {
  lvIndex = new QTreeWidget(this);
  lvIndex->setRootIsDecorated(false);
  lvIndex->setColumnCount(kColumnCount);
  lvIndex->setHeaderLabels({QStringLiteral("Location"), QStringLiteral("Entries"), QStringLiteral("Size"),
                            QStringLiteral("Updated"), QStringLiteral("Took"), QStringLiteral("State")});
  lvIndex->setSelectionMode(QAbstractItemView::SingleSelection);
  lvIndex->header()->setStretchLastSection(true);
  btnAddIndex = new QPushButton(QStringLiteral("Add"), this);
  btnAddIndex->setToolTip(QStringLiteral("Adds the location chosen on the Network tab"));
  btnRemoveIndex = new QPushButton(QStringLiteral("Remove"), this);
  btnUpdateIndex = new QPushButton(QStringLiteral("Update now"), this);
  spnRefreshMinutes = new QSpinBox(this);
  spnRefreshMinutes->setRange(1, kMaxRefreshMinutes);
  spnRefreshMinutes->setValue(refresh.Settings().RefreshMinutes);
  auto* refreshLabel = new QLabel(QStringLiteral("Refresh every (minutes):"), this);
  refreshLabel->setBuddy(spnRefreshMinutes);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnAddIndex);
  buttons->addWidget(btnRemoveIndex);
  buttons->addWidget(btnUpdateIndex);
  buttons->addStretch(1);
  auto* interval = new QHBoxLayout;
  interval->addWidget(refreshLabel);
  interval->addWidget(spnRefreshMinutes);
  interval->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lvIndex, 1);
  layout->addLayout(buttons);
  layout->addLayout(interval);

  connect(btnAddIndex, &QPushButton::clicked, this, [this] { AddChosen(); });
  connect(btnRemoveIndex, &QPushButton::clicked, this, [this] { RemoveSelected(); });
  connect(btnUpdateIndex, &QPushButton::clicked, this, [this] { UpdateSelected(); });
  connect(lvIndex, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
  connect(&Refresh, &TIndexRefresh::Changed, this, [this] { Refill(); });
  Refill();
}

bool TIndexTab::AddChosen() {
  TNetNode* node = Chosen ? Chosen() : nullptr;
  if (node == nullptr) {
    ShowErrorBox(this, QStringLiteral("Choose a folder, share or server on the Network tab first."));
    return false;
  }
  const std::string location = IndexLocationOfNode(node);
  if (location.empty()) {
    ShowErrorBox(this, QStringLiteral("\"%1\" cannot be indexed: choose a folder, a share, a server, an address "
                                      "range or the entire network.").arg(node->text(0)));
    return false;
  }
  if (!AddLocation(location)) Select(location);
  return true;
}

bool TIndexTab::AddLocation(const std::string& location) {
  if (std::find(Locations.begin(), Locations.end(), location) != Locations.end()) return false;
  Locations.push_back(location);
  Refill();
  Select(location);
  return true;
}

void TIndexTab::RemoveSelected() {
  const std::string location = SelectedLocation();
  if (location.empty()) return;
  std::erase(Locations, location);
  Refill();
}

void TIndexTab::UpdateSelected() {
  const std::string location = SelectedLocation();
  if (!location.empty() && Refresh.StateOf(location) != nullptr) Refresh.UpdateNow(location);
}

bool TIndexTab::Select(const std::string& location) {
  for (int i = 0; i < lvIndex->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = lvIndex->topLevelItem(i);
    if (item->data(colLocation, Qt::UserRole).toString().toLocal8Bit().toStdString() == location) {
      lvIndex->setCurrentItem(item);
      item->setSelected(true);
      return true;
    }
  }
  return false;
}

std::string TIndexTab::SelectedLocation() const {
  const QList<QTreeWidgetItem*> selected = lvIndex->selectedItems();
  if (selected.isEmpty()) return std::string();
  return selected.front()->data(colLocation, Qt::UserRole).toString().toLocal8Bit().toStdString();
}

TIndexSettings TIndexTab::Edited() const { return {Locations, ClampRefreshMinutes(spnRefreshMinutes->value())}; }

void TIndexTab::Apply(TRegistryHive& hive) {
  const TIndexSettings edited = Edited();
  if (edited == Refresh.Settings()) return;
  const bool keyExists = hive.KeyExists(SettingsKey(kIndexKey));
  Refresh.SetSettings(edited);
  // Nothing indexed and nothing ever was: the settings file stays as it was.
  if (!keyExists && edited == TIndexSettings{}) return;
  SaveIndexSettings(edited, hive);
}

QString TIndexTab::RowText(const std::string& location, int column) const {
  for (int i = 0; i < lvIndex->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = lvIndex->topLevelItem(i);
    if (item->data(colLocation, Qt::UserRole).toString().toLocal8Bit().toStdString() == location)
      return item->text(column);
  }
  return QString();
}

void TIndexTab::Refill() {
  const std::string selected = SelectedLocation();
  lvIndex->clear();
  for (const std::string& location : Locations) {
    auto* item = new QTreeWidgetItem(lvIndex);
    item->setText(colLocation, Display(location));
    item->setData(colLocation, Qt::UserRole, Display(location));
    const TIndexLocationState* state = Refresh.StateOf(location);
    QString status;
    if (state == nullptr) {
      status = QStringLiteral("added: indexed after Ok");
    } else {
      if (state->Indexed) {
        item->setText(colEntries, QString::number(state->Entries));
        item->setText(colSize, Display(SizeToText(int64_t(state->FileBytes))));
        item->setText(colUpdated, WhenText(state->UpdatedMs));
        item->setText(colTook, DurationText(state->TookMs));
      }
      if (state->Running)
        status = state->Paused ? QStringLiteral("paused while you search") : QStringLiteral("updating");
      else if (!state->Failure.empty())
        status = QStringLiteral("failed: ") + Display(state->Failure);
      else if (state->Indexed)
        status = QStringLiteral("ok");
      else
        status = QStringLiteral("waiting for its first update");
      if (!state->Failure.empty()) item->setToolTip(colState, Display(state->Failure));
    }
    item->setText(colState, status);
  }
  if (!selected.empty()) Select(selected);
  UpdateButtons();
}

void TIndexTab::UpdateButtons() {
  const std::string selected = SelectedLocation();
  btnRemoveIndex->setEnabled(!selected.empty());
  const TIndexLocationState* state = selected.empty() ? nullptr : Refresh.StateOf(selected);
  btnUpdateIndex->setEnabled(state != nullptr && !state->Running);
}
