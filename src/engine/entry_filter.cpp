#include "engine/entry_filter.h"

#include "os/dos_time.h"

namespace {

// Packs a time bound. A bound before 1980 packs to 0, which as a lower bound admits every
// entry. A bound after 2107 lies beyond every packed entry time: as an upper bound it
// admits every entry, as a lower bound none.
uint32_t PackBound(double value) {
  const TDateTimeParts parts = DecodeDateTime(value);
  if (parts.Year > 2107) return 0xFFFFFFFFu;
  return PackDosDateTime(parts);
}

}  // namespace

TEntryFilter::TEntryFilter(const TSearchTask& task)
    : Forbidden(kTestedAttributes & ~task.FileAttr),
      HasSizeFrom(task.FileSizeFrom > 0),
      HasSizeTo(task.FileSizeTo > 0),
      HasTimeFrom(task.FileTimeFrom != 0.0),
      HasTimeTo(task.FileTimeTo != 0.0),
      SizeFrom(task.FileSizeFrom),
      SizeTo(task.FileSizeTo),
      TimeFrom(HasTimeFrom ? PackBound(task.FileTimeFrom) : 0),
      TimeTo(HasTimeTo ? PackBound(task.FileTimeTo) : 0),
      ExcludeMasks(CompileMasks(task.Exclude)) {}

bool TEntryFilter::SizeAndTimePass(int64_t size, uint32_t time) const {
  if (HasSizeFrom && size < SizeFrom) return false;
  if (HasSizeTo && size > SizeTo) return false;
  if (HasTimeFrom && time < TimeFrom) return false;
  if (HasTimeTo && time > TimeTo) return false;
  return true;
}

bool MatchesFilter(const TFilterEntry& entry, const TSearchTask& task) {
  return TEntryFilter(task).Matches(entry);
}
