// The writer: batches from many threads, entries of one folder in pieces, and a failed
// section kept as the previous index had it.
#include <thread>

#include "index/index_query.h"
#include "index_test_support.h"

namespace {

TEST(IndexWriter, BatchesFromSeveralThreadsAllArrive) {
  TIndexTemp temp;
  const std::string file = temp.Path("t.lqindex");
  std::vector<std::string> expected;
  {
    TIndexWriter writer(file, InfoFor("/r"));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([&writer, t] {
        // Every thread writes pieces of the same folders, interleaved with the others'.
        for (int piece = 0; piece < 50; ++piece) {
          const std::string folder = "/r/f" + std::to_string(piece % 7) + "/g" + std::to_string(piece % 3) + "/";
          std::vector<std::string> names;
          for (int i = 0; i < 20; ++i) names.push_back("t" + std::to_string(t) + "p" + std::to_string(piece) + "-" + std::to_string(i));
          std::vector<TIndexEntry> entries;
          for (const std::string& n : names) entries.push_back({n, piece, 40000.0, 0});
          writer.AddEntries(folder, entries);
        }
      });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(writer.Added(), 4u * 50 * 20);
    writer.Commit();
  }
  PIndexReader index = TIndexReader::Open(file);
  EXPECT_EQ(index->Info().EntryCount, 4000u);
  // Every folder's entries lie together, and only folders that were written are listed.
  std::set<std::string> folders;
  index->ForEachFolderIn("/r", [&](const std::string& folder, std::span<const TIndexEntry> entries) {
    EXPECT_TRUE(folders.insert(folder).second) << folder << " listed twice";
    if (folder.size() > 6) {
      EXPECT_FALSE(entries.empty()) << folder;
    }
  });
  EXPECT_EQ(folders.size(), 1u + 7 + 21);
}

TEST(IndexWriter, FailedShareKeepsItsPreviousEntriesAndDate) {
  TIndexTemp temp;
  const std::string file = temp.Path("srv.lqindex");
  {
    TIndexInfo info = InfoFor("\\\\srv");
    info.CrawlStartedMs = 1000;
    TIndexWriter writer(file, info);
    const TIndexEntry a[] = {{"old-a1", 1, 40000.0, 0}, {"old-a2", 2, 40000.0, 0}};
    const TIndexEntry b[] = {{"old-b", 3, 40000.0, 0}};
    writer.AddEntries("\\\\srv\\a\\", a);
    writer.AddEntries("\\\\srv\\a\\sub\\", b);
    writer.AddEntries("\\\\srv\\b\\", b);
    writer.AddSection("\\\\srv\\a", 1100);
    writer.AddSection("\\\\srv\\b", 1200);
    writer.Commit();
  }
  PIndexReader previous = TIndexReader::Open(file);
  {
    TIndexInfo info = InfoFor("\\\\srv");
    info.CrawlStartedMs = 5000;
    TIndexWriter writer(file, info);
    // Share a went away half-way: what was found of it before is not kept.
    const TIndexEntry half[] = {{"half-seen", 9, 40000.0, 0}};
    const TIndexEntry fresh[] = {{"new-b", 4, 40000.0, 0}};
    writer.AddEntries("\\\\srv\\a\\", half);
    writer.AddEntries("\\\\srv\\b\\", fresh);
    writer.AddSection("\\\\srv\\b", 5100);
    EXPECT_EQ(writer.CarryOver(*previous, "\\\\srv\\a"), 3u);
    writer.AddLogLine("Access is denied. \\\\srv\\a");
    writer.Commit();
  }
  PIndexReader now = TIndexReader::Open(file);
  std::vector<std::string> names;
  now->ForEachFolderIn("\\\\srv", [&](const std::string& folder, std::span<const TIndexEntry> entries) {
    for (const TIndexEntry& e : entries) names.push_back(folder + std::string(e.Name));
  });
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"\\\\srv\\a\\old-a1", "\\\\srv\\a\\old-a2", "\\\\srv\\a\\sub\\old-b",
                                             "\\\\srv\\b\\new-b"}));
  const TIndexSection& a = now->SectionOf("\\\\srv\\a\\sub");
  EXPECT_TRUE(a.CarriedOver);
  EXPECT_EQ(a.IndexedAtMs, 1100);
  EXPECT_EQ(a.Entries, 3u);
  EXPECT_FALSE(now->SectionOf("\\\\srv\\b").CarriedOver);
  EXPECT_EQ(now->SectionOf("\\\\srv\\b").IndexedAtMs, 5100);
  EXPECT_EQ(now->LogLines().size(), 1u);
  // The old reader still answers from the file it opened.
  EXPECT_EQ(previous->Info().CrawlStartedMs, 1000);
}

}  // namespace
