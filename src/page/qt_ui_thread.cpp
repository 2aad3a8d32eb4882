#include "page/qt_ui_thread.h"

#include <QCoreApplication>
#include <QObject>

#include <chrono>

TQtUiThread::TQtUiThread()
    : GuiThread(std::this_thread::get_id()), Receiver(std::make_unique<QObject>()) {}

TQtUiThread::~TQtUiThread() = default;

void TQtUiThread::InvokeAndWait(const std::function<void()>& call) {
  if (std::this_thread::get_id() == GuiThread) {
    call();
    return;
  }
  TPendingCall pending;
  pending.Call = &call;
  bool postWake = false;
  {
    std::unique_lock lock(CallsLock);
    Pending.push_back(&pending);
    postWake = !WakePosted;
    WakePosted = true;
  }
  CallArrived.notify_one();
  if (postWake) PostWake();
  std::unique_lock lock(CallsLock);
  pending.Ran.wait(lock, [&] { return pending.Done; });
  if (pending.Error) std::rethrow_exception(pending.Error);
}

void TQtUiThread::PostWake() {
  QMetaObject::invokeMethod(
      Receiver.get(), [this] { RunPendingCalls(false); }, Qt::QueuedConnection);
}

void TQtUiThread::RunPendingCalls(bool nestedAllowed) {
  // The running call's own drain takes what arrives meanwhile once the call returns.
  if (Running && !nestedAllowed) return;
  const bool wasRunning = Running;
  Running = true;
  const auto sliceEnd = std::chrono::steady_clock::now() + kDrainSlice;
  for (;;) {
    TPendingCall* pending = nullptr;
    {
      std::unique_lock lock(CallsLock);
      // Workers usually come back within microseconds; waiting a moment for them here is
      // much cheaper than a round trip through the event loop for each call.
      if (Pending.empty() && !wasRunning)
        CallArrived.wait_for(lock, kLinger, [&] { return !Pending.empty(); });
      if (Pending.empty() || std::chrono::steady_clock::now() >= sliceEnd) {
        // WakePosted stays set while calls wait: one more pass is already asked for.
        WakePosted = !Pending.empty();
        if (WakePosted) {
          lock.unlock();
          PostWake();
        }
        break;
      }
      pending = Pending.front();
      Pending.pop_front();
    }
    try {
      (*pending->Call)();
    } catch (...) {
      pending->Error = std::current_exception();
    }
    {
      // Only this call's worker is woken, not every waiting one. Notified under the lock:
      // the worker leaves (and its pending goes away) only once it has the lock.
      std::lock_guard lock(CallsLock);
      pending->Done = true;
      pending->Ran.notify_one();
    }
  }
  Running = wasRunning;
}

void TQtUiThread::PumpUiCalls(int timeoutMs) {
  {
    std::unique_lock lock(CallsLock);
    const auto ready = [&] { return !Pending.empty() || Woken; };
    if (timeoutMs < 0)
      CallArrived.wait(lock, ready);
    else
      CallArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    Woken = false;
  }
  RunPendingCalls(true);
}

void TQtUiThread::Wake() {
  {
    std::lock_guard lock(CallsLock);
    Woken = true;
  }
  CallArrived.notify_all();
}
