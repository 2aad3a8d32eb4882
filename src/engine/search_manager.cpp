#include "engine/search_manager.h"

#include <algorithm>

#include "engine/file_thread.h"
#include "engine/search_thread.h"
#include "engine/wnet_thread.h"
#include "results/logger.h"
#include "results/result_manager.h"

namespace {
// How long a destroying manager waits for a hand-off or a wake-up before it looks again.
constexpr int kDestroyPumpMs = 50;
}

TSearchManager::TSearchManager(TResultManager& resultStore, TLogger& errorLog)
    : ResultStore(resultStore),
      ErrorLog(errorLog),
      // A merged change that runs after the search has finished says nothing new: the
      // end that finished it is handed over on its own, after it.
      ThreadChangeNotice([this] {
        if (!IsFinished()) DoThreadChange();
      }),
      ResultsNotice([this] { ResultStore.Changed(); }),
      LogNotice([this] { ErrorLog.Changed(); }) {}

TSearchManager::~TSearchManager() {
  Stop();
  for (;;) {
    {
      TLockGuard lock(QueueLock);
      if (BusyRunners == 0) break;
    }
    // Workers may be waiting in a hand-off to this (the UI) thread.
    UiThread().PumpUiCalls(kDestroyPumpMs);
  }
  Pool.Shutdown();
}

std::unique_ptr<TSearchThread> TSearchManager::CreateWorker(PSearchTask task) {
  if (WorkerFactory) return WorkerFactory(*this, std::move(task));
  if (task->Path.empty()) return CreateWNetThread(*this, std::move(task), ResultStore, ErrorLog);
  return std::make_unique<TFileThread>(*this, std::move(task), ResultStore, ErrorLog);
}

void TSearchManager::AddTask(PSearchTask task) {
  if (!task) return;
  std::vector<PSearchTask> tasks;
  tasks.push_back(std::move(task));
  AddTasks(tasks);
}

void TSearchManager::AddTasks(std::vector<PSearchTask>& tasks) {
  TLockGuard lock(QueueLock);
  if (Stopped) {
    // A worker of the stopped search may still hand in sub-tasks: drop them. With no
    // worker active, this is the first task of a new search.
    if (ActiveCount.load() > 0) {
      tasks.clear();
      return;
    }
    Stopped = false;
  }
  for (PSearchTask& task : tasks) {
    if (task) Queue.push_back(std::move(task));
  }
  tasks.clear();
  StartWorkers();
}

std::unique_ptr<TSearchThread> TSearchManager::TakeNextWorker() {
  if (ActiveCount.load() >= std::max<int32_t>(1, MaxThreads.load()) || Queue.empty()) return nullptr;
  PSearchTask task = std::move(Queue.front());
  Queue.pop_front();
  std::unique_ptr<TSearchThread> worker = CreateWorker(std::move(task));
  ActiveCount.fetch_add(1);
  Threads.push_back(worker.get());
  return worker;
}

void TSearchManager::StartWorkers() {
  while (std::unique_ptr<TSearchThread> worker = TakeNextWorker()) {
    TSearchThread* raw = worker.get();
    ++BusyRunners;
    try {
      Pool.Submit([this, raw] { RunWorkers(raw); });
      worker.release();  // the pool job owns it now
    } catch (...) {
      // The worker never runs, so it is never counted out: undo the count.
      Threads.pop_back();
      ActiveCount.fetch_sub(1);
      --BusyRunners;
      PSearchTask back = worker->TakeTask();
      worker.reset();
      if (ActiveCount.load() > 0) {
        // A running worker's end starts it again.
        Queue.push_front(std::move(back));
        return;
      }
      // Nothing runs that could start it later: give up this search so it can complete.
      Queue.clear();
      throw;
    }
  }
}

void TSearchManager::RunWorkers(TSearchThread* first) {
  std::unique_ptr<TSearchThread> worker(first);
  while (worker) {
    TSearchThread* const ended = worker.get();
    worker->Execute();
    worker.reset();  // the worker's own clean-up, before it is counted out
    bool finished = false;
    {
      TLockGuard lock(QueueLock);
      auto found = std::find(Threads.begin(), Threads.end(), ended);
      if (found != Threads.end()) Threads.erase(found);
      ActiveCount.fetch_sub(1);
      EndedCount.fetch_add(1, std::memory_order_relaxed);
      try {
        worker = TakeNextWorker();
      } catch (...) {
        // The next worker could not be made: its task is lost, as when a worker cannot
        // be created for AddTask; the search goes on with the others.
      }
      finished = ActiveCount.load() == 0 && Queue.empty();
      if (finished) ++FinishesPending;
    }
    if (!finished) {
      RaiseThreadChange();
      continue;
    }
    // The page must hear of the end that finished the search after everything raised
    // before it: a synchronous hand-off runs after those. Until it runs, IsFinished is
    // false, so no handler that runs earlier can end the search on the page.
    bool announced = false;
    try {
      UiThread().InvokeAndWait([this, &announced] {
        {
          TLockGuard lock(QueueLock);
          --FinishesPending;
        }
        announced = true;
        DoThreadChange();
      });
    } catch (...) {
      // A failing handler must not keep the next worker from running.
    }
    if (!announced) {
      TLockGuard lock(QueueLock);
      --FinishesPending;
    }
  }
  {
    TLockGuard lock(QueueLock);
    --BusyRunners;
  }
  UiThread().Wake();
}

void TSearchManager::Stop() {
  std::deque<PSearchTask> dropped;
  {
    TLockGuard lock(QueueLock);
    if (ActiveCount.load() == 0 && Queue.empty()) return;  // idle: nothing changes
    Stopped = true;
    dropped.swap(Queue);
    for (TSearchThread* worker : Threads) worker->Terminate();
  }
  // The dropped tasks are freed here, outside the lock.
}

bool TSearchManager::IsFinished() const {
  TLockGuard lock(QueueLock);
  return ActiveCount.load() == 0 && Queue.empty() && FinishesPending == 0;
}

void TSearchManager::DoThreadChange() {
  if (OnThreadChange) OnThreadChange(this);
}
