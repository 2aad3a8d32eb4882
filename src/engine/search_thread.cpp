#include "engine/search_thread.h"

#include "os/named_mutex.h"
#include "results/result_manager.h"

namespace {
constexpr uint32_t kDeliveryAttemptMs = 20;
}

TSearchThread::TSearchThread(TWorkerHost& manager, PSearchTask task, TResultManager& resultStore,
                             TLogger& errorLog)
    : Task(std::move(task)), Manager(manager), ResultStore(resultStore), ErrorLog(errorLog) {}

TSearchThread::~TSearchThread() {
  Task.reset();
  Buffer.clear();  // results found and not delivered are dropped
}

void TSearchThread::Execute() {
  if (Terminated()) return;
  try {
    Run();
  } catch (...) {
    // The run ends like any other; the manager still counts the worker out.
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
  if (BufferCount == 0) return;
  if (ResultStore.Sink) {
    const int32_t count = BufferCount;
    BufferCount = 0;  // the slots are the sink's to empty, even when it throws
    struct TEmptyOnExit {
      std::vector<PSearchResult>& Slots;
      int32_t Count;
      ~TEmptyOnExit() {
        for (int32_t i = 0; i < Count; ++i) Slots[static_cast<size_t>(i)].reset();
      }
    } empty{Buffer, count};
    ResultStore.Sink(count, Buffer.data());
    Manager.RaiseResultsChanged();
    return;
  }
  if (!ResultStore.Lock.WaitFor(wait ? INFINITE : kDeliveryAttemptMs)) return;
  {
    struct TReleaseOnExit {
      TMutex& Lock;
      ~TReleaseOnExit() { Lock.Release(); }
    } release{ResultStore.Lock};
    ResultStore.AddResults(BufferCount, Buffer.data());
    BufferCount = 0;
  }
  // The page reads the store by index without a lock (it never moves a record), so it
  // can catch up whenever the notification runs.
  Manager.RaiseResultsChanged();
}
