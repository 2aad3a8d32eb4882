// The search manager's pool with workers held at a gate: how many start, in what order,
// what Stop frees, and that destroying a manager mid-search waits for every worker.
#include <algorithm>
#include <cctype>
#include <map>
#include <system_error>

#include "engine/search_thread.h"
#include "engine/worker_pool.h"
#include "search_fixture.h"

namespace {

// What the gate workers of one test share. Every field is guarded by Lock.
struct TGate {
  std::mutex Lock;
  std::condition_variable Changed;
  std::vector<std::string> CreationOrder;  // tasks in the order workers were made for them
  std::vector<std::string> StartOrder;     // in the order the workers' runs began
  int Created = 0, Running = 0, MostRunning = 0, Releases = 0;
  // Per server of a UNC task ("\\\\host" in lower case): running now, most at once.
  std::map<std::string, int> RunningOn, MostOn;
  bool OpenAll = false;
  bool AddChildOnRelease = false;
  // No test here makes this many workers: past it, a manager that keeps starting
  // children fails the test instead of growing without end.
  static constexpr int kMostWorkers = 1000;

  void Release(int count) {
    std::lock_guard<std::mutex> lock(Lock);
    Releases += count;
    Changed.notify_all();
  }
  void Open() {
    std::lock_guard<std::mutex> lock(Lock);
    OpenAll = true;
    Changed.notify_all();
  }
  void WaitForStarts(size_t count) {
    std::unique_lock<std::mutex> lock(Lock);
    Changed.wait(lock, [&] { return StartOrder.size() >= count; });
  }
};

// A worker that records its start and waits at the gate until released.
class TGateWorker final : public TSearchThread {
 public:
  TGateWorker(TSearchManager& manager, PSearchTask task, TGate& gate)
      : TSearchThread(manager, std::move(task), manager.ResultStore, manager.ErrorLog), Gate(gate) {}

 protected:
  void Run() override {
    bool addChild = false;
    {
      std::unique_lock<std::mutex> lock(Gate.Lock);
      Gate.StartOrder.push_back(Task->Path);
      Gate.MostRunning = std::max(Gate.MostRunning, ++Gate.Running);
      const std::string server = Server();
      if (!server.empty()) Gate.MostOn[server] = std::max(Gate.MostOn[server], ++Gate.RunningOn[server]);
      Gate.Changed.notify_all();
      Gate.Changed.wait(lock, [&] { return Gate.OpenAll || Gate.Releases > 0; });
      if (!Gate.OpenAll) --Gate.Releases;
      --Gate.Running;
      if (!server.empty()) --Gate.RunningOn[server];
      addChild = Gate.AddChildOnRelease && Gate.Created < TGate::kMostWorkers;
    }
    if (addChild) Manager.AddTask(TSearchRig::Task(Task->Path + "/child", "*"));
  }
  std::string Server() const {
    if (Task->Path.rfind("\\\\", 0) != 0) return {};
    std::string server = Task->Path.substr(0, Task->Path.find('\\', 2));
    for (char& c : server) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return server;
  }

 private:
  TGate& Gate;
};

class ManagerTest : public testing::TestWithParam<THandOff> {
 protected:
  ManagerTest() : Rig(GetParam()) {
    Rig.Manager->SetWorkerFactory([this](TSearchManager& manager, PSearchTask task) {
      std::lock_guard<std::mutex> lock(Gate.Lock);
      if (++Gate.Created == TGate::kMostWorkers) ADD_FAILURE() << "the manager keeps starting workers";
      Gate.CreationOrder.push_back(task->Path);
      return std::make_unique<TGateWorker>(manager, std::move(task), Gate);
    });
  }
  void AddTasks(int count) {
    for (int i = 0; i < count; ++i) Rig.Manager->AddTask(TSearchRig::Task("t" + std::to_string(i), "*"));
  }
  TGate Gate;  // outlives the rig, whose destruction waits for the workers
  TSearchRig Rig;
};

TEST_P(ManagerTest, FreshManagerIsFinishedAndStopOnIdleChangesNothing) {
  EXPECT_TRUE(Rig.Manager->IsFinished());
  Rig.Manager->Stop();
  EXPECT_TRUE(Rig.Manager->IsFinished());
  Gate.Open();
  Rig.Run(TSearchRig::Task("root", "*"));  // a stop on an idle manager refuses nothing
  EXPECT_EQ(Gate.Created, 1);
}

TEST_P(ManagerTest, StartsAtMostMaxThreadsInQueueOrder) {
  Rig.Manager->MaxThreads = 4;
  AddTasks(10);
  Gate.WaitForStarts(4);
  EXPECT_EQ(Rig.Manager->ActiveThreads(), 4);
  EXPECT_FALSE(Rig.Manager->IsFinished());
  {
    std::lock_guard<std::mutex> lock(Gate.Lock);
    EXPECT_EQ(Gate.Created, 4);  // the fifth waits for a free slot
  }
  Gate.Release(1);
  while (true) {  // the ended worker's slot goes to the oldest waiting task
    std::unique_lock<std::mutex> lock(Gate.Lock);
    if (Gate.StartOrder.size() >= 5) break;
    lock.unlock();
    Rig.Ui->PumpUiCalls(20);
  }
  Gate.Open();
  Rig.WaitUntilFinished();
  std::vector<std::string> expected;
  for (int i = 0; i < 10; ++i) expected.push_back("t" + std::to_string(i));
  EXPECT_EQ(Gate.CreationOrder, expected);
  EXPECT_EQ(Gate.StartOrder.size(), 10u);
  EXPECT_EQ(Gate.MostRunning, 4);
  EXPECT_EQ(Rig.Manager->ActiveThreads(), 0);
}

TEST_P(ManagerTest, StopFreesQueuedTasksAndIsFinalUntilTheNextSearch) {
  Rig.Manager->MaxThreads = 4;
  Gate.AddChildOnRelease = true;  // each running worker hands in a task after the stop
  AddTasks(104);
  Gate.WaitForStarts(4);
  Rig.Manager->Stop();
  EXPECT_FALSE(Rig.Manager->IsFinished());  // four still run
  Gate.Open();
  Rig.WaitUntilFinished();
  EXPECT_EQ(Gate.Created, 4);  // neither the 100 queued nor the late children started
  EXPECT_EQ(Rig.Manager->ActiveThreads(), 0);

  // The next search starts normally.
  Gate.AddChildOnRelease = false;
  Rig.Run(TSearchRig::Task("again", "*"));
  EXPECT_EQ(Gate.Created, 5);
}

TEST_P(ManagerTest, LoweringMaxThreadsDuringASearchOnlyDelaysStarts) {
  Rig.Manager->MaxThreads = 3;
  AddTasks(6);
  Gate.WaitForStarts(3);
  Rig.Manager->MaxThreads = 1;
  Gate.Open();
  Rig.WaitUntilFinished();
  EXPECT_EQ(Gate.StartOrder.size(), 6u);
}

// When the pool cannot start a thread for the first worker, AddTask fails, the task is
// freed, and the manager is idle again: the search can complete and the next one runs.
// When other pool threads exist, the worker waits for one of them instead.
TEST_P(ManagerTest, RecoversWhenNoWorkerThreadCanStart) {
  Rig.Manager->MaxThreads = 2;
  Rig.Manager->WorkerPool().FailThreadStarts(true);
  EXPECT_THROW(Rig.Manager->AddTask(TSearchRig::Task("refused", "*")), std::system_error);
  EXPECT_TRUE(Rig.Manager->IsFinished());
  EXPECT_EQ(Rig.Manager->ActiveThreads(), 0);

  Rig.Manager->WorkerPool().FailThreadStarts(false);
  Rig.Manager->AddTask(TSearchRig::Task("first", "*"));
  Gate.WaitForStarts(1);
  Rig.Manager->WorkerPool().FailThreadStarts(true);
  Rig.Manager->AddTask(TSearchRig::Task("second", "*"));  // no thread for it yet
  EXPECT_EQ(Rig.Manager->ActiveThreads(), 2);
  Gate.Open();
  Rig.WaitUntilFinished();
  EXPECT_EQ(Gate.StartOrder, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(Rig.Manager->ActiveThreads(), 0);
}

// With a per-server limit, a server's tasks wait for one of its own workers to end while
// other servers and local folders use the free threads; each server's tasks still start
// in queue order, whatever the letter case of its name.
TEST_P(ManagerTest, PerServerLimitLeavesRoomForOtherServersAndKeepsOrder) {
  Rig.Manager->MaxThreads = 12;
  Rig.Manager->MaxPerServer = 4;
  std::vector<std::string> alpha;
  for (int i = 0; i < 10; ++i) alpha.push_back(std::string(i % 2 ? "\\\\ALPHA" : "\\\\alpha") + "\\s\\d" + std::to_string(i));
  for (const std::string& path : alpha) Rig.Manager->AddTask(TSearchRig::Task(path, "*"));
  for (int i = 0; i < 3; ++i) Rig.Manager->AddTask(TSearchRig::Task("\\\\beta\\s\\d" + std::to_string(i), "*"));
  Rig.Manager->AddTask(TSearchRig::Task("local", "*"));
  Gate.WaitForStarts(8);  // four of alpha, the three of beta, the local folder
  {
    std::lock_guard<std::mutex> lock(Gate.Lock);
    EXPECT_EQ(Gate.Created, 8);
  }
  Gate.Open();
  Rig.WaitUntilFinished();
  std::vector<std::string> alphaStarts;
  for (const std::string& path : Gate.CreationOrder)
    if (path.find("lpha") != std::string::npos || path.find("LPHA") != std::string::npos) alphaStarts.push_back(path);
  EXPECT_EQ(alphaStarts, alpha);
  EXPECT_EQ(Gate.MostOn["\\\\alpha"], 4);
  EXPECT_EQ(Gate.MostOn["\\\\beta"], 3);
  EXPECT_EQ(Gate.StartOrder.size(), 14u);
  EXPECT_EQ(Rig.Manager->ActiveThreads(), 0);
}

INSTANTIATE_TEST_SUITE_P(HandOffs, ManagerTest, testing::Values(THandOff::Queued, THandOff::Direct),
                         HandOffName);

// Destroying the manager while workers wait in a hand-off that nobody pumps: the
// destructor must pump it and return only when every worker is gone.
TEST(ManagerLifetime, DestroyingMidSearchWithAHandOffBlockedWaitsForEveryWorker) {
  TTempTree tree;
  for (int i = 0; i < 40; ++i) tree.File("d" + std::to_string(i % 8) + "/s" + std::to_string(i) + "/f.txt");
  auto rig = std::make_unique<TSearchRig>(THandOff::Queued);
  auto& ui = static_cast<TQueuedUiThread&>(*rig->Ui);
  std::atomic<int> changes{0};
  rig->Store.OnChange = [&](TResultManager*) { ++changes; };
  rig->Manager->MaxThreads = 4;
  rig->Manager->AddTask(TSearchRig::Task(tree.Root, "*.txt"));
  ASSERT_TRUE(ui.WaitForPendingCalls(1, -1));  // the worker that finished waits to say so
  rig->Manager.reset();
  EXPECT_GE(changes.load(), 1);
  rig.reset();  // the store and the log go only now
}

// A job submitted while the pool holds as many threads as its limit, all busy, waits for
// one of them rather than get a thread of its own, and runs once that thread is free.
TEST(WorkerPoolLimit, AJobPastTheLimitWaitsForABusyThread) {
  TWorkerPool pool;
  std::mutex lock;
  std::condition_variable changed;
  bool firstMayEnd = false;
  int ran = 0;
  pool.Submit([&] {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return firstMayEnd; });
    ++ran;
    changed.notify_all();
  }, 1);
  pool.Submit([&] {
    std::lock_guard<std::mutex> guard(lock);
    ++ran;
    changed.notify_all();
  }, 1);
  EXPECT_EQ(pool.ThreadCount(), 1u);
  {
    std::unique_lock<std::mutex> guard(lock);
    firstMayEnd = true;
    changed.notify_all();
    changed.wait(guard, [&] { return ran == 2; });
  }
  EXPECT_EQ(pool.ThreadCount(), 1u);
}

TEST(WorkerBatch, GrowsByFourThenSixteenThenAQuarter) {
  const std::pair<int32_t, int32_t> steps[] = {{0, 4}, {8, 12}, {9, 25}, {64, 80}, {65, 81}, {80, 100}};
  for (auto [capacity, grown] : steps) EXPECT_EQ(TSearchThread::GrownCapacity(capacity), grown) << capacity;
}

}  // namespace
