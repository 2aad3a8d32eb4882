#include "page/mask_groups_dialog.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "page/message_box.h"

namespace {

QString ToDisplay(const std::string& text) { return QString::fromLocal8Bit(text); }
std::string Local8Bit(const QString& text) { return text.toLocal8Bit().toStdString(); }

QString CellText(const QTableWidget* grid, int row, int column) {
  const QTableWidgetItem* item = grid->item(row, column);
  return item != nullptr ? item->text() : QString();
}

}  // namespace

TMaskGroup SplitMaskGroup(const std::string& entry) {
  const size_t equals = entry.find('=');
  if (equals == std::string::npos) return {entry, {}};
  return {entry.substr(0, equals), entry.substr(equals + 1)};
}

TMaskGroupsDialog::TMaskGroupsDialog(QWidget* owner, std::vector<std::string>& groups) : QDialog(owner), Groups(groups) {
  setWindowTitle(QStringLiteral("Edit file masks"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(441, 205);

  vleGroups = new QTableWidget(0, 2, this);
  vleGroups->setHorizontalHeaderLabels({QStringLiteral("Group name"), QStringLiteral("File masks")});
  vleGroups->setColumnWidth(0, 154);
  vleGroups->setColumnWidth(1, 265);
  vleGroups->horizontalHeader()->setStretchLastSection(true);
  vleGroups->verticalHeader()->hide();
  vleGroups->setSelectionMode(QAbstractItemView::SingleSelection);
  vleGroups->setEditTriggers(QAbstractItemView::AllEditTriggers);
  vleGroups->installEventFilter(this);
  vleGroups->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* addRow = new QAction(QStringLiteral("Add row"), vleGroups);
  auto* deleteRow = new QAction(QStringLiteral("Delete row"), vleGroups);
  vleGroups->addAction(addRow);
  vleGroups->addAction(deleteRow);
  connect(addRow, &QAction::triggered, this, [this] { AddRow(); });
  connect(deleteRow, &QAction::triggered, this, [this] { DeleteRow(); });

  for (const std::string& entry : Groups) {
    const TMaskGroup group = SplitMaskGroup(entry);
    const int row = vleGroups->rowCount();
    vleGroups->insertRow(row);
    vleGroups->setItem(row, 0, new QTableWidgetItem(ToDisplay(group.Name)));
    vleGroups->setItem(row, 1, new QTableWidgetItem(ToDisplay(group.Masks)));
  }
  // With no groups yet the grid still offers one blank row to type the first one into;
  // rows left blank are not saved.
  if (vleGroups->rowCount() == 0) AddRow();

  btnSave = new QPushButton(QStringLiteral("Save"), this);
  btnSave->setDefault(true);
  btnClose = new QPushButton(QStringLiteral("Cancel"), this);
  connect(btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(); });
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnSave);
  buttons->addWidget(btnClose);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addWidget(vleGroups, 1);
  layout->addLayout(buttons);
  vleGroups->setFocus();
}

void TMaskGroupsDialog::AddRow() {
  const int row = vleGroups->rowCount();
  vleGroups->insertRow(row);
  vleGroups->setItem(row, 0, new QTableWidgetItem);
  vleGroups->setItem(row, 1, new QTableWidgetItem);
  vleGroups->setCurrentCell(row, 0);
}

void TMaskGroupsDialog::DeleteRow() {
  const int row = vleGroups->currentRow();
  if (row >= 0) vleGroups->removeRow(row);
}

bool TMaskGroupsDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == vleGroups && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool lastRow = vleGroups->currentRow() == vleGroups->rowCount() - 1;
    if (key->key() == Qt::Key_Insert || (key->key() == Qt::Key_Down && lastRow)) {
      AddRow();
      return true;
    }
    if (key->key() == Qt::Key_Delete && (key->modifiers() & Qt::ControlModifier)) {
      DeleteRow();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TMaskGroupsDialog::btnSaveClick() {
  // A cell still being edited holds its text in the editor: commit it first.
  if (QWidget* editor = QApplication::focusWidget(); editor != nullptr && vleGroups->isAncestorOf(editor))
    vleGroups->setFocus();
  std::vector<std::string> rows;
  for (int row = 0; row < vleGroups->rowCount(); ++row) {
    const QString name = CellText(vleGroups, row, 0);
    const QString masks = CellText(vleGroups, row, 1);
    if (name.isEmpty() && masks.isEmpty()) continue;
    if (name.contains(QLatin1Char('='))) {
      ShowErrorBox(this, QStringLiteral("The group name \"%1\" can not contain \"=\".").arg(name));
      vleGroups->setCurrentCell(row, 0);
      return;
    }
    rows.push_back(Local8Bit(name) + "=" + Local8Bit(masks));
  }
  Groups = std::move(rows);
  accept();
}
