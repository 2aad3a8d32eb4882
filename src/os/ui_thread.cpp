#include "os/ui_thread.h"

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

// ---- TUiNotification ----

TUiNotification::~TUiNotification() {
  if (TUiThread* queue = Queue.load(std::memory_order_acquire)) queue->Withdraw(*this);
}

void TUiNotification::Raise() {
  // The exchange orders this raise with the run that takes it: a run that starts after
  // it sees everything the raiser did before.
  if (Raised.exchange(true, std::memory_order_acq_rel)) return;
  TUiThread& queue = UiThread();
  Queue.store(&queue, std::memory_order_release);
  queue.Post(*this);
}

void TUiNotification::RunRaised() {
  // An exchange, not a store: it reads the last raise, so this run sees what that raiser
  // did before raising.
  Raised.exchange(false, std::memory_order_acq_rel);
  try {
    Call();
  } catch (...) {
    // No one waits for a notification: its failure has nowhere to go.
  }
}

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
  Queue.push_back({&pending, nullptr});
  ++WaitingCalls;
  CallPosted.notify_all();
  CallDone.wait(lock, [&] { return pending.Done; });
  if (pending.Error) std::rethrow_exception(pending.Error);
}

void TQueuedUiThread::PumpUiCalls(int timeoutMs) {
  std::unique_lock<std::mutex> lock(Lock);
  WaitFor(CallPosted, lock, timeoutMs, [&] { return !Queue.empty() || Woken; });
  Woken = false;
  while (!Queue.empty()) {
    const TEntry entry = Queue.front();
    Queue.pop_front();
    if (entry.Notification) {
      lock.unlock();
      entry.Notification->RunRaised();
      lock.lock();
      continue;
    }
    --WaitingCalls;
    TPendingCall* pending = entry.Call;
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

void TQueuedUiThread::Post(TUiNotification& notification) {
  std::lock_guard<std::mutex> lock(Lock);
  Queue.push_back({nullptr, &notification});
  CallPosted.notify_all();
}

void TQueuedUiThread::Withdraw(TUiNotification& notification) {
  std::lock_guard<std::mutex> lock(Lock);
  std::erase_if(Queue, [&](const TEntry& entry) { return entry.Notification == &notification; });
}

bool TQueuedUiThread::WaitForPendingCalls(size_t count, int timeoutMs) {
  std::unique_lock<std::mutex> lock(Lock);
  return WaitFor(CallPosted, lock, timeoutMs, [&] { return WaitingCalls >= count; });
}

// ---- TDirectUiThread ----

void TDirectUiThread::InvokeAndWait(const std::function<void()>& call) {
  {
    std::lock_guard<std::recursive_mutex> lock(CallLock);
    if (CallDepth == 0) RunRaised();  // what was raised before this call runs first
    struct TDepth {
      int& Depth;
      explicit TDepth(int& depth) : Depth(depth) { ++Depth; }
      ~TDepth() { --Depth; }
    } depth(CallDepth);
    call();
  }
  RunRaisedIfIdle();
}

void TDirectUiThread::RunRaised() {
  ++CallDepth;  // a raise from inside a notification waits for this loop
  for (;;) {
    TUiNotification* next = nullptr;
    {
      TLockGuard lock(RaisedLock);
      if (Raised.empty()) break;
      next = Raised.front();
      Raised.pop_front();
    }
    next->RunRaised();
  }
  --CallDepth;
}

void TDirectUiThread::RunRaisedIfIdle() {
  for (;;) {
    {
      std::unique_lock<std::recursive_mutex> lock(CallLock, std::try_to_lock);
      // Another thread inside a call runs them when it ends; so does this thread's outer
      // call when this is a nested one.
      if (!lock.owns_lock() || CallDepth > 0) return;
      RunRaised();
    }
    // A raise that came after the run and found the lock still taken is run here.
    TLockGuard lock(RaisedLock);
    if (Raised.empty()) return;
  }
}

void TDirectUiThread::Post(TUiNotification& notification) {
  {
    TLockGuard lock(RaisedLock);
    Raised.push_back(&notification);
  }
  RunRaisedIfIdle();
}

void TDirectUiThread::Withdraw(TUiNotification& notification) {
  std::lock_guard<std::recursive_mutex> call(CallLock);  // not while it runs elsewhere
  TLockGuard lock(RaisedLock);
  std::erase(Raised, &notification);
}

void TDirectUiThread::PumpUiCalls(int timeoutMs) {
  RunRaisedIfIdle();
  std::unique_lock<std::mutex> lock(WakeLock);
  WaitFor(WakeSignal, lock, timeoutMs, [&] { return Woken; });
  Woken = false;
}

void TDirectUiThread::Wake() {
  std::lock_guard<std::mutex> lock(WakeLock);
  Woken = true;
  WakeSignal.notify_all();
}
