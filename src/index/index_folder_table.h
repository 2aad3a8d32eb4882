#pragma once
// TFolderTable: the writer's folders, each stored once as its parent and its own name
// (a root as its whole path), found again by two independent 64-bit hashes of its whole
// path. Two paths are taken for the same when both hashes agree (a chance of 2^-128 per
// pair of paths): comparing the names up to the root instead would visit every parent's
// record, a cache miss each, for every batch. A folder is numbered when it is first
// seen, its parents before it, so a parent's number is always below its sub-folders'.
// About 50 bytes a folder besides its name.
//
// Not thread-safe: the writer calls it under its Lock.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TFolderTable {
 public:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;

  // The number of folder (ending with its separator), made with any parents it lacks
  // when it is new. rootLength: how much of folder is its root (the location's folder,
  // or a share), which folder must start with; below it no name may be empty.
  uint32_t Intern(std::string_view folder, size_t rootLength);
  // The number of folder when it is known.
  std::optional<uint32_t> Find(std::string_view folder) const;

  uint32_t Count() const { return static_cast<uint32_t>(Records.size()); }
  uint32_t Parent(uint32_t id) const { return Records[id].Parent; }
  std::string_view Name(uint32_t id) const {
    return std::string_view(Names).substr(Records[id].NameOffset, Records[id].NameLength);
  }
  std::string Path(uint32_t id) const;

 private:
  struct THash {
    uint64_t A, B;
    bool operator==(const THash&) const = default;
  };
  struct TRecord {
    THash Hash;
    uint64_t NameOffset;
    uint32_t NameLength;
    uint32_t Parent;
  };
  static THash HashOf(std::string_view path);
  std::optional<uint32_t> Lookup(const THash& hash) const;
  uint32_t Add(uint32_t parent, std::string_view name, const THash& hash);
  void Grow();

  std::vector<TRecord> Records;
  std::string Names;
  std::vector<uint32_t> Slots;  // id + 1, 0 for empty; a power of two, at most half full
  // The last folder looked up: batches of one folder often come one after another.
  std::string LastPath;
  uint32_t LastId = kNone;
};
