#pragma once
// The rows of lvLog: a view over the page's error log by row index, one column "Errors
// log". The model keeps no copy of the lines. UI thread only; the log must outlive the
// model.
#include <QAbstractTableModel>

class TLogger;

class TLogModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  TLogModel(const TLogger& log, QObject* parent);

  int RowCount() const { return Rows; }
  // Sets the row count; growth adds rows at the end without touching the rows shown.
  void SetRowCount(int count);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  const TLogger& Log;
  int Rows = 0;
};
