#pragma once
// Helpers for the engine tests: a temporary folder tree, and a search run to its end
// with either kind of UI hand-off (queued: the test thread pumps it as a UI thread
// would; direct: calls run on the workers under one lock).
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/search_manager.h"
#include "os/ui_thread.h"
#include "results/logger.h"
#include "results/result_manager.h"

enum class THandOff { Queued, Direct };

inline std::string HandOffName(const testing::TestParamInfo<THandOff>& info) {
  return info.param == THandOff::Queued ? "Queued" : "Direct";
}

// A fresh temporary folder, removed with everything in it at the end.
class TTempTree {
 public:
  TTempTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lq-engine-XXXXXX").string();
    Root = mkdtemp(pattern.data());
  }
  ~TTempTree() {
    std::error_code ignored;
    std::filesystem::remove_all(Root, ignored);
  }
  // Creates the file (and its folders) with size bytes.
  void File(const std::string& relative, size_t size = 0) const {
    const std::filesystem::path path = std::filesystem::path(Root) / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << std::string(size, 'x');
  }
  void Folder(const std::string& relative) const {
    std::filesystem::create_directories(std::filesystem::path(Root) / relative);
  }
  std::string Path(const std::string& relative = "") const {
    return relative.empty() ? Root : Root + "/" + relative;
  }
  std::string Root;
};

// A manager with its store and log, and the hand-off installed for the test's life.
class TSearchRig {
 public:
  explicit TSearchRig(THandOff kind) {
    if (kind == THandOff::Queued) Ui = std::make_unique<TQueuedUiThread>();
    else Ui = std::make_unique<TDirectUiThread>();
    SetUiThread(Ui.get());
    Manager = std::make_unique<TSearchManager>(Store, Log);
    Manager->OnThreadChange = [this](TSearchManager* sender) {
      ++ThreadChanges;
      if (!sender->IsFinished()) return;
      std::lock_guard<std::mutex> lock(DoneLock);
      Done = true;
      DoneSignal.notify_all();
    };
  }
  ~TSearchRig() {
    Manager.reset();
    SetUiThread(nullptr);
  }

  static PSearchTask Task(const std::string& path, const std::string& mask, uint32_t attr = 0x31) {
    auto task = std::make_unique<TSearchTask>();
    task->Path = path;
    task->Mask = mask;
    task->FileAttr = attr;
    return task;
  }

  // Waits until the search reported itself finished, pumping the hand-off meanwhile. A
  // search that keeps going far longer than any test needs (a fault that keeps adding
  // tasks) fails the test and is stopped; one that does not stop either ends the program
  // before it can eat the machine's memory.
  void WaitUntilFinished() {
    const auto start = std::chrono::steady_clock::now();
    bool stopped = false;
    std::unique_lock<std::mutex> lock(DoneLock);
    while (!Done) {
      lock.unlock();
      Ui->PumpUiCalls(20);
      const auto waited = std::chrono::steady_clock::now() - start;
      if (!stopped && waited > kSearchLimit) {
        ADD_FAILURE() << "the search did not finish; stopping it";
        Manager->Stop();
        stopped = true;
      } else if (stopped && waited > 2 * kSearchLimit) {
        std::fprintf(stderr, "the search did not end after Stop either\n");
        std::abort();
      }
      lock.lock();
    }
    Done = false;
  }
  static constexpr std::chrono::seconds kSearchLimit{60};

  void Run(PSearchTask root) {
    Manager->AddTask(std::move(root));
    WaitUntilFinished();
  }

  std::vector<std::string> FullNames() const {
    std::vector<std::string> names;
    for (size_t i = 0; i < Store.Count(); ++i) names.push_back(Store.Item(i).FullName());
    return names;
  }

  std::unique_ptr<TUiThread> Ui;
  TResultManager Store;
  TLogger Log;
  std::unique_ptr<TSearchManager> Manager;
  int ThreadChanges = 0;  // written in hand-off calls only

 private:
  std::mutex DoneLock;
  std::condition_variable DoneSignal;
  bool Done = false;  // guarded by DoneLock
};
