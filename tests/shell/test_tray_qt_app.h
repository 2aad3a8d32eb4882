#pragma once
// The widget tests need one QApplication for the whole test program; whichever test runs
// first creates it (offscreen under ctest). It is destroyed when the test program's
// environments are torn down, before static destructors run: Qt's input devices, made by
// the first synthetic mouse click, must go while the GUI library is still whole.
#include <gtest/gtest.h>

#include <QApplication>

class TQtApplicationEnvironment : public ::testing::Environment {
 public:
  explicit TQtApplicationEnvironment(QApplication* app) : App(app) {}
  void TearDown() override { delete App; }

 private:
  QApplication* App;
};

inline void EnsureQApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  static int argc = 1;
  static char name[] = "test_shell";
  static char* argv[] = {name, nullptr};
  ::testing::AddGlobalTestEnvironment(new TQtApplicationEnvironment(new QApplication(argc, argv)));
}
