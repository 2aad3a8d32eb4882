#include "platform/ui_thread.h"

#include <atomic>
#include <chrono>
#include <exception>

namespace {

TDirectUiThread& DefaultUiThread() {
  static TDirectUiThread instance;
  return instance;
}

std::atomic<TUiThread*> CurrentUiThread{nullptr};

// Waits on cv for pred, without limit when timeoutMs is negative.
template <class Pred>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int timeoutMs,
             Pred pred) {
  if (timeoutMs < 0) {
    cv.wait(lock, pred);
    return true;
  }
  return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
}

}  // namespace

TUiThread& UiThread() {
  TUiThread* current = CurrentUiThread.load(std::memory_order_acquire);
  return current ? *current : DefaultUiThread();
}

void SetUiThread(TUiThread* uiThread) { CurrentUiThread.store(uiThread, std::memory_order_release); }

// ---- TQueuedUiThread ----

struct TQueuedUiThread::TPendingCall {
  const std::function<void()>* Call;
  std::exception_ptr Error;
  bool Done = false;
};

TQueuedUiThread::TQueuedUiThread() : UiThreadId(std::this_thread::get_id()) {}

TQueuedUiThread::~TQueuedUiThread() = default;

void TQueuedUiThread::InvokeAndWait(const std::function<void()>& call) {
  if (std::this_thread::get_id() == UiThreadId) {
    call();
    return;
  }
  TPendingCall pending{&call, nullptr};
  std::unique_lock<std::mutex> lock(Lock);
  Calls.push_back(&pending);
  CallPosted.notify_all();
  CallDone.wait(lock, [&] { return pending.Done; });
  if (pending.Error) std::rethrow_exception(pending.Error);
}

void TQueuedUiThread::PumpUiCalls(int timeoutMs) {
  std::unique_lock<std::mutex> lock(Lock);
  WaitFor(CallPosted, lock, timeoutMs, [&] { return !Calls.empty() || Woken; });
  Woken = false;
  while (!Calls.empty()) {
    TPendingCall* pending = Calls.front();
    Calls.pop_front();
    lock.unlock();
    try {
      (*pending->Call)();
    } catch (...) {
      // Belongs to the worker that asked for the call: it rethrows it.
      pending->Error = std::current_exception();
    }
    lock.lock();
    pending->Done = true;
    CallDone.notify_all();
  }
}

void TQueuedUiThread::Wake() {
  std::lock_guard<std::mutex> lock(Lock);
  Woken = true;
  CallPosted.notify_all();
}

bool TQueuedUiThread::WaitForPendingCalls(size_t count, int timeoutMs) {
  std::unique_lock<std::mutex> lock(Lock);
  return WaitFor(CallPosted, lock, timeoutMs, [&] { return Calls.size() >= count; });
}

// ---- TDirectUiThread ----

void TDirectUiThread::InvokeAndWait(const std::function<void()>& call) {
  std::lock_guard<std::recursive_mutex> lock(CallLock);
  call();
}

void TDirectUiThread::PumpUiCalls(int timeoutMs) {
  std::unique_lock<std::mutex> lock(WakeLock);
  WaitFor(WakeSignal, lock, timeoutMs, [&] { return Woken; });
  Woken = false;
}

void TDirectUiThread::Wake() {
  std::lock_guard<std::mutex> lock(WakeLock);
  Woken = true;
  WakeSignal.notify_all();
}
