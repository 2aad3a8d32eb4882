#include "index/index_writer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

#include "index/index_filter.h"
#include "index/index_folder_table.h"
#include "index/index_format.h"
#include "index/index_location.h"
#include "index/index_mounts.h"
#include "index/index_reader.h"
#include "index/index_spill.h"
#include "os/atomic_file.h"

using namespace index_format;

int64_t IndexNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

namespace {

std::string FolderOfFile(const std::string& fileName) {
  const size_t slash = fileName.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : fileName.substr(0, slash);
}

// How much of folder is its root, or 0 when folder does not belong in location's index.
size_t RootLengthOf(const std::string& location, TLocationKind kind, std::string_view folder) {
  if (folder.size() < 2) return 0;
  const char separator = folder.back();
  size_t root = 0;
  if (kind == TLocationKind::Local) {
    if (separator != '/') return 0;
    root = location == "/" ? 1 : location.size() + 1;
    if (folder.size() < root || folder.compare(0, location.size(), location) != 0 || folder[root - 1] != '/')
      return 0;
  } else {
    if (separator != '\\' || folder[0] != '\\' || folder[1] != '\\') return 0;
    // A share's root: "\\server\share\".
    size_t at = 2;
    for (int part = 0; part < 2; ++part) {
      const size_t cut = folder.find('\\', at);
      if (cut == std::string_view::npos || cut == at) return 0;
      at = cut + 1;
    }
    root = at;
    if (kind == TLocationKind::Unc) {
      if (LocationContains(location, folder) != TContainment::Yes) return 0;
      root = std::max(root, location.size() + 1);
      if (folder.size() < root) return 0;
    }
  }
  // No empty name below the root.
  for (size_t i = root; i < folder.size(); ++i)
    if (folder[i] == separator && folder[i - 1] == separator) return 0;
  return root;
}

bool NameAcceptable(std::string_view name) { return !name.empty() && name.find('\0') == std::string_view::npos; }

// A run of one folder's entries in the spill: at Offset, u32 names bytes, u32 details
// bytes, the names (each with its NUL), the details records.
struct TChunk {
  uint64_t Offset : 63;
  uint64_t Carried : 1;
  uint32_t Folder;
  uint32_t Count;
};
static_assert(sizeof(TChunk) == 16);

// One folder's entries encoded, ready to go into the spill.
struct TEncoded {
  std::string_view Folder;
  size_t RootLength = 0;
  uint32_t Count = 0;
  std::string Bytes;  // the chunk's bytes after its two lengths are filled in
};

void Encode(std::span<const TIndexEntry> entries, TEncoded& out, uint64_t& rejected) {
  // The names go straight after the two lengths; the records wait in this thread's
  // scratch buffer until the names are all in.
  thread_local std::string details;
  details.clear();
  std::string& bytes = out.Bytes;
  bytes.assign(8, '\0');
  unsigned char record[kMaxDetailsSize];
  for (const TIndexEntry& entry : entries) {
    if (!NameAcceptable(entry.Name)) {
      ++rejected;
      continue;
    }
    bytes.append(entry.Name);
    bytes.push_back('\0');
    details.append(reinterpret_cast<const char*>(record), EncodeDetails(entry.Attr, entry.Size, entry.DateTime, record));
    ++out.Count;
  }
  const uint32_t lengths[2] = {static_cast<uint32_t>(bytes.size() - 8), static_cast<uint32_t>(details.size())};
  std::memcpy(bytes.data(), lengths, sizeof lengths);
  bytes += details;
}

// Writes regions one after another into the atomic file, keeping offsets and checksums.
class TRegionWriter {
 public:
  explicit TRegionWriter(TAtomicFile& file) : File(file) {}
  void Begin(TRegion id) {
    static const char zeros[8] = {};
    if (Offset % 8 != 0) Raw(zeros, 8 - Offset % 8);
    Current = {id, Offset, 0, {}};
  }
  void Write(const void* data, size_t size) {
    Raw(data, size);
    Current.Sum.Add(data, size);
  }
  void End() {
    Toc.push_back({Current.Id, Current.Start, Offset - Current.Start, Current.Sum.Value()});
  }
  // A region written in one piece.
  void Region(TRegion id, const void* data, size_t size) {
    Begin(id);
    Write(data, size);
    End();
  }
  void Raw(const void* data, size_t size) {
    File.Write(data, size);
    Offset += size;
  }
  uint64_t Offset = 0;
  struct TEntry {
    uint32_t Id;
    uint64_t Start, Size, Checksum;
  };
  std::vector<TEntry> Toc;

 private:
  struct TCurrent {
    uint32_t Id;
    uint64_t Start;
    uint64_t Unused;
    TChecksum Sum;
  };
  TAtomicFile& File;
  TCurrent Current{};
};

}  // namespace

class TIndexWriter::TImpl {
 public:
  TImpl(const std::string& fileName, const TIndexInfo& info)
      : FileName(fileName), Info(info), Spill(FolderOfFile(fileName)) {
    Info.Location = NormalLocation(info.Location);
    if (Info.Location.empty()) throw TIndexError(TIndexError::TKind::Usage, "An index needs a location");
    Kind = LocationKindOf(Info.Location);
    if (Kind == TLocationKind::Local) Mounts = ReadMountsBelow(Info.Location, Info.RootDevice);
  }

  void Add(std::vector<TEncoded>& groups, bool carried) {
    std::lock_guard<std::mutex> hold(Lock);
    for (TEncoded& group : groups) {
      if (group.Count == 0) continue;
      if (group.RootLength == 0) {
        RejectedCount += group.Count;
        continue;
      }
      const uint32_t folder = Folders.Intern(group.Folder, group.RootLength);
      const uint64_t offset = Spill.Append(group.Bytes.data(), group.Bytes.size());
      Chunks.push_back({offset, carried ? 1u : 0u, folder, group.Count});
      AddedCount += group.Count;
    }
  }

  size_t RootLength(std::string_view folder) const { return RootLengthOf(Info.Location, Kind, folder); }

  void Commit();

  const std::string FileName;
  TIndexInfo Info;
  TLocationKind Kind;
  std::vector<TIndexMount> Mounts;  // set in the constructor, then read only

  // Owner: this writer; a leaf lock (see the header).
  std::mutex Lock;
  TSpillFile Spill;                          // guarded by Lock
  TFolderTable Folders;                      // guarded by Lock
  std::vector<TChunk> Chunks;                // guarded by Lock
  std::vector<std::string> Log;              // guarded by Lock
  std::vector<TIndexSection> Sections;       // guarded by Lock
  uint64_t AddedCount = 0;                   // guarded by Lock
  uint64_t RejectedCount = 0;                // guarded by Lock
  int64_t EndedMs = 0;                       // guarded by Lock
  bool Committed = false;
};

TIndexWriter::TIndexWriter(const std::string& fileName, const TIndexInfo& info)
    : Impl(std::make_unique<TImpl>(fileName, info)) {}

TIndexWriter::~TIndexWriter() = default;

void TIndexWriter::AddEntries(const std::string& folder, std::span<const TIndexEntry> entries) {
  std::vector<TEncoded> groups(1);
  uint64_t rejected = 0;
  groups[0].Folder = folder;
  groups[0].RootLength = Impl->RootLength(folder);
  Encode(entries, groups[0], rejected);
  Impl->Add(groups, false);
  if (rejected) {
    std::lock_guard<std::mutex> hold(Impl->Lock);
    Impl->RejectedCount += rejected;
  }
}

void TIndexWriter::AddResults(std::span<const PSearchResult> batch) {
  std::vector<TEncoded> groups;
  std::vector<TIndexEntry> entries;
  uint64_t rejected = 0;
  size_t i = 0;
  while (i < batch.size()) {
    if (!batch[i] || !batch[i]->Path) {
      if (batch[i]) ++rejected;
      ++i;
      continue;
    }
    const std::string& folder = *batch[i]->Path;
    entries.clear();
    size_t j = i;
    for (; j < batch.size(); ++j) {
      if (!batch[j]) continue;
      if (!batch[j]->Path || (batch[j]->Path != batch[i]->Path && *batch[j]->Path != folder)) break;
      const TSearchResult& r = *batch[j];
      entries.push_back({r.Name, r.Size, r.DateTime, r.Attr});
    }
    TEncoded& group = groups.emplace_back();
    group.Folder = folder;
    group.RootLength = Impl->RootLength(folder);
    Encode(entries, group, rejected);
    i = j;
  }
  Impl->Add(groups, false);
  if (rejected) {
    std::lock_guard<std::mutex> hold(Impl->Lock);
    Impl->RejectedCount += rejected;
  }
}

void TIndexWriter::AddLogLine(std::string line) {
  std::lock_guard<std::mutex> hold(Impl->Lock);
  Impl->Log.push_back(std::move(line));
}

void TIndexWriter::AddSection(const std::string& path, int64_t indexedAtMs) {
  std::lock_guard<std::mutex> hold(Impl->Lock);
  Impl->Sections.push_back({NormalLocation(path), indexedAtMs, false, 0});
}

uint64_t TIndexWriter::CarryOver(const TIndexReader& previous, const std::string& path) {
  const std::string section = NormalLocation(path);
  uint64_t copied = 0;
  previous.ForEachFolderIn(section, [&](const std::string& folder, std::span<const TIndexEntry> entries) {
    std::vector<TEncoded> groups(1);
    uint64_t rejected = 0;
    groups[0].Folder = folder;
    groups[0].RootLength = Impl->RootLength(folder);
    Encode(entries, groups[0], rejected);
    if (groups[0].RootLength != 0) copied += groups[0].Count;
    Impl->Add(groups, true);
  });
  std::lock_guard<std::mutex> hold(Impl->Lock);
  Impl->Sections.push_back({section, previous.SectionOf(section).IndexedAtMs, true, 0});
  return copied;
}

void TIndexWriter::SetCrawlEnded(int64_t endedAtMs) {
  std::lock_guard<std::mutex> hold(Impl->Lock);
  Impl->EndedMs = endedAtMs;
}

uint64_t TIndexWriter::Added() const {
  std::lock_guard<std::mutex> hold(Impl->Lock);
  return Impl->AddedCount;
}

uint64_t TIndexWriter::Rejected() const {
  std::lock_guard<std::mutex> hold(Impl->Lock);
  return Impl->RejectedCount;
}

void TIndexWriter::Commit() {
  std::lock_guard<std::mutex> hold(Impl->Lock);
  if (Impl->Committed) throw TIndexError(TIndexError::TKind::Usage, "The index was committed already");
  Impl->Committed = true;
  try {
    Impl->Commit();
  } catch (const TAtomicFileError& error) {
    throw TIndexError(TIndexError::TKind::Io, std::string(error.what()) + " (index of " + Impl->Info.Location + ")",
                      error.ErrorNumber);
  }
}

void TIndexWriter::TImpl::Commit() {
  if (EndedMs == 0) EndedMs = IndexNowMs();
  // Sections: the location's own first; a later declaration of a path replaces an
  // earlier one, and a carried-over one is never replaced.
  std::vector<TIndexSection> sections{{Info.Location, Info.CrawlStartedMs, false, 0}};
  for (const TIndexSection& s : Sections) {
    auto same = std::find_if(sections.begin(), sections.end(), [&](const TIndexSection& t) {
      return LocationContains(t.Path, s.Path) == TContainment::Yes && LocationContains(s.Path, t.Path) == TContainment::Yes;
    });
    if (same == sections.end()) sections.push_back(s);
    else if (!same->CarriedOver) *same = s;
  }
  // Each folder's section: a section naming the folder, else its parent's; a root's is
  // the innermost section holding it.
  const uint32_t folderCount = Folders.Count();
  std::vector<uint32_t> sectionOf(folderCount, 0);
  std::vector<uint32_t> named(folderCount, TFolderTable::kNone);
  for (uint32_t s = 1; s < sections.size(); ++s) {
    if (LocationKindOf(sections[s].Path) == TLocationKind::Container) continue;
    const char separator = LocationKindOf(sections[s].Path) == TLocationKind::Local ? '/' : '\\';
    std::string path = sections[s].Path;
    if (path.back() != separator) path += separator;
    if (std::optional<uint32_t> f = Folders.Find(path)) named[*f] = s;
  }
  for (uint32_t f = 0; f < folderCount; ++f) {
    if (named[f] != TFolderTable::kNone) {
      sectionOf[f] = named[f];
    } else if (Folders.Parent(f) != TFolderTable::kNone) {
      sectionOf[f] = sectionOf[Folders.Parent(f)];
    } else {
      std::string_view root = Folders.Name(f);
      root.remove_suffix(1);
      size_t best = 0;
      for (uint32_t s = 1; s < sections.size(); ++s)
        if (LocationContains(sections[s].Path, root) == TContainment::Yes &&
            (best == 0 || sections[s].Path.size() > sections[best].Path.size()))
          best = s;
      sectionOf[f] = static_cast<uint32_t>(best);
    }
  }
  // Chunks kept: fresh ones in fresh sections, carried ones in carried-over sections.
  std::vector<uint64_t> folderEntries(folderCount, 0);
  std::vector<TChunk>& kept = Chunks;  // filtered in place: the chunk table can be large
  kept.erase(std::remove_if(kept.begin(), kept.end(),
                            [&](const TChunk& chunk) {
                              return (chunk.Carried != 0) != sections[sectionOf[chunk.Folder]].CarriedOver;
                            }),
             kept.end());
  for (const TChunk& chunk : kept) folderEntries[chunk.Folder] += chunk.Count;
  std::stable_sort(kept.begin(), kept.end(), [](const TChunk& a, const TChunk& b) { return a.Folder < b.Folder; });
  // Folders kept: those with entries and those above them; renumbered in order.
  std::vector<uint8_t> keep(folderCount, 0);
  for (uint32_t f = folderCount; f-- > 0;) {
    if (folderEntries[f] > 0) keep[f] = 1;
    if (keep[f] && Folders.Parent(f) != TFolderTable::kNone) keep[Folders.Parent(f)] = 1;
  }
  std::vector<uint32_t> renumbered(folderCount, kNoParent);
  uint32_t keptFolders = 0;
  for (uint32_t f = 0; f < folderCount; ++f)
    if (keep[f]) renumbered[f] = keptFolders++;
  uint64_t totalEntries = 0;
  for (uint32_t f = 0; f < folderCount; ++f) {
    totalEntries += folderEntries[f];
    sections[sectionOf[f]].Entries += folderEntries[f];
  }
  if (totalEntries >= 0xFFFFFFFFull)
    throw TIndexError(TIndexError::TKind::Usage, "An index holds at most 4,294,967,294 entries");

  const std::string_view spill = Spill.Map();
  TAtomicFile file(FileName, 0600);
  TRegionWriter out(file);
  unsigned char header[kHeaderSize] = {};
  std::memcpy(header, kMagic, 8);
  std::memcpy(header + 8, &kVersion, 4);
  const uint32_t headerSize = kHeaderSize;
  std::memcpy(header + 12, &headerSize, 4);
  const uint64_t headerSum = ChecksumOf(header, 56);
  std::memcpy(header + 56, &headerSum, 8);
  out.Raw(header, sizeof header);

  // Names, with the block table and the folders' first entries; details to a scratch
  // file, copied after.
  TSpillFile details(FolderOfFile(FileName));
  TChecksum detailsSum;
  TChecksum blockSum;  // of the current block's records
  std::vector<TBlock> blocks;
  blocks.reserve(totalEntries / kBlockEntries + 2);
  std::vector<TFolderRecord> folderRecords;
  folderRecords.reserve(keptFolders + 1);
  std::string folderNames;
  index_filter::TFilterBuilder filter(totalEntries);
  out.Begin(kNames);
  out.Write("", 1);
  filter.Add("", 1);
  uint64_t namesAt = 1;  // the next name's position
  uint64_t entry = 0;
  size_t c = 0;
  for (uint32_t f = 0; f < folderCount; ++f) {
    if (!keep[f]) continue;
    const uint32_t parent = Folders.Parent(f);
    folderRecords.push_back({parent == TFolderTable::kNone ? kNoParent : renumbered[parent], static_cast<uint32_t>(entry),
                             static_cast<uint32_t>(folderNames.size())});
    folderNames.append(Folders.Name(f));
    for (; c < kept.size() && kept[c].Folder == f; ++c) {
      const unsigned char* p = reinterpret_cast<const unsigned char*>(spill.data()) + kept[c].Offset;
      const uint32_t namesBytes = LoadU32(p), detailsBytes = LoadU32(p + 4);
      const char* names = reinterpret_cast<const char*>(p + 8);
      const unsigned char* records = p + 8 + namesBytes;
      // Block starts inside this chunk need each name's and record's place.
      const char* name = names;
      const unsigned char* record = records;
      const unsigned char* recordsEnd = records + detailsBytes;
      const uint64_t detailsBase = details.Size();
      for (uint32_t i = 0; i < kept[c].Count; ++i, ++entry) {
        const size_t length = std::strlen(name);
        if (entry % kBlockEntries == 0) {
          if (!blocks.empty()) blocks.back().DetailsChecksum = blockSum.Value();
          blockSum = TChecksum();
          blocks.push_back({namesAt + static_cast<uint64_t>(name - names) - 1,
                            detailsBase + static_cast<uint64_t>(record - records), 0});
        }
        const size_t recordSize = DetailsSize(record, recordsEnd);
        blockSum.Add(record, recordSize);
        name += length + 1;
        record += recordSize;
      }
      out.Write(names, namesBytes);
      filter.Add(names, namesBytes);
      namesAt += namesBytes;
      details.Append(records, detailsBytes);
      detailsSum.Add(records, detailsBytes);
    }
  }
  if (!blocks.empty()) blocks.back().DetailsChecksum = blockSum.Value();
  blocks.push_back({namesAt - 1, details.Size(), 0});
  folderRecords.push_back({0, static_cast<uint32_t>(entry), static_cast<uint32_t>(folderNames.size())});
  out.End();

  const std::string_view detailBytes = details.Map();
  out.Begin(kDetails);
  out.Raw(detailBytes.data(), detailBytes.size());
  out.Toc.push_back({kDetails, out.Offset - detailBytes.size(), detailBytes.size(), detailsSum.Value()});

  out.Region(kBlocks, blocks.data(), blocks.size() * sizeof(TBlock));
  out.Region(kFolders, folderRecords.data(), folderRecords.size() * sizeof(TFolderRecord));
  out.Region(kFolderNames, folderNames.data(), folderNames.size());

  TByteWriter info;
  info.Text(Info.Location);
  info.I64(Info.CrawlStartedMs);
  info.I64(EndedMs);
  info.Text(Info.CrawlExclude);
  info.U8(Info.CrawlOneFileSystem ? 1 : 0);
  info.U64(Info.RootDevice);
  out.Region(kInfo, info.Bytes.data(), info.Bytes.size());

  TByteWriter log;
  log.U32(static_cast<uint32_t>(Log.size()));
  for (const std::string& line : Log) log.Text(line);
  out.Region(kLog, log.Bytes.data(), log.Bytes.size());

  TByteWriter sectionBytes;
  sectionBytes.U32(static_cast<uint32_t>(sections.size()));
  for (const TIndexSection& s : sections) {
    sectionBytes.Text(s.Path);
    sectionBytes.I64(s.IndexedAtMs);
    sectionBytes.U8(s.CarriedOver ? 1 : 0);
    sectionBytes.U64(s.Entries);
  }
  out.Region(kSections, sectionBytes.Bytes.data(), sectionBytes.Bytes.size());

  TByteWriter mounts;
  mounts.U32(static_cast<uint32_t>(Mounts.size()));
  for (const TIndexMount& m : Mounts) {
    mounts.Text(m.Folder);
    mounts.U64(m.Device);
    mounts.U8(m.Pseudo ? 1 : 0);
  }
  out.Region(kMounts, mounts.Bytes.data(), mounts.Bytes.size());

  const std::string filterBytes = filter.Finish();
  out.Region(kFilter, filterBytes.data(), filterBytes.size());

  TByteWriter toc;
  for (const TRegionWriter::TEntry& e : out.Toc) {
    toc.U32(e.Id);
    toc.U32(0);
    toc.U64(e.Start);
    toc.U64(e.Size);
    toc.U64(e.Checksum);
  }
  static const char zeros[8] = {};
  if (out.Offset % 8 != 0) out.Raw(zeros, 8 - out.Offset % 8);
  const uint64_t tocOffset = out.Offset;
  out.Raw(toc.Bytes.data(), toc.Bytes.size());
  unsigned char trailer[kTrailerSize] = {};
  std::memcpy(trailer, kTrailerMagic, 8);
  const uint64_t fileSize = out.Offset + kTrailerSize;
  const uint64_t tocSize = toc.Bytes.size();
  const uint64_t tocSum = ChecksumOf(toc.Bytes.data(), toc.Bytes.size());
  std::memcpy(trailer + 8, &fileSize, 8);
  std::memcpy(trailer + 16, &tocOffset, 8);
  std::memcpy(trailer + 24, &tocSize, 8);
  std::memcpy(trailer + 32, &tocSum, 8);
  const uint64_t trailerSum = ChecksumOf(trailer, 56);
  std::memcpy(trailer + 56, &trailerSum, 8);
  out.Raw(trailer, sizeof trailer);
  file.Commit(TAtomicFile::TDurability::Durable);
}
