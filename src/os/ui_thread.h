#pragma once
// The hand-off from worker threads to the UI thread. Workers reach the user interface only
// through it, in two ways:
//  - InvokeAndWait runs a call on the UI thread and returns when it has run;
//  - TUiNotification::Raise asks the UI thread to run a notification and returns at once.
//    Raises that come before the notification starts running are merged into one run,
//    which sees everything the raisers did before raising.
// Both kinds run in the order they were asked for: a call or a notification runs after
// every notification raised before it (so a call that ends a search comes after the last
// "results changed" and "log changed" of that search). Calls and notifications never
// overlap, as on a real UI thread.
//
// The GUI installs an implementation over Qt's event loop; tests and the command-line
// front end install one of the two below.
//
// Lock order, for the whole program (every other lock's comment refers here):
//   hand-off call lock (TDirectUiThread::CallLock; on a real UI thread, "a handed-off call
//   is running") -> the search manager's QueueLock -> the worker pool's Lock.
// Leaves, taken with none of the locks above them held and holding nothing while taken:
//   the result store's RESULT_MUTEX, the error log's LogLock, an index writer's Lock
//   (index/index_writer.h), the hand-offs' own queue locks, and the locks private to one
//   platform object (the named-mutex registry, the SMB client's). No lock is held while a worker raises a notification or calls
//   InvokeAndWait.
//
// Deadlock hazard: a thread that waits for workers (a search manager being destroyed)
// must keep pumping the hand-off (PumpUiCalls), or a worker blocked in InvokeAndWait (or
// held while a modal call runs) can never finish. Nothing that runs inside a hand-off may
// wait for a worker.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "os/thread_annotations.h"

class TUiThread;

// A notification that workers raise without waiting, run on the UI thread. Owned by what
// it notifies for (a search manager); destroy it on the UI thread once no worker can
// raise it any more: a raise that has not run yet is then withdrawn.
class TUiNotification {
 public:
  explicit TUiNotification(std::function<void()> call) : Call(std::move(call)) {}
  ~TUiNotification();
  TUiNotification(const TUiNotification&) = delete;
  TUiNotification& operator=(const TUiNotification&) = delete;

  // Any thread; returns at once (a real UI thread may hold the raiser while a modal call
  // runs, see TQtUiThread). A raise while an earlier one waits to run adds nothing.
  void Raise();

  // For hand-off implementations: marks the raise as taken (later raises queue it again),
  // then runs the notification. An exception from it is dropped: no one waits for it.
  void RunRaised();

 private:
  const std::function<void()> Call;
  std::atomic<bool> Raised{false};          // queued on a hand-off, not yet running
  std::atomic<TUiThread*> Queue{nullptr};  // the hand-off it was last queued on
};

class TUiThread {
 public:
  virtual ~TUiThread() = default;
  // Runs call on the UI thread; blocks the calling thread until it has run. An
  // exception thrown by call is rethrown in the calling thread. Called on the UI thread
  // itself, it runs the call at once.
  virtual void InvokeAndWait(const std::function<void()>& call) = 0;
  // Runs the calls and notifications waiting for the UI thread, waiting at most timeoutMs
  // (negative: no limit) for one to arrive or for Wake. Only the UI thread calls it.
  virtual void PumpUiCalls(int timeoutMs) = 0;
  // Makes the current (or the next) PumpUiCalls return early. Any thread.
  virtual void Wake() = 0;
  // TUiNotification only: queue a raised notification / take back one not yet run.
  virtual void Post(TUiNotification& notification) = 0;
  virtual void Withdraw(TUiNotification& notification) = 0;
};

// The process's hand-off. Until SetUiThread is called it is a TDirectUiThread. Set it
// before any worker runs and keep the object alive while workers may use it; passing
// nullptr restores the default.
TUiThread& UiThread();
void SetUiThread(TUiThread* uiThread);

// Calls posted by workers wait in a queue until the UI thread (the thread that
// constructed the object) pumps them. This is how a real UI thread behaves; tests use it
// to hold workers inside a hand-off.
class TQueuedUiThread final : public TUiThread {
 public:
  TQueuedUiThread();
  ~TQueuedUiThread() override;

  void InvokeAndWait(const std::function<void()>& call) override;
  void PumpUiCalls(int timeoutMs) override;
  void Wake() override;
  void Post(TUiNotification& notification) override;
  void Withdraw(TUiNotification& notification) override;

  // Waits at most timeoutMs (negative: no limit) until at least count calls (not
  // notifications) are waiting, without running them. True when they are. For tests that
  // hold workers in a hand-off.
  bool WaitForPendingCalls(size_t count, int timeoutMs);

 private:
  struct TPendingCall;
  struct TEntry {
    TPendingCall* Call = nullptr;            // a waiting InvokeAndWait, or
    TUiNotification* Notification = nullptr;  // a raised notification
  };

  const std::thread::id UiThreadId;
  // Owner: this object. A leaf lock: never held while a call runs.
  std::mutex Lock;
  std::condition_variable CallPosted;     // signalled on post and on Wake
  std::condition_variable CallDone;       // signalled when a call has run
  std::deque<TEntry> Queue;               // guarded by Lock
  size_t WaitingCalls = 0;                // guarded by Lock: entries of Queue with a Call
  bool Woken = false;                     // guarded by Lock
};

// Runs every call on the calling thread, under one lock, so that calls never overlap,
// as they would not on a UI thread. A raised notification runs at once on the raising
// thread, or, when another thread is inside a call, on that thread right after its call
// (the raiser does not wait). For front ends without thread-affine state (the
// command-line program): a hand-off costs one uncontended lock. A call may itself hand
// off (the lock is recursive).
class TDirectUiThread final : public TUiThread {
 public:
  void InvokeAndWait(const std::function<void()>& call) override;
  // Runs raised notifications, then waits for Wake or the time-out.
  void PumpUiCalls(int timeoutMs) override;
  void Wake() override;
  void Post(TUiNotification& notification) override;
  void Withdraw(TUiNotification& notification) override;

 private:
  // Runs the raised notifications in order. CallLock held, CallDepth 0.
  void RunRaised();
  // Runs the raised notifications unless another thread is inside a call (it runs them
  // when its call ends) or this thread is (they run when the outer call ends).
  void RunRaisedIfIdle();

  // The outermost lock of the program (see the order above): held while a call or a
  // notification runs.
  std::recursive_mutex CallLock;
  int CallDepth = 0;  // guarded by CallLock: calls and notification runs in progress
  // A leaf lock for the raised notifications.
  TLock RaisedLock;
  std::deque<TUiNotification*> Raised GUARDED_BY(RaisedLock);
  // A leaf lock for the wake flag.
  std::mutex WakeLock;
  std::condition_variable WakeSignal;
  bool Woken = false;  // guarded by WakeLock
};
