// Measures search as you type on an indexed tree, offscreen, in the visible main window:
//  1. keystroke to first rows painted: the pattern's last key typed into the page's
//     pattern box, until the result list has painted rows of that pattern's answer, for a
//     pattern with few hits and one with many;
//  2. GUI stalls: the longest stretch in which the GUI thread did not get to a 5 ms timer
//     while a pattern is typed key by key (every key abandons the query before it);
//  3. a background update against a live search: the page's live search of PATTERN alone,
//     then again while the refresh updates the tree's index (the update yields to it).
//
// The index of TREE must exist in the index folder ($XDG_CACHE_HOME/lanternquest/index):
//   XDG_CACHE_HOME=DIR lanternquest-cli --update-index TREE
// usage: bench_gui_index_typing TREE CLI [RUNS=3]
#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTableView>
#include <QKeyEvent>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "hive/registry.h"
#include "page/index_shelf.h"
#include "page/index_typing.h"
#include "page/message_box.h"
#include "page/qt_ui_thread.h"
#include "page/result_model.h"
#include "page/search_page.h"
#include "settings/index_settings.h"
#include "settings/setting.h"
#include "shell/icons.h"
#include "shell/index_refresh.h"
#include "shell/main_window.h"

namespace {

// A key typed into widget, as the keyboard delivers it.
void KeyClick(QWidget* widget, char key) {
  const QString text(QChar::fromLatin1(key));
  QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
  QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, text);
  QApplication::sendEvent(widget, &press);
  QApplication::sendEvent(widget, &release);
}

void WaitForEvents() {
  QTimer wake;
  wake.start(5);
  QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// The longest gap between the ticks of a 5 ms timer while it runs.
class TStallMeter {
 public:
  TStallMeter() {
    QObject::connect(&Tick, &QTimer::timeout, [this] {
      Longest = std::max(Longest, Clock.restart());
    });
  }
  void Start() {
    Longest = 0;
    Clock.start();
    Tick.start(5);
  }
  qint64 Stop() {
    Tick.stop();
    return Longest;
  }

 private:
  QTimer Tick;
  QElapsedTimer Clock;
  qint64 Longest = 0;
};

constexpr qint64 kGiveUpMs = 20000;

// Time from the pattern's last key to the first paint of the result list after rows of
// the new answer were inserted.
class TFirstPaint : public QObject {
 public:
  explicit TFirstPaint(TSearchPage& page) : Page(page) {
    page.lvResults->viewport()->installEventFilter(this);
    QObject::connect(&page.ResultModel(), &QAbstractItemModel::rowsInserted, this, [this] { RowsIn = true; });
  }
  double Measure(const QString& pattern, uint64_t& rows) {
    QLineEdit* edit = Page.cmbPattern->lineEdit();
    edit->setText(pattern.left(pattern.size() - 1));
    while (Page.IndexTyping().Queries().Busy()) WaitForEvents();
    for (int i = 0; i < 20; ++i) QApplication::processEvents();
    RowsIn = false;
    Painted = false;
    QElapsedTimer clock;
    clock.start();
    KeyClick(edit, pattern.back().toLatin1());
    while (!Painted && clock.elapsed() < kGiveUpMs) WaitForEvents();
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    while (Page.IndexTyping().Queries().Busy()) WaitForEvents();
    rows = uint64_t(Page.ResultRowCount());
    return ms;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && RowsIn && Page.ResultModel().rowCount() > 0) Painted = true;
    return QObject::eventFilter(watched, event);
  }

 private:
  TSearchPage& Page;
  bool RowsIn = false;
  bool Painted = false;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

double LiveSearchMs(TSearchPage& page, const QString& pattern) {
  page.cmbPattern->lineEdit()->setText(pattern);
  while (page.IndexTyping().Queries().Busy()) WaitForEvents();
  QElapsedTimer clock;
  clock.start();
  page.actStartSearch->trigger();
  while (page.Searching()) WaitForEvents();
  return double(clock.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s TREE CLI [RUNS]\n", argv[0]);
    return 2;
  }
  const std::string tree = std::filesystem::path(argv[1]).lexically_normal().string();
  const QString cli = QString::fromLocal8Bit(argv[2]);
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;

  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  QApplication application(argc, argv);
  const auto hive = std::filesystem::temp_directory_path() / "lq_bench_gui_index_settings.reg";
  std::filesystem::remove(hive);
  UseCurrentUserHiveFile(hive);
  TQtUiThread uiThread;
  SetUiThread(&uiThread);
  SetMessageBoxHook([](const TMessageBoxRequest&) { return TMsgResult::Ok; });
  TIcons icons;

  TIndexShelf shelf;
  SetIndexShelf(&shelf);
  const PIndexReader index = shelf.Open(tree);
  if (!index) {
    std::fprintf(stderr, "no index of %s in %s\n", tree.c_str(), shelf.Catalog().Folder().c_str());
    return 1;
  }
  std::printf("index of %s: %llu entries, %llu bytes\n", tree.c_str(),
              static_cast<unsigned long long>(index->Info().EntryCount),
              static_cast<unsigned long long>(index->Info().FileBytes));

  auto window = std::make_unique<TMainWindow>();
  window->ShowTipAtStartup = false;
  window->resize(900, 700);
  window->show();
  TSearchPage& page = *window->ActivePage();
  // The window's own refresh keeps the tree's index, as when the user added it.
  TIndexRefresh& refresh = *window->IndexRefresh;
  refresh.SetProgram(cli);
  refresh.SetSettings({{tree}, kMaxRefreshMinutes});
  FreeNetResource(page.Setting().NetResource);
  page.Setting().NetResPath = tree;
  page.Setting().FileAttr = 63;
  TFirstPaint firstPaint(page);
  TStallMeter stalls;

  struct TCase {
    const char* Name;
    QString Pattern;
  };
  const TCase cases[] = {{"few hits", QStringLiteral("file12345*")}, {"many hits", QStringLiteral("*.txt")}};
  for (const TCase& c : cases) {
    std::vector<double> ms;
    uint64_t rows = 0;
    for (int run = 0; run < runs; ++run) ms.push_back(firstPaint.Measure(c.Pattern, rows));
    std::printf("keystroke to first rows painted, %s (%s, %llu rows): median %.1f ms, max %.1f ms\n", c.Name,
                c.Pattern.toLatin1().constData(), static_cast<unsigned long long>(rows), Median(ms),
                *std::max_element(ms.begin(), ms.end()));
  }

  // Typing key by key at 60 ms a key, each key making the query before it stale.
  for (const TCase& c : cases) {
    std::vector<double> worst;
    for (int run = 0; run < runs; ++run) {
      page.cmbPattern->lineEdit()->clear();
      while (page.IndexTyping().Queries().Busy()) WaitForEvents();
      stalls.Start();
      for (QChar key : c.Pattern) {
        KeyClick(page.cmbPattern->lineEdit(), key.toLatin1());
        QElapsedTimer gap;
        gap.start();
        while (gap.elapsed() < 60) WaitForEvents();
      }
      while (page.IndexTyping().Queries().Busy()) WaitForEvents();
      worst.push_back(double(stalls.Stop()));
    }
    std::printf("longest GUI stall while typing %s: median %.0f ms, max %.0f ms (timer period 5 ms)\n",
                c.Pattern.toLatin1().constData(), Median(worst), *std::max_element(worst.begin(), worst.end()));
  }

  // A live search alone, then with the background update of the same tree running.
  const QString live = QStringLiteral("file12345*");
  std::vector<double> alone, during;
  LiveSearchMs(page, live);  // warm the cache
  for (int run = 0; run < runs; ++run) {
    alone.push_back(LiveSearchMs(page, live));
    refresh.UpdateNow(tree);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500) WaitForEvents();  // the update is under way
    const bool updating = !refresh.RunningLocation().empty();
    during.push_back(LiveSearchMs(page, live));
    std::printf("  run %d: alone %.0f ms, during %.0f ms%s\n", run + 1, alone.back(), during.back(),
                updating ? "" : " (the update had ended before the search)");
    if (!updating && refresh.StateOf(tree) != nullptr && !refresh.StateOf(tree)->Failure.empty())
      std::printf("  the update: %s\n", refresh.StateOf(tree)->Failure.c_str());
    // Removing the location ends its update, as quitting does; the index stays.
    refresh.SetSettings({});
    while (!refresh.RunningLocation().empty()) WaitForEvents();
    refresh.SetSettings({{tree}, kMaxRefreshMinutes});
  }
  std::printf("live search of %s: alone median %.0f ms; during a background update median %.0f ms; ratio %.2f\n",
              live.toLatin1().constData(), Median(alone), Median(during), Median(during) / Median(alone));
  window->FinishRun(0);
  window.reset();
  SetIndexShelf(nullptr);
  return 0;
}
