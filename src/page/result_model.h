#pragma once
// The rows of lvResults: a view over the page's result store by row index. The model
// keeps no copy of the store and no per-row object; a row's texts are built from the
// record when the view asks for them.
//
// Row count: RowCount is the count the page last delivered (what the status bar and the
// completion message show). The view is told about growth at most once per
// kRepaintIntervalMs, because a visible table repaints on every row-count change and a
// search delivers thousands of batches a second. Rows already shown are neither
// repainted nor scrolled when the count grows. Shrinking is shown at once.
//
// UI thread only. The store must outlive the model; records below RowCount must stay
// readable while the store grows (the store guarantees this).
#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QTimer>

class TResultManager;

inline constexpr int kRepaintIntervalMs = 40;

class TResultModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Columns of the result list, in order.
  enum TColumn { colFileName, colSize, colDate, colTime, colAttrs, kColumnCount };
  // The sort key (tag) of each column.
  static int ColumnTag(int column);

  TResultModel(const TResultManager& store, QObject* parent);

  int RowCount() const { return Delivered; }
  void SetRowCount(int count);
  // Tells the view about every delivered row now.
  void Flush();
  // Every row may have changed (sorted, replaced): the view redraws all rows.
  void RowsChanged();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  const TResultManager& Store;
  int Delivered = 0;  // the list's row count as the page set it
  int Shown = 0;      // the row count the view knows; never above Delivered
  QTimer FlushTimer;
  QElapsedTimer SinceFlush;
};
