// Measures the window under load, offscreen:
//  1. streaming: producer threads deliver RESULTS records in batches of 128 through the
//     UI hand-off into the visible main window's page, as search workers do; reports the time, the
//     repaints of the result list, and the longest stretch in which the GUI thread did
//     not get to a 5 ms timer (how long the window could not react);
//  2. whole search: the page searches TREE with THREADS workers from its start command to
//     its completion message, against lanternquest-cli on the same tree and threads, run
//     twice: with --long, which reads every result's size and time as the page does (the
//     like-for-like figure), and without, which skips that per-result stat.
//
// usage: bench_gui_stream TREE CLI [THREADS=2] [RESULTS=1000000] [RUNS=3]
#include <QApplication>
#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hive/registry.h"
#include "os/netresource.h"
#include "page/message_box.h"
#include "page/qt_ui_thread.h"
#include "page/search_page.h"
#include "results/result_manager.h"
#include "settings/program_options.h"
#include "settings/setting.h"
#include "shell/icons.h"
#include "shell/main_window.h"

namespace {

// Handles events, sleeping until one comes as the application's own event loop does (the
// overload of processEvents with a time limit never sleeps: it would keep a core busy and
// take it from the workers being measured). A 50 ms timer bounds the wait for conditions
// that change without an event.
void WaitForEvents() {
  QTimer wake;
  wake.start(50);
  QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

constexpr int kBatch = 128;

// Counts the hand-offs and the time workers spend waiting in them.
class TCountingUiThread : public TUiThread {
 public:
  explicit TCountingUiThread(TUiThread& inner) : Inner(inner) {}
  void InvokeAndWait(const std::function<void()>& call) override {
    const auto start = std::chrono::steady_clock::now();
    ++Calls;  // before the call runs: the caller may read the counts as soon as it has
    Inner.InvokeAndWait([&] {
      const auto runStart = std::chrono::steady_clock::now();
      call();
      RanNs += std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now() - runStart).count();
    });
    WaitedNs += std::chrono::duration_cast<std::chrono::nanoseconds>(
                    std::chrono::steady_clock::now() - start).count();
    ++Returned;
  }
  void PumpUiCalls(int timeoutMs) override { Inner.PumpUiCalls(timeoutMs); }
  void Wake() override { Inner.Wake(); }
  void Post(TUiNotification& notification) override {
    ++Posts;
    Inner.Post(notification);
  }
  void Withdraw(TUiNotification& notification) override { Inner.Withdraw(notification); }
  void Reset() { Calls = 0; Returned = 0; WaitedNs = 0; RanNs = 0; Posts = 0; }
  // RanNs: time the calls themselves took on the GUI thread. Posts: notifications queued
  // (raises merged into one already waiting are not counted).
  // Returned: calls whose worker has resumed (and added its wait to WaitedNs).
  std::atomic<long long> Calls{0}, Returned{0}, WaitedNs{0}, RanNs{0}, Posts{0};

 private:
  TUiThread& Inner;
};

// Counts paint events of one widget.
class TPaintCounter : public QObject {
 public:
  int Paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++Paints;
    return false;
  }
};

// Longest gap between ticks of a 5 ms timer on the GUI thread.
class TGapMeter {
 public:
  TGapMeter() {
    QObject::connect(&Tick, &QTimer::timeout, [this] {
      MaxGapMs = std::max<qint64>(MaxGapMs, Clock.restart());
    });
    Clock.start();
    Tick.start(5);
  }
  qint64 MaxGapMs = 0;

 private:
  QTimer Tick;
  QElapsedTimer Clock;
};

// The process's resident memory in MiB.
double ResidentMiB() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return 0;
  char line[256];
  long kib = 0;
  while (std::fgets(line, sizeof line, status)) {
    if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1) break;
  }
  std::fclose(status);
  return kib / 1024.0;
}

void Stream(TSearchPage& page, int total, int producers) {
  TResultManager& store = page.ResultStore();
  // Raised as a worker raises the store's Changed: without waiting for the GUI thread.
  TUiNotification changed([&] { store.Changed(); });
  auto folder = std::make_shared<const std::string>("/bench/folder/");
  std::atomic<int> next{0};
  std::atomic<int> running{producers};
  TPaintCounter paints;
  page.lvResults->viewport()->installEventFilter(&paints);
  TGapMeter gaps;
  QElapsedTimer clock;
  clock.start();
  std::vector<std::thread> threads;
  for (int p = 0; p < producers; ++p) {
    threads.emplace_back([&] {
      std::vector<PSearchResult> batch(kBatch);
      for (;;) {
        const int first = next.fetch_add(kBatch);
        if (first >= total) break;
        const int count = std::min(kBatch, total - first);
        for (int i = 0; i < count; ++i) {
          batch[i] = std::make_unique<TSearchResult>();
          batch[i]->Path = folder;
          batch[i]->Name = "file" + std::to_string(first + i) + ".txt";
          batch[i]->Size = first + i;
        }
        store.Lock.WaitFor(0xFFFFFFFF);
        store.AddResults(count, batch.data());
        store.Lock.Release();
        changed.Raise();
      }
      --running;
    });
  }
  while (running > 0) WaitForEvents();
  const double seconds = clock.elapsed() / 1000.0;
  for (std::thread& thread : threads) thread.join();
  while (page.ResultRowCount() < int(store.Count()))
    WaitForEvents();
  QApplication::processEvents();
  std::printf("stream   %d results, %d producers: %.2fs, %d list repaints, longest GUI stall %lld ms, rows %d, "
              "resident %.0f MiB\n",
              total, producers, seconds, paints.Paints, static_cast<long long>(gaps.MaxGapMs),
              page.ResultRowCount(), ResidentMiB());
  page.lvResults->viewport()->removeEventFilter(&paints);
}

double SearchWithPage(TSearchPage& page, const std::string& tree, int threads, int& found) {
  FreeNetResource(page.Setting().NetResource);
  page.Setting().NetResPath = tree;
  page.Setting().FileAttr = 0x3F;
  ProgramOptions().MaxThreads = threads;
  page.cmbPattern->setEditText(QStringLiteral("*"));
  QElapsedTimer clock;
  clock.start();
  page.actStartSearch->trigger();
  while (page.Searching()) WaitForEvents();
  found = page.ResultRowCount();
  return clock.elapsed() / 1000.0;
}

double SearchWithCli(const std::string& cli, const std::string& tree, int threads,
                     bool details) {
  const std::string command = "'" + cli + "' " + (details ? "--long " : "") + "-a RHSAD -j " +
                              std::to_string(threads) + " '*' '" + tree + "' > /dev/null";
  QElapsedTimer clock;
  clock.start();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "cli failed: %s\n", command.c_str());
  return clock.elapsed() / 1000.0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s TREE CLI [THREADS] [RESULTS] [RUNS]\n", argv[0]);
    return 2;
  }
  const std::string tree = argv[1];
  const std::string cli = argv[2];
  const int threads = argc > 3 ? std::atoi(argv[3]) : 2;
  const int results = argc > 4 ? std::atoi(argv[4]) : 1000000;
  const int runs = argc > 5 ? std::atoi(argv[5]) : 3;

  QApplication application(argc, argv);
  // Settings go to a scratch file, never the user's.
  const auto hive = std::filesystem::temp_directory_path() / "lq_bench_gui_settings.reg";
  UseCurrentUserHiveFile(hive);
  TQtUiThread qtUiThread;
  TCountingUiThread uiThread(qtUiThread);
  SetUiThread(&uiThread);
  SetMessageBoxHook([](const TMessageBoxRequest&) { return TMsgResult::Ok; });

  TIcons icons;
  const auto newWindow = [] {
    auto window = std::make_unique<TMainWindow>();
    window->ShowTipAtStartup = false;
    window->show();
    return window;
  };
  {
    auto window = newWindow();
    Stream(*window->ActivePage(), results, threads);
    window->FinishRun(0);
  }

  std::vector<double> gui, textLong, text;
  int found = 0;
  for (int run = 0; run < runs; ++run) {
    auto window = newWindow();
    TSearchPage& page = *window->ActivePage();
    uiThread.Reset();
    gui.push_back(SearchWithPage(page, tree, threads, found));
    while (uiThread.Returned.load() < uiThread.Calls.load()) WaitForEvents();  // for the counts
    const double calls = std::max(1.0, double(uiThread.Calls.load()));
    std::printf("page run %d: %.3fs, %lld waiting hand-offs (%.1f us waited, %.1f us ran each), "
                "%lld notifications queued\n",
                run, gui.back(), uiThread.Calls.load(), uiThread.WaitedNs / 1000.0 / calls,
                uiThread.RanNs / 1000.0 / calls, uiThread.Posts.load());
    window->FinishRun(0);
    textLong.push_back(SearchWithCli(cli, tree, threads, true));
    text.push_back(SearchWithCli(cli, tree, threads, false));
    std::printf("cli run %d: --long %.3fs, without %.3fs\n", run, textLong.back(), text.back());
  }
  const auto median = [](std::vector<double>& times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  };
  const double guiMedian = median(gui), longMedian = median(textLong), cliMedian = median(text);
  std::printf("search   %d files, -j %d, median of %d: page %.3fs  cli --long %.3fs  cli %.3fs\n"
              "         page/(cli --long) %.2f  page/cli %.2f\n",
              found, threads, runs, guiMedian, longMedian, cliMedian, guiMedian / longMedian,
              guiMedian / cliMedian);
  SetUiThread(nullptr);
  std::filesystem::remove(hive);
  return 0;
}
