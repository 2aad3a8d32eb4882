// The index file: what goes in comes out byte for byte, and a file that is not a whole,
// intact index of this version is refused with one line.
#include <sys/stat.h>

#include <cmath>
#include <limits>

#include "index/index_format.h"
#include "index/index_query.h"
#include "index_test_support.h"
#include "os/dos_time.h"
#include "os/file_attr.h"

namespace {

// Folders and entries no walk would mind: bytes that are not UTF-8, control bytes,
// a path past 4,096 bytes, sizes and times of every form the details records keep.
std::vector<TFolderEntries> OddTree() {
  const double t = DosDateTimeToDateTime(PackDosDateTime({2021, 6, 1, 12, 30, 44, 0}));
  std::string deep = "/r/";
  while (deep.size() < 5000) deep += std::string(200, 'd') + "/";
  return {
      {"/r/",
       {{"plain.txt", 0, t, kAttrArchive},
        {"\xff\xfe-not-utf8", 1, t, 0},
        {std::string_view("ctl\x01\x1b\n\t", 7), 65535, t, kAttrHidden},
        {"d", 0, t, kAttrDirectory},
        {"big", 5'000'000'000LL, t, kAttrReadOnly},
        {"unreadable", -1, std::numeric_limits<double>::quiet_NaN(), 0},
        {"odd-time", 70000, 44000.123456789, 0x80 | kAttrArchive},
        {"before-1980", 3, 20000.0, 0x21}}},
      {"/r/d/", {{"x", 65536, t, 0}, {"y", 4294967295LL, t, 0}}},
      {deep, {{"far.c", 10, t, 0}}},
  };
}

class IndexFileTest : public testing::Test {
 protected:
  void SetUp() override {
    File = Temp.Path("a.lqindex");
    WriteIndex(File, "/r", OddTree());
  }
  TIndexTemp Temp;
  std::string File;
};

TEST_F(IndexFileTest, KeepsEveryEntryExactly) {
  std::vector<std::string> expected;
  for (const TFolderEntries& f : OddTree())
    for (const TIndexEntry& e : f.Entries) {
      uint64_t bits;
      std::memcpy(&bits, &e.DateTime, 8);
      expected.push_back(f.Folder + "|" + std::string(e.Name) + "|" + std::to_string(e.Size) + "|" +
                         std::to_string(bits) + "|" + std::to_string(e.Attr));
    }
  std::sort(expected.begin(), expected.end());
  PIndexReader index = TIndexReader::Open(File);
  EXPECT_EQ(AllEntries(*index, "/r"), expected);
  EXPECT_EQ(index->Info().Location, "/r");
  EXPECT_EQ(index->Info().EntryCount, expected.size());
  EXPECT_NO_THROW(index->Verify());
}

TEST_F(IndexFileTest, FileIsPrivate) {
  struct stat info {};
  ASSERT_EQ(stat(File.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(IndexFileTest, KeepsLogSectionsAndTimes) {
  TIndexInfo info = InfoFor("\\\\srv");
  info.CrawlExclude = ".git";
  const std::string file = Temp.Path("net.lqindex");
  {
    TIndexWriter writer(file, info);
    const TIndexEntry e{"a", 1, 40000.0, 0};
    writer.AddEntries("\\\\srv\\share\\", std::span<const TIndexEntry>(&e, 1));
    writer.AddLogLine("The network path was not found. \\\\srv\\gone");
    writer.AddSection("\\\\srv\\share", 1700000001000);
    writer.SetCrawlEnded(1700000002000);
    writer.Commit();
  }
  PIndexReader index = TIndexReader::Open(file);
  EXPECT_EQ(index->LogLines(), std::vector<std::string>{"The network path was not found. \\\\srv\\gone"});
  EXPECT_EQ(index->Info().CrawlExclude, ".git");
  EXPECT_EQ(index->Info().CrawlEndedMs, 1700000002000);
  EXPECT_EQ(index->SectionOf("\\\\SRV\\Share\\deep").IndexedAtMs, 1700000001000);
  EXPECT_EQ(index->SectionOf("\\\\srv\\other").IndexedAtMs, 1700000000000);
  EXPECT_EQ(index->SectionOf("\\\\srv\\share").Entries, 1u);
}

// Each way a file can be wrong, and the kind of refusal it gets.
TEST_F(IndexFileTest, RefusesFilesThatAreNotWholeIndexesOfThisVersion) {
  const std::string good = FileBytes(File);
  auto refusal = [&](const std::string& bytes) -> std::optional<TIndexError::TKind> {
    PutFileBytes(File, bytes);
    try {
      PIndexReader index = TIndexReader::Open(File);
      index->Verify();
      TSearchCriteria criteria;
      criteria.Mask = "*x*";
      criteria.FileAttr = kTestedAttributes;
      TIndexQuery(*index, criteria, "/r").Count(1);
      return std::nullopt;
    } catch (const TIndexError& error) {
      EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos);
      EXPECT_NE(std::string(error.what()).find(File), std::string::npos) << error.what();
      return error.Kind;
    }
  };
  EXPECT_EQ(refusal(good), std::nullopt);
  EXPECT_EQ(refusal(""), TIndexError::TKind::NotAnIndex);
  EXPECT_EQ(refusal("#!/bin/sh\necho this is a script that is long enough to pass for a header, surely\n"),
            TIndexError::TKind::NotAnIndex);
  for (size_t cut : {size_t{10}, size_t{63}, size_t{64}, good.size() / 2, good.size() - 1})
    EXPECT_EQ(refusal(good.substr(0, cut)), TIndexError::TKind::Damaged) << "cut at " << cut;
  // Another version: the header's version and checksum as that version would write them.
  std::string other = good;
  const uint32_t version = index_format::kVersion + 1;
  std::memcpy(other.data() + 8, &version, 4);
  const uint64_t sum = index_format::ChecksumOf(other.data(), 56);
  std::memcpy(other.data() + 56, &sum, 8);
  EXPECT_EQ(refusal(other), TIndexError::TKind::OtherVersion);
  // One changed byte anywhere after the magic (a step through the whole file).
  for (size_t at = 8; at < good.size(); at += 7) {
    std::string flipped = good;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x5A);
    const auto kind = refusal(flipped);
    EXPECT_TRUE(kind == TIndexError::TKind::Damaged || kind == TIndexError::TKind::OtherVersion)
        << "byte " << at << " of " << good.size();
  }
}

TEST_F(IndexFileTest, MissingFileSaysSo) {
  try {
    TIndexReader::Open(Temp.Path("none.lqindex"));
    FAIL();
  } catch (const TIndexError& error) {
    EXPECT_EQ(error.Kind, TIndexError::TKind::Missing);
  }
}

TEST_F(IndexFileTest, ReaderKeepsItsFileWhileANewOneReplacesIt) {
  PIndexReader before = TIndexReader::Open(File);
  const std::vector<std::string> seen = AllEntries(*before, "/r");
  WriteIndex(File, "/r", {{"/r/", {{"new", 1, 40000.0, 0}}}});
  EXPECT_EQ(AllEntries(*before, "/r"), seen);
  EXPECT_NO_THROW(before->Verify());
  EXPECT_EQ(AllEntries(*TIndexReader::Open(File), "/r").size(), 1u);
}

TEST_F(IndexFileTest, FailedCommitLeavesThePreviousIndex) {
  const std::string before = FileBytes(File);
  {
    TIndexWriter writer(File, InfoFor("/r"));
    const TIndexEntry e{"lost", 1, 40000.0, 0};
    writer.AddEntries("/r/", std::span<const TIndexEntry>(&e, 1));
    // Destroyed without Commit, as when a crawl fails or the process is stopped.
  }
  EXPECT_EQ(FileBytes(File), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Temp.Root), {}), 1);
}

TEST_F(IndexFileTest, LeavesOutWhatDoesNotBelong) {
  const std::string file = Temp.Path("b.lqindex");
  TIndexWriter writer(file, InfoFor("/r"));
  const TIndexEntry good{"ok", 1, 40000.0, 0};
  const TIndexEntry bad[] = {{"", 1, 40000.0, 0}, {std::string_view("a\0b", 3), 1, 40000.0, 0}};
  writer.AddEntries("/r/", std::span<const TIndexEntry>(&good, 1));
  writer.AddEntries("/r/", bad);
  writer.AddEntries("/elsewhere/", std::span<const TIndexEntry>(&good, 1));
  writer.AddEntries("/rr/", std::span<const TIndexEntry>(&good, 1));
  writer.AddEntries("/r//x/", std::span<const TIndexEntry>(&good, 1));
  EXPECT_EQ(writer.Added(), 1u);
  EXPECT_EQ(writer.Rejected(), 5u);
  writer.Commit();
  EXPECT_EQ(TIndexReader::Open(file)->Info().EntryCount, 1u);
}

TEST(IndexDetails, DateTimesComeBackBitForBit) {
  // Every packed time a listing can give unpacks to a date-time the record keeps packed.
  for (uint32_t packed = kDosDateTimeMin; packed < kDosDateTimeMax; packed += 0x10F3D) {
    const double t = DosDateTimeToDateTime(packed);
    unsigned char record[index_format::kMaxDetailsSize];
    const size_t n = index_format::EncodeDetails(0, 1, t, record);
    index_format::TDetails d;
    ASSERT_NE(index_format::DecodeDetails(record, record + n, d), nullptr);
    ASSERT_EQ(std::memcmp(&d.DateTime, &t, 8), 0) << packed;
  }
}

}  // namespace
