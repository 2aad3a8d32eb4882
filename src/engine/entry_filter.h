#pragma once
// The attribute, size and time filter that a directory entry must pass before its name
// is tested against the masks.
//
// The tests run in this order and the first failure decides: the attributes (each of
// read-only, hidden, system, archive, directory that the task does not permit must be
// absent; other bits are ignored), size >= FileSizeFrom (when > 0), size <= FileSizeTo
// (when > 0), time >= packed FileTimeFrom (when != 0), time <= packed FileTimeTo (when
// != 0). Sizes are the true 64-bit sizes. Times are packed local DOS date-times
// compared in chronological order; both bounds are inclusive, and a bound is packed
// like an entry, so it is truncated to two seconds.
//
// The folder walker may learn an entry's size, time and some attribute bits lazily. It
// builds one TEntryFilter per task; per entry it may first reject on the bits it knows
// (AttributesMayPass), then settle the rest when AttributesSettled says they matter or
// NeedsSizeOrTime(), and finally call AttributesPass and SizeAndTimePass (or Matches).
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/masks.h"
#include "engine/search_task.h"

// What the filter looks at in one directory entry.
struct TFilterEntry {
  uint32_t Attr = 0;
  int64_t Size = 0;
  uint32_t Time = 0;  // last write, local, packed DOS date-time
};

class TEntryFilter {
 public:
  // Packs the task's bounds and compiles its exclusion masks once. The task may be
  // destroyed afterwards. Throws TMaskError for a malformed exclusion mask.
  explicit TEntryFilter(const TSearchTask& task);

  // Whether name matches one of the task's exclusion masks: the entry is left out and,
  // when a folder, not walked. Decided by the name alone.
  bool Excluded(std::string_view name) const {
    for (const TMask& mask : ExcludeMasks)
      if (mask.Matches(name)) return true;
    return false;
  }

  bool AttributesPass(uint32_t attr) const { return (attr & Forbidden) == 0; }
  // False when a bit settled in known already fails the attribute test.
  bool AttributesMayPass(uint32_t attr, uint32_t known) const {
    return (attr & known & Forbidden) == 0;
  }
  // Whether the attribute test is decided by the bits in known alone.
  bool AttributesSettled(uint32_t known) const { return (Forbidden & ~known) == 0; }
  // Whether any size or time bound is in effect.
  bool NeedsSizeOrTime() const { return HasSizeFrom || HasSizeTo || HasTimeFrom || HasTimeTo; }
  bool SizeAndTimePass(int64_t size, uint32_t time) const;
  bool Matches(const TFilterEntry& entry) const {
    return AttributesPass(entry.Attr) && SizeAndTimePass(entry.Size, entry.Time);
  }

 private:
  uint32_t Forbidden;  // the tested attribute bits that the task does not permit
  bool HasSizeFrom, HasSizeTo, HasTimeFrom, HasTimeTo;
  int64_t SizeFrom, SizeTo;
  uint32_t TimeFrom, TimeTo;
  std::vector<TMask> ExcludeMasks;
};

// One-off form of TEntryFilter(task).Matches(entry).
bool MatchesFilter(const TFilterEntry& entry, const TSearchTask& task);
