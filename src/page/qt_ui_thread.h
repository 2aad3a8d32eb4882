#pragma once
// The UI hand-off over Qt's event loop. A worker's InvokeAndWait queues its call, wakes
// the GUI thread with one queued Qt call and sleeps until the call has run there.
//
// Nesting: while a handed-off call runs (for instance one that shows a modal message
// box, whose nested event loop keeps the window painting), further calls are not run
// from that nested loop; their workers keep waiting until the running call returns.
// PumpUiCalls is the exception: a thread that waits for workers (a search manager being
// destroyed) must be able to drain every call, nested or not, or it would wait forever.
//
// Create on the GUI thread after the QApplication; install with SetUiThread. Destroy
// only when no worker can call any more.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/ui_thread.h"

class QObject;

class TQtUiThread : public TUiThread {
 public:
  TQtUiThread();
  ~TQtUiThread() override;
  TQtUiThread(const TQtUiThread&) = delete;
  TQtUiThread& operator=(const TQtUiThread&) = delete;

  // Any thread. On the GUI thread the call runs at once. An exception thrown by the
  // call is rethrown in the waiting thread.
  void InvokeAndWait(const std::function<void()>& call) override;
  // GUI thread only: waits at most timeoutMs (negative: no limit) for a call to arrive
  // or for Wake, then runs every call waiting, even inside another handed-off call.
  void PumpUiCalls(int timeoutMs) override;
  // Any thread: ends the current or the next wait of PumpUiCalls.
  void Wake() override;

 private:
  struct TPendingCall {
    const std::function<void()>* Call = nullptr;
    bool Done = false;               // guarded by CallsLock
    std::exception_ptr Error;        // written before Done
    std::condition_variable Ran;     // wakes this call's worker only
  };

  // Runs the waiting calls one after another, unless a call is already running and
  // nestedAllowed is false. It keeps going while calls keep coming (waiting kLinger for
  // the next one) but returns to the event loop after kDrainSlice, so that the window
  // still paints and takes input while a search streams results. GUI thread only.
  void RunPendingCalls(bool nestedAllowed);
  // Asks the GUI thread's event loop for one RunPendingCalls.
  void PostWake();

  static constexpr std::chrono::microseconds kLinger{300};
  static constexpr std::chrono::milliseconds kDrainSlice{10};

  std::thread::id GuiThread;
  std::unique_ptr<QObject> Receiver;  // lives on the GUI thread; target of the wake-ups

  // CallsLock is a leaf lock: nothing else is taken while it is held, and no call runs
  // under it.
  std::mutex CallsLock;
  std::condition_variable CallArrived;  // a call was queued (PumpUiCalls waits on it)
  std::deque<TPendingCall*> Pending;    // guarded by CallsLock
  bool WakePosted = false;              // guarded by CallsLock: a drain is asked for or running
  bool Woken = false;                   // guarded by CallsLock
  bool Running = false;                 // GUI thread only: a handed-off call is running
};
