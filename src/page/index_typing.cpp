#include "page/index_typing.h"

#include <QDateTime>

#include "engine/masks.h"
#include "index/index_query.h"
#include "index/index_types.h"
#include "page/index_shelf.h"
#include "page/result_model.h"
#include "page/search_page.h"
#include "results/result_manager.h"
#include "settings/setting.h"

namespace {

// Thrown out of a stale query's delivery to end its run.
struct TAbandoned {};

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

QString IndexStatusOf(int64_t endedMs) {
  const QDateTime made = QDateTime::fromMSecsSinceEpoch(endedMs);
  const bool today = made.date() == QDate::currentDate();
  return QStringLiteral("Index of ") + made.toString(today ? QStringLiteral("HH:mm") : QStringLiteral("yyyy-MM-dd HH:mm"));
}

TIndexQueryThread::TIndexQueryThread(QObject* parent) : QObject(parent), Worker([this] { Work(); }) {}

TIndexQueryThread::~TIndexQueryThread() {
  {
    std::lock_guard<std::mutex> lock(Lock);
    Quit = true;
    Pending.reset();
    Current.fetch_add(1);
  }
  Asked.notify_all();
  Worker.join();
}

void TIndexQueryThread::Ask(PIndexReader index, TSearchCriteria criteria, std::string start) {
  {
    std::lock_guard<std::mutex> lock(Lock);
    const uint64_t generation = Current.fetch_add(1) + 1;
    Pending = TRequest{std::move(index), std::move(criteria), std::move(start), generation};
  }
  IsBusy = true;
  Asked.notify_one();
}

void TIndexQueryThread::Abandon() {
  {
    std::lock_guard<std::mutex> lock(Lock);
    Pending.reset();
    Current.fetch_add(1);
  }
  IsBusy = false;
}

void TIndexQueryThread::Dispose(std::unique_ptr<TSortedList<TSearchResult>> records) {
  {
    std::lock_guard<std::mutex> lock(Lock);
    Disposals.push_back(std::move(records));
  }
  Asked.notify_one();
}

void TIndexQueryThread::Work() {
  for (;;) {
    TRequest request;
    std::vector<std::unique_ptr<TSortedList<TSearchResult>>> disposals;
    {
      std::unique_lock<std::mutex> lock(Lock);
      Asked.wait(lock, [this] { return Quit || Pending.has_value() || !Disposals.empty(); });
      disposals.swap(Disposals);
      if (Quit) return;  // what is left to free goes with this object, after the join
      if (Pending) {
        request = std::move(*Pending);
        Pending.reset();
      }
    }
    disposals.clear();
    if (request.Index) Answer(request);
  }
}

void TIndexQueryThread::Answer(const TRequest& request) {
  const uint64_t generation = request.Generation;
  std::vector<PSearchResult> gathered;
  bool first = true;
  uint64_t found = 0;
  std::string error;
  try {
    const TIndexQuery query(*request.Index, request.Criteria, request.Start);
    found = query.Run([&](std::vector<PSearchResult>& batch) {
      if (Current.load() != generation) throw TAbandoned{};
      for (PSearchResult& result : batch)
        if (result) gathered.push_back(std::move(result));
      // The first rows go at once, so that they are painted while the rest is found.
      if (first || gathered.size() >= kGathered) {
        first = false;
        Post(generation, std::move(gathered));
        gathered.clear();
      }
    });
  } catch (const TAbandoned&) {
    return;
  } catch (const std::exception& failure) {
    error = failure.what();
    gathered.clear();
    found = 0;
  }
  if (!gathered.empty()) Post(generation, std::move(gathered));
  QMetaObject::invokeMethod(
      this,
      [this, generation, found, error] {
        if (Current.load() != generation) return;
        IsBusy = false;
        if (OnDone) OnDone(found, error);
      },
      Qt::QueuedConnection);
}

void TIndexQueryThread::Post(uint64_t generation, std::vector<PSearchResult>&& batch) {
  auto records = std::make_shared<std::vector<PSearchResult>>(std::move(batch));
  QMetaObject::invokeMethod(
      this,
      [this, generation, records] {
        if (Current.load() != generation || !OnBatch) return;
        OnBatch(*records);
      },
      Qt::QueuedConnection);
}

TIndexTyping::TIndexTyping(TSearchPage& page) : QObject(&page), Page(page), Thread(new TIndexQueryThread(this)) {
  Thread->OnBatch = [this](std::vector<PSearchResult>& batch) { Batch(batch); };
  Thread->OnDone = [this](uint64_t found, const std::string& error) { Done(found, error); };
}

void TIndexTyping::PatternChanged() {
  if (Page.Searching()) return;
  const std::string location = IndexLocationOfSetting(Page.Setting());
  PIndexReader index = location.empty() ? nullptr : IndexShelf().Covering(location);
  if (!index) {
    // Not indexed (any more): the page behaves as it always has.
    Thread->Abandon();
    if (!Status.isEmpty()) {
      Status.clear();
      if (Page.OnPageChange) Page.OnPageChange(&Page);
    }
    return;
  }
  const std::string pattern = Trimmed(Page.PatternText());
  PendingStatus = IndexStatusOf(index->Info().CrawlEndedMs);
  Cleared = false;
  if (pattern.empty()) {
    // Nothing typed: nothing to show, as before any search.
    Thread->Abandon();
    Done(0, std::string());
    return;
  }
  Thread->Ask(std::move(index), CriteriaOf(pattern, Page.Setting()), location);
}

void TIndexTyping::LiveSearchStarts() {
  Thread->Abandon();
  Status.clear();
  PendingStatus.clear();
}

void TIndexTyping::ClearOnce() {
  if (Cleared) return;
  Cleared = true;
  // The view lets go of the rows first; the records are freed on the query thread.
  Page.ResultModel().SetRowCount(0);
  Thread->Dispose(Page.ResultStore().TakeAll());
  Page.ClearResultsAndLog();
  Status = PendingStatus;
}

void TIndexTyping::Batch(std::vector<PSearchResult>& batch) {
  if (Page.Searching()) return;
  ClearOnce();
  TResultManager& store = Page.ResultStore();
  // No search of this page delivers now; the lock is taken as every writer takes it.
  if (store.Lock.WaitFor(INFINITE)) {
    store.AddResults(int32_t(batch.size()), batch.data());
    store.Lock.Release();
  }
  const bool firstRows = Page.ResultRowCount() == 0;
  Page.SyncResultCount();
  // The first rows are painted now rather than at the list's next repaint interval.
  if (firstRows) Page.ResultModel().Flush();
}

void TIndexTyping::Done(uint64_t found, const std::string& error) {
  (void)found;
  if (Page.Searching()) return;
  ClearOnce();
  Page.ResultModel().Flush();
  if (!error.empty()) Status = PendingStatus + QStringLiteral(": ") + QString::fromLocal8Bit(error);
  Page.ScheduleUpdateActions();
  if (Page.OnPageChange) Page.OnPageChange(&Page);
}
