#include "page/result_model.h"

#include <QFile>

#include "results/result_manager.h"
#include "results/result_text.h"

namespace {

QString Display(const std::string& bytes) { return QFile::decodeName(bytes.c_str()); }

}  // namespace

int TResultModel::ColumnTag(int column) {
  static constexpr int kTags[kColumnCount] = {skPath, skSize, skDate, skTime, skAttr};
  return column >= 0 && column < kColumnCount ? kTags[column] : 0;
}

TResultModel::TResultModel(const TResultManager& store, QObject* parent)
    : QAbstractTableModel(parent), Store(store) {
  FlushTimer.setSingleShot(true);
  connect(&FlushTimer, &QTimer::timeout, this, &TResultModel::Flush);
  SinceFlush.start();
}

void TResultModel::SetRowCount(int count) {
  if (count < 0) count = 0;
  Delivered = count;
  if (count < Shown) {
    FlushTimer.stop();
    beginResetModel();
    Shown = count;
    endResetModel();
    SinceFlush.restart();
    return;
  }
  if (count == Shown || FlushTimer.isActive()) return;
  const qint64 elapsed = SinceFlush.elapsed();
  if (elapsed >= kRepaintIntervalMs)
    Flush();
  else
    FlushTimer.start(int(kRepaintIntervalMs - elapsed));
}

void TResultModel::Flush() {
  FlushTimer.stop();
  SinceFlush.restart();
  if (Delivered <= Shown) return;
  beginInsertRows(QModelIndex(), Shown, Delivered - 1);
  Shown = Delivered;
  endInsertRows();
}

void TResultModel::RowsChanged() {
  Flush();
  if (Shown > 0) emit dataChanged(index(0, 0), index(Shown - 1, kColumnCount - 1));
}

int TResultModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Shown;
}

int TResultModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant TResultModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= Shown || size_t(index.row()) >= Store.Count())
    return {};
  if (role == Qt::TextAlignmentRole) {
    if (index.column() == colFileName) return int(Qt::AlignLeft | Qt::AlignVCenter);
    if (index.column() == colAttrs) return int(Qt::AlignCenter);
    return int(Qt::AlignRight | Qt::AlignVCenter);
  }
  if (role != Qt::DisplayRole) return {};
  const TSearchResult& result = Store.Item(size_t(index.row()));
  switch (index.column()) {
    case colFileName: return Display(result.FullName());
    case colSize: return QString::fromStdString(SizeToText(result.Size));
    case colDate: return QString::fromLocal8Bit(DateToText(result.DateTime));
    case colTime: return QString::fromLocal8Bit(TimeToText(result.DateTime));
    case colAttrs: return QString::fromLatin1(AttrToText(result.Attr));
  }
  return {};
}

QVariant TResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::TextAlignmentRole) {
    if (section == colFileName) return int(Qt::AlignLeft | Qt::AlignVCenter);
    if (section == colAttrs) return int(Qt::AlignCenter);
    return int(Qt::AlignRight | Qt::AlignVCenter);
  }
  if (role != Qt::DisplayRole) return {};
  static const char* const kCaptions[kColumnCount] = {"File name", "Size", "Date", "Time",
                                                      "Attrs"};
  return section >= 0 && section < kColumnCount ? QString::fromLatin1(kCaptions[section])
                                                : QVariant();
}
