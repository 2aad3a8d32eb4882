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
  if (postWake) {
    // One queued Qt call drains every call waiting at that moment, so a burst of
    // workers costs one wake-up.
    QMetaObject::invokeMethod(
        Receiver.get(), [this] { RunPendingCalls(false); }, Qt::QueuedConnection);
  }
  std::unique_lock lock(CallsLock);
  CallDone.wait(lock, [&] { return pending.Done; });
  if (pending.Error) std::rethrow_exception(pending.Error);
}

void TQtUiThread::RunPendingCalls(bool nestedAllowed) {
  {
    std::lock_guard lock(CallsLock);
    WakePosted = false;
  }
  // The running call's own loop will drain what arrives meanwhile once it returns.
  if (Running && !nestedAllowed) return;
  const bool wasRunning = Running;
  Running = true;
  for (;;) {
    TPendingCall* pending = nullptr;
    {
      std::lock_guard lock(CallsLock);
      if (Pending.empty()) break;
      pending = Pending.front();
      Pending.pop_front();
    }
    try {
      (*pending->Call)();
    } catch (...) {
      pending->Error = std::current_exception();
    }
    {
      std::lock_guard lock(CallsLock);
      pending->Done = true;
    }
    CallDone.notify_all();
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
