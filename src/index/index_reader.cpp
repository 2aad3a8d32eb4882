#include "index/index_reader.h"

#include "index/index_file.h"
#include "index/index_location.h"

using namespace index_format;

TIndexReader::TIndexReader() = default;
TIndexReader::~TIndexReader() = default;

std::shared_ptr<const TIndexReader> TIndexReader::Open(const std::string& fileName) {
  std::shared_ptr<TIndexReader> reader(new TIndexReader());
  reader->Name = fileName;
  reader->Mapped = std::make_unique<TIndexFile>(fileName);
  const TIndexFile& file = *reader->Mapped;
  auto bytes = [&file](TRegion region) {
    const std::string_view r = file.Region(region);
    return TByteReader(reinterpret_cast<const unsigned char*>(r.data()), r.size());
  };
  TByteReader info = bytes(kInfo);
  TIndexInfo& i = reader->InfoData;
  i.Location = info.Text();
  i.CrawlStartedMs = info.I64();
  i.CrawlEndedMs = info.I64();
  i.CrawlExclude = info.Text();
  i.CrawlOneFileSystem = info.U8() != 0;
  i.RootDevice = info.U64();
  i.EntryCount = file.EntryCount();
  i.FolderCount = file.FolderCount();
  i.FileBytes = file.FileBytes();
  if (!info.Ok() || !info.AtEnd() || i.Location.empty()) file.Damaged("information record");

  TByteReader log = bytes(kLog);
  for (uint32_t n = log.U32(); n > 0 && log.Ok(); --n) reader->Log.push_back(log.Text());
  if (!log.Ok() || !log.AtEnd()) file.Damaged("log record");

  TByteReader sections = bytes(kSections);
  for (uint32_t n = sections.U32(); n > 0 && sections.Ok(); --n) {
    TIndexSection s;
    s.Path = sections.Text();
    s.IndexedAtMs = sections.I64();
    s.CarriedOver = sections.U8() != 0;
    s.Entries = sections.U64();
    reader->SectionList.push_back(std::move(s));
  }
  if (!sections.Ok() || !sections.AtEnd() || reader->SectionList.empty()) file.Damaged("section record");

  TByteReader mounts = bytes(kMounts);
  for (uint32_t n = mounts.U32(); n > 0 && mounts.Ok(); --n) {
    TIndexMount m;
    m.Folder = mounts.Text();
    m.Device = mounts.U64();
    m.Pseudo = mounts.U8() != 0;
    reader->MountList.push_back(std::move(m));
  }
  if (!mounts.Ok() || !mounts.AtEnd()) file.Damaged("mount record");
  return reader;
}

const TIndexSection& TIndexReader::SectionOf(std::string_view folder) const {
  const TIndexSection* best = &SectionList.front();
  for (const TIndexSection& s : SectionList)
    if (LocationContains(s.Path, folder) == TContainment::Yes && s.Path.size() > best->Path.size()) best = &s;
  return *best;
}

bool TIndexReader::HoldsLocation(std::string_view location) const {
  const std::string wanted = NormalLocation(location);
  if (LocationContains(InfoData.Location, wanted) == TContainment::No) return false;
  if (LocationContains(wanted, InfoData.Location) == TContainment::Yes) return true;
  if (Mapped->FindFolder(wanted)) return true;
  // A server or container: some root lies in it.
  const TIndexFile& file = *Mapped;
  for (uint32_t f = 0; f < file.FolderCount(); ++f) {
    if (file.Parent(f) != kNoParent) continue;
    std::string_view root = file.FolderName(f);
    root.remove_suffix(1);
    if (LocationContains(wanted, root) == TContainment::Yes || LocationContains(root, wanted) == TContainment::Yes)
      return true;
  }
  return false;
}

void TIndexReader::ForEachFolderIn(
    std::string_view location,
    const std::function<void(const std::string& folder, std::span<const TIndexEntry> entries)>& visit) const {
  const TIndexFile& file = *Mapped;
  file.VerifyRegion(kNames);
  const std::string wanted = NormalLocation(location);
  // Folders inside: a root inside wanted, or a folder whose parent is inside, or the
  // folder wanted names.
  std::vector<uint8_t> inside(file.FolderCount(), 0);
  if (std::optional<uint32_t> f = file.FindFolder(wanted)) inside[*f] = 1;
  std::vector<TIndexEntry> entries;
  for (uint32_t f = 0; f < file.FolderCount(); ++f) {
    const uint32_t parent = file.Parent(f);
    if (parent == kNoParent) {
      std::string_view root = file.FolderName(f);
      root.remove_suffix(1);
      if (LocationContains(wanted, root) == TContainment::Yes) inside[f] = 1;
    } else if (inside[parent]) {
      inside[f] = 1;
    }
    if (!inside[f]) continue;
    entries.clear();
    const bool whole = file.ForEntries(file.FirstEntry(f), file.EndEntry(f),
                                       [&](uint32_t, std::string_view name, const TDetails& d) {
                                         entries.push_back({name, d.Size, d.DateTime, d.Attr});
                                       });
    if (!whole) file.Damaged("an entry does not fit its block");
    visit(file.FolderPath(f), entries);
  }
}

void TIndexReader::Verify() const {
  for (uint32_t region = 1; region <= kRegionCount; ++region) Mapped->VerifyRegion(static_cast<TRegion>(region));
  const TIndexFile& file = *Mapped;
  // Every block's names and records fill it exactly.
  for (uint32_t b = 0; b < file.BlockCount(); ++b) {
    const uint32_t first = b * kBlockEntries;
    const uint32_t end = std::min<uint32_t>(file.EntryCount(), first + kBlockEntries);
    uint32_t seen = 0;
    if (!file.ForEntries(first, end, [&](uint32_t, std::string_view, const TDetails&) { ++seen; }) || seen != end - first)
      file.Damaged("a block's entries");
  }
}
