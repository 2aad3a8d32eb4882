#pragma once
// TIndexQuery: a search answered from an index instead of a walk.
//
// It yields exactly the records that a live search with the same criteria from start
// would have found when the index was made, field for field: the same masks (several,
// ";" or ","; an entry matching several is found once), attribute, size and time filter
// (engine/entry_filter.h), exclusions (an excluded folder is not entered, so nothing
// below it is found; the start's own name and the names above it are never tested) and
// one-file-system choice (a mount point on another device than the start's is not
// entered); folders are results like files when a mask matches and the directory bit is
// permitted; a mount point with a pseudo file system was never entered. Paths are
// written as the walk from start writes them: start as given (its trailing separators
// dropped), the separator, the names below it.
//
// start is the indexed location, a folder the crawl listed below it, or, for a
// container index or a server, a server or container whose shares the index holds. When
// the index cannot answer as the walk would (start not listed by the crawl, the crawl
// excluded names the query does not, the crawl stayed on one file system and the query
// does not), Inexact() says why in one line; Run then still answers from what the index
// holds.
//
// Threads: a query is used by one thread. Run may scan with helper threads of its own
// (joined before it returns); deliver is called on the calling thread only. The reader
// must outlive the query.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/search_task.h"
#include "index/index_reader.h"
#include "results/search_result.h"

class TIndexQuery {
 public:
  // Compiles the criteria. Throws TMaskError (engine/masks.h) for a malformed mask or
  // exclusion mask. A mask list without masks finds nothing, as a walk does.
  TIndexQuery(const TIndexReader& index, const TSearchCriteria& criteria, std::string start);
  ~TIndexQuery();
  TIndexQuery(const TIndexQuery&) = delete;
  TIndexQuery& operator=(const TIndexQuery&) = delete;

  // Empty when the answer is exact; otherwise one line saying why not.
  const std::string& Inexact() const;

  // Batches of at most this many results go to deliver.
  static constexpr size_t kBatch = 1024;
  using TDeliver = std::function<void(std::vector<PSearchResult>& batch)>;

  // Finds the results and hands them to deliver in batches (deliver may move the records
  // out; the batch is cleared after each call). Results of one folder share one Path.
  // threads: the most threads that scan (0: one per core, at most 4; 1: none besides the
  // caller). Returns the number of results. Throws TIndexError (Damaged) when the names
  // it scans fail their checksum (before any result was delivered) or a block of detail
  // records it reads fails its own (results before it may have been delivered); an
  // exception thrown by deliver ends the run and is passed on.
  uint64_t Run(const TDeliver& deliver, unsigned threads = 0) const;

  // Counts the results without building them.
  uint64_t Count(unsigned threads = 0) const;

 private:
  class TImpl;
  std::unique_ptr<TImpl> Impl;
};
