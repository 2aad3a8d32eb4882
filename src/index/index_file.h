#pragma once
// TIndexFile: an index file mapped read-only, its regions located and its tables checked
// (index_format.h). Every accessor stays inside the mapping whatever the bytes: a table
// that Open checked is used as checked, and the name and details columns are read only
// within the bounds their block gives.
//
// Immutable once made: any number of threads.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "index/index_filter.h"
#include "index/index_format.h"
#include "index/index_types.h"

class TIndexFile {
 public:
  // Maps fileName and checks it; throws TIndexError naming the file.
  explicit TIndexFile(const std::string& fileName);
  ~TIndexFile();
  TIndexFile(const TIndexFile&) = delete;
  TIndexFile& operator=(const TIndexFile&) = delete;

  uint64_t FileBytes() const { return Size; }
  uint32_t EntryCount() const { return Entries; }
  uint32_t FolderCount() const { return Folders; }
  uint32_t BlockCount() const { return Blocks; }

  // The regions (a view of the mapping).
  std::string_view Region(index_format::TRegion region) const;
  uint64_t RegionChecksum(index_format::TRegion region) const;
  // Throws TIndexError (Damaged) when the region's checksum fails.
  void VerifyRegion(index_format::TRegion region) const;

  std::string_view Names() const { return NamesRegion; }
  const index_filter::TNameFilter& Filter() const { return NameFilter; }
  // A filter group's range of Names(): [first, second), second the next group's start
  // (the column's end for the last group).
  std::pair<uint64_t, uint64_t> GroupRange(uint32_t group) const;
  const index_format::TBlock& Block(uint32_t b) const { return BlockTable[b]; }

  uint32_t Parent(uint32_t folder) const { return FolderTable[folder].Parent; }
  uint32_t FirstEntry(uint32_t folder) const { return FolderTable[folder].FirstEntry; }
  uint32_t EndEntry(uint32_t folder) const { return FolderTable[folder + 1].FirstEntry; }
  std::string_view FolderName(uint32_t folder) const;
  // A root folder's whole path, or the path built from its parents; ends with the separator.
  std::string FolderPath(uint32_t folder) const;
  // The folder whose entries hold entry (entry < EntryCount()).
  uint32_t FolderOfEntry(uint32_t entry) const;
  // The folder whose path is path (with or without its trailing separator; UNC server
  // and share compared with ASCII case ignored), if the crawl listed it.
  std::optional<uint32_t> FindFolder(std::string_view path) const;

  // The entry holding names offset position (a position in Names() from 0 to its size-1):
  // the entry whose name, or the NUL just before it, is at position.
  uint32_t EntryAt(uint64_t position) const;

  // Reads entries [first, end) of one block range in order: visit(index, name, details).
  // end - first may span blocks. Returns false (and stops) where a record does not fit its
  // block, which a checked file never has.
  template <class TVisit>
  bool ForEntries(uint32_t first, uint32_t end, TVisit&& visit) const;

  // Reads entries in rising order, each from where the last one ended when both lie in
  // one block. One thread.
  class TCursor {
   public:
    explicit TCursor(const TIndexFile& file) : File(file) {}
    // False when the entry's bytes do not fit its block (a damaged file).
    bool Read(uint32_t entry, std::string_view& name, index_format::TDetails& details);

   private:
    const TIndexFile& File;
    uint32_t Next = 0;  // the entry at Name and Details
    uint32_t Block = ~0u;
    const char* Name = nullptr;
    const unsigned char* Details = nullptr;
  };

  // One entry's name and details.
  std::string_view NameOf(uint32_t entry) const;
  bool DetailsOf(uint32_t entry, index_format::TDetails& details) const;

  const std::string& FileName() const { return Name; }
  [[noreturn]] void Damaged(const std::string& why) const;

 private:
  friend class TCursor;
  void Check();
  // Whether block's details records match their checksum.
  bool BlockDetailsIntact(uint32_t block) const;
  // Positions at the start of entry's block and skips to entry: the name's start and
  // the details record's start. False when the block's bytes do not hold it; throws
  // TIndexError (Damaged) when the block's records fail their checksum.
  bool Seek(uint32_t entry, const char*& name, const unsigned char*& details) const;

  std::string Name;
  const unsigned char* Map = nullptr;
  uint64_t Size = 0;
  struct TRegionRef {
    uint64_t Offset = 0, Size = 0, Checksum = 0;
    bool Present = false;
  };
  TRegionRef Regions[index_format::kRegionCount + 1];
  std::string_view NamesRegion;
  const unsigned char* DetailsBase = nullptr;
  uint64_t DetailsSizeBytes = 0;
  const index_format::TBlock* BlockTable = nullptr;
  const index_format::TFolderRecord* FolderTable = nullptr;
  const char* FolderNamesBase = nullptr;
  uint64_t FolderNamesSize = 0;
  uint32_t Entries = 0, Folders = 0, Blocks = 0;
  index_filter::TNameFilter NameFilter;
};

template <class TVisit>
bool TIndexFile::ForEntries(uint32_t first, uint32_t end, TVisit&& visit) const {
  if (first >= end) return true;
  const char* name;
  const unsigned char* details;
  if (!Seek(first, name, details)) return false;
  uint32_t block = first / index_format::kBlockEntries;
  const char* namesEnd = NamesRegion.data() + BlockTable[block + 1].NamesOffset;
  const unsigned char* detailsEnd = DetailsBase + BlockTable[block + 1].DetailsOffset;
  index_format::TDetails d;
  for (uint32_t e = first; e < end; ++e) {
    if (e != first && e % index_format::kBlockEntries == 0) {
      ++block;
      if (!BlockDetailsIntact(block)) Damaged("checksum of a block's details");
      name = NamesRegion.data() + BlockTable[block].NamesOffset + 1;
      details = DetailsBase + BlockTable[block].DetailsOffset;
      namesEnd = NamesRegion.data() + BlockTable[block + 1].NamesOffset;
      detailsEnd = DetailsBase + BlockTable[block + 1].DetailsOffset;
    }
    const char* nul = static_cast<const char*>(std::memchr(name, 0, static_cast<size_t>(namesEnd + 1 - name)));
    const unsigned char* next = index_format::DecodeDetails(details, detailsEnd, d);
    if (!nul || !next) return false;
    visit(e, std::string_view(name, static_cast<size_t>(nul - name)), d);
    name = nul + 1;
    details = next;
  }
  return true;
}
