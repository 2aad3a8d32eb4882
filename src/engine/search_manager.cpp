#include "engine/search_manager.h"

#include <algorithm>

#include "engine/file_thread.h"
#include "engine/search_thread.h"
#include "engine/wnet_thread.h"
#include "platform/ui_thread.h"

namespace {
// How long a destroying manager waits for a hand-off or a wake-up before it looks again.
constexpr int kDestroyPumpMs = 50;
}

TSearchManager::TSearchManager(TResultManager& resultStore, TLogger& errorLog)
    : ResultStore(resultStore), ErrorLog(errorLog) {}

TSearchManager::~TSearchManager() {
  Stop();
  std::unique_lock<std::mutex> lock(QueueLock);
  while (LiveWorkers > 0) {
    lock.unlock();
    // Workers may be waiting in a hand-off to this (the UI) thread.
    UiThread().PumpUiCalls(kDestroyPumpMs);
    lock.lock();
  }
  lock.unlock();
  Pool.Shutdown();
}

std::unique_ptr<TSearchThread> TSearchManager::CreateWorker(PSearchTask task) {
  if (WorkerFactory) return WorkerFactory(*this, std::move(task));
  if (task->Path.empty()) return CreateWNetThread(*this, std::move(task), ResultStore, ErrorLog);
  return std::make_unique<TFileThread>(*this, std::move(task), ResultStore, ErrorLog);
}

void TSearchManager::AddTask(PSearchTask task) {
  if (!task) return;
  std::lock_guard<std::mutex> lock(QueueLock);
  if (Stopped) {
    // A worker of the stopped search may still hand in a sub-task: drop it. With no
    // worker active, this is the first task of a new search.
    if (ActiveCount.load() > 0) return;
    Stopped = false;
  }
  Queue.push_back(std::move(task));
  StartNextThread();
}

void TSearchManager::StartNextThread() {
  if (ActiveCount.load() >= std::max<int32_t>(1, MaxThreads.load()) || Queue.empty()) return;
  PSearchTask task = std::move(Queue.front());
  Queue.pop_front();
  std::unique_ptr<TSearchThread> worker = CreateWorker(std::move(task));
  TSearchThread* raw = worker.get();
  ActiveCount.fetch_add(1);
  Threads.push_back(raw);
  ++LiveWorkers;
  try {
    Pool.Submit([this, raw] { RunWorker(raw); });
    worker.release();  // the pool job owns it now
  } catch (...) {
    // The worker never runs, so its end handler never would: undo the count.
    Threads.pop_back();
    ActiveCount.fetch_sub(1);
    --LiveWorkers;
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

void TSearchManager::RunWorker(TSearchThread* raw) {
  std::unique_ptr<TSearchThread> worker(raw);
  worker->Execute();
  worker.reset();  // ends it through WorkerEnded on the UI thread
  {
    std::lock_guard<std::mutex> lock(QueueLock);
    --LiveWorkers;
  }
  UiThread().Wake();
}

void TSearchManager::ThreadTerminated(TSearchThread* sender) {
  std::lock_guard<std::mutex> lock(QueueLock);
  auto found = std::find(Threads.begin(), Threads.end(), sender);
  if (found != Threads.end()) Threads.erase(found);
  ActiveCount.fetch_sub(1);
  StartNextThread();
}

void TSearchManager::WorkerEnded(TSearchThread* worker) {
  UiThread().InvokeAndWait([&] {
    try {
      ThreadTerminated(worker);
    } catch (...) {
      // Only a successor that could not be started fails here; ThreadTerminated has
      // already counted this worker out, and the page must still hear of its end.
    }
    DoThreadChange();
  });
}

void TSearchManager::Stop() {
  std::deque<PSearchTask> dropped;
  {
    std::lock_guard<std::mutex> lock(QueueLock);
    if (ActiveCount.load() == 0 && Queue.empty()) return;  // idle: nothing changes
    Stopped = true;
    dropped.swap(Queue);
    for (TSearchThread* worker : Threads) worker->Terminate();
  }
  // The dropped tasks are freed here, outside the lock.
}

bool TSearchManager::IsFinished() const {
  std::lock_guard<std::mutex> lock(QueueLock);
  return ActiveCount.load() == 0 && Queue.empty();
}

void TSearchManager::DoThreadChange() {
  if (OnThreadChange) OnThreadChange(this);
}
