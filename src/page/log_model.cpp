#include "page/log_model.h"

#include "results/logger.h"

TLogModel::TLogModel(const TLogger& log, QObject* parent) : QAbstractTableModel(parent), Log(log) {}

void TLogModel::SetRowCount(int count) {
  if (count < 0) count = 0;
  if (count > Rows) {
    beginInsertRows(QModelIndex(), Rows, count - 1);
    Rows = count;
    endInsertRows();
  } else if (count < Rows) {
    beginResetModel();
    Rows = count;
    endResetModel();
  }
}

int TLogModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Rows; }

int TLogModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 1; }

QVariant TLogModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= Rows ||
      size_t(index.row()) >= Log.Count())
    return {};
  return QString::fromLocal8Bit(Log.Line(size_t(index.row())));
}

QVariant TLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
    return QStringLiteral("Errors log");
  return {};
}
