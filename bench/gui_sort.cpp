// Measures how long the window stays unresponsive while the result list of a visible main
// window, offscreen, is sorted by each of its six keys (and each again, reversed), and
// while every row is copied to the clipboard: the longest stretch in which the GUI thread
// did not get to a 5 ms timer, beside the whole time of the command. For comparison, the
// same sorts done the old way, in place on the GUI thread (the store's own Sort), whose
// whole time was the stall.
//
// usage: bench_gui_sort [RESULTS=1002020]
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "hive/registry.h"
#include "page/message_box.h"
#include "page/qt_ui_thread.h"
#include "page/result_actions.h"
#include "page/search_page.h"
#include "results/result_manager.h"
#include "shell/icons.h"
#include "shell/main_window.h"

namespace {

// Longest gap between ticks of a 5 ms timer on the GUI thread, from Start to Stop.
class TGapMeter {
 public:
  TGapMeter() {
    QObject::connect(&Tick, &QTimer::timeout, [this] { MaxGapMs = std::max<qint64>(MaxGapMs, Clock.restart()); });
  }
  void Start() {
    MaxGapMs = 0;
    Clock.start();
    Tick.start(5);
  }
  qint64 Stop() {
    // The gap up to now counts too: a command that never returned to the loop.
    MaxGapMs = std::max<qint64>(MaxGapMs, Clock.elapsed());
    Tick.stop();
    return MaxGapMs;
  }

 private:
  QTimer Tick;
  QElapsedTimer Clock;
  qint64 MaxGapMs = 0;
};

// Names as a search of a large tree gives them: folders of a few hundred files, names of
// mixed case, sizes and times that repeat.
void Fill(TResultManager& store, int total) {
  std::vector<PSearchResult> records;
  records.reserve(size_t(total));
  std::shared_ptr<const std::string> folder;
  for (int i = 0; i < total; ++i) {
    if (i % 300 == 0)
      folder = std::make_shared<const std::string>("/data/Project " + std::to_string((i * 7919) % 3347) + "/src/");
    auto record = std::make_unique<TSearchResult>();
    record->Path = folder;
    record->Name = (i % 3 == 0 ? "Report_" : "file-") + std::to_string((i * 104729) % 1000003) + (i % 5 ? ".txt" : ".DOC");
    record->Size = (i * 2654435761u) % 5000000;
    record->DateTime = 40000 + (i % 5000) + ((i * 37) % 86400) / 86400.0;
    record->Attr = (i % 7 == 0 ? 0x01 : 0) | (i % 3 == 0 ? 0x20 : 0) | (i % 11 == 0 ? 0x02 : 0);
    records.push_back(std::move(record));
  }
  store.ReplaceAll(std::move(records));
}

}  // namespace

int main(int argc, char* argv[]) {
  const int results = argc > 1 ? std::atoi(argv[1]) : 1002020;
  QApplication application(argc, argv);
  const auto hive = std::filesystem::temp_directory_path() / "lq_bench_gui_sort_settings.reg";
  UseCurrentUserHiveFile(hive);
  TQtUiThread uiThread;
  SetUiThread(&uiThread);
  SetMessageBoxHook([](const TMessageBoxRequest&) { return TMsgResult::Ok; });
  TIcons icons;
  {
    TMainWindow window;
    window.ShowTipAtStartup = false;
    window.show();
    TSearchPage& page = *window.ActivePage();
    Fill(page.ResultStore(), results);
    page.SyncResultCount();
    page.UpdateActions();
    QApplication::processEvents();
    TGapMeter gaps;
    std::printf("%d results\n", results);
    static const char* const kKeys[6] = {"path", "name", "size", "date", "time", "attr"};
    for (int tag = 1; tag <= 6; ++tag) {
      for (int pass = 0; pass < 2; ++pass) {
        QElapsedTimer clock;
        gaps.Start();
        clock.start();
        page.SortActions()[tag - 1]->trigger();
        const qint64 whole = clock.elapsed();
        QApplication::processEvents();
        const qint64 stall = gaps.Stop();
        std::printf("sort %-4s %-10s window: %5lld ms, longest GUI stall %4lld ms\n", kKeys[tag - 1],
                    pass == 0 ? "ascending" : "descending", static_cast<long long>(whole), static_cast<long long>(stall));
      }
    }
    // The old way: the whole sort on the GUI thread.
    for (int tag = 1; tag <= 6; ++tag) {
      TResultManager& store = page.ResultStore();
      store.SortKey = store.SortKey == tag ? -tag : tag;
      QElapsedTimer clock;
      clock.start();
      store.Sort();
      std::printf("sort %-4s in place on the GUI thread (before): %5lld ms\n", kKeys[tag - 1],
                  static_cast<long long>(clock.elapsed()));
    }
    page.lvResults->selectAll();
    page.UpdateActions();
    gaps.Start();
    QElapsedTimer clock;
    clock.start();
    page.ResultActions().actEditCopyExecute();
    const qint64 whole = clock.elapsed();
    QApplication::processEvents();
    std::printf("copy all rows: %lld ms, longest GUI stall %lld ms\n", static_cast<long long>(whole),
                static_cast<long long>(gaps.Stop()));
    window.FinishRun(0);
  }
  SetUiThread(nullptr);
  std::filesystem::remove(hive);
  return 0;
}
