// How a worker's end reaches the UI thread: the end handler and the page's notification
// travel in one hand-off, in that order, after the worker's own clean-up.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "engine/search_thread.h"
#include "search_fixture.h"

namespace {

// Counts the hand-offs that pass through to the queued UI thread.
class TCountingUiThread final : public TUiThread {
 public:
  void InvokeAndWait(const std::function<void()>& call) override {
    ++Calls;
    Inner.InvokeAndWait(call);
  }
  void PumpUiCalls(int timeoutMs) override { Inner.PumpUiCalls(timeoutMs); }
  void Wake() override { Inner.Wake(); }
  TQueuedUiThread Inner;
  std::atomic<int> Calls{0};
};

// What the workers and the UI thread record, in the order it happened.
struct TEvents {
  void Add(const std::string& event) {
    std::lock_guard<std::mutex> lock(Lock);
    List.push_back(event);
  }
  size_t IndexOf(const std::string& event) {
    std::lock_guard<std::mutex> lock(Lock);
    return size_t(std::find(List.begin(), List.end(), event) - List.begin());
  }
  std::mutex Lock;  // a leaf lock
  std::vector<std::string> List;  // guarded by Lock
};

// A worker that does nothing and records when its own clean-up ran.
class TIdleWorker final : public TSearchThread {
 public:
  TIdleWorker(TSearchManager& manager, PSearchTask task, TEvents& events)
      : TSearchThread(manager, std::move(task), manager.ResultStore, manager.ErrorLog),
        Events(events) {}
  ~TIdleWorker() override { Events.Add("cleanup " + Task->Path); }

 protected:
  void Run() override {}

 private:
  TEvents& Events;
};

TEST(WorkerEnd, EndHandlerAndNotificationShareOneHandOffInOrder) {
  TCountingUiThread ui;
  SetUiThread(&ui);
  {
    TResultManager store;
    TLogger log;
    TEvents events;
    std::vector<int32_t> activeSeen;  // UI thread only
    TSearchManager manager(store, log);
    manager.MaxThreads = 1;
    manager.SetWorkerFactory([&](TSearchManager& owner, PSearchTask task) {
      return std::make_unique<TIdleWorker>(owner, std::move(task), events);
    });
    bool finished = false;
    manager.OnThreadChange = [&](TSearchManager* sender) {
      // The end handler has already counted the worker out and started its successor.
      activeSeen.push_back(sender->ActiveThreads());
      events.Add("change " + std::to_string(activeSeen.size()));
      finished = sender->IsFinished();
    };
    manager.AddTask(TSearchRig::Task("a", "*"));
    manager.AddTask(TSearchRig::Task("b", "*"));
    while (!finished) ui.PumpUiCalls(20);

    // a's end started b (MaxThreads 1) before the page heard of it; b's end found nothing.
    EXPECT_EQ(activeSeen, (std::vector<int32_t>{1, 0}));
    EXPECT_LT(events.IndexOf("cleanup a"), events.IndexOf("change 1"));
    EXPECT_LT(events.IndexOf("cleanup b"), events.IndexOf("change 2"));
    EXPECT_EQ(events.IndexOf("change 2"), 3u);
    EXPECT_EQ(ui.Calls.load(), 2);  // one hand-off per ended worker
  }
  SetUiThread(nullptr);
}

}  // namespace
