#include "page/qt_ui_thread.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>

#include <algorithm>
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
  std::unique_lock lock(CallsLock);
  Enqueue(lock, {&pending, nullptr});
  pending.Ran.wait(lock, [&] { return pending.Done; });
  if (pending.Error) std::rethrow_exception(pending.Error);
}

void TQtUiThread::Post(TUiNotification& notification) {
  std::unique_lock lock(CallsLock);
  // Held while a handed-off call runs (a modal box), unless someone pumps meanwhile.
  if (std::this_thread::get_id() != GuiThread)
    CallEnded.wait(lock, [&] { return CallsRunning == 0 || Pumps > 0; });
  Enqueue(lock, {nullptr, &notification});
}

void TQtUiThread::Withdraw(TUiNotification& notification) {
  std::lock_guard lock(CallsLock);
  std::erase_if(Pending, [&](const TEntry& entry) { return entry.Notification == &notification; });
}

void TQtUiThread::Enqueue(std::unique_lock<std::mutex>& lock, TEntry entry) {
  Pending.push_back(entry);
  // A call's worker waits: it does not wait for a paced drain as well.
  const bool postWake = !WakePosted || (entry.Call != nullptr && WakeIsPaced);
  WakePosted = true;
  if (entry.Call != nullptr) WakeIsPaced = false;
  lock.unlock();
  CallArrived.notify_one();
  if (postWake) PostWake();
  lock.lock();
}

void TQtUiThread::PostWake() {
  QMetaObject::invokeMethod(Receiver.get(), [this] { PacedDrain(); }, Qt::QueuedConnection);
}

void TQtUiThread::PacedDrain() {
  const auto wait = LastDrainEnd + kDrainGap - std::chrono::steady_clock::now();
  if (wait > std::chrono::steady_clock::duration::zero() && !Running) {
    std::unique_lock lock(CallsLock);
    const bool callWaiting =
        std::any_of(Pending.begin(), Pending.end(), [](const TEntry& entry) { return entry.Call != nullptr; });
    if (!callWaiting && !Pending.empty()) {
      WakeIsPaced = true;
      lock.unlock();
      const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait);
      QTimer::singleShot(ms, Receiver.get(), [this] {
        {
          std::lock_guard guard(CallsLock);
          WakeIsPaced = false;
        }
        RunPendingCalls(false);
      });
      return;
    }
  }
  RunPendingCalls(false);
}

void TQtUiThread::RunPendingCalls(bool nestedAllowed) {
  // The running call's own drain takes what arrives meanwhile once the call returns.
  if (Running && !nestedAllowed) return;
  const bool wasRunning = Running;
  Running = true;
  const auto sliceEnd = std::chrono::steady_clock::now() + kDrainSlice;
  for (;;) {
    TEntry entry;
    {
      std::unique_lock lock(CallsLock);
      if (Pending.empty() || std::chrono::steady_clock::now() >= sliceEnd) {
        // WakePosted stays set while entries wait: one more pass is already asked for.
        WakePosted = !Pending.empty();
        if (WakePosted) {
          lock.unlock();
          PostWake();
        }
        break;
      }
      entry = Pending.front();
      Pending.pop_front();
      if (entry.Call) ++CallsRunning;
    }
    if (entry.Notification) {
      entry.Notification->RunRaised();
      continue;
    }
    TPendingCall* pending = entry.Call;
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
      --CallsRunning;
    }
    CallEnded.notify_all();
  }
  Running = wasRunning;
  LastDrainEnd = std::chrono::steady_clock::now();
}

void TQtUiThread::PumpUiCalls(int timeoutMs) {
  {
    std::unique_lock lock(CallsLock);
    ++Pumps;
    CallEnded.notify_all();  // workers held by a running call may queue now
    const auto ready = [&] { return !Pending.empty() || Woken; };
    if (timeoutMs < 0)
      CallArrived.wait(lock, ready);
    else
      CallArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    Woken = false;
  }
  RunPendingCalls(true);
  std::lock_guard lock(CallsLock);
  --Pumps;
}

void TQtUiThread::Wake() {
  {
    std::lock_guard lock(CallsLock);
    Woken = true;
  }
  CallArrived.notify_all();
}
