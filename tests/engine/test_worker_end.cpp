// How workers reach the UI thread: they never wait for it while a search runs, and the
// page hears that the search is finished only after the last results and log lines of
// every worker have been announced.
#include <atomic>
#include <string>

#include "engine/search_thread.h"
#include "os/netresource.h"
#include "search_fixture.h"

namespace {

// Counts the synchronous hand-offs that pass through to the hand-off under test.
class TCountingUiThread final : public TUiThread {
 public:
  explicit TCountingUiThread(THandOff kind) {
    if (kind == THandOff::Queued) Inner = std::make_unique<TQueuedUiThread>();
    else Inner = std::make_unique<TDirectUiThread>();
  }
  void InvokeAndWait(const std::function<void()>& call) override {
    ++Calls;
    Inner->InvokeAndWait(call);
  }
  void PumpUiCalls(int timeoutMs) override { Inner->PumpUiCalls(timeoutMs); }
  void Wake() override { Inner->Wake(); }
  void Post(TUiNotification& notification) override { Inner->Post(notification); }
  void Withdraw(TUiNotification& notification) override { Inner->Withdraw(notification); }
  std::unique_ptr<TUiThread> Inner;
  std::atomic<int> Calls{0};
};

// A worker that delivers three results in three batches and adds one log line.
class TReportingWorker final : public TSearchThread {
 public:
  using TSearchThread::TSearchThread;

 protected:
  void Run() override {
    auto path = std::make_shared<const std::string>(Task->Path + "/");
    for (int i = 0; i < 3; ++i) {
      auto result = std::make_unique<TSearchResult>();
      result->Path = path;
      result->Name = "r" + std::to_string(i);
      BufferResult(std::move(result));
      FlushResults(i == 2);
    }
    ErrorLog.AddError(5, NETRESOURCEA{});
    Manager.RaiseLogChanged();
  }
};

class WorkerEndTest : public testing::TestWithParam<THandOff> {};

TEST_P(WorkerEndTest, FinishIsAnnouncedOnceAfterEveryResultAndLogLine) {
  constexpr int kTasks = 20;
  TCountingUiThread ui(GetParam());
  SetUiThread(&ui);
  {
    TResultManager store;
    TLogger log;
    TSearchManager manager(store, log);
    manager.MaxThreads = 3;
    manager.SetWorkerFactory([&](TSearchManager& owner, PSearchTask task) {
      return std::make_unique<TReportingWorker>(owner, std::move(task), owner.ResultStore, owner.ErrorLog);
    });
    // Written by notifications only, which never overlap.
    size_t resultsShown = 0, linesShown = 0, finishes = 0;
    size_t resultsAtFinish = 0, linesAtFinish = 0;
    int32_t activeAtFinish = -1;
    std::atomic<bool> finished{false};
    store.OnChange = [&](TResultManager* sender) { resultsShown = sender->Count(); };
    log.OnChange = [&](TLogger* sender) { linesShown = sender->Count(); };
    manager.OnThreadChange = [&](TSearchManager* sender) {
      if (!sender->IsFinished()) return;
      ++finishes;
      resultsAtFinish = resultsShown;
      linesAtFinish = linesShown;
      activeAtFinish = sender->ActiveThreads();
      finished = true;
    };
    std::vector<PSearchTask> tasks;  // queued at once: no early worker can finish the search
    for (int i = 0; i < kTasks; ++i) tasks.push_back(TSearchRig::Task("t" + std::to_string(i), "*"));
    manager.AddTasks(tasks);
    while (!finished) ui.PumpUiCalls(20);
    ui.PumpUiCalls(0);  // anything still raised runs, and must not announce a second finish

    EXPECT_EQ(resultsAtFinish, size_t{3 * kTasks});
    EXPECT_EQ(linesAtFinish, size_t{kTasks});
    EXPECT_EQ(activeAtFinish, 0);
    EXPECT_EQ(finishes, 1u);
    EXPECT_EQ(manager.EndedWorkers(), uint64_t{kTasks});
    EXPECT_EQ(ui.Calls.load(), 1) << "only the end that finished the search waits for the UI thread";
  }
  SetUiThread(nullptr);
}

INSTANTIATE_TEST_SUITE_P(HandOffs, WorkerEndTest, testing::Values(THandOff::Queued, THandOff::Direct),
                         HandOffName);

}  // namespace
