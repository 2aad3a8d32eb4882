#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "engine/entry_filter.h"
#include "engine/search_task.h"
#include "os/dos_time.h"

namespace {

constexpr uint32_t kAllAttributes = 0x3F;

TSearchTask Task(uint32_t attr = kAllAttributes) {
  TSearchTask task;
  task.FileAttr = attr;
  return task;
}

uint32_t At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return DateTimeToDosDateTime(EncodeDateTime(y, mo, d, h, mi, s));
}

TEST(DosTime, PackingLayoutAndTwoSecondSteps) {
  // 2024-03-14 10:00:01: date 14 + 3*32 + 44*512, time 0 + 0*32 + 10*2048.
  EXPECT_EQ(At(2024, 3, 14, 10, 0, 1), (14u + 3 * 32 + 44 * 512) << 16 | 10 * 2048);
  EXPECT_EQ(At(2024, 3, 14, 10, 0, 1), At(2024, 3, 14, 10, 0, 0));
  EXPECT_EQ(At(1980, 1, 1), kDosDateTimeMin);
  EXPECT_EQ(At(2107, 12, 31, 23, 59, 59), kDosDateTimeMax);
  EXPECT_EQ(At(1979, 12, 31, 23, 59, 59), 0u);
  EXPECT_EQ(At(2108, 1, 1), 0u);
  // A whisker below midnight rounds to the next day rather than to second 60.
  EXPECT_EQ(DateTimeToDosDateTime(EncodeDateTime(2001, 2, 28) + 1.0 - 1e-10), At(2001, 3, 1));
}

TEST(DosTime, DateTimeRoundTripsThroughPacking) {
  for (uint32_t packed : {At(1980, 1, 1), At(2000, 2, 29, 12, 34, 56), At(2043, 12, 31, 23, 59, 58),
                          At(2044, 1, 1), kDosDateTimeMax}) {
    EXPECT_EQ(DateTimeToDosDateTime(DosDateTimeToDateTime(packed)), packed);
  }
  const TDateTimeParts parts = DecodeDateTime(EncodeDateTime(1899, 12, 29, 6));
  EXPECT_EQ(parts.Year, 1899);
  EXPECT_EQ(parts.Day, 29);
  EXPECT_EQ(parts.Hour, 6);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 12), 0.5);
}

TEST(DosTime, OperatingSystemTimesOutsideTheRangeAreClamped) {
  EXPECT_EQ(UnixTimeToDosDateTime(0), 0u);  // 1970
  EXPECT_EQ(UnixTimeToDosDateTime(static_cast<std::time_t>(7'300'000'000LL)), kDosDateTimeMax);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(UnixTimeToDosDateTime(now), At(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                           local.tm_hour, local.tm_min, local.tm_sec));
}

struct AttrCase {
  uint32_t permitted;
  uint32_t entry;
  bool pass;
};

TEST(EntryFilter, AttributeBits) {
  const AttrCase cases[] = {
      {0x31, 0x02, false},  // hidden not permitted
      {0x31, 0x00, true},   // no attributes always passes
      {0x31, 0x21, true},   {0x31, 0x04, false},
      {0x2F, 0x10, false},  // a folder needs 0x10
      {0x10, 0x10, true},   {0x00, 0x08, true},   // 0x08 and other bits are ignored
      {0x00, 0x80, true},   {0x00, 0x01, false},
  };
  for (const AttrCase& c : cases) {
    TFilterEntry entry;
    entry.Attr = c.entry;
    EXPECT_EQ(MatchesFilter(entry, Task(c.permitted)), c.pass)
        << std::hex << c.permitted << " " << c.entry;
  }
}

TEST(EntryFilter, PartiallyKnownAttributes) {
  const TEntryFilter filter(Task(0x31));  // hidden and system forbidden
  EXPECT_FALSE(filter.AttributesMayPass(0x02, 0x02));
  EXPECT_TRUE(filter.AttributesMayPass(0x02, 0x10));  // the hidden bit is not settled yet
  EXPECT_TRUE(filter.AttributesSettled(0x16));
  EXPECT_FALSE(filter.AttributesSettled(0x12));
  EXPECT_TRUE(TEntryFilter(Task(0x3F)).AttributesSettled(0));
}

struct SizeCase {
  int64_t from, to, size;
  bool pass;
};

TEST(EntryFilter, SizeBoundsAreInclusiveAndSixtyFourBit) {
  constexpr int64_t kGiB = int64_t{1} << 30;
  const SizeCase cases[] = {
      {0, 0, 5, true},         {-1, -1, 5, true},        {100, 0, 100, true},
      {100, 0, 99, false},     {0, 1000, 1000, true},    {0, 1000, 1001, false},
      {0, 1000, 3 * kGiB, false},                        {0, 1000, 4 * kGiB + 10, false},
      {3 * kGiB, 0, 4 * kGiB + 10, true},                {3 * kGiB, 0, 2 * kGiB, false},
  };
  for (const SizeCase& c : cases) {
    TSearchTask task = Task();
    task.FileSizeFrom = c.from;
    task.FileSizeTo = c.to;
    TFilterEntry entry;
    entry.Size = c.size;
    EXPECT_EQ(MatchesFilter(entry, task), c.pass) << c.from << ".." << c.to << " " << c.size;
    EXPECT_EQ(TEntryFilter(task).NeedsSizeOrTime(), c.from > 0 || c.to > 0);
  }
}

struct TimeCase {
  double from, to;
  uint32_t entry;
  bool pass;
};

TEST(EntryFilter, TimeBoundsArePackedAndInclusive) {
  const double tenOhOne = EncodeDateTime(2024, 3, 14, 10, 0, 1);
  const double y1975 = EncodeDateTime(1975, 6, 1);
  const double y2020 = EncodeDateTime(2020, 1, 1);
  const double y2200 = EncodeDateTime(2200, 1, 1);
  const TimeCase cases[] = {
      {tenOhOne, 0, At(2024, 3, 14, 10, 0, 0), true},   // the bound packs to 10:00:00
      {tenOhOne, 0, At(2024, 3, 14, 9, 59, 58), false},
      {0, tenOhOne, At(2024, 3, 14, 10, 0, 1), true},
      {0, tenOhOne, At(2024, 3, 14, 10, 0, 2), false},
      {y1975, 0, At(1980, 1, 1), true},                 // a lower bound before 1980 excludes nothing
      {0, y1975, At(2020, 1, 1), false},                // an upper bound before 1980 excludes all
      {y2020, 0, At(2050, 1, 1), true},                 // years from 2044 on stay in order
      {0, y2020, At(2050, 1, 1), false},
      {0, y2200, At(2107, 12, 31, 23, 59, 58), true},   // an upper bound past 2107 admits all
      {y2200, 0, kDosDateTimeMax, false},
  };
  for (const TimeCase& c : cases) {
    TSearchTask task = Task();
    task.FileTimeFrom = c.from;
    task.FileTimeTo = c.to;
    TFilterEntry entry;
    entry.Time = c.entry;
    EXPECT_EQ(MatchesFilter(entry, task), c.pass) << c.from << ".." << c.to << " " << std::hex << c.entry;
  }
}

TEST(SearchTask, CopyTaskCarriesCriteriaButNotLocation) {
  TSearchTask root;
  root.Path = "/home";
  CopyNetResource(EntireNetworkResource(), root.NetResource);
  root.Mask = "*.txt";
  root.FileAttr = 0x31;
  root.FileSizeFrom = 5;
  root.FileSizeTo = int64_t{5} << 32;
  root.FileTimeType = 1;
  root.FileTimeFrom = 1.5;
  root.FileTimeTo = 2.5;
  const PSearchTask child = CopyTask(root);
  EXPECT_EQ(child->NetResource, nullptr);
  EXPECT_TRUE(child->Path.empty());
  EXPECT_EQ(child->Mask, root.Mask);
  EXPECT_EQ(child->FileAttr, root.FileAttr);
  EXPECT_EQ(child->FileSizeFrom, root.FileSizeFrom);
  EXPECT_EQ(child->FileSizeTo, root.FileSizeTo);
  EXPECT_EQ(child->FileTimeType, root.FileTimeType);
  EXPECT_EQ(child->FileTimeFrom, root.FileTimeFrom);
  EXPECT_EQ(child->FileTimeTo, root.FileTimeTo);
}

}  // namespace
