#pragma once
// The OS threads that run one search manager's workers. Threads are created on demand
// and kept for reuse until Shutdown, so a search of many small folders does not pay a
// thread creation per folder. Jobs run in the order they were submitted; how many run
// at once is the manager's business (it submits at most MaxThreads workers at a time,
// plus workers that are finishing).
//
// Lock: the innermost of the order written in os/ui_thread.h (taken under the
// manager's QueueLock by Submit); no job runs while it is held.
//
// Deadlock hazard: Shutdown waits for every job, so it must not run inside a job, nor
// on a thread that a job waits for.
#include <condition_variable>
#include <system_error>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class TWorkerPool {
 public:
  TWorkerPool() = default;
  ~TWorkerPool();  // Shutdown
  TWorkerPool(const TWorkerPool&) = delete;
  TWorkerPool& operator=(const TWorkerPool&) = delete;

  // Queues job for a pool thread and returns at once; a job must not throw. When no
  // thread is free a new one is created, unless the pool holds threadLimit threads
  // already (0: no limit); if the limit is reached, or creating fails while other
  // threads exist, the job waits for one of them. Throws std::system_error, with the job
  // not queued, only when the pool has no thread at all and none can be created.
  void Submit(std::function<void()> job, size_t threadLimit = 0);

  // Runs every job already queued, then ends and joins every thread. Not from a job.
  void Shutdown();

  // Threads created so far (for tests and benchmarks).
  size_t ThreadCount();

  // For tests: while set, creating a thread fails as it does when the system has none to
  // give, so the callers' recovery from a failed start can be reached.
  void FailThreadStarts(bool fail);

 private:
  void ThreadMain();

  std::mutex Lock;
  std::condition_variable JobReady;
  std::deque<std::function<void()>> Jobs;  // guarded by Lock
  std::vector<std::thread> Threads;        // guarded by Lock
  size_t IdleThreads = 0;                  // guarded by Lock: threads waiting for a job
  bool Stopping = false;                   // guarded by Lock
  bool FailStarts = false;                 // guarded by Lock
};
