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

// The server a task's work talks to, in lower case: the host of a UNC folder, or of the
// server or share a network task lists; "" for local folders and for containers above
// servers (workgroups, the entire network, address ranges), which no limit counts.
std::string ServerOf(const TSearchTask& task) {
  std::string name = task.Path;
  if (name.empty() && task.NetResource) {
    const uint32_t type = task.NetResource->dwDisplayType;
    if (type != RESOURCEDISPLAYTYPE_SERVER && type != RESOURCEDISPLAYTYPE_SHARE) return {};
    name = task.NetResource->lpRemoteName.value_or("");
  }
  if (name.size() < 3 || name.compare(0, 2, "\\\\") != 0) return {};
  std::string server = name.substr(2, name.find('\\', 2) - 2);
  for (char& c : server)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return server;
}
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

bool TSearchManager::ServerHasRoom(int32_t limit, const std::string& server) const {
  auto running = ServerWorkers.find(server);
  return running == ServerWorkers.end() || running->second < limit;
}

PSearchTask TSearchManager::TakeNextTask(std::string& server) {
  const int32_t limit = MaxPerServer.load();
  if (limit <= 0) {
    if (Queue.empty()) return nullptr;
    PSearchTask task = std::move(Queue.front());
    Queue.pop_front();
    return task;
  }
  auto oldest = PassedOver.end();
  for (auto it = PassedOver.begin(); it != PassedOver.end(); ++it)
    if (ServerHasRoom(limit, it->first) && (oldest == PassedOver.end() || it->second.front().Number < oldest->second.front().Number))
      oldest = it;
  if (oldest != PassedOver.end()) {
    PSearchTask task = std::move(oldest->second.front().Task);
    server = oldest->first;
    oldest->second.pop_front();
    if (oldest->second.empty()) PassedOver.erase(oldest);
    --PassedOverCount;
    return task;
  }
  while (!Queue.empty()) {
    PSearchTask task = std::move(Queue.front());
    Queue.pop_front();
    std::string name = ServerOf(*task);
    if (name.empty() || ServerHasRoom(limit, name)) {
      server = std::move(name);
      return task;
    }
    PassedOver[name].push_back({PassedOverNumber++, std::move(task)});
    ++PassedOverCount;
  }
  return nullptr;
}

std::unique_ptr<TSearchThread> TSearchManager::TakeNextWorker() {
  if (ActiveCount.load() >= std::max<int32_t>(1, MaxThreads.load())) return nullptr;
  std::string server;
  PSearchTask task = TakeNextTask(server);
  if (!task) return nullptr;
  std::unique_ptr<TSearchThread> worker = CreateWorker(std::move(task));
  ActiveCount.fetch_add(1);
  if (!server.empty()) ++ServerWorkers[server];
  Threads.push_back({worker.get(), std::move(server)});
  return worker;
}

void TSearchManager::StartWorkers() {
  while (std::unique_ptr<TSearchThread> worker = TakeNextWorker()) {
    TSearchThread* raw = worker.get();
    ++BusyRunners;
    try {
      // No more threads than workers may run at once: a worker that starts while every
      // thread is busy finds one that has counted its own worker out and is about to be
      // free. A thread made for it instead would set up connections of its own to the
      // servers it walks, one more set than the search may open.
      Pool.Submit([this, raw] { RunWorkers(raw); }, static_cast<size_t>(std::max<int32_t>(1, MaxThreads.load())));
      worker.release();  // the pool job owns it now
    } catch (...) {
      // The worker never runs, so it is never counted out: undo the count.
      CountOut(Threads.size() - 1);
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
      PassedOver.clear();
      PassedOverCount = 0;
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
      auto found = std::find_if(Threads.begin(), Threads.end(),
                                [ended](const TRunning& running) { return running.Worker == ended; });
      if (found != Threads.end()) CountOut(static_cast<size_t>(found - Threads.begin()));
      EndedCount.fetch_add(1, std::memory_order_relaxed);
      try {
        worker = TakeNextWorker();
      } catch (...) {
        // The next worker could not be made: its task is lost, as when a worker cannot
        // be created for AddTask; the search goes on with the others.
      }
      finished = ActiveCount.load() == 0 && NothingWaits();
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
  std::map<std::string, std::deque<TPassedOver>> droppedPassedOver;
  {
    TLockGuard lock(QueueLock);
    if (ActiveCount.load() == 0 && NothingWaits()) return;  // idle: nothing changes
    Stopped = true;
    dropped.swap(Queue);
    droppedPassedOver.swap(PassedOver);
    PassedOverCount = 0;
    for (const TRunning& running : Threads) running.Worker->Terminate();
  }
  // The dropped tasks are freed here, outside the lock.
}

bool TSearchManager::IsFinished() const {
  TLockGuard lock(QueueLock);
  return ActiveCount.load() == 0 && NothingWaits() && FinishesPending == 0;
}

void TSearchManager::CountOut(size_t index) {
  TRunning& running = Threads[index];
  if (!running.Server.empty()) {
    auto count = ServerWorkers.find(running.Server);
    if (count != ServerWorkers.end() && --count->second <= 0) ServerWorkers.erase(count);
  }
  Threads.erase(Threads.begin() + static_cast<std::ptrdiff_t>(index));
  ActiveCount.fetch_sub(1);
}

void TSearchManager::DoThreadChange() {
  if (OnThreadChange) OnThreadChange(this);
}
