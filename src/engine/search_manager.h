#pragma once
// Runs the searches of one search page, one after another. It keeps a first-in-first-out
// queue of tasks and runs, for the oldest, one worker at a time while fewer than
// MaxThreads run: a network worker for a task with an empty Path, a folder walker
// otherwise. Workers feed the queue with the sub-folders, shares and containers they
// find, so a tree is searched breadth-first by at most MaxThreads workers at once.
//
// A pool thread whose worker ends counts it out and, when a task waits, makes and runs
// the next worker itself: while the queue is not empty no thread hands work to another.
// The page hears of ended workers through OnThreadChange, raised without waiting (runs
// merge while the UI thread is busy); the end that finishes the search is handed to the
// UI thread synchronously, after every notification raised before it, so the page sees
// IsFinished only once the last results and log lines have been announced.
//
// Threads: AddTask from any thread; Stop, IsFinished, the destructor and everything else
// on the UI thread (the thread that runs UiThread()'s calls). A search is over when
// IsFinished holds in an OnThreadChange handler.
//
// Stop is final until the next search: tasks added after it, while workers of the
// stopped search still end, are freed and not started. The next AddTask on an idle
// manager starts a new search.
//
// Destroying the manager stops the search and waits until every worker has been
// destroyed, pumping UiThread() meanwhile; the result store and the error log must
// outlive it.
//
// Politeness: with MaxPerServer above 0, at most that many workers run at once on tasks of
// one server (its shares' folders, or the listing of its shares), however many threads
// are free. A waiting task whose server is at its limit is passed over, and starts, in
// its turn among that server's tasks, when one of the server's workers ends; tasks of
// other servers and local folders start meanwhile. Each task is passed over at most once,
// so a long queue of one busy server costs nothing per start.
//
// Locks: QueueLock, in the order written in os/ui_thread.h. It is held only
// briefly and never while waiting for another thread or raising a notification.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <mutex>
#include <vector>

#include "engine/search_task.h"
#include "engine/worker_host.h"
#include "engine/worker_pool.h"
#include "os/thread_annotations.h"
#include "os/ui_thread.h"

class TSearchThread;
class TResultManager;
class TLogger;

class TSearchManager final : public TWorkerHost {
 public:
  using TThreadChangeEvent = std::function<void(TSearchManager*)>;
  // Creates the worker for a task. The default makes a TWNetThread for an empty Path and
  // a TFileThread otherwise.
  using TWorkerFactory =
      std::function<std::unique_ptr<TSearchThread>(TSearchManager&, PSearchTask)>;

  TSearchManager(TResultManager& resultStore, TLogger& errorLog);
  ~TSearchManager();
  TSearchManager(const TSearchManager&) = delete;
  TSearchManager& operator=(const TSearchManager&) = delete;

  // Set once by the owner before the first search; raised on the UI thread.
  TThreadChangeEvent OnThreadChange;
  // Most workers running at once (values below 1 count as 1). The page sets it before
  // every search; lowering it during a search only delays further starts.
  std::atomic<int32_t> MaxThreads{4};
  // Most workers running at once on one server's tasks; 0 (the default): no limit. Set
  // before a search starts, not during one.
  std::atomic<int32_t> MaxPerServer{0};

  // Workers started and not yet counted out. Any thread.
  int32_t ActiveThreads() const { return ActiveCount.load(std::memory_order_acquire); }
  // Workers counted out since the manager was made (a progress figure). Any thread.
  uint64_t EndedWorkers() const { return EndedCount.load(std::memory_order_relaxed); }

  // Takes the task; queues it and starts a worker if a slot is free. Any thread. A task
  // added while a stopped search is still ending is freed. Throws std::system_error when
  // no worker thread can be created at all; the task is then freed.
  void AddTask(PSearchTask task) override;
  void AddTasks(std::vector<PSearchTask>& tasks) override;
  // Frees every queued task and sets the stop flag of every running worker; returns at
  // once. Stopping an idle manager changes nothing.
  void Stop();
  // No worker active, nothing queued, and the end that finished the search has reached
  // the UI thread.
  bool IsFinished() const;
  // Raises OnThreadChange with this manager, if set. UI thread.
  void DoThreadChange();

  void RaiseThreadChange() override { ThreadChangeNotice.Raise(); }
  void RaiseResultsChanged() override { ResultsNotice.Raise(); }
  void RaiseLogChanged() override { LogNotice.Raise(); }

  TResultManager& ResultStore;  // handed to every worker; not owned
  TLogger& ErrorLog;            // handed to every worker; not owned

  // Replaces the default worker factory. Before the first AddTask.
  void SetWorkerFactory(TWorkerFactory factory) { WorkerFactory = std::move(factory); }
  // The pool that runs the workers (tests make its thread starts fail).
  TWorkerPool& WorkerPool() { return Pool; }

 private:
  // Starts workers for waiting tasks while slots are free.
  void StartWorkers() REQUIRES(QueueLock);
  // The oldest task's worker, counted as active, when a slot is free; else null.
  std::unique_ptr<TSearchThread> TakeNextWorker() REQUIRES(QueueLock);
  // A pool thread's job: runs worker, then each next worker this thread takes on.
  void RunWorkers(TSearchThread* worker);
  std::unique_ptr<TSearchThread> CreateWorker(PSearchTask task);
  // The oldest task that may start now, taken from the queue (null when none may): with a
  // per-server limit, passed-over tasks of servers that have room come first (they are
  // older than the queue's front), and the queue's tasks of full servers are passed over.
  // server is set to the task's server when the limit counts it.
  PSearchTask TakeNextTask(std::string& server) REQUIRES(QueueLock);
  // Whether fewer than limit workers run on server.
  bool ServerHasRoom(int32_t limit, const std::string& server) const REQUIRES(QueueLock);
  // Removes Threads[index], counting it out of ActiveCount and of its server.
  void CountOut(size_t index) REQUIRES(QueueLock);
  // Nothing waits to start: neither queued nor passed over.
  bool NothingWaits() const REQUIRES(QueueLock) { return Queue.empty() && PassedOverCount == 0; }

  // A running worker, and the server its task counts against ("" for none).
  struct TRunning {
    TSearchThread* Worker;
    std::string Server;
  };
  // A task passed over because its server was at its limit, numbered in the order it was
  // passed over (which is the queue's order).
  struct TPassedOver {
    uint64_t Number;
    PSearchTask Task;
  };

  TWorkerFactory WorkerFactory;

  // Owner: this manager. Guards the fields below it; order in os/ui_thread.h.
  mutable TLock QueueLock;
  std::deque<PSearchTask> Queue GUARDED_BY(QueueLock);        // owns the waiting tasks
  std::vector<TRunning> Threads GUARDED_BY(QueueLock);  // running workers, not owned
  // Per server: its tasks passed over, oldest first; each older than Queue's front.
  std::map<std::string, std::deque<TPassedOver>> PassedOver GUARDED_BY(QueueLock);
  size_t PassedOverCount GUARDED_BY(QueueLock) = 0;      // tasks in PassedOver
  uint64_t PassedOverNumber GUARDED_BY(QueueLock) = 0;   // the next TPassedOver::Number
  std::map<std::string, int32_t> ServerWorkers GUARDED_BY(QueueLock);  // running, per server
  std::atomic<int32_t> ActiveCount{0};    // changed only under QueueLock
  std::atomic<uint64_t> EndedCount{0};    // changed only under QueueLock
  bool Stopped GUARDED_BY(QueueLock) = false;      // Stop holds until the next search
  int32_t BusyRunners GUARDED_BY(QueueLock) = 0;   // pool jobs not yet done
  // Ends that finished a search and are not yet handed to the UI thread.
  int32_t FinishesPending GUARDED_BY(QueueLock) = 0;

  // The page's notifications; withdrawn, if still waiting, when the manager goes.
  TUiNotification ThreadChangeNotice;
  TUiNotification ResultsNotice;
  TUiNotification LogNotice;

  TWorkerPool Pool;  // last: its threads end before the fields above go away
};
