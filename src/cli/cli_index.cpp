#include "cli/cli_index.h"

#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli/cli_files.h"
#include "cli/cli_network.h"
#include "cli/cli_output.h"
#include "cli/cli_progress.h"
#include "discovery/host_discovery.h"
#include "discovery/range_probe.h"
#include "index/index_catalog.h"
#include "index/index_crawl.h"
#include "index/index_location.h"
#include "index/index_query.h"
#include "os/dos_time.h"
#include "os/ui_thread.h"
#include "results/result_manager.h"
#include "results/result_text.h"

namespace {

// A line on stderr that is neither a result nor a failure: "lanternquest-cli: TEXT", or
// {"note": TEXT} under --format json.
void WriteNote(TOutputFormat format, const std::string& text, std::FILE* err) {
  if (format == TOutputFormat::Json) {
    std::fprintf(err, "%s\n", nlohmann::ordered_json{{"note", LossyUtf8(text)}}.dump().c_str());
    return;
  }
  std::fprintf(err, "lanternquest-cli: %s\n", text.c_str());
}

// An index time (Unix milliseconds, UTC) as a local date-time of the result forms.
double LocalDateTimeOfMs(int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec);
}

std::string LocalTimeText(int64_t ms) {
  const double local = LocalDateTimeOfMs(ms);
  return DateToText(local) + " " + TimeToText(local);
}

// The hand-off of the program's notifications for the length of one search: every call
// runs on the thread that asks for it (see cli_search.cpp).
class TCliUiThread {
 public:
  TCliUiThread() { SetUiThread(&Thread); }
  ~TCliUiThread() { SetUiThread(nullptr); }
  TDirectUiThread Thread;
};

// The root task of a search of location (as given, or an index's name for it).
PSearchTask CrawlRoot(const std::string& location) {
  auto task = std::make_unique<TSearchTask>();
  if (IsNetworkLocation(location)) {
    SetNetworkLocation(location, *task);
  } else {
    task->Path = location;
  }
  return task;
}

// Builds or refreshes the index of location (as given on the command line or as an
// index names it). Returns the exit status of this location.
int UpdateOne(const TCliOptions& options, const TIndexCatalog& catalog, const std::string& location,
              std::FILE* err) {
  const std::string name = IndexLocationOf(location);
  TCrawlOptions crawl;
  crawl.Threads = options.Threads;
  crawl.Exclude = options.Exclude;
  crawl.OneFileSystem = options.OneFileSystem;
  if (options.Exclude.empty() && !options.OneFileSystem) {
    try {
      const PIndexReader previous = TIndexReader::Open(catalog.FileFor(name));
      crawl.Exclude = previous->Info().CrawlExclude;
      crawl.OneFileSystem = previous->Info().CrawlOneFileSystem;
    } catch (const TIndexError&) {
      // No previous index to take them from (the crawl says why when it matters).
    }
  }
  TCliOptions network = options;
  network.Location = location;
  PrepareCliNetwork(network);

  TCliUiThread ui;
  TCliProgress progress(err, isatty(fileno(err)) == 1);
  TIndexCrawl crawler(catalog, name, crawl);
  crawler.OnProgress = [&](uint64_t ended, uint64_t entries, int32_t active) {
    progress.Update(ended, static_cast<size_t>(entries), active);
  };
  crawler.OnLogLine = [&](const std::string& line) {
    progress.Clear();
    WriteLogLine(options.Format, line, err);
  };
  const TCrawlOutcome outcome = crawler.Run(CrawlRoot(IsNetworkLocation(location) ? location : name));
  ui.Thread.InvokeAndWait([&] { progress.Clear(); });
  if (!outcome.Refused.empty()) WriteNote(options.Format, outcome.Refused + "; it is made anew", err);
  if (!outcome.Written) {
    WriteCliError(options.Format, "the index of \"" + name + "\" is not updated: " + outcome.Failure, err);
    return 1;
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(outcome.EndedMs - outcome.StartedMs) / 1000.0);
  std::string summary = "indexed \"" + name + "\": " + std::to_string(outcome.Entries) + " entries in " + seconds + " s";
  if (outcome.PlacesFailed > 0) {
    summary += "; " + std::to_string(outcome.PlacesFailed) + " places could not be searched, " +
               std::to_string(outcome.CarriedOver) + " entries kept from the previous index";
  }
  WriteNote(options.Format, summary, err);
  // As a search's: a line of its log (a place not searched, a loop cut) makes it 1.
  for (const std::string& line : outcome.LogLines)
    if (!IsDiscoveryNote(line)) return 1;
  return 0;
}

int RunUpdate(const TCliOptions& options, std::FILE* err) {
  const TIndexCatalog catalog;
  int status = 0;
  if (!options.IndexLocations.empty()) {
    for (const std::string& location : options.IndexLocations)
      status = std::max(status, UpdateOne(options, catalog, location, err));
    return status;
  }
  const std::vector<TIndexCatalog::TListing> listings = catalog.List();
  if (listings.empty()) WriteNote(options.Format, "no location is indexed yet: index one with --update-index LOCATION", err);
  for (const TIndexCatalog::TListing& listing : listings) {
    if (!listing.Index) {
      WriteCliError(options.Format, listing.Error + "; run --update-index with its location to make it anew", err);
      status = 1;
      continue;
    }
    status = std::max(status, UpdateOne(options, catalog, listing.Index->Info().Location, err));
  }
  return status;
}

// The index that answers for name: its own file when that opens, else the innermost
// indexed location containing it. A refused file of name's own is said on err.
PIndexReader CoveringIndex(const TIndexCatalog& catalog, const std::string& name, TOutputFormat format,
                           std::FILE* err) {
  try {
    return TIndexReader::Open(catalog.FileFor(name));
  } catch (const TIndexError& error) {
    if (error.Kind != TIndexError::TKind::Missing)
      WriteCliError(format, std::string(error.what()) + "; the next --update-index makes it anew", err);
  }
  return catalog.FindCovering(name);
}

int RunIndexed(const TCliOptions& options, std::FILE* out, std::FILE* err) {
  const std::string name = IndexLocationOf(options.Location);
  const TIndexCatalog catalog;
  const PIndexReader index = CoveringIndex(catalog, name, options.Format, err);
  if (!index) {
    WriteCliError(options.Format,
                  "no index covers \"" + name + "\"; make one with: lanternquest-cli --update-index '" +
                      options.Location + "'",
                  err);
    return 2;
  }
  const TIndexInfo& info = index->Info();
  WriteNote(options.Format,
            "answered from the index of \"" + info.Location + "\" made " + LocalTimeText(info.CrawlEndedMs), err);
  TSearchCriteria criteria = CriteriaOf(options.Pattern, options);
  criteria.OneFileSystem = options.OneFileSystem;
  const TIndexQuery query(*index, criteria, name);
  if (!query.Inexact().empty()) WriteNote(options.Format, query.Inexact(), err);

  // A local folder given relative (or spelt otherwise than the index names it) is written
  // as a search from it writes it.
  const std::string given = options.Location;
  const bool respell = !IsNetworkLocation(given) && given != name;
  // Results come folder by folder, those of one folder sharing a Path: the last one is
  // respelt once.
  TPathRef lastFolder, respelt;
  const auto respellPath = [&](TSearchResult& result) {
    if (!respell || !result.Path) return;
    if (result.Path != lastFolder) {
      const std::string& folder = *result.Path;
      lastFolder = result.Path;
      respelt = std::make_shared<const std::string>(
          folder.compare(0, name.size(), name) == 0 ? given + folder.substr(name.size()) : folder);
    }
    result.Path = respelt;
  };

  BeginStructuredOutput(options.Format, out);
  const bool keep = options.SortKey != 0 || !options.SaveFile.empty() || !options.ExportFile.empty();
  std::vector<PSearchResult> kept;
  int status = 0;
  try {
    query.Run([&](std::vector<PSearchResult>& batch) {
      for (PSearchResult& result : batch) {
        if (!result) continue;
        respellPath(*result);
        if (keep) {
          kept.push_back(std::move(result));
        } else {
          PrintCliResult(options, *result, out);
        }
      }
    });
  } catch (const TIndexError& error) {
    WriteCliError(options.Format, error.what(), err);
    return 1;
  }
  TResultManager store;
  store.ReplaceAll(std::move(kept));
  status = FinishCliResults(options, store, 0, out, err);
  // As the search that made the index: the places it could not search are said again,
  // and make the status 1, when the answer is for the whole indexed location.
  if (NormalLocation(info.Location) == name) {
    for (const std::string& line : index->LogLines()) {
      WriteLogLine(options.Format, line, err);
      status = 1;
    }
  }
  std::fflush(out);
  if (std::ferror(out)) {
    WriteCliError(options.Format, "cannot write the results", err);
    return 1;
  }
  return status;
}

int RunStatus(const TCliOptions& options, std::FILE* out, std::FILE* err) {
  const TIndexCatalog catalog;
  if (options.Format == TOutputFormat::Csv)
    std::fputs("location,entries,bytes,updated,crawl_seconds,places_failed,file\r\n", out);
  int status = 0;
  for (const TIndexCatalog::TListing& listing : catalog.List()) {
    if (!listing.Index) {
      WriteCliError(options.Format, listing.Error, err);
      status = 1;
      continue;
    }
    const TIndexInfo& info = listing.Index->Info();
    const double seconds = static_cast<double>(info.CrawlEndedMs - info.CrawlStartedMs) / 1000.0;
    const size_t failed = listing.Index->LogLines().size();
    const double updated = LocalDateTimeOfMs(info.CrawlEndedMs);
    char secondsText[32];
    std::snprintf(secondsText, sizeof secondsText, "%.1f", seconds);
    if (options.Format == TOutputFormat::Json) {
      nlohmann::ordered_json object;
      object["location"] = LossyUtf8(info.Location);
      object["entries"] = info.EntryCount;
      object["bytes"] = info.FileBytes;
      object["updated"] = IsoLocalTime(updated);
      object["crawl_seconds"] = static_cast<double>(info.CrawlEndedMs - info.CrawlStartedMs) / 1000.0;
      object["places_failed"] = failed;
      object["file"] = LossyUtf8(listing.File);
      std::fprintf(out, "%s\n", object.dump().c_str());
    } else if (options.Format == TOutputFormat::Csv) {
      std::fprintf(out, "%s,%llu,%llu,%s,%s,%zu,%s\r\n", CsvField(LossyUtf8(info.Location)).c_str(),
                   static_cast<unsigned long long>(info.EntryCount),
                   static_cast<unsigned long long>(info.FileBytes), IsoLocalTime(updated).c_str(), secondsText,
                   failed, CsvField(LossyUtf8(listing.File)).c_str());
    } else {
      std::fprintf(out, "%s\t%llu entries\t%llu bytes\tupdated %s\tcrawl %s s\t%zu places failed\n",
                   info.Location.c_str(), static_cast<unsigned long long>(info.EntryCount),
                   static_cast<unsigned long long>(info.FileBytes), LocalTimeText(info.CrawlEndedMs).c_str(),
                   secondsText, failed);
    }
  }
  std::fflush(out);
  if (std::ferror(out)) {
    WriteCliError(options.Format, "cannot write the status", err);
    return 1;
  }
  return status;
}

int RunForget(const TCliOptions& options, std::FILE* err) {
  const std::string name = IndexLocationOf(options.ForgetIndex);
  if (TIndexCatalog().Remove(name)) return 0;
  WriteCliError(options.Format, "no index of \"" + name + "\"", err);
  return 1;
}

}  // namespace

bool IsIndexCommand(const TCliOptions& options) {
  return options.UpdateIndex || options.Indexed || options.IndexStatus || !options.ForgetIndex.empty();
}

std::string IndexLocationOf(const std::string& location) {
  if (IsNetworkLocation(location)) {
    if (location == "network" || ParseIpv4Range(location)) return location;
    TSearchTask task;
    SetNetworkLocation(location, task);
    return NormalLocation(task.NetResource->lpRemoteName.value_or(location));
  }
  std::string folder = std::filesystem::absolute(location).lexically_normal().string();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

int RunCliIndex(const TCliOptions& options, std::FILE* out, std::FILE* err) {
  try {
    if (options.UpdateIndex) return RunUpdate(options, err);
    if (options.Indexed) return RunIndexed(options, out, err);
    if (options.IndexStatus) return RunStatus(options, out, err);
    return RunForget(options, err);
  } catch (const TUsageError& error) {
    WriteCliError(options.Format, error.what(), err);
    return 2;
  } catch (const TIndexError& error) {
    WriteCliError(options.Format, error.what(), err);
    return error.Kind == TIndexError::TKind::Usage ? 2 : 1;
  }
}
