#pragma once
// The index file's layout, shared by the writer and the reader. All integers are
// little-endian.
//
//   header   64 bytes: magic "LQINDEX\0", u32 version, u32 header size (64), zero padding,
//            u64 checksum of the first 56 bytes at offset 56
//   regions  one after another, each starting at a multiple of 8 (zero padding between):
//     Names        "\0" name "\0" name "\0" ...: every entry's name, grouped by folder,
//                  each followed by a NUL (names never hold one), the first preceded by one
//     Details      one record per entry in the same order (EncodeDetails below)
//     Blocks       per block of kBlockEntries entries, and once more for the end: u64
//                  offset in Names of the NUL before the block's first name, u64 offset
//                  of its first record in Details, u64 checksum of the block's records
//                  (0 in the end's), so that a query checks only the records it reads
//     Folders      per folder, and once more for the end: u32 parent (kNoParent for a
//                  root), u32 first entry, u32 offset of its name in FolderNames. A
//                  parent comes before its sub-folders; a folder's entries are
//                  [first, next folder's first).
//     FolderNames  each folder's name: a root's is its whole path with its trailing
//                  separator, any other's its name in its parent
//     Info, Log, Sections, Mounts   small records (TByteWriter/TByteReader forms)
//     Filter       which groups of entries may hold a name's trigrams (index_filter.h)
//     Toc          per region: u32 id, u32 zero, u64 offset, u64 size, u64 checksum
//   trailer  64 bytes at the end: magic "LQTRAIL\0", u64 file size, u64 Toc offset,
//            u64 Toc size, u64 Toc checksum, zero padding, u64 checksum of the first 56
//
// Checksum: the region taken as 32-byte chunks (the last one padded with zeros), each as
// four u64 lanes; per lane a += x, b += a; the eight sums and the length are mixed
// into one u64. It finds any changed byte and is cheap enough to be computed by every
// query while it scans the names.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace index_format {

inline constexpr char kMagic[8] = {'L', 'Q', 'I', 'N', 'D', 'E', 'X', '\0'};
inline constexpr char kTrailerMagic[8] = {'L', 'Q', 'T', 'R', 'A', 'I', 'L', '\0'};
inline constexpr uint32_t kVersion = 2;
inline constexpr size_t kHeaderSize = 64;
inline constexpr size_t kTrailerSize = 64;
inline constexpr uint32_t kBlockEntries = 64;
inline constexpr uint32_t kNoParent = 0xFFFFFFFFu;

enum TRegion : uint32_t {
  kNames = 1, kDetails = 2, kBlocks = 3, kFolders = 4, kFolderNames = 5,
  kInfo = 6, kLog = 7, kSections = 8, kMounts = 9, kFilter = 10, kRegionCount = 10,
};

struct TBlock {
  uint64_t NamesOffset;
  uint64_t DetailsOffset;
  uint64_t DetailsChecksum;
};
struct TFolderRecord {
  uint32_t Parent;
  uint32_t FirstEntry;
  uint32_t NameOffset;
};
static_assert(sizeof(TBlock) == 24 && sizeof(TFolderRecord) == 12);

// The running checksum of a region written or read piece by piece.
class TChecksum {
 public:
  void Add(const void* data, size_t size);
  // Adds whole 32-byte chunks at data (size a multiple of 32). Nothing may be pending.
  void AddChunks(const void* data, size_t size);
  uint64_t Value() const;  // of everything added; the state is unchanged
  // Adds the sums of the range that follows this one (this one holds whole chunks only;
  // the next may end with a partial one).
  void Append(const TChecksum& next);
  uint64_t A[4] = {0, 0, 0, 0}, B[4] = {0, 0, 0, 0};
  uint64_t Chunks = 0;
  uint64_t Length = 0;
  unsigned char Pending[32];
  size_t PendingSize = 0;
};
uint64_t ChecksumOf(const void* data, size_t size);

// Details record of one entry. First byte: the attribute bits 0x01..0x20 in its low six
// bits and the form in its top two:
//   0: size 0, u32 packed DOS time               (5 bytes)
//   1: u16 size, u32 packed DOS time             (7 bytes)
//   2: u32 size, u32 packed DOS time             (9 bytes)
//   3: u8 flags, [u32 attributes when flags & 1], i64 size,
//      [f64 date-time when flags & 2, else u32 packed DOS time]
// A date-time is kept packed when unpacking gives it back exactly; any other (not finite,
// not on a two-second step, before 1980) is kept as it is.
inline constexpr size_t kMaxDetailsSize = 1 + 1 + 4 + 8 + 8;

struct TDetails {
  uint32_t Attr = 0;
  int64_t Size = 0;
  double DateTime = 0.0;
  // What the filter compares: the packed time the walk's filter saw (0 when the entry's
  // details could not be read) and the size it saw (0 then).
  uint32_t FilterTime = 0;
  int64_t FilterSize = 0;
};

// Writes the record of an entry to out (at least kMaxDetailsSize bytes); returns its size.
size_t EncodeDetails(uint32_t attr, int64_t size, double dateTime, unsigned char* out);
// Reads one record at p, which ends before end. Returns the position after it, or null
// when it does not fit.
const unsigned char* DecodeDetails(const unsigned char* p, const unsigned char* end, TDetails& details);
// The size of the record at p without decoding it; 0 when it does not fit before end.
size_t DetailsSize(const unsigned char* p, const unsigned char* end);

// Small records: u32 lengths before strings.
class TByteWriter {
 public:
  void U8(uint8_t v) { Bytes.push_back(static_cast<char>(v)); }
  void U32(uint32_t v) { Put(&v, 4); }
  void U64(uint64_t v) { Put(&v, 8); }
  void I64(int64_t v) { Put(&v, 8); }
  void Text(std::string_view s) {
    U32(static_cast<uint32_t>(s.size()));
    Bytes.append(s);
  }
  std::string Bytes;

 private:
  void Put(const void* p, size_t n) { Bytes.append(static_cast<const char*>(p), n); }
};

// Reads what TByteWriter wrote; every read is bounded: Ok() turns false for good at the
// first read past the end and later reads give zeros.
class TByteReader {
 public:
  TByteReader(const unsigned char* data, size_t size) : P(data), End(data + size) {}
  uint8_t U8() { uint8_t v = 0; Get(&v, 1); return v; }
  uint32_t U32() { uint32_t v = 0; Get(&v, 4); return v; }
  uint64_t U64() { uint64_t v = 0; Get(&v, 8); return v; }
  int64_t I64() { int64_t v = 0; Get(&v, 8); return v; }
  std::string Text() {
    const uint32_t n = U32();
    if (!Good || static_cast<size_t>(End - P) < n) {
      Good = false;
      return {};
    }
    std::string s(reinterpret_cast<const char*>(P), n);
    P += n;
    return s;
  }
  bool Ok() const { return Good; }
  bool AtEnd() const { return P == End; }

 private:
  void Get(void* v, size_t n) {
    if (!Good || static_cast<size_t>(End - P) < n) {
      Good = false;
      return;
    }
    std::memcpy(v, P, n);
    P += n;
  }
  const unsigned char* P;
  const unsigned char* End;
  bool Good = true;
};

inline uint64_t LoadU64(const void* p) { uint64_t v; std::memcpy(&v, p, 8); return v; }
inline uint32_t LoadU32(const void* p) { uint32_t v; std::memcpy(&v, p, 4); return v; }

}  // namespace index_format
