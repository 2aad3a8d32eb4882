#pragma once
// The UI hand-off over Qt's event loop. A worker's InvokeAndWait queues its call, wakes
// the GUI thread with one queued Qt call and sleeps until the call has run there; a
// raised notification is queued the same way and its worker goes on at once. One queued
// Qt call runs every call and notification waiting, in order.
//
// Nesting: while a handed-off call runs (for instance one that shows a modal message
// box, whose nested event loop keeps the window painting), further calls and
// notifications are not run from that nested loop, and a worker that raises a
// notification meanwhile is held until the running call returns: a modal box shown by a
// call holds every worker at its next hand-off. PumpUiCalls is the exception: a thread
// that waits for workers (a search manager being destroyed) must be able to drain every
// call, nested or not, and it releases the held workers, or it would wait forever.
//
// Pacing: a search raises notifications tens of thousands of times a second, and every
// wake-up of the event loop costs the GUI thread tens of microseconds before anything
// runs; on a machine with as many cores as workers that time is taken from the workers.
// So a drain that would start within kDrainGap of the last one's end, with only
// notifications waiting, is put off until then; what is raised meanwhile runs in that
// drain, in order. A waiting InvokeAndWait is never put off: it wakes the loop at once
// and its drain runs everything raised before it first.
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

#include "os/ui_thread.h"

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
  void Post(TUiNotification& notification) override;
  void Withdraw(TUiNotification& notification) override;

 private:
  struct TPendingCall {
    const std::function<void()>* Call = nullptr;
    bool Done = false;               // guarded by CallsLock
    std::exception_ptr Error;        // written before Done
    std::condition_variable Ran;     // wakes this call's worker only
  };

  struct TEntry {
    TPendingCall* Call = nullptr;              // a waiting InvokeAndWait, or
    TUiNotification* Notification = nullptr;  // a raised notification
  };

  // Runs the waiting calls and notifications one after another, unless a call is already
  // running and nestedAllowed is false. It returns to the event loop after kDrainSlice,
  // so that the window still paints and takes input while a search streams results.
  // GUI thread only.
  void RunPendingCalls(bool nestedAllowed);
  // Queues entry and asks the event loop for a drain when none is asked for yet.
  void Enqueue(std::unique_lock<std::mutex>& lock, TEntry entry);
  // Asks the GUI thread's event loop for one RunPendingCalls.
  void PostWake();
  // A wake-up's drain: RunPendingCalls, or the same after the rest of kDrainGap when only
  // notifications wait and the last drain ended less than kDrainGap ago. GUI thread only.
  void PacedDrain();

  static constexpr std::chrono::milliseconds kDrainSlice{10};
  static constexpr std::chrono::milliseconds kDrainGap{10};

  std::thread::id GuiThread;
  std::unique_ptr<QObject> Receiver;  // lives on the GUI thread; target of the wake-ups

  // CallsLock is a leaf lock (see the order in os/ui_thread.h): nothing else is
  // taken while it is held, and no call runs under it.
  std::mutex CallsLock;
  std::condition_variable CallArrived;  // a call was queued (PumpUiCalls waits on it)
  std::condition_variable CallEnded;    // a call returned or a pump began (held raisers)
  std::deque<TEntry> Pending;           // guarded by CallsLock
  bool WakePosted = false;              // guarded by CallsLock: a drain is asked for or running
  bool Woken = false;                   // guarded by CallsLock
  int CallsRunning = 0;                 // guarded by CallsLock: handed-off calls running
  int Pumps = 0;                        // guarded by CallsLock: PumpUiCalls in progress
  bool WakeIsPaced = false;             // guarded by CallsLock: the asked-for drain waits for kDrainGap
  bool Running = false;                 // GUI thread only: a call or notification is running
  std::chrono::steady_clock::time_point LastDrainEnd;  // GUI thread only
};
