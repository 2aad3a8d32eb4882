// The index benchmark's driver (bench/index_bench.sh runs it):
//   bench_index_tool crawl ROOT FILE        walk ROOT as a search with "*" and every
//                                           attribute, streaming into an index at FILE
//   bench_index_tool walk ROOT              the same walk without an index (the baseline)
//   bench_index_tool synth N FILE           N generated entries (make_tree.py's names, one
//                                           folder per ten entries) through the writer
//   bench_index_tool query FILE START MASK [--count] [--size-from N] [--size-to N]
//                                           [--threads N]   prints full names, one a line
// Times go to stderr as "name seconds".
#include <sys/resource.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "engine/search_manager.h"
#include "index/index_query.h"
#include "index/index_reader.h"
#include "index/index_writer.h"
#include "os/dir_listing.h"
#include "os/file_attr.h"
#include "os/ui_thread.h"
#include "results/logger.h"
#include "results/result_manager.h"

namespace {

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Walks root with every attribute and details; hands each delivered record to sink.
template <class TSink>
size_t Walk(const std::string& root, TSink&& sink) {
  TDirectUiThread uiThread;
  SetUiThread(&uiThread);
  TResultManager store;
  store.DetailsWanted = true;
  TLogger log;
  size_t taken = 0;
  std::vector<PSearchResult> batch;
  store.OnChange = [&](TResultManager* changed) {
    const size_t count = changed->Count();
    // The store owns its records; the sink gets copies of the new ones.
    for (; taken < count; ++taken) batch.push_back(std::make_unique<TSearchResult>(changed->Item(taken)));
    sink(batch);
    batch.clear();
  };
  std::mutex doneLock;  // a leaf lock: guards done
  std::condition_variable doneSignal;
  bool done = false;
  {
    TSearchManager manager(store, log);
    manager.MaxThreads = 2;
    manager.OnThreadChange = [&](TSearchManager* sender) {
      if (!sender->IsFinished()) return;
      std::lock_guard<std::mutex> hold(doneLock);
      done = true;
      doneSignal.notify_all();
    };
    auto task = std::make_unique<TSearchTask>();
    task->Path = root;
    task->Mask = "*";
    task->FileAttr = kTestedAttributes;
    manager.AddTask(std::move(task));
    std::unique_lock<std::mutex> hold(doneLock);
    doneSignal.wait(hold, [&] { return done; });
  }
  SetUiThread(nullptr);
  return store.Count();
}

int Crawl(const std::string& root, const std::string& file) {
  const auto start = std::chrono::steady_clock::now();
  TIndexInfo info;
  info.Location = root;
  info.CrawlStartedMs = IndexNowMs();
  TIndexWriter writer(file, info);
  double inWriter = 0;
  const size_t found = Walk(root, [&](std::vector<PSearchResult>& batch) {
    const double t = ThreadCpuSeconds();
    writer.AddResults(batch);
    inWriter += ThreadCpuSeconds() - t;
  });
  const auto commit = std::chrono::steady_clock::now();
  const double commitCpu = ThreadCpuSeconds();
  writer.Commit();
  const double commitSeconds = Seconds(commit);
  std::fprintf(stderr,
               "crawl %.3f\nwriter_add_cpu %.3f\ncommit %.3f\ncommit_cpu %.3f\nprocess_cpu %.3f\nentries %zu\npeak_kb %ld\n",
               Seconds(start), inWriter, commitSeconds, ThreadCpuSeconds() - commitCpu, ProcessCpuSeconds(), found,
               PeakKb());
  return 0;
}

int WalkOnly(const std::string& root) {
  const auto start = std::chrono::steady_clock::now();
  const size_t found = Walk(root, [](std::vector<PSearchResult>&) {});
  std::fprintf(stderr, "walk %.3f\nprocess_cpu %.3f\nentries %zu\n", Seconds(start), ProcessCpuSeconds(), found);
  return 0;
}

int Synth(uint64_t count, const std::string& file) {
  static const char* const kExtensions[] = {"txt", "doc", "c", "h", "log", "jpg", "dat", "md"};
  const auto start = std::chrono::steady_clock::now();
  TIndexInfo info;
  info.Location = "/synthetic";
  info.CrawlStartedMs = IndexNowMs();
  TIndexWriter writer(file, info);
  std::mt19937_64 random(1);
  const uint64_t folders = std::max<uint64_t>(1, count / 11);
  std::vector<std::string> paths{"/synthetic/"};
  // Folders first as make_tree.py makes them (each under a random earlier one), then
  // files in random folders, written a folder's batch at a time.
  for (uint64_t i = 0; i < folders; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "dir%05llu", static_cast<unsigned long long>(i));
    paths.push_back(paths[random() % paths.size()] + name + "/");
  }
  double inWriter = 0;
  const double now = 45000.5;
  for (size_t f = 1; f < paths.size(); ++f) {
    // The folder itself as an entry of its parent.
    const std::string& path = paths[f];
    const size_t cut = path.rfind('/', path.size() - 2);
    const std::string parent = path.substr(0, cut + 1), own = path.substr(cut + 1, path.size() - cut - 2);
    const TIndexEntry entry{own, 0, now, kAttrDirectory};
    const double t = ThreadCpuSeconds();
    writer.AddEntries(parent, std::span<const TIndexEntry>(&entry, 1));
    inWriter += ThreadCpuSeconds() - t;
  }
  // Each file goes to a random folder, as make_tree.py puts them; then each folder's
  // files are handed over in one batch, as a crawl's worker delivers a folder.
  const uint64_t files = count - folders;
  std::vector<uint32_t> perFolder(paths.size(), 0);
  for (uint64_t i = 0; i < files; ++i) ++perFolder[random() % paths.size()];
  std::vector<std::string> names;
  std::vector<TIndexEntry> entries;
  char name[32];
  uint64_t next = 0;
  for (size_t f = 0; f < paths.size(); ++f) {
    names.clear();
    entries.clear();
    for (uint32_t i = 0; i < perFolder[f]; ++i, ++next) {
      std::snprintf(name, sizeof name, "file%06llu.%s", static_cast<unsigned long long>(next), kExtensions[random() % 8]);
      names.emplace_back(name);
    }
    for (size_t i = 0; i < names.size(); ++i)
      entries.push_back({names[i], static_cast<int64_t>(i % 5000), now, kAttrArchive});
    if (entries.empty()) continue;
    const double t = ThreadCpuSeconds();
    writer.AddEntries(paths[f], entries);
    inWriter += ThreadCpuSeconds() - t;
  }
  const auto commit = std::chrono::steady_clock::now();
  writer.Commit();
  std::fprintf(stderr, "synth %.3f\nwriter_add_cpu %.3f\ncommit %.3f\nentries %llu\npeak_kb %ld\n", Seconds(start), inWriter, Seconds(commit),
               static_cast<unsigned long long>(writer.Added()), PeakKb());
  return 0;
}

int Query(int argc, char** argv) {
  const std::string file = argv[2], start = argv[3];
  TSearchCriteria criteria;
  criteria.Mask = argv[4];
  criteria.FileAttr = kTestedAttributes;
  bool count = false;
  unsigned threads = 0;
  for (int i = 5; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--count") count = true;
    else if (option == "--size-from" && i + 1 < argc) criteria.FileSizeFrom = std::stoll(argv[++i]);
    else if (option == "--size-to" && i + 1 < argc) criteria.FileSizeTo = std::stoll(argv[++i]);
    else if (option == "--threads" && i + 1 < argc) threads = static_cast<unsigned>(std::stoul(argv[++i]));
    else if (option == "--exclude" && i + 1 < argc) criteria.Exclude = argv[++i];
  }
  const auto begin = std::chrono::steady_clock::now();
  PIndexReader index = TIndexReader::Open(file);
  TIndexQuery query(*index, criteria, start);
  uint64_t found;
  if (count) {
    found = query.Count(threads);
    std::printf("%llu\n", static_cast<unsigned long long>(found));
  } else {
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    found = query.Run(
        [](std::vector<PSearchResult>& batch) {
          for (const PSearchResult& r : batch) {
            std::fwrite(r->Path->data(), 1, r->Path->size(), stdout);
            std::fwrite(r->Name.data(), 1, r->Name.size(), stdout);
            std::fputc('\n', stdout);
          }
        },
        threads);
  }
  std::fflush(stdout);
  if (getenv("LQ_INDEX_TOOL_TIMES"))
    std::fprintf(stderr, "query %.4f\nfound %llu\npeak_kb %ld\nfile_bytes %llu\n", Seconds(begin),
                 static_cast<unsigned long long>(found), PeakKb(),
                 static_cast<unsigned long long>(index->Info().FileBytes));
  if (!query.Inexact().empty()) std::fprintf(stderr, "inexact: %s\n", query.Inexact().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ReserveFolderDescriptors();
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "crawl" && argc == 4) return Crawl(argv[2], argv[3]);
    if (mode == "walk" && argc == 3) return WalkOnly(argv[2]);
    if (mode == "synth" && argc == 4) return Synth(std::stoull(argv[2]), argv[3]);
    if (mode == "query" && argc >= 5) return Query(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  std::fprintf(stderr, "usage: see the comment at the top of bench/index_tool.cpp\n");
  return 2;
}
