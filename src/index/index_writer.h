#pragma once
// TIndexWriter: builds the index file of one location from the entries a crawl finds,
// and puts it in place whole, or not at all.
//
// Entries arrive in batches, from any number of threads, in any order; the entries of one
// folder may come in several batches, mixed with other folders' batches. They are
// spilled as they come to an unnamed temporary file in the index's folder, so memory
// holds only the folder table (about 50 bytes a folder and its name), 16 bytes a batch
// and one buffer of 1 MB, however many entries are written; Commit adds the name filter's
// bits (index_filter.h: about a byte an entry). Commit groups the entries by folder, writes the index to a
// temporary file beside the target (os/atomic_file.h: unnamed until it is complete),
// syncs it and renames it over the target: a crash, a kill or a full disk at any point
// before leaves the previous index as it was, and readers of the previous file keep
// their view (index_reader.h).
//
// A failed section: when the crawl could not search a server, a share or a folder that
// the previous index holds, CarryOver copies the previous index's entries inside it,
// with the previous date, and anything the crawl did find inside that section is
// dropped (a share that went away half-way is kept whole as it was, not half).
//
// What the crawl must give: everything a search of the location with the mask "*",
// every attribute permitted and details wanted (TResultManager::DetailsWanted) finds,
// with the crawl's exclusions and one-file-system choice named in the TIndexInfo given
// to the constructor. For a local location the writer reads the mount table itself when
// it is made (before the crawl starts), as the walk does.
//
// Threads: AddResults, AddEntries, AddLogLine, AddSection and CarryOver from any thread,
// concurrently. Commit from one thread once every other call has returned (the crawl has
// ended); no call after Commit. The destructor without a successful Commit discards
// everything.
//
// Lock: Lock (one per writer) is a leaf of the program's order (os/ui_thread.h): it is
// taken with no other lock held and held only while a batch goes into the folder table
// and the spill buffer (a write to the spill file included); nothing outside the writer
// is called while it is held.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "index/index_types.h"
#include "os/thread_annotations.h"
#include "results/search_result.h"

class TIndexReader;

class TIndexWriter {
 public:
  // Starts the index of info.Location that Commit puts at fileName (mode 0600). Makes
  // the spill file in fileName's folder, which must exist. info's crawl start, exclusions
  // and one-file-system choice are kept; its counts are ignored. For a local location
  // the mount points below it are read now. Throws TIndexError (Io) when the spill file
  // cannot be made, (Usage) for an empty location.
  TIndexWriter(const std::string& fileName, const TIndexInfo& info);
  ~TIndexWriter();
  TIndexWriter(const TIndexWriter&) = delete;
  TIndexWriter& operator=(const TIndexWriter&) = delete;

  // Adds the records of a batch (null slots skipped); each record's Path is its folder
  // ending with its separator. A record whose folder is not the location or below it
  // (for a container: not on a share), or whose name is empty or holds a NUL byte, is
  // left out and counted (Rejected). Throws TIndexError (Io) when the spill file cannot
  // be written (a full disk): the index cannot be committed then.
  void AddResults(std::span<const PSearchResult> batch);
  // The same for entries of one folder.
  void AddEntries(const std::string& folder, std::span<const TIndexEntry> entries);

  // A line of the crawl's error log (a place that could not be searched).
  void AddLogLine(std::string line);
  // Declares a section that this crawl searched (a server or share it reached), gathered
  // at indexedAtMs. Entries are assigned to sections at Commit, whenever they came.
  void AddSection(const std::string& path, int64_t indexedAtMs);
  // The crawl could not search path (a server, a share, a folder): the entries of
  // previous inside path are copied, and path becomes a section marked CarriedOver with
  // the date previous gave the entries there (its innermost section holding path).
  // Entries this writer gets inside path, before or after, are dropped at Commit.
  // Returns the number of entries copied (0 when previous holds nothing there; path is
  // then still marked, so that nothing found half-way is kept). previous must stay open
  // until this returns. Throws TIndexError (Io) as AddResults.
  uint64_t CarryOver(const TIndexReader& previous, const std::string& path);

  // When the crawl ended; Commit uses the time of the call when this was not set.
  void SetCrawlEnded(int64_t endedAtMs);

  // Records added so far (carried-over ones included) and records left out. Any thread.
  uint64_t Added() const;
  uint64_t Rejected() const;

  // Writes the index and puts it at fileName, durably (synced before the rename).
  // Throws TIndexError (Io) when writing or replacing fails: the temporary files are
  // gone and fileName is as it was. Call once.
  void Commit();

 private:
  class TImpl;
  std::unique_ptr<TImpl> Impl;
};

// The current time as index times count it: Unix time in milliseconds, UTC.
int64_t IndexNowMs();
