#pragma once
// The widget tests need one QApplication for the whole test program; whichever test runs
// first creates it (offscreen under ctest).
#include <QApplication>

inline void EnsureResultListApp() {
  if (QCoreApplication::instance() != nullptr) return;
  static int argc = 1;
  static char name[] = "test_page";
  static char* argv[] = {name, nullptr};
  static QApplication app(argc, argv);
}
