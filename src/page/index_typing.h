#pragma once
// Answers as the user types: a page whose location is indexed, or lies inside an indexed
// location (index_shelf.h), shows after every change of its pattern the entries of that
// index that a search with the pattern and the page's filters would find, without
// waiting for Start. Enter or "Start search" runs the live search as always; its results
// replace the indexed ones. A page whose location is not indexed is left as it is.
//
// The results from the index are ordinary records of the page's result store: sorting,
// find, open, copy, drag, save, load and export work on them as on any other.
//
// TIndexQueryThread runs the queries on a thread of its own, one at a time; a query asked
// for while another runs makes that one stale: it ends at its next batch and nothing more
// of it reaches the UI thread. Batches reach the UI thread as queued Qt calls.
//
// Threads: both classes are used on the UI thread; the query thread only reads the index
// (immutable) and its own request. Lock: TIndexQueryThread::Lock, a leaf (os/ui_thread.h):
// held only to hand a request over or to take it, never while a query runs or a batch is
// posted.
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/search_task.h"
#include "index/index_reader.h"
#include "results/search_result.h"
#include "results/sorted_list.h"

class TSearchPage;

class TIndexQueryThread : public QObject {
  Q_OBJECT

 public:
  explicit TIndexQueryThread(QObject* parent = nullptr);
  // Abandons the current query and waits for the thread (a query stops at its next batch).
  ~TIndexQueryThread() override;

  // The records of the current query, in batches, on the UI thread: the first batch as
  // soon as it is found, later ones gathered to at most kGathered records.
  std::function<void(std::vector<PSearchResult>& batch)> OnBatch;
  // The current query's end on the UI thread: the number found, or why it found nothing
  // (a malformed mask, a damaged index) in error.
  std::function<void(uint64_t found, const std::string& error)> OnDone;
  static constexpr size_t kGathered = 32768;

  // Starts answering criteria from start out of index; any query before is abandoned.
  void Ask(PIndexReader index, TSearchCriteria criteria, std::string start);
  // Abandons the current query: nothing more of it reaches OnBatch or OnDone.
  void Abandon();
  // A query was asked for and has not reported its end.
  bool Busy() const { return IsBusy; }
  // Frees records on the query thread, between queries: freeing a large answer would
  // hold up the UI thread.
  void Dispose(std::unique_ptr<TSortedList<TSearchResult>> records);

 private:
  struct TRequest {
    PIndexReader Index;
    TSearchCriteria Criteria;
    std::string Start;
    uint64_t Generation = 0;
  };
  void Work();
  void Answer(const TRequest& request);
  void Post(uint64_t generation, std::vector<PSearchResult>&& batch);

  std::mutex Lock;  // a leaf: guards Pending, Disposals and Quit
  std::condition_variable Asked;
  std::optional<TRequest> Pending;
  std::vector<std::unique_ptr<TSortedList<TSearchResult>>> Disposals;
  bool Quit = false;
  std::atomic<uint64_t> Current{0};  // the generation whose results are wanted
  bool IsBusy = false;               // UI thread only
  std::thread Worker;                // last: started once the fields above exist
};

// The page's side: follows the pattern box and puts the index's answers into the page's
// store. Owned by the page.
class TIndexTyping : public QObject {
  Q_OBJECT

 public:
  explicit TIndexTyping(TSearchPage& page);

  // The pattern or the location changed: asks the index, when the page's location has one
  // and no live search runs; otherwise does nothing.
  void PatternChanged();
  // A live search starts: the query in flight is dropped and the status text goes.
  void LiveSearchStarts();
  // "Index of HH:MM" while the page shows answers from an index; empty otherwise.
  const QString& StatusText() const { return Status; }
  // The query thread (tests wait on it).
  TIndexQueryThread& Queries() { return *Thread; }

 private:
  void Batch(std::vector<PSearchResult>& batch);
  void Done(uint64_t found, const std::string& error);
  void ClearOnce();

  TSearchPage& Page;
  TIndexQueryThread* Thread = nullptr;  // a child of this object
  bool Cleared = false;  // the current query's results replaced what the page showed
  QString Status;
  QString PendingStatus;  // the status of the query in flight
};

// "Index of HH:MM" for an index made at endedMs (Unix milliseconds); a date goes before
// the time when the index is not of today.
QString IndexStatusOf(int64_t endedMs);
