#pragma once
// The widget tests need one QApplication for the whole test program; whichever test runs
// first creates it (offscreen under ctest). It is never destroyed: destroying it among
// the program's static objects at exit crashes inside the toolkit.
#include <QApplication>

inline void EnsureResultListApp() {
  if (QCoreApplication::instance() != nullptr) return;
  static int argc = 1;
  static char name[] = "test_page";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
}
