#pragma once
// TIndexCrawl: one update of one location's index. An update is a search: the search
// manager, its workers, discovery, credentials, exclusions, loop cuts and error log, with
// the mask "*", every attribute permitted and every entry's details read. Its results do
// not go into a result store: the store's Sink streams each worker's batch straight to
// the index writer, so memory holds one batch per worker, not millions of records.
//
// Every place the search could not reach (a line of its error log naming a server, a
// share or a folder; the whole location when the line names none; unlike a search, a
// crawl logs a share whose first folder cannot be listed) keeps the previous
// index's entries there, with their old date, and its line is in the new index's log:
// nothing indexed vanishes because a server was off. Loop cuts and names too long are
// logged but carry nothing over: a live search leaves those folders out as well.
//
// Polite on the network: at most MaxPerServer workers (4 by default) talk to one server
// at a time, whatever the thread count.
//
// The new index replaces the old one only when the crawl ran to its end and the file was
// written whole (index_writer.h); a failure to write it (a full disk), a location that
// cannot be listed at all, or a stop leaves the previous index as it was.
//
// Threads: Run on the thread that UiThread() serves (the caller installs a hand-off, as
// the command-line program does for a search); it pumps the hand-off until the search
// has ended. OnProgress and OnLogLine run inside the hand-off, never two at once. Stop
// from any thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/search_task.h"
#include "index/index_catalog.h"

// What an update searches with besides its location.
struct TCrawlOptions {
  std::string Exclude;         // masks of names left out, as a search's Exclude
  bool OneFileSystem = false;  // a local walk stays on its start's file system
  int32_t Threads = 12;        // workers at once
  int32_t MaxPerServer = 4;    // workers at once on one server (0: no limit)
};

// How an update went.
struct TCrawlOutcome {
  bool Written = false;         // the new index is in place
  std::string Failure;          // when not written: one line saying why
  std::string Refused;          // the previous file's refusal line, when it was not used
  uint64_t Entries = 0;         // entries in the new index (carried-over ones included)
  uint64_t CarriedOver = 0;     // entries kept from the previous index
  std::vector<std::string> LogLines;  // the search's error log, in its order
  size_t PlacesFailed = 0;      // log lines naming a place that could not be searched
  int64_t StartedMs = 0, EndedMs = 0;
};

class TIndexCrawl {
 public:
  // location is the index's identity (index_location.h): an absolute local folder, a UNC
  // name, "network" or an address range.
  TIndexCrawl(const TIndexCatalog& catalog, std::string location, TCrawlOptions options);

  // Drawn as a search draws its progress: workers ended, entries so far, workers running.
  std::function<void(uint64_t workersEnded, uint64_t entries, int32_t active)> OnProgress;
  // Each line of the search's error log as it comes.
  std::function<void(const std::string& line)> OnLogLine;

  // Searches from root (a folder task or a network task for the location, as a search
  // of it starts; its criteria are replaced by the crawl's) and writes the index. Throws
  // only what the search itself throws when it cannot start a worker at all.
  TCrawlOutcome Run(PSearchTask root);

  // Ends a running crawl early; its index is then not written. Any thread.
  void Stop() { StopAsked.store(true); }

  // The criteria of a crawl: "*", every attribute, no size or time bound.
  static TSearchCriteria Criteria(const TCrawlOptions& options);

 private:
  const TIndexCatalog& Catalog;
  const std::string Location;
  const TCrawlOptions Options;
  std::atomic<bool> StopAsked{false};
};
