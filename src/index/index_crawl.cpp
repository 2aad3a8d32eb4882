#include "index/index_crawl.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <span>

#include "discovery/host_discovery.h"
#include "engine/file_thread.h"
#include "engine/search_manager.h"
#include "engine/wnet_thread.h"
#include "index/index_location.h"
#include "index/index_writer.h"
#include "network/folder_listing.h"
#include "os/file_attr.h"
#include "os/net_errors.h"
#include "os/ui_thread.h"
#include "results/logger.h"
#include "results/result_manager.h"

namespace {

// How long the crawl's thread waits for a hand-off before it looks again.
constexpr int kPumpMs = 50;

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

// Whether path is the first folder of a share: \\server\share, nothing below.
bool IsShareRoot(const std::string& path) {
  if (path.size() < 5 || path.compare(0, 2, "\\\\") != 0) return false;
  const size_t share = path.find('\\', 2);
  return share != std::string::npos && share + 1 < path.size() && path.find('\\', share + 1) == std::string::npos;
}

// The walk of a share's first folder. A search says nothing when a share cannot be
// listed (the server refuses it, or went away after listing its shares); a crawl must
// know, or the share's entries would vanish from the index: such a share gets a line
// in the log, naming it. A share that lists is walked as any folder.
class TShareRootWorker final : public TSearchThread {
 public:
  using TSearchThread::TSearchThread;

 protected:
  void Run() override {
    if (!OpenDirListing(Task->Path)) {
      const uint32_t code = NetErrorFromErrno(errno);
      NETRESOURCEA resource;
      resource.lpProvider = kSmbProviderName;
      resource.lpRemoteName = Task->Path;
      ErrorLog.AddError(code != NO_ERROR ? code : ERROR_BAD_NET_NAME, resource);
      Manager.RaiseLogChanged();
      return;
    }
    TFileThread walk(Manager, std::move(Task), ResultStore, ErrorLog);
    if (!Terminated()) walk.Execute();
  }
};

// The crawl's workers: a search's, with share roots checked as above.
std::unique_ptr<TSearchThread> CreateCrawlWorker(TSearchManager& manager, PSearchTask task) {
  if (task->Path.empty()) return CreateWNetThread(manager, std::move(task), manager.ResultStore, manager.ErrorLog);
  if (IsShareRoot(task->Path))
    return std::make_unique<TShareRootWorker>(manager, std::move(task), manager.ResultStore, manager.ErrorLog);
  return std::make_unique<TFileThread>(manager, std::move(task), manager.ResultStore, manager.ErrorLog);
}

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

  std::atomic<bool> done{false};  // set in a hand-off, read by the pumping loop below
  {
    TSearchManager manager(store, errorLog);
    manager.MaxThreads = Options.Threads;
    manager.MaxPerServer = Options.MaxPerServer;
    manager.SetWorkerFactory(CreateCrawlWorker);
    manager.OnThreadChange = [&](TSearchManager* sender) {
      if (OnProgress) OnProgress(sender->EndedWorkers(), writer->Added(), sender->ActiveThreads());
      if (writeFailure.Any() || StopAsked.load()) sender->Stop();
      if (sender->IsFinished()) done.store(true);
    };
    root->Criteria() = Criteria(Options);
    manager.AddTask(std::move(root));
    // This thread serves the hand-off: the workers' notifications run here.
    while (!done.load()) UiThread().PumpUiCalls(kPumpMs);
    // Destroying the manager waits until every worker is gone.
  }
  errorLog.Changed();  // the lines not yet forwarded; no worker is left to add one

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
