#pragma once
// The name column's trigram filter: which groups of entries may hold a literal, so that a
// query scans only those and a name that occurs nowhere costs a few rows of bits.
//
// Entries are taken in groups of a whole number of blocks (index_format.h). A group's
// range of the name column starts at the NUL before its first name and ends where the
// next group's starts (the last one at the column's end). Each group has a set of hashed
// trigrams: every three consecutive bytes of the column that begin inside its range and
// whose middle byte is not a NUL, ASCII letters folded to lower case. A literal
// (index_scan.h) occurring at a position inside a group's range has all of its trigrams
// in that group's set (a literal holds a NUL only at its ends), so a group that lacks any
// of them cannot hold it.
//
// Region layout (little-endian):
//   u32 group entries (a multiple of kBlockEntries), u32 bucket bits, u32 group count,
//   u32 row bytes (group count / 8, rounded up)
//   u64 per group: checksum of its range and the byte after it (the next group's NUL)
//   u64 per page of kRowsPerPage rows: checksum of those rows
//   u64 checksum of everything above
//   rows: per bucket, one bit per group (bit g % 8 of byte g / 8), bucket after bucket
// The rows are checked page by page as a query reads them; the rest when the file opens.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "index/index_format.h"

struct TLiteral;

namespace index_filter {

inline constexpr uint32_t kGroupEntries = 64 * index_format::kBlockEntries;
inline constexpr uint32_t kRowsPerPage = 64;

// Builds the region from the name column as it is written, in order, start to end.
// Memory: 2^bucketBits bits a group (4 KB from 4,096 entries on).
class TFilterBuilder {
 public:
  explicit TFilterBuilder(uint64_t entries);
  void Add(const char* bytes, size_t size);
  // The region's bytes; call once, after the column's last byte.
  std::string Finish();

 private:
  void CloseGroup();

  uint64_t Entries;
  uint32_t Bits;
  uint32_t Groups;
  uint32_t RowBytes;
  std::vector<uint64_t> Current;   // the current group's set, 2^Bits bits
  std::vector<unsigned char> Rows;
  std::vector<uint64_t> GroupSums;
  index_format::TChecksum Sum;     // of the current group's range so far
  uint64_t Nuls = 0;               // NULs seen: the next one is the NUL before entry Nuls
  uint32_t Group = 0;              // the current group
  uint64_t Seen = 0;               // bytes seen
  unsigned char Prev[2] = {0, 0};  // the last two bytes, folded
};

// A checked view of the region in a mapped file.
class TNameFilter {
 public:
  // False when the region is not one for entries entries, or its tables fail their checksum.
  bool Open(std::string_view region, uint64_t entries);
  uint32_t GroupCount() const { return Groups; }
  uint32_t GroupEntries() const { return GroupSize; }
  uint64_t GroupChecksum(uint32_t group) const;
  // Clears the byte of each group in groups (GroupCount() bytes) that cannot hold
  // literal (its bytes as LiteralOf gives them; shorter than three: none is cleared).
  // False when a row it reads fails its page's checksum.
  bool Narrow(const TLiteral& literal, std::vector<uint8_t>& groups) const;

 private:
  const unsigned char* Base = nullptr;
  const unsigned char* RowBase = nullptr;
  uint32_t GroupSize = 0, Bits = 0, Groups = 0, RowBytes = 0;
};

}  // namespace index_filter
