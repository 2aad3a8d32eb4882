#pragma once
// TSearchThread: the common base of a search's workers (the folder walker and the
// network enumerator). A worker runs one task on a pool thread of its manager; it holds
// references to the manager, the page's result store and error log, owns none of them,
// and is destroyed by the manager right after its run and its end handler.
//
// Life of a worker: created by TSearchManager::StartNextThread -> Execute on a pool
// thread (Run, unless the stop flag is already set; any exception ends the run) ->
// destructor on the same pool thread: a derived worker's own clean-up, then one hand-off
// to the UI thread that runs the manager's ThreadTerminated and then its OnThreadChange,
// then the task and the undelivered results are freed.
//
// Threads: everything but Terminate and Terminated belongs to the worker's own thread;
// the batch needs no lock. Delivery takes the result store's Lock ("RESULT_MUTEX") and
// keeps it while the UI thread runs the store's Changed.
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/search_task.h"
#include "results/search_result.h"

class TSearchManager;
class TResultManager;
class TLogger;

class TSearchThread {
 public:
  TSearchThread(TSearchManager& manager, PSearchTask task, TResultManager& resultStore,
                TLogger& errorLog);
  // For a worker that ran: runs the manager's end handler and then raises its
  // OnThreadChange, both in one hand-off to the UI thread. Then frees the task and drops
  // every result still in the batch.
  virtual ~TSearchThread();
  TSearchThread(const TSearchThread&) = delete;
  TSearchThread& operator=(const TSearchThread&) = delete;

  // Sets the stop flag. Any thread. The run notices it at its next check.
  void Terminate() { StopFlag.store(true, std::memory_order_relaxed); }
  bool Terminated() const { return StopFlag.load(std::memory_order_relaxed); }

  // Runs the task unless the stop flag is set; every exception ends the run quietly
  // (failures inside workers never reach the user except as lines of the error log).
  // Called once, by the manager, on a pool thread.
  void Execute();

  // The task back from a worker that was never started. Manager only.
  PSearchTask TakeTask() { return std::move(Task); }

  // When the batch is full it grows by a quarter above 64 slots, by 16 above 8, else by 4.
  static int32_t GrownCapacity(int32_t capacity);

 protected:
  // The worker's job; runs on the worker's thread.
  virtual void Run() = 0;

  // Appends a found file to the private batch.
  void BufferResult(PSearchResult result);
  // Delivers the batch: takes the store's Lock (waiting at most 20 ms, or without limit
  // when wait is true; on a time-out the batch stays and is offered again later), moves
  // the batch into the store, runs the store's Changed on the UI thread and waits, then
  // releases Lock. Runs even for an empty batch, so the store hears from every pass.
  void FlushResults(bool wait);

  // The notifications, each run on the UI thread while this worker waits.
  void NotifyThreadChange();     // the manager's OnThreadChange
  void NotifyResultsChanged();   // the result store's Changed
  void NotifyLogChanged();       // the error log's Changed
  // Runs call on the UI thread and waits for it.
  void Synchronize(const std::function<void()>& call);

  PSearchTask Task;                 // owned; freed by the destructor
  TSearchManager& Manager;          // receives child tasks
  TResultManager& ResultStore;      // not owned
  TLogger& ErrorLog;                // not owned
  int32_t BufferCount = 0;          // found files waiting in Buffer
  int32_t BufferCapacity = 0;       // slots in Buffer
  std::vector<PSearchResult> Buffer;  // BufferCapacity slots, the first BufferCount filled

 private:
  std::atomic<bool> StopFlag{false};
  bool Started = false;  // Execute was called: the destructor notifies
};
