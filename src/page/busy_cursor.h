#pragma once
// The hourglass cursor for the life of a command step (sort, save, load, export, copy,
// connect); restored on every path out of it, also when the step throws.
#include <QApplication>

class TBusyCursor {
 public:
  TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};
