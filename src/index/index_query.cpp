#include "index/index_query.h"

#include <algorithm>
#include <optional>
#include <thread>

#include "engine/entry_filter.h"
#include "engine/masks.h"
#include "index/index_file.h"
#include "index/index_location.h"
#include "index/index_scan.h"

using namespace index_format;

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameMaskText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

// Names below this size are scanned by the calling thread alone.
constexpr size_t kParallelScanBytes = 4u << 20;

TSearchTask TaskOf(const TSearchCriteria& criteria) {
  TSearchTask task;
  task.Criteria() = criteria;
  return task;
}

}  // namespace

class TIndexQuery::TImpl {
 public:
  TImpl(const TIndexReader& reader, const TSearchCriteria& criteria, std::string start)
      : Reader(reader), File(reader.File()), Task(TaskOf(criteria)), Masks(CompileMasks(criteria.Mask)),
        Filter(Task), Start(NormalLocation(start)) {
    for (const std::string& mask : SplitMasks(criteria.Mask)) {
      std::optional<TLiteral> literal = LiteralOf(mask);
      if (!literal) {
        Literals.clear();
        FullScan = true;
        break;
      }
      Literals.push_back(std::move(*literal));
    }
    FindStarts();
    CheckCrawl();
    MarkReached();
  }

  template <class TVisit>
  uint64_t Each(TVisit&& visit, unsigned threads) const;
  uint64_t Run(const TDeliver& deliver, unsigned threads) const;

  const TIndexReader& Reader;
  const TIndexFile& File;
  TSearchTask Task;
  std::vector<TMask> Masks;
  TEntryFilter Filter;
  std::string Start;
  std::string Inexact;
  std::vector<TLiteral> Literals;
  bool FullScan = false;
  std::vector<uint32_t> StartFolders;
  std::vector<std::string> StartPaths;  // the path the walk writes for each start folder
  std::vector<uint8_t> Reached;         // per folder: the walk from the start lists it

 private:
  void FindStarts();
  void CheckCrawl();
  void MarkReached();
  bool Matches(std::string_view name, const TDetails& d) const {
    if (!Filter.AttributesPass(d.Attr)) return false;
    if (Filter.NeedsSizeOrTime() && !Filter.SizeAndTimePass(d.FilterSize, d.FilterTime)) return false;
    bool any = false;
    for (const TMask& mask : Masks)
      if (mask.Matches(name)) {
        any = true;
        break;
      }
    return any && !Filter.Excluded(name);
  }
  std::vector<uint32_t> Candidates(unsigned threads) const;
};

void TIndexQuery::TImpl::FindStarts() {
  const std::string& location = Reader.Info().Location;
  const TLocationKind kind = LocationKindOf(Start);
  const bool isFolder = kind == TLocationKind::Local ||
                        (kind == TLocationKind::Unc && Start.find('\\', 2) != std::string::npos);
  const TContainment covered = LocationContains(location, Start);
  if (isFolder && covered != TContainment::No) {
    if (std::optional<uint32_t> f = File.FindFolder(Start)) {
      StartFolders.push_back(*f);
      const char separator = kind == TLocationKind::Local ? '/' : '\\';
      StartPaths.push_back(Start.back() == separator ? Start : Start + separator);
      return;
    }
  }
  if (!isFolder && (covered == TContainment::Yes || covered == TContainment::ByContent ||
                    LocationContains(Start, location) == TContainment::Yes)) {
    // A server or a container: each share of the index inside it is a walk's start.
    const bool whole = SameMaskText(Start, location) || LocationContains(Start, location) == TContainment::Yes;
    for (uint32_t f = 0; f < File.FolderCount(); ++f) {
      if (File.Parent(f) != kNoParent) continue;
      std::string_view root = File.FolderName(f);
      root.remove_suffix(1);
      const TContainment in = LocationContains(Start, root);
      if (in == TContainment::Yes || (in == TContainment::ByContent && whole)) {
        StartFolders.push_back(f);
        std::string path(File.FolderName(f));
        // A server's shares are written with the server as the start spells it.
        if (kind == TLocationKind::Unc) path = Start + path.substr(path.find('\\', 2));
        StartPaths.push_back(path);
      }
    }
    if (kind == TLocationKind::Container && !whole)
      Inexact = "the index of " + location + " cannot tell which of its servers lie in " + Start;
    if (LocationContains(Start, location) == TContainment::Yes && !SameMaskText(Start, location))
      Inexact = "the index of " + location + " holds only part of " + Start;
    return;
  }
  if (covered == TContainment::No) {
    Inexact = Start + " is not in the index of " + location;
    return;
  }
  // Inside the location but not listed by the crawl: an empty folder gives nothing, as
  // its walk would; a folder the crawl did not enter, or never saw, cannot be answered.
  const size_t cut = Start.find_last_of(kind == TLocationKind::Local ? '/' : '\\');
  if (cut != std::string::npos && cut > 0) {
    const std::string parent = Start.substr(0, cut), name = Start.substr(cut + 1);
    if (std::optional<uint32_t> p = File.FindFolder(parent)) {
      bool emptyFolder = false;
      File.ForEntries(File.FirstEntry(*p), File.EndEntry(*p), [&](uint32_t, std::string_view n, const TDetails& d) {
        if (n == name && (d.Attr & 0x10) != 0) emptyFolder = true;
      });
      for (const TIndexMount& m : Reader.Mounts())
        if (m.Folder == Start && m.Pseudo) emptyFolder = false;
      if (emptyFolder) return;
    }
  }
  Inexact = Start + " is not a folder the index of " + location + " listed";
}

void TIndexQuery::TImpl::CheckCrawl() {
  if (!Inexact.empty()) return;
  const TIndexInfo& info = Reader.Info();
  const std::vector<std::string> ours = SplitMasks(Task.Exclude);
  for (const std::string& mask : SplitMasks(info.CrawlExclude)) {
    if (std::none_of(ours.begin(), ours.end(), [&](const std::string& m) { return SameMaskText(m, mask); })) {
      Inexact = "the index of " + info.Location + " was made leaving out " + mask;
      return;
    }
  }
  if (info.CrawlOneFileSystem && !Task.OneFileSystem && LocationKindOf(info.Location) == TLocationKind::Local)
    Inexact = "the index of " + info.Location + " was made on one file system";
}

void TIndexQuery::TImpl::MarkReached() {
  const uint32_t folders = File.FolderCount();
  Reached.assign(folders, 0);
  for (uint32_t f : StartFolders) Reached[f] = 2;  // 2: a start
  // One-file-system walks do not enter a mount point on another device than the start's.
  std::vector<uint8_t> barred;
  if (Task.OneFileSystem && LocationKindOf(Start) == TLocationKind::Local && !Reader.Mounts().empty()) {
    barred.assign(folders, 0);
    uint64_t startDevice = Reader.Info().RootDevice;
    size_t nearest = 0;
    for (const TIndexMount& m : Reader.Mounts())
      if (FolderInLocation(m.Folder, Start) && m.Folder.size() > nearest) {
        nearest = m.Folder.size();
        startDevice = m.Device;
      }
    for (const TIndexMount& m : Reader.Mounts()) {
      if (m.Device == startDevice || !FolderInLocation(Start, m.Folder) || m.Folder == Start) continue;
      if (std::optional<uint32_t> f = File.FindFolder(m.Folder)) barred[*f] = 1;
    }
  }
  const bool excludes = !SplitMasks(Task.Exclude).empty();
  for (uint32_t f = 0; f < folders; ++f) {
    if (Reached[f]) continue;
    const uint32_t parent = File.Parent(f);
    if (parent == kNoParent || !Reached[parent]) continue;
    if (excludes && Filter.Excluded(File.FolderName(f))) continue;
    if (!barred.empty() && barred[f]) continue;
    Reached[f] = 1;
  }
}

std::vector<uint32_t> TIndexQuery::TImpl::Candidates(unsigned threads) const {
  const std::string_view names = File.Names();
  const index_filter::TNameFilter& filter = File.Filter();
  const uint32_t groupCount = filter.GroupCount();
  const size_t literals = Literals.size();
  // Per literal, the groups that may hold it; the groups any may hold are scanned.
  std::vector<std::vector<uint8_t>> may(literals, std::vector<uint8_t>(groupCount, 1));
  for (size_t l = 0; l < literals; ++l)
    if (!filter.Narrow(Literals[l], may[l])) File.Damaged("checksum of the name filter");
  struct TScanned {
    uint32_t Group;
    uint64_t First, Next;  // its range of the names (TIndexFile::GroupRange)
  };
  std::vector<TScanned> scanned;
  uint64_t bytes = 0;
  for (uint32_t g = 0; g < groupCount; ++g) {
    if (std::none_of(may.begin(), may.end(), [&](const std::vector<uint8_t>& m) { return m[g] != 0; })) continue;
    const auto [first, next] = File.GroupRange(g);
    scanned.push_back({g, first, next});
    bytes += next - first;
  }
  if (threads == 0) threads = std::min(4u, std::max(1u, std::thread::hardware_concurrency()));
  if (bytes < kParallelScanBytes) threads = 1;
  // Each thread takes a run of the scanned groups, about as many bytes as the others.
  std::vector<size_t> bounds{0};
  uint64_t sofar = 0;
  for (size_t i = 0; i < scanned.size() && bounds.size() < threads; ++i) {
    sofar += scanned[i].Next - scanned[i].First;
    if (sofar * threads >= bytes * bounds.size()) bounds.push_back(i + 1);
  }
  while (bounds.size() <= threads) bounds.push_back(scanned.size());
  std::vector<std::vector<uint32_t>> parts(threads * literals);
  std::vector<uint8_t> damaged(threads, 0);
  auto work = [&](unsigned t) {
    std::vector<uint64_t> positions;
    for (size_t i = bounds[t]; i < bounds[t + 1]; ++i) {
      const auto [g, first, next] = scanned[i];
      TChecksum sum, ignored;
      bool summed = false;
      for (size_t l = 0; l < literals; ++l) {
        if (!may[l][g]) continue;
        positions.clear();
        ScanLiteral(names.data(), names.size(), first, next, Literals[l], positions, summed ? ignored : sum);
        if (!summed) {
          // A group's checksum covers the NUL that begins the next one.
          if (next < names.size()) sum.Add(names.data() + next, 1);
          if (sum.Value() != filter.GroupChecksum(g)) damaged[t] = 1;
          summed = true;
        }
        std::vector<uint32_t>& entries = parts[t * literals + l];
        for (uint64_t p : positions) {
          const uint32_t e = File.EntryAt(p);
          if (entries.empty() || entries.back() != e) entries.push_back(e);
        }
      }
    }
  };
  std::vector<std::thread> helpers;
  for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(work, t);
  work(0);
  for (std::thread& helper : helpers) helper.join();
  if (std::any_of(damaged.begin(), damaged.end(), [](uint8_t d) { return d != 0; }))
    File.Damaged("checksum of the names");
  std::vector<uint32_t> all;
  for (size_t l = 0; l < literals; ++l) {
    std::vector<uint32_t> one;
    for (unsigned t = 0; t < threads; ++t)
      for (uint32_t e : parts[t * literals + l]) one.push_back(e);
    if (all.empty()) {
      all.swap(one);
    } else {
      std::vector<uint32_t> merged;
      merged.reserve(all.size() + one.size());
      std::set_union(all.begin(), all.end(), one.begin(), one.end(), std::back_inserter(merged));
      all.swap(merged);
    }
  }
  return all;
}

template <class TVisit>
uint64_t TIndexQuery::TImpl::Each(TVisit&& visit, unsigned threads) const {
  if (Masks.empty() || StartFolders.empty()) return 0;
  uint64_t found = 0;
  if (FullScan) {
    File.VerifyRegion(kNames);
    for (uint32_t f = 0; f < File.FolderCount(); ++f) {
      if (!Reached[f]) continue;
      const bool whole = File.ForEntries(File.FirstEntry(f), File.EndEntry(f),
                                         [&](uint32_t, std::string_view name, const TDetails& d) {
                                           if (Matches(name, d)) {
                                             ++found;
                                             visit(f, name, d);
                                           }
                                         });
      if (!whole) File.Damaged("an entry does not fit its block");
    }
    return found;
  }
  const std::vector<uint32_t> candidates = Candidates(threads);
  TIndexFile::TCursor cursor(File);
  uint32_t folder = 0;
  for (uint32_t e : candidates) {
    while (File.EndEntry(folder) <= e) ++folder;
    if (!Reached[folder]) continue;
    std::string_view name;
    TDetails d;
    if (!cursor.Read(e, name, d)) File.Damaged("an entry does not fit its block");
    if (!Matches(name, d)) continue;
    ++found;
    visit(folder, name, d);
  }
  return found;
}

uint64_t TIndexQuery::TImpl::Run(const TDeliver& deliver, unsigned threads) const {
  // Results come folder after folder, each folder once, so only the current folder's path
  // is kept: a path of every folder would cost more than the index itself on a wide tree.
  uint32_t current = kNoParent;
  TPathRef currentPath;
  std::vector<uint32_t> chain;
  auto pathOf = [&](uint32_t folder) -> const TPathRef& {
    if (folder == current) return currentPath;
    chain.clear();
    uint32_t f = folder;
    for (; Reached[f] != 2; f = File.Parent(f)) chain.push_back(f);
    const std::string& start = StartPaths[std::find(StartFolders.begin(), StartFolders.end(), f) - StartFolders.begin()];
    std::string path = start;
    for (size_t i = chain.size(); i-- > 0;) path.append(File.FolderName(chain[i])).push_back(start.back());
    current = folder;
    currentPath = std::make_shared<const std::string>(std::move(path));
    return currentPath;
  };
  std::vector<PSearchResult> batch;
  batch.reserve(kBatch);
  const uint64_t found = Each(
      [&](uint32_t folder, std::string_view name, const TDetails& d) {
        auto result = std::make_unique<TSearchResult>();
        result->Path = pathOf(folder);
        result->Name.assign(name);
        result->DateTime = d.DateTime;
        result->Size = d.Size;
        result->Attr = d.Attr;
        batch.push_back(std::move(result));
        if (batch.size() >= kBatch) {
          deliver(batch);
          batch.clear();
        }
      },
      threads);
  if (!batch.empty()) deliver(batch);
  return found;
}

TIndexQuery::TIndexQuery(const TIndexReader& index, const TSearchCriteria& criteria, std::string start)
    : Impl(std::make_unique<TImpl>(index, criteria, std::move(start))) {}

TIndexQuery::~TIndexQuery() = default;

const std::string& TIndexQuery::Inexact() const { return Impl->Inexact; }

uint64_t TIndexQuery::Run(const TDeliver& deliver, unsigned threads) const { return Impl->Run(deliver, threads); }

uint64_t TIndexQuery::Count(unsigned threads) const {
  return Impl->Each([](uint32_t, std::string_view, const TDetails&) {}, threads);
}
