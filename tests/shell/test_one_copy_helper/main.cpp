// A stand-in program for the single-instance tests: it runs the guard on the path given as
// its only argument. The first copy prints "first" and then "restored" for every later
// copy that hands over; a later copy prints "second" and ends with exit code 3.
#include <QCoreApplication>

#include <cstdio>

#include "shell/one_copy.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) return 2;
  TOneCopy guard(QString::fromLocal8Bit(argv[1]));
  if (!guard.CheckSingleInstance()) {
    std::puts("second");
    return 3;
  }
  QObject::connect(&guard, &TOneCopy::RestoreRequested, [] {
    std::puts("restored");
    std::fflush(stdout);
  });
  std::puts("first");
  std::fflush(stdout);
  return app.exec();
}
