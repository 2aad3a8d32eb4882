#pragma once
// The synchronous hand-off from a worker thread to the UI thread: InvokeAndWait runs a
// call on the UI thread and returns when it has run. Workers reach the user interface
// only through it. The GUI installs an implementation over Qt's event loop; tests and
// the command-line front end install one of their own.
//
// Deadlock hazard: a thread that waits for workers (a search manager being destroyed)
// must keep pumping the hand-off (PumpUiCalls), or a worker blocked in InvokeAndWait
// can never finish.
#include <functional>

class TUiThread {
 public:
  virtual ~TUiThread() = default;
  // Runs call on the UI thread; blocks the calling thread until it has run. Called on
  // the UI thread itself, it runs the call at once.
  virtual void InvokeAndWait(const std::function<void()>& call) = 0;
  // Runs the calls waiting for the UI thread, waiting at most timeoutMs for one to
  // arrive. Only the UI thread calls it.
  virtual void PumpUiCalls(int timeoutMs) = 0;
};

// The process's hand-off. Set once at start-up, before any worker runs.
TUiThread& UiThread();
void SetUiThread(TUiThread* uiThread);
