#include "page/off_ui_thread.h"

#include <exception>
#include <thread>

void RunOffUiThread(const std::function<void()>& work, QEventLoop::ProcessEventsFlags flags) {
  QEventLoop loop;
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    // Queued: if it comes before the loop runs, the loop finds it waiting.
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec(flags);
  worker.join();
  if (failure) std::rethrow_exception(failure);
}
