#include "engine/search_thread.h"

#include "engine/search_manager.h"
#include "platform/named_mutex.h"
#include "platform/ui_thread.h"
#include "results/logger.h"
#include "results/result_manager.h"

namespace {
constexpr uint32_t kDeliveryAttemptMs = 20;
}

TSearchThread::TSearchThread(TSearchManager& manager, PSearchTask task,
                             TResultManager& resultStore, TLogger& errorLog)
    : Task(std::move(task)), Manager(manager), ResultStore(resultStore), ErrorLog(errorLog) {}

TSearchThread::~TSearchThread() {
  if (Started) {
    try {
      Manager.WorkerEnded(this);
    } catch (...) {
      // A handler that failed must not keep the worker from being released.
    }
  }
  Task.reset();
  Buffer.clear();  // results found and not delivered are dropped
}

void TSearchThread::Execute() {
  Started = true;
  if (Terminated()) return;
  try {
    Run();
  } catch (...) {
    // The run ends like any other; the manager's end handler still runs.
  }
}

int32_t TSearchThread::GrownCapacity(int32_t capacity) {
  if (capacity > 64) return capacity + capacity / 4;
  if (capacity > 8) return capacity + 16;
  return capacity + 4;
}

void TSearchThread::BufferResult(PSearchResult result) {
  if (BufferCount == BufferCapacity) {
    BufferCapacity = GrownCapacity(BufferCapacity);
    Buffer.resize(static_cast<size_t>(BufferCapacity));
  }
  Buffer[static_cast<size_t>(BufferCount)] = std::move(result);
  ++BufferCount;
}

void TSearchThread::FlushResults(bool wait) {
  if (!ResultStore.Lock.WaitFor(wait ? INFINITE : kDeliveryAttemptMs)) return;
  struct TReleaseOnExit {
    TMutex& Lock;
    ~TReleaseOnExit() { Lock.Release(); }
  } release{ResultStore.Lock};
  ResultStore.AddResults(BufferCount, Buffer.data());
  BufferCount = 0;
  // The lock stays held while the page's handler adjusts its row count.
  NotifyResultsChanged();
}

void TSearchThread::NotifyThreadChange() {
  Synchronize([this] { Manager.DoThreadChange(); });
}

void TSearchThread::NotifyResultsChanged() {
  Synchronize([this] { ResultStore.Changed(); });
}

void TSearchThread::NotifyLogChanged() {
  Synchronize([this] { ErrorLog.Changed(); });
}

void TSearchThread::Synchronize(const std::function<void()>& call) { UiThread().InvokeAndWait(call); }
