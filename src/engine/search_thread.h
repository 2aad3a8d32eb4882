#pragma once
// TSearchThread: the common base of a search's workers (the folder walker and the
// network enumerator). A worker runs one task on a pool thread of its manager; it holds
// references to the manager (through TWorkerHost), the page's result store and error log,
// owns none of them, and is destroyed by the manager right after its run.
//
// Life of a worker: created by the manager when a slot is free -> Execute on a pool
// thread (Run, unless the stop flag is already set; any exception ends the run) ->
// destructor on the same pool thread (a derived worker's own clean-up; the task and the
// undelivered results are freed) -> the manager counts it out, starts the next task on
// the same thread when one waits, and raises the page's OnThreadChange.
//
// Threads: everything but Terminate and Terminated belongs to the worker's own thread;
// the batch needs no lock. Delivery appends the batch to the store under the store's
// Lock ("RESULT_MUTEX", a leaf lock: see os/ui_thread.h for the order), releases it,
// and then raises the store's Changed; no worker waits for the UI thread to deliver.
#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/search_task.h"
#include "engine/worker_host.h"
#include "results/search_result.h"

class TResultManager;
class TLogger;

class TSearchThread {
 public:
  TSearchThread(TWorkerHost& manager, PSearchTask task, TResultManager& resultStore,
                TLogger& errorLog);
  // Frees the task and drops every result still in the batch.
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
  // the batch into the store, releases Lock and raises the store's Changed. An empty
  // batch changes nothing and raises nothing. A store with a Sink gets no batch: the sink
  // takes it at once, without Lock, and the store's Changed is raised as after a delivery.
  void FlushResults(bool wait);

  PSearchTask Task;                 // owned; freed by the destructor
  TWorkerHost& Manager;             // receives child tasks and the notifications
  TResultManager& ResultStore;      // not owned
  TLogger& ErrorLog;                // not owned
  int32_t BufferCount = 0;          // found files waiting in Buffer
  int32_t BufferCapacity = 0;       // slots in Buffer
  std::vector<PSearchResult> Buffer;  // BufferCapacity slots, the first BufferCount filled

 private:
  std::atomic<bool> StopFlag{false};
};
