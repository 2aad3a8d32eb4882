#pragma once
// Helpers for the crawl tests: an index folder of the test's own, a crawl run to its end,
// and the same criteria answered by a live search and by the index, as comparable sets.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>

#include "engine/search_fixture.h"
#include "index/index_crawl.h"
#include "index/index_query.h"
#include "index/index_reader.h"
#include "smb/smb_client.h"
#include "support/smbd_harness.h"

// One result, every field: full name, size, date-time (NaN compares equal to NaN by its
// text), attributes.
using TRecord = std::tuple<std::string, int64_t, std::string, uint32_t>;
using TRecords = std::multiset<TRecord>;

inline TRecord RecordOf(const TSearchResult& result) {
  char time[48];
  if (std::isnan(result.DateTime)) std::snprintf(time, sizeof time, "nan");
  else std::snprintf(time, sizeof time, "%.9f", result.DateTime);
  return {result.FullName(), result.Size, time, result.Attr};
}

// A folder for index files, removed at the end.
class TIndexFolder {
 public:
  TIndexFolder() : Catalog(Tree.Path("index")) {}
  TTempTree Tree;
  TIndexCatalog Catalog;
};

// Runs one crawl of location (root made by the caller, or a folder task for location)
// with the queued hand-off pumped by this thread, as a UI thread would.
inline TCrawlOutcome RunCrawl(const TIndexCatalog& catalog, const std::string& location,
                              PSearchTask root = nullptr, TCrawlOptions options = {}) {
  TQueuedUiThread ui;
  SetUiThread(&ui);
  if (!root) {
    root = std::make_unique<TSearchTask>();
    root->Path = location;
  }
  TIndexCrawl crawl(catalog, location, options);
  TCrawlOutcome outcome = crawl.Run(std::move(root));
  SetUiThread(nullptr);
  return outcome;
}

// What a live search with criteria from root finds, every detail read.
inline TRecords LiveSearch(const TSearchCriteria& criteria, PSearchTask root) {
  TSearchRig rig(THandOff::Queued);
  rig.Manager->MaxThreads = 4;
  rig.Store.DetailsWanted = true;
  root->Criteria() = criteria;
  rig.Run(std::move(root));
  TRecords records;
  for (size_t i = 0; i < rig.Store.Count(); ++i) records.insert(RecordOf(rig.Store.Item(i)));
  return records;
}

inline PSearchTask FolderTask(const std::string& path) {
  auto task = std::make_unique<TSearchTask>();
  task->Path = path;
  return task;
}

// What the index answers for criteria from start.
inline TRecords IndexedSearch(const TIndexReader& index, const TSearchCriteria& criteria, const std::string& start) {
  TRecords records;
  TIndexQuery query(index, criteria, start);
  query.Run([&](std::vector<PSearchResult>& batch) {
    for (const PSearchResult& result : batch)
      if (result) records.insert(RecordOf(*result));
  });
  return records;
}

inline TRecords IndexedSearch(const TIndexCatalog& catalog, const std::string& location,
                              const TSearchCriteria& criteria, const std::string& start) {
  const PIndexReader index = TIndexReader::Open(catalog.FileFor(location));
  return IndexedSearch(*index, criteria, start);
}

// Every entry the index of location holds: the answer to "*" with every attribute.
inline TRecords Everything(const TIndexCatalog& catalog, const std::string& location) {
  return IndexedSearch(catalog, location, TIndexCrawl::Criteria({}), location);
}

// The loopback smbd of this test program, started by its first user, stopped at exit.
inline TSmbdHarness* IndexTestServer() {
  static std::unique_ptr<TSmbdHarness> server = [] {
    TSmbClientOptions options;
    options.Interfaces = "127.0.0.1/8";
    options.NameResolveOrder = "host";
    SmbInitialize(options);
    return std::make_unique<TSmbdHarness>(14571);
  }();
  return server.get();
}
