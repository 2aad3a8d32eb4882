#include "index/index_crawl.h"

#include <sys/stat.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <span>

#include "discovery/host_discovery.h"
#include "engine/search_manager.h"
#include "index/index_location.h"
#include "index/index_writer.h"
#include "network/folder_listing.h"
#include "os/file_attr.h"
#include "os/net_errors.h"
#include "os/ui_thread.h"
#include "results/logger.h"
#include "results/result_manager.h"

namespace {

// A log line that says the search left a folder out on purpose, as any live search of
// the location does: nothing is missing from the index there.
bool IsCut(uint32_t errorCode) {
  return errorCode == ERROR_CANT_RESOLVE_FILENAME || errorCode == ERROR_FILENAME_EXCED_RANGE;
}

// The first failure of the writer during the crawl (a full disk). Workers report into it
// concurrently; Lock is a leaf, held only to set or read the line.
class TFirstFailure {
 public:
  void Set(const std::string& line) {
    std::lock_guard<std::mutex> lock(Lock);
    if (Line.empty()) Line = line;
    Failed.store(true);
  }
  bool Any() const { return Failed.load(); }
  std::string Get() {
    std::lock_guard<std::mutex> lock(Lock);
    return Line;
  }

 private:
  std::mutex Lock;
  std::string Line;  // guarded by Lock
  std::atomic<bool> Failed{false};
};

}  // namespace

TIndexCrawl::TIndexCrawl(const TIndexCatalog& catalog, std::string location, TCrawlOptions options)
    : Catalog(catalog), Location(NormalLocation(location)), Options(std::move(options)) {}

TSearchCriteria TIndexCrawl::Criteria(const TCrawlOptions& options) {
  TSearchCriteria criteria;
  criteria.Mask = "*";
  criteria.FileAttr = kTestedAttributes;
  criteria.Exclude = options.Exclude;
  criteria.OneFileSystem = options.OneFileSystem;
  return criteria;
}

TCrawlOutcome TIndexCrawl::Run(PSearchTask root) {
  TCrawlOutcome outcome;
  outcome.StartedMs = IndexNowMs();
  const std::string fileName = Catalog.FileFor(Location);
  TIndexInfo info;
  info.Location = Location;
  info.CrawlStartedMs = outcome.StartedMs;
  info.CrawlExclude = Options.Exclude;
  info.CrawlOneFileSystem = Options.OneFileSystem;
  if (LocationKindOf(Location) == TLocationKind::Local) {
    // A folder that cannot be listed at all is no empty folder: keep what was known.
    if (!OpenDirListing(Location)) {
      outcome.Failure = "cannot list folder \"" + Location + "\": " + std::strerror(errno);
      return outcome;
    }
    struct stat status {};
    if (stat(Location.c_str(), &status) == 0) info.RootDevice = status.st_dev;
  }

  PIndexReader previous;
  try {
    previous = TIndexReader::Open(fileName);
  } catch (const TIndexError& error) {
    if (error.Kind != TIndexError::TKind::Missing) outcome.Refused = error.what();
  }

  std::unique_ptr<TIndexWriter> writer;
  try {
    Catalog.EnsureFolder();
    writer = std::make_unique<TIndexWriter>(fileName, info);
  } catch (const TIndexError& error) {
    outcome.Failure = error.what();
    return outcome;
  }

  TFirstFailure writeFailure;
  TResultManager store;
  store.DetailsWanted = true;
  store.Sink = [&](int32_t count, PSearchResult* items) {
    if (writeFailure.Any()) return;  // the index is lost already; the search is stopping
    try {
      writer->AddResults(std::span<const PSearchResult>(items, static_cast<size_t>(count)));
    } catch (const TIndexError& error) {
      writeFailure.Set(error.what());
    }
  };
  TLogger errorLog;
  size_t linesForwarded = 0;
  errorLog.OnChange = [&](TLogger* log) {
    for (; linesForwarded < log->Count(); ++linesForwarded)
      if (OnLogLine) OnLogLine(log->Line(linesForwarded));
  };

  std::mutex doneLock;  // a leaf lock: guards done
  std::condition_variable doneSignal;
  bool done = false;
  {
    TSearchManager manager(store, errorLog);
    manager.MaxThreads = Options.Threads;
    manager.MaxPerServer = Options.MaxPerServer;
    manager.OnThreadChange = [&](TSearchManager* sender) {
      if (OnProgress) OnProgress(sender->EndedWorkers(), writer->Added(), sender->ActiveThreads());
      if (writeFailure.Any() || StopAsked.load()) sender->Stop();
      if (!sender->IsFinished()) return;
      std::lock_guard<std::mutex> lock(doneLock);
      done = true;
      doneSignal.notify_all();
    };
    root->Criteria() = Criteria(Options);
    manager.AddTask(std::move(root));
    std::unique_lock<std::mutex> lock(doneLock);
    doneSignal.wait(lock, [&] { return done; });
    // Destroying the manager waits until every worker is gone.
  }
  UiThread().InvokeAndWait([&] { errorLog.Changed(); });

  for (size_t i = 0; i < errorLog.Count(); ++i) {
    const std::string& line = errorLog.Line(i);
    outcome.LogLines.push_back(line);
    if (IsDiscoveryNote(line)) continue;
    writer->AddLogLine(line);
    const TLogger::TPlace& place = errorLog.Place(i);
    if (IsCut(place.ErrorCode)) continue;
    ++outcome.PlacesFailed;
    if (!previous) continue;
    // A line that names no place (the entire network's listing failed) lost everything.
    const std::string& name = place.Name.empty() ? Location : place.Name;
    try {
      outcome.CarriedOver += writer->CarryOver(*previous, name);
    } catch (const TIndexError& error) {
      // A place the previous index cannot hold (outside the location) has nothing to keep.
      if (error.Kind == TIndexError::TKind::Io) writeFailure.Set(error.what());
    }
  }
  if (StopAsked.load()) outcome.Failure = "the update was stopped";
  if (writeFailure.Any()) outcome.Failure = writeFailure.Get();
  if (!outcome.Failure.empty()) return outcome;  // the writer discards its files
  outcome.EndedMs = IndexNowMs();
  writer->SetCrawlEnded(outcome.EndedMs);
  try {
    writer->Commit();
  } catch (const TIndexError& error) {
    outcome.Failure = error.what();
    return outcome;
  }
  outcome.Written = true;
  outcome.Entries = writer->Added();
  return outcome;
}
