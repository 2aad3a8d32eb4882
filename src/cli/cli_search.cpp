#include "cli/cli_search.h"

#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>

#include "cli/cli_files.h"
#include "cli/cli_network.h"
#include "cli/cli_progress.h"
#include "discovery/host_discovery.h"
#include "engine/search_manager.h"
#include "network/folder_listing.h"
#include "os/ui_thread.h"
#include "results/logger.h"
#include "results/result_manager.h"
#include "results/result_text.h"

namespace {

// Writes the results that the store gained since the last call. Runs inside the
// store's Changed, a hand-off notification: calls never overlap, and the order of output
// is the store's order, which is the order of delivery.
class TResultPrinter {
 public:
  TResultPrinter(const TCliOptions& options, std::FILE* out) : Options(options), Out(out) {}

  void PrintNew(const TResultManager& store) {
    const size_t count = store.Count();
    for (; Printed < count; ++Printed) Print(store.Item(Printed));
  }
  size_t Printed = 0;

 private:
  void Print(const TSearchResult& result) { PrintCliResult(Options, result, Out); }

  const TCliOptions& Options;
  std::FILE* Out;
};

// Whether anything asked for shows or keeps a result's size, time or attributes. When
// nothing does, the walker need not stat each result.
bool NeedsDetails(const TCliOptions& options) {
  return options.Long || options.Format != TOutputFormat::Plain || options.SortKey != 0 || !options.SaveFile.empty() ||
         !options.ExportFile.empty();
}

PSearchTask RootTask(const TCliOptions& options) {
  auto task = std::make_unique<TSearchTask>();
  task->Path = options.Location;
  if (IsNetworkLocation(options.Location)) SetNetworkLocation(options.Location, *task);
  task->Criteria() = CriteriaOf(options.Pattern, options);
  task->OneFileSystem = options.OneFileSystem;
  return task;
}

}  // namespace

int RunCliSearch(const TCliOptions& options, std::FILE* out, std::FILE* err) {
  if (!IsNetworkLocation(options.Location) && !OpenDirListing(options.Location)) {
    const std::string reason = std::strerror(errno);
    WriteCliError(options.Format, "cannot list folder \"" + options.Location + "\": " + reason, err);
    return 1;
  }
  PrepareCliNetwork(options);
  BeginStructuredOutput(options.Format, out);
  // No state of this program is bound to one thread, so every hand-off runs on the
  // worker that asks for it, serialised by one lock.
  TDirectUiThread uiThread;
  SetUiThread(&uiThread);
  struct TRestoreUiThread {
    ~TRestoreUiThread() { SetUiThread(nullptr); }
  } restoreUiThread;

  TResultManager store;
  store.DetailsWanted = NeedsDetails(options);
  TLogger errorLog;
  TResultPrinter printer(options, out);
  TCliProgress progress(err, isatty(fileno(err)) == 1);

  std::mutex doneLock;  // a leaf lock: guards done
  std::condition_variable doneSignal;
  bool done = false;
  // Sorted output waits for the whole set; otherwise results are printed as they come.
  // Error-log lines go to stderr as they arrive (Changed runs as a hand-off notification).
  size_t logLinesPrinted = 0;
  errorLog.OnChange = [&](TLogger* log) {
    progress.Clear();
    for (; logLinesPrinted < log->Count(); ++logLinesPrinted)
      WriteLogLine(options.Format, log->Line(logLinesPrinted), err);
  };
  store.OnChange = [&](TResultManager* changed) {
    if (options.SortKey == 0) printer.PrintNew(*changed);
  };
  int status = 0;
  {
    TSearchManager manager(store, errorLog);
    manager.MaxThreads = options.Threads;
    manager.OnThreadChange = [&](TSearchManager* sender) {
      progress.Update(sender->EndedWorkers(), store.Count(), sender->ActiveThreads());
      if (!sender->IsFinished()) return;
      std::lock_guard<std::mutex> lock(doneLock);
      done = true;
      doneSignal.notify_all();
    };
    try {
      manager.AddTask(RootTask(options));
      std::unique_lock<std::mutex> lock(doneLock);
      doneSignal.wait(lock, [&] { return done; });
    } catch (const std::exception& error) {
      WriteCliError(options.Format, error.what(), err);
      status = 1;
    }
    // Destroying the manager waits until every worker is gone.
  }
  uiThread.InvokeAndWait([&] { progress.Clear(); });
  if (status == 0) status = FinishCliResults(options, store, printer.Printed, out, err);
  // As find does: everything found is printed, and a place that could not be searched
  // (a host, share or folder whose line is in the error log) makes the status 1. A note
  // that a discovery source is absent names no such place.
  for (size_t line = 0; line < errorLog.Count(); ++line)
    if (!IsDiscoveryNote(errorLog.Line(line))) status = 1;
  std::fflush(out);
  if (std::ferror(out)) {
    WriteCliError(options.Format, "cannot write the results", err);
    return 1;
  }
  return status;
}
