#pragma once
// The synchronous hand-off from a worker thread to the UI thread: InvokeAndWait runs a
// call on the UI thread and returns when it has run. Workers reach the user interface
// only through it. The GUI installs an implementation over Qt's event loop; tests and
// the command-line front end install one of the two below.
//
// Deadlock hazard: a thread that waits for workers (a search manager being destroyed)
// must keep pumping the hand-off (PumpUiCalls), or a worker blocked in InvokeAndWait
// can never finish. Nothing that runs inside a hand-off call may wait for a worker.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class TUiThread {
 public:
  virtual ~TUiThread() = default;
  // Runs call on the UI thread; blocks the calling thread until it has run. An
  // exception thrown by call is rethrown in the calling thread. Called on the UI thread
  // itself, it runs the call at once.
  virtual void InvokeAndWait(const std::function<void()>& call) = 0;
  // Runs the calls waiting for the UI thread, waiting at most timeoutMs (negative: no
  // limit) for one to arrive or for Wake. Only the UI thread calls it.
  virtual void PumpUiCalls(int timeoutMs) = 0;
  // Makes the current (or the next) PumpUiCalls return early. Any thread.
  virtual void Wake() = 0;
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

  // Waits at most timeoutMs (negative: no limit) until at least count calls are waiting,
  // without running them. True when they are. For tests that hold workers in a hand-off.
  bool WaitForPendingCalls(size_t count, int timeoutMs);

 private:
  struct TPendingCall;

  const std::thread::id UiThreadId;
  // Owner: this object. A leaf lock: never held while a call runs.
  std::mutex Lock;
  std::condition_variable CallPosted;     // signalled on post and on Wake
  std::condition_variable CallDone;       // signalled when a call has run
  std::deque<TPendingCall*> Calls;        // guarded by Lock
  bool Woken = false;                     // guarded by Lock
};

// Runs every call on the calling thread, under one lock, so that calls never overlap,
// as they would not on a UI thread. For front ends without thread-affine state (the
// command-line program): a hand-off costs one uncontended lock. A call may itself
// hand off (the lock is recursive).
class TDirectUiThread final : public TUiThread {
 public:
  void InvokeAndWait(const std::function<void()>& call) override;
  // Nothing is ever queued: waits for Wake or the time-out.
  void PumpUiCalls(int timeoutMs) override;
  void Wake() override;

 private:
  // Owner: this object. Held while a call runs; ordered before every lock that a call
  // takes (the manager's QueueLock, the result store's handler state).
  std::recursive_mutex CallLock;
  // A leaf lock for the wake flag.
  std::mutex WakeLock;
  std::condition_variable WakeSignal;
  bool Woken = false;  // guarded by WakeLock
};
