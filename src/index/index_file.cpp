#include "index/index_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

using namespace index_format;

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether a folder's name (a root's whole path) is the part of path it must be. For a
// root of a share the server and share compare without ASCII case.
bool SameRoot(std::string_view root, std::string_view path) {
  if (path.size() < root.size()) return false;
  if (root.size() >= 2 && root[0] == '\\' && root[1] == '\\') {
    int separators = 0;
    for (size_t i = 0; i < root.size(); ++i) {
      if (root[i] == '\\') ++separators;
      const bool folded = separators <= 4;  // "\\", server, "\", share, "\"
      if (folded ? AsciiLower(root[i]) != AsciiLower(path[i]) : root[i] != path[i]) return false;
    }
    return true;
  }
  return path.substr(0, root.size()) == root;
}

}  // namespace

TIndexFile::TIndexFile(const std::string& fileName) : Name(fileName) {
  const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT)
      throw TIndexError(TIndexError::TKind::Missing, "No index file " + fileName, error);
    throw TIndexError(TIndexError::TKind::Io, "Cannot open index " + fileName + ": " + std::strerror(error), error);
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    throw TIndexError(TIndexError::TKind::NotAnIndex, "Not an index file (not a regular file): " + fileName);
  }
  Size = static_cast<uint64_t>(info.st_size);
  if (Size < kHeaderSize) {
    close(fd);
    if (Size >= 8 || Size == 0) {
      // Too short for a header: ours only when what there is starts with our magic.
      unsigned char head[8] = {};
      const int fd2 = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
      const bool ours = fd2 >= 0 && Size >= 8 && pread(fd2, head, 8, 0) == 8 && std::memcmp(head, kMagic, 8) == 0;
      if (fd2 >= 0) close(fd2);
      if (!ours) throw TIndexError(TIndexError::TKind::NotAnIndex, "Not an index file: " + fileName);
    }
    throw TIndexError(TIndexError::TKind::Damaged, "Index file is truncated: " + fileName);
  }
  void* map = mmap(nullptr, Size, PROT_READ, MAP_SHARED, fd, 0);
  const int error = errno;
  close(fd);
  if (map == MAP_FAILED)
    throw TIndexError(TIndexError::TKind::Io, "Cannot map index " + fileName + ": " + std::strerror(error), error);
  Map = static_cast<const unsigned char*>(map);
  try {
    Check();
  } catch (...) {
    munmap(const_cast<unsigned char*>(Map), Size);
    throw;
  }
}

TIndexFile::~TIndexFile() { munmap(const_cast<unsigned char*>(Map), Size); }

void TIndexFile::Damaged(const std::string& why) const {
  throw TIndexError(TIndexError::TKind::Damaged, "Index file is damaged (" + why + "): " + Name);
}

void TIndexFile::Check() {
  if (std::memcmp(Map, kMagic, 8) != 0)
    throw TIndexError(TIndexError::TKind::NotAnIndex, "Not an index file: " + Name);
  if (ChecksumOf(Map, 56) != LoadU64(Map + 56)) Damaged("header checksum");
  const uint32_t version = LoadU32(Map + 8);
  if (version != kVersion)
    throw TIndexError(TIndexError::TKind::OtherVersion,
                      "Index file has format version " + std::to_string(version) + ", this program reads " +
                          std::to_string(kVersion) + ": " + Name);
  if (LoadU32(Map + 12) != kHeaderSize) Damaged("header size");
  if (Size < kHeaderSize + kTrailerSize) Damaged("truncated");
  const unsigned char* trailer = Map + Size - kTrailerSize;
  if (std::memcmp(trailer, kTrailerMagic, 8) != 0 || ChecksumOf(trailer, 56) != LoadU64(trailer + 56))
    Damaged("truncated or no trailer");
  if (LoadU64(trailer + 8) != Size) Damaged("size differs from the recorded size");
  const uint64_t tocOffset = LoadU64(trailer + 16), tocSize = LoadU64(trailer + 24);
  if (tocOffset < kHeaderSize || tocOffset > Size - kTrailerSize || tocSize > Size - kTrailerSize - tocOffset ||
      tocSize % 32 != 0)
    Damaged("table of contents out of bounds");
  if (ChecksumOf(Map + tocOffset, tocSize) != LoadU64(trailer + 32)) Damaged("table of contents checksum");
  for (uint64_t at = tocOffset; at < tocOffset + tocSize; at += 32) {
    const uint32_t id = LoadU32(Map + at);
    const uint64_t offset = LoadU64(Map + at + 8), size = LoadU64(Map + at + 16);
    if (id == 0 || id > kRegionCount || Regions[id].Present) Damaged("unknown or repeated region");
    if (offset < kHeaderSize || offset > tocOffset || size > tocOffset - offset) Damaged("region out of bounds");
    Regions[id] = {offset, size, LoadU64(Map + at + 24), true};
  }
  for (uint32_t id = 1; id <= kRegionCount; ++id)
    if (!Regions[id].Present) Damaged("a region is missing");
  // Regions apart, and nothing but zeros between them (no byte of the file goes unchecked).
  std::vector<std::pair<uint64_t, uint64_t>> spans{{0, kHeaderSize}, {tocOffset, Size}};
  for (uint32_t id = 1; id <= kRegionCount; ++id) spans.push_back({Regions[id].Offset, Regions[id].Offset + Regions[id].Size});
  std::sort(spans.begin(), spans.end());
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].first < spans[i - 1].second) Damaged("regions overlap");
    for (uint64_t at = spans[i - 1].second; at < spans[i].first; ++at)
      if (Map[at] != 0) Damaged("bytes between regions");
  }
  // The small regions and the tables are checked whole; the name column by whoever
  // scans it (Verify, every query: group by group where the name filter narrows it),
  // the details column block by block as it is read, the name filter's rows page by page.
  for (TRegion region : {kBlocks, kFolders, kFolderNames, kInfo, kLog, kSections, kMounts}) VerifyRegion(region);

  NamesRegion = Region(kNames);
  const std::string_view details = Region(kDetails);
  DetailsBase = reinterpret_cast<const unsigned char*>(details.data());
  DetailsSizeBytes = details.size();
  const std::string_view blocks = Region(kBlocks), folders = Region(kFolders), folderNames = Region(kFolderNames);
  if (blocks.size() % sizeof(TBlock) != 0 || blocks.size() < sizeof(TBlock) || folders.size() % sizeof(TFolderRecord) != 0 ||
      folders.size() < sizeof(TFolderRecord) || Regions[kBlocks].Offset % 8 != 0 || Regions[kFolders].Offset % 4 != 0)
    Damaged("table sizes");
  BlockTable = reinterpret_cast<const TBlock*>(blocks.data());
  FolderTable = reinterpret_cast<const TFolderRecord*>(folders.data());
  FolderNamesBase = folderNames.data();
  FolderNamesSize = folderNames.size();
  Blocks = static_cast<uint32_t>(blocks.size() / sizeof(TBlock) - 1);
  const uint64_t folderCount = folders.size() / sizeof(TFolderRecord) - 1;
  if (folderCount >= kNoParent) Damaged("too many folders");
  Folders = static_cast<uint32_t>(folderCount);
  const uint64_t entries = FolderTable[Folders].FirstEntry;
  Entries = static_cast<uint32_t>(entries);
  if ((entries + kBlockEntries - 1) / kBlockEntries != Blocks) Damaged("block count");
  // Names: a NUL first and last; blocks rising inside it and ending at its last byte.
  if (NamesRegion.empty() || NamesRegion.front() != '\0' || NamesRegion.back() != '\0') Damaged("name column");
  if (BlockTable[0].NamesOffset != 0 || BlockTable[0].DetailsOffset != 0 ||
      BlockTable[Blocks].NamesOffset != NamesRegion.size() - 1 || BlockTable[Blocks].DetailsOffset != DetailsSizeBytes)
    Damaged("block table ends");
  for (uint32_t b = 0; b < Blocks; ++b) {
    const uint32_t inBlock = std::min<uint32_t>(kBlockEntries, Entries - b * kBlockEntries);
    // Each name takes at least two bytes (a byte and its NUL), each record five.
    if (BlockTable[b + 1].NamesOffset < BlockTable[b].NamesOffset + 2ull * inBlock ||
        BlockTable[b + 1].DetailsOffset < BlockTable[b].DetailsOffset + 5ull * inBlock ||
        BlockTable[b + 1].NamesOffset >= NamesRegion.size() || BlockTable[b + 1].DetailsOffset > DetailsSizeBytes)
      Damaged("block table");
  }
  if (!NameFilter.Open(Region(kFilter), Entries)) Damaged("name filter");
  // Folders: parents first, entries and names rising, every name present.
  if (FolderTable[0].FirstEntry != 0 || FolderTable[0].NameOffset != 0 || FolderTable[Folders].NameOffset != FolderNamesSize)
    Damaged("folder table ends");
  for (uint32_t f = 0; f < Folders; ++f) {
    const TFolderRecord& r = FolderTable[f];
    const TFolderRecord& next = FolderTable[f + 1];
    // Names are read while the table is checked, so each one's end is bounded here.
    if ((r.Parent != kNoParent && r.Parent >= f) || next.FirstEntry < r.FirstEntry || next.NameOffset <= r.NameOffset ||
        next.NameOffset > FolderNamesSize)
      Damaged("folder table");
    if (r.Parent == kNoParent) {
      const std::string_view name = FolderName(f);
      if (name.back() != '/' && name.back() != '\\') Damaged("root folder name");
    }
  }
  if (std::memchr(FolderNamesBase, 0, FolderNamesSize) != nullptr) Damaged("folder name");
}

std::pair<uint64_t, uint64_t> TIndexFile::GroupRange(uint32_t group) const {
  const uint32_t blocksPer = NameFilter.GroupEntries() / kBlockEntries;
  const uint64_t first = BlockTable[uint64_t{group} * blocksPer].NamesOffset;
  const uint64_t next = uint64_t{group + 1} * blocksPer;
  return {first, next < Blocks ? BlockTable[next].NamesOffset : NamesRegion.size()};
}

std::string_view TIndexFile::Region(TRegion region) const {
  return {reinterpret_cast<const char*>(Map + Regions[region].Offset), Regions[region].Size};
}

uint64_t TIndexFile::RegionChecksum(TRegion region) const { return Regions[region].Checksum; }

void TIndexFile::VerifyRegion(TRegion region) const {
  const std::string_view bytes = Region(region);
  if (ChecksumOf(bytes.data(), bytes.size()) != Regions[region].Checksum) Damaged("checksum of a region");
}

std::string_view TIndexFile::FolderName(uint32_t folder) const {
  const uint32_t a = FolderTable[folder].NameOffset, b = FolderTable[folder + 1].NameOffset;
  return {FolderNamesBase + a, static_cast<size_t>(b - a)};
}

std::string TIndexFile::FolderPath(uint32_t folder) const {
  std::vector<uint32_t> chain;
  for (uint32_t f = folder; f != kNoParent; f = FolderTable[f].Parent) chain.push_back(f);
  const std::string_view root = FolderName(chain.back());
  const char separator = root.back();
  std::string path(root);
  for (size_t i = chain.size() - 1; i-- > 0;) {
    path += FolderName(chain[i]);
    path += separator;
  }
  return path;
}

uint32_t TIndexFile::FolderOfEntry(uint32_t entry) const {
  // The last folder whose first entry is at or before entry and that holds any.
  const TFolderRecord* begin = FolderTable;
  const TFolderRecord* end = FolderTable + Folders;
  const TFolderRecord* it = std::upper_bound(begin, end, entry, [](uint32_t e, const TFolderRecord& r) {
    return e < r.FirstEntry;
  });
  return static_cast<uint32_t>(it - begin) - 1;
}

std::optional<uint32_t> TIndexFile::FindFolder(std::string_view path) const {
  if (Folders == 0 || path.empty()) return std::nullopt;
  const char separator = path.size() >= 2 && path[0] == '\\' && path[1] == '\\' ? '\\' : '/';
  std::string wanted(path);
  while (wanted.size() > 1 && wanted.back() == separator) wanted.pop_back();
  if (wanted.back() != separator) wanted += separator;
  // The location itself, most often asked for: a root, found before any table is made.
  for (uint32_t f = 0; f < Folders && FolderTable[f].Parent == kNoParent; ++f)
    if (FolderName(f).size() == wanted.size() && SameRoot(FolderName(f), wanted)) return f;
  constexpr size_t kNotOnPath = ~size_t{0};
  // Per folder: how much of wanted its own path covers, when it lies on wanted's way.
  std::vector<size_t> covered(Folders, kNotOnPath);
  for (uint32_t f = 0; f < Folders; ++f) {
    const std::string_view name = FolderName(f);
    const uint32_t parent = FolderTable[f].Parent;
    size_t at;
    if (parent == kNoParent) {
      if (!SameRoot(name, wanted)) continue;
      at = name.size();
    } else {
      at = covered[parent];
      if (at == kNotOnPath || wanted.size() < at + name.size() + 1 || wanted.compare(at, name.size(), name) != 0 ||
          wanted[at + name.size()] != separator)
        continue;
      at += name.size() + 1;
    }
    if (at == wanted.size()) return f;
    covered[f] = at;
  }
  return std::nullopt;
}

bool TIndexFile::BlockDetailsIntact(uint32_t block) const {
  const uint64_t a = BlockTable[block].DetailsOffset, b = BlockTable[block + 1].DetailsOffset;
  return ChecksumOf(DetailsBase + a, b - a) == BlockTable[block].DetailsChecksum;
}

bool TIndexFile::Seek(uint32_t entry, const char*& name, const unsigned char*& details) const {
  const uint32_t block = entry / kBlockEntries;
  if (!BlockDetailsIntact(block)) Damaged("checksum of a block's details");
  const char* p = NamesRegion.data() + BlockTable[block].NamesOffset + 1;
  const char* namesEnd = NamesRegion.data() + BlockTable[block + 1].NamesOffset;
  const unsigned char* d = DetailsBase + BlockTable[block].DetailsOffset;
  const unsigned char* detailsEnd = DetailsBase + BlockTable[block + 1].DetailsOffset;
  for (uint32_t e = block * kBlockEntries; e < entry; ++e) {
    const char* nul = static_cast<const char*>(std::memchr(p, 0, static_cast<size_t>(namesEnd + 1 - p)));
    const size_t n = DetailsSize(d, detailsEnd);
    if (!nul || nul >= namesEnd || n == 0) return false;
    p = nul + 1;
    d += n;
  }
  name = p;
  details = d;
  return p <= namesEnd;
}

std::string_view TIndexFile::NameOf(uint32_t entry) const {
  const char* name;
  const unsigned char* details;
  if (!Seek(entry, name, details)) return {};
  const char* namesEnd = NamesRegion.data() + BlockTable[entry / kBlockEntries + 1].NamesOffset;
  const char* nul = static_cast<const char*>(std::memchr(name, 0, static_cast<size_t>(namesEnd + 1 - name)));
  return nul ? std::string_view(name, static_cast<size_t>(nul - name)) : std::string_view();
}

bool TIndexFile::DetailsOf(uint32_t entry, TDetails& details) const {
  const char* name;
  const unsigned char* d;
  if (!Seek(entry, name, d)) return false;
  return DecodeDetails(d, DetailsBase + BlockTable[entry / kBlockEntries + 1].DetailsOffset, details) != nullptr;
}

uint32_t TIndexFile::EntryAt(uint64_t position) const {
  if (Blocks == 0) return 0;
  // The last block whose NUL-before-its-first-name is at or before position.
  uint32_t lo = 0, hi = Blocks;
  while (hi - lo > 1) {
    const uint32_t mid = lo + (hi - lo) / 2;
    if (BlockTable[mid].NamesOffset <= position) lo = mid;
    else hi = mid;
  }
  // Every NUL after that one, up to and including position, begins the next entry.
  const char* p = NamesRegion.data() + BlockTable[lo].NamesOffset + 1;
  const char* target = NamesRegion.data() + std::min<uint64_t>(position, NamesRegion.size() - 1);
  uint32_t entry = lo * kBlockEntries;
  while (p <= target) {
    const char* nul = static_cast<const char*>(std::memchr(p, 0, static_cast<size_t>(target - p + 1)));
    if (!nul) break;
    ++entry;
    p = nul + 1;
  }
  return std::min(entry, Entries - 1);
}

bool TIndexFile::TCursor::Read(uint32_t entry, std::string_view& name, TDetails& details) {
  const uint32_t block = entry / kBlockEntries;
  if (block != Block || entry < Next) {
    if (!File.Seek(entry, Name, Details)) return false;
    Block = block;
    Next = entry;
  }
  const char* namesEnd = File.NamesRegion.data() + File.BlockTable[block + 1].NamesOffset;
  const unsigned char* detailsEnd = File.DetailsBase + File.BlockTable[block + 1].DetailsOffset;
  for (; Next <= entry; ++Next) {
    if (Name > namesEnd) return false;
    const char* nul = static_cast<const char*>(std::memchr(Name, 0, static_cast<size_t>(namesEnd + 1 - Name)));
    if (!nul) return false;
    const unsigned char* after;
    if (Next == entry) {
      after = DecodeDetails(Details, detailsEnd, details);
      name = std::string_view(Name, static_cast<size_t>(nul - Name));
    } else {
      const size_t n = DetailsSize(Details, detailsEnd);
      after = n ? Details + n : nullptr;
    }
    if (!after) return false;
    Name = nul + 1;
    Details = after;
  }
  return true;
}
