#pragma once
// Runs the searches of one search page, one after another. It keeps a first-in-first-out
// queue of tasks and starts, for the oldest, one worker at a time while fewer than
// MaxThreads run: a network worker for a task with an empty Path, a folder walker
// otherwise. Workers feed the queue with the sub-folders, shares and containers they
// find, so a tree is searched breadth-first by at most MaxThreads workers at once.
//
// Threads: AddTask from any thread; Stop, IsFinished, the destructor and everything else
// on the UI thread (the thread that runs UiThread()'s calls). Workers raise
// OnThreadChange on the UI thread: when a network worker starts and after every worker
// has ended. A search is over when IsFinished holds in that handler.
//
// Stop is final until the next search: tasks added after it, while workers of the
// stopped search still end, are freed and not started. The next AddTask on an idle
// manager starts a new search.
//
// Destroying the manager stops the search and waits until every worker has been
// destroyed, pumping UiThread() meanwhile; the result store and the error log must
// outlive it.
//
// Lock order: UI hand-off lock (direct kind) -> QueueLock -> the pool's lock.
// QueueLock is held only briefly and never while waiting for another thread.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/search_task.h"
#include "engine/worker_pool.h"

class TSearchThread;
class TResultManager;
class TLogger;

class TSearchManager {
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

  // Workers started whose end handler has not run yet. Any thread.
  int32_t ActiveThreads() const { return ActiveCount.load(std::memory_order_acquire); }

  // Takes the task; queues it and starts a worker if a slot is free. Any thread. A task
  // added while a stopped search is still ending is freed. Throws std::system_error when
  // no worker thread can be created at all; the task is then freed.
  void AddTask(PSearchTask task);
  // Frees every queued task and sets the stop flag of every running worker; returns at
  // once. Stopping an idle manager changes nothing.
  void Stop();
  // No worker active and nothing queued.
  bool IsFinished() const;
  // The end handler of every worker; runs on the UI thread after the worker's run.
  void ThreadTerminated(TSearchThread* sender);
  // A worker that ran is being destroyed (its own thread): runs ThreadTerminated for it
  // and then OnThreadChange in one hand-off to the UI thread, so the page hears of the
  // end after the count has dropped and any successor has started. Rethrows a failure
  // of the handler; a successor that could not be started is not one.
  void WorkerEnded(TSearchThread* worker);
  // Raises OnThreadChange with this manager, if set. UI thread (workers hand it off).
  void DoThreadChange();

  TResultManager& ResultStore;  // handed to every worker; not owned
  TLogger& ErrorLog;            // handed to every worker; not owned

  // Replaces the default worker factory. Before the first AddTask.
  void SetWorkerFactory(TWorkerFactory factory) { WorkerFactory = std::move(factory); }

 private:
  void StartNextThread();  // QueueLock held
  void RunWorker(TSearchThread* worker);
  std::unique_ptr<TSearchThread> CreateWorker(PSearchTask task);

  TWorkerFactory WorkerFactory;

  // Owner: this manager. Guards the fields below it; see the lock order above.
  mutable std::mutex QueueLock;
  std::deque<PSearchTask> Queue;          // guarded by QueueLock; owns the waiting tasks
  std::vector<TSearchThread*> Threads;    // guarded by QueueLock; running, not owned
  std::atomic<int32_t> ActiveCount{0};    // changed only under QueueLock
  bool Stopped = false;                   // guarded by QueueLock: Stop until next search
  int32_t LiveWorkers = 0;                // guarded by QueueLock: created, not destroyed

  TWorkerPool Pool;  // last: its threads end before the fields above go away
};
