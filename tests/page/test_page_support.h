#pragma once
// Shared set-up of the window tests: one QApplication and one Qt UI hand-off for the
// whole program, a private settings hive per test, message boxes answered by a script
// instead of shown, temporary folder trees to search, and a worker that stays blocked
// until the test lets it go (a server that does not answer).
#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/search_manager.h"
#include "engine/search_thread.h"
#include "hive/registry.h"
#include "os/netresource.h"
#include "os/ui_thread.h"
#include "page/message_box.h"
#include "page/qt_ui_thread.h"
#include "page/search_page.h"
#include "settings/setting.h"

namespace lqtest {

inline void EnsureApplication() {
  if (QCoreApplication::instance() == nullptr) {
    static int argc = 1;
    static char name[] = "test_window";
    static char* argv[] = {name, nullptr};
    // Never destroyed: a QApplication torn down by the exit handlers, after Qt's own
    // globals, crashes. The pointer keeps it reachable.
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
  }
  static TQtUiThread uiThread;
  SetUiThread(&uiThread);
}

// Answers every message box from a script: Yes/No boxes take the next scripted answer
// (No when none is left), OK boxes are acknowledged. Every box is recorded.
class TScriptedBoxes {
 public:
  TScriptedBoxes() {
    Previous = SetMessageBoxHook([this](const TMessageBoxRequest& request) {
      Shown.push_back(request);
      if (request.Buttons == TMsgButtons::Ok) return TMsgResult::Ok;
      if (WhileAsking) WhileAsking();
      if (Answers.empty()) return TMsgResult::No;
      const TMsgResult answer = Answers.front();
      Answers.pop_front();
      return answer;
    });
  }
  ~TScriptedBoxes() { SetMessageBoxHook(std::move(Previous)); }

  std::vector<TMessageBoxRequest> Shown;
  std::deque<TMsgResult> Answers;
  // Runs while a question is open, before it is answered (what goes on behind a modal box).
  std::function<void()> WhileAsking;

 private:
  TMessageBoxHook Previous;
};

// A fresh temporary folder, removed with its contents at the end.
class TTempDir {
 public:
  TTempDir() {
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
      Path = base / ("lq_window_" + std::to_string(::getpid()) + "_" + std::to_string(Counter()++));
      if (std::filesystem::create_directory(Path)) break;
    }
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  std::filesystem::path Path;

 private:
  static int& Counter() {
    static int counter = 0;
    return counter;
  }
};

// Writes folders x filesPerFolder files named f<i>.txt into root/d<j>/ (plus the same
// count directly in root); returns the number of files written.
inline int MakeTree(const std::filesystem::path& root, int folders, int filesPerFolder) {
  int written = 0;
  for (int j = -1; j < folders; ++j) {
    const auto folder = j < 0 ? root : root / ("d" + std::to_string(j));
    std::filesystem::create_directories(folder);
    for (int i = 0; i < filesPerFolder; ++i, ++written)
      std::ofstream(folder / ("f" + std::to_string(i) + ".txt")) << "x";
  }
  return written;
}

// Settings of each test go to a hive file of their own.
class TWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    UseCurrentUserHiveFile(Hive.Path / "settings.reg");
  }

  // Points a page at a local folder.
  static void SearchIn(TSearchPage& page, const std::filesystem::path& folder) {
    FreeNetResource(page.Setting().NetResource);
    page.Setting().NetResPath = folder.string();
    page.Setting().NetResFullPath = folder.string();
  }

  static bool WaitUntilIdle(TSearchPage& page) {
    return QTest::qWaitFor([&] { return !page.Searching(); }, 120000);
  }

  TTempDir Hive;
};

// A lock and a flag a test opens to let blocked workers go on.
struct TGate {
  std::mutex Lock;
  std::condition_variable Changed;
  bool Open = false;
  int Waiting = 0;

  void Release() {
    {
      std::lock_guard lock(Lock);
      Open = true;
    }
    Changed.notify_all();
  }
  // Blocks until the gate opens, ignoring any stop request (like a call into a server
  // that does not answer).
  void Pass() {
    std::unique_lock lock(Lock);
    ++Waiting;
    Changed.notify_all();
    Changed.wait(lock, [&] { return Open; });
  }
  bool WaitForWaiting(int count) {
    std::unique_lock lock(Lock);
    return Changed.wait_for(lock, std::chrono::seconds(60), [&] { return Waiting >= count; });
  }
};

// Opens the gate when it goes out of scope, so a failing test never leaves a worker (and
// the page waiting for it) blocked. Declare it after the page or window.
struct TGateOpener {
  TGate& Gate;
  ~TGateOpener() { Gate.Release(); }
};

class TBlockedWorker : public TSearchThread {
 public:
  TBlockedWorker(TSearchManager& manager, PSearchTask task, TGate& gate)
      : TSearchThread(manager, std::move(task), manager.ResultStore, manager.ErrorLog),
        Gate(gate) {}

 protected:
  void Run() override { Gate.Pass(); }

 private:
  TGate& Gate;
};

inline void UseBlockedWorkers(TSearchPage& page, TGate& gate) {
  page.SearchManager().SetWorkerFactory([&gate](TSearchManager& manager, PSearchTask task) {
    return std::unique_ptr<TSearchThread>(new TBlockedWorker(manager, std::move(task), gate));
  });
}

}  // namespace lqtest
