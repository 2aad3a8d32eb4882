// Updates of an index: what changed shows after the next one, a refused file is made
// anew, the files are private, a refresh does not disturb running queries, a full disk
// or a failing share loses nothing that was indexed.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <thread>

#include "crawl_fixture.h"
#include "os/net_errors.h"
#include "os/netresource.h"

namespace {

std::set<std::string> Names(const TRecords& records) {
  std::set<std::string> names;
  for (const TRecord& record : records) names.insert(std::get<0>(record));
  return names;
}

TEST(IndexUpdate, ShowsFilesAddedChangedAndRemovedSinceTheLastOne) {
  TIndexFolder folder;
  TTempTree tree;
  tree.File("keep.txt", 10);
  tree.File("change.txt", 10);
  tree.File("gone/old.txt", 10);
  ASSERT_TRUE(RunCrawl(folder.Catalog, tree.Root).Written);
  tree.File("change.txt", 2000);
  tree.File("new/added.txt", 5);
  std::filesystem::remove_all(tree.Path("gone"));
  ASSERT_TRUE(RunCrawl(folder.Catalog, tree.Root).Written);
  const TRecords now = Everything(folder.Catalog, tree.Root);
  EXPECT_EQ(now, LiveSearch(TIndexCrawl::Criteria({}), FolderTask(tree.Root)));
  EXPECT_EQ(Names(now), (std::set<std::string>{tree.Path("change.txt"), tree.Path("keep.txt"), tree.Path("new"),
                                               tree.Path("new/added.txt")}));
}

// A file that is truncated, has a changed byte or is not an index at all is refused with
// a line naming it, never read, and the next update makes it anew.
TEST(IndexUpdate, RefusedFilesAreMadeAnewByTheNextUpdate) {
  TIndexFolder folder;
  TTempTree tree;
  tree.File("a/b.txt", 3);
  const std::string file = folder.Catalog.FileFor(tree.Root);
  const std::function<void()> spoilers[] = {
      [&] { std::filesystem::resize_file(file, std::filesystem::file_size(file) / 2); },
      [&] {
        std::fstream bytes(file, std::ios::in | std::ios::out | std::ios::binary);
        bytes.seekp(static_cast<std::streamoff>(std::filesystem::file_size(file) / 2));
        bytes.put('\x5a');
        bytes.seekp(static_cast<std::streamoff>(std::filesystem::file_size(file) / 2 + 1));
        bytes.put('\xa5');
      },
      [&] { std::ofstream(file, std::ios::trunc) << "not an index at all\n"; },
  };
  for (const auto& spoil : spoilers) {
    ASSERT_TRUE(RunCrawl(folder.Catalog, tree.Root).Written);
    spoil();
    try {
      const PIndexReader index = TIndexReader::Open(file);
      index->Verify();  // a changed byte in the names is found by the full check
      ADD_FAILURE() << "a spoiled index was accepted";
    } catch (const TIndexError& error) {
      EXPECT_NE(std::string(error.what()).find(file), std::string::npos) << error.what();
    }
    const TCrawlOutcome outcome = RunCrawl(folder.Catalog, tree.Root);
    ASSERT_TRUE(outcome.Written) << outcome.Failure;
    EXPECT_EQ(Names(Everything(folder.Catalog, tree.Root)),
              (std::set<std::string>{tree.Path("a"), tree.Path("a/b.txt")}));
  }
}

TEST(IndexUpdate, FilesAreReadableByTheirOwnerOnlyWhateverTheUmask) {
  TIndexFolder folder;
  TTempTree tree;
  tree.File("x.txt");
  const mode_t saved = umask(0);
  const bool written = RunCrawl(folder.Catalog, tree.Root).Written;
  umask(saved);
  ASSERT_TRUE(written);
  struct stat status {};
  ASSERT_EQ(stat(folder.Catalog.FileFor(tree.Root).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  ASSERT_EQ(stat(folder.Catalog.Folder().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 077, 0u);
}

// Queries run on another thread while updates replace the file: every answer is the
// whole of one index or the other, never a mix or a failure.
TEST(IndexUpdate, ARefreshWhileQueriesRunGivesEachQueryOneWholeIndex) {
  TIndexFolder folder;
  TTempTree tree;
  for (int i = 0; i < 200; ++i) tree.File("d" + std::to_string(i % 10) + "/f" + std::to_string(i) + ".txt", 1);
  ASSERT_TRUE(RunCrawl(folder.Catalog, tree.Root).Written);
  const TRecords before = Everything(folder.Catalog, tree.Root);
  for (int i = 0; i < 100; ++i) tree.File("e/g" + std::to_string(i) + ".txt", 2);
  const TRecords after = LiveSearch(TIndexCrawl::Criteria({}), FolderTask(tree.Root));

  std::atomic<bool> stop{false};
  std::atomic<int> queries{0}, mixed{0};
  std::thread reader([&] {
    while (!stop.load() || queries.load() < 20) {
      TRecords answer;
      try {
        answer = Everything(folder.Catalog, tree.Root);
      } catch (const TIndexError& error) {
        ADD_FAILURE() << error.what();
        break;
      }
      if (answer != before && answer != after) ++mixed;
      ++queries;
    }
  });
  for (int update = 0; update < 6; ++update) ASSERT_TRUE(RunCrawl(folder.Catalog, tree.Root).Written);
  stop = true;
  reader.join();
  EXPECT_EQ(mixed.load(), 0);
  EXPECT_EQ(Everything(folder.Catalog, tree.Root), after);
}

// A reader opened before a refresh keeps answering from the index it opened.
TEST(IndexUpdate, AReaderKeepsTheIndexItOpened) {
  TIndexFolder folder;
  TTempTree tree;
  tree.File("old.txt");
  ASSERT_TRUE(RunCrawl(folder.Catalog, tree.Root).Written);
  const PIndexReader opened = TIndexReader::Open(folder.Catalog.FileFor(tree.Root));
  tree.File("new.txt");
  ASSERT_TRUE(RunCrawl(folder.Catalog, tree.Root).Written);
  EXPECT_EQ(Names(IndexedSearch(*opened, TIndexCrawl::Criteria({}), tree.Root)),
            std::set<std::string>{tree.Path("old.txt")});
  EXPECT_EQ(Names(Everything(folder.Catalog, tree.Root)),
            (std::set<std::string>{tree.Path("new.txt"), tree.Path("old.txt")}));
}

// The index folder on a small tmpfs: an update that does not fit fails with a line, and
// the previous index answers as before.
TEST(IndexUpdate, AFullDiskKeepsThePreviousIndex) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  TTempTree mount;
  if (::mount("tmpfs", mount.Root.c_str(), "tmpfs", 0, "size=256k,mode=0700") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  struct TUnmount {
    std::string Path;
    ~TUnmount() { umount2(Path.c_str(), MNT_DETACH); }
  } unmount{mount.Root};
  const TIndexCatalog catalog(mount.Root + "/index");
  TTempTree tree;
  tree.File("small.txt");
  ASSERT_TRUE(RunCrawl(catalog, tree.Root).Written);
  const TRecords before = Everything(catalog, tree.Root);
  const std::string longName(150, 'n');
  for (int i = 0; i < 4000; ++i) tree.File("f" + std::to_string(i % 40) + "/" + longName + std::to_string(i));
  const TCrawlOutcome outcome = RunCrawl(catalog, tree.Root);
  EXPECT_FALSE(outcome.Written);
  EXPECT_FALSE(outcome.Failure.empty());
  EXPECT_EQ(Everything(catalog, tree.Root), before);
  // Nothing of the failed update is left behind.
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(catalog.Folder())) files += entry.is_regular_file();
  EXPECT_EQ(files, 1u);
}

TEST(IndexUpdate, AFolderThatCannotBeListedKeepsThePreviousIndex) {
  TIndexFolder folder;
  TTempTree tree;
  tree.File("sub/x.txt");
  const std::string location = tree.Path("sub");
  ASSERT_TRUE(RunCrawl(folder.Catalog, location).Written);
  std::filesystem::remove_all(location);
  const TCrawlOutcome outcome = RunCrawl(folder.Catalog, location);
  EXPECT_FALSE(outcome.Written);
  EXPECT_NE(outcome.Failure.find(location), std::string::npos) << outcome.Failure;
  EXPECT_EQ(Names(Everything(folder.Catalog, location)), std::set<std::string>{location + "/x.txt"});
}


PSearchTask ServerTask() {
  auto task = std::make_unique<TSearchTask>();
  NETRESOURCEA record;
  record.dwScope = RESOURCE_GLOBALNET;
  record.dwType = RESOURCETYPE_DISK;
  record.dwDisplayType = RESOURCEDISPLAYTYPE_SERVER;
  record.dwUsage = RESOURCEUSAGE_CONTAINER;
  record.lpRemoteName = TSmbdHarness::Unc();
  record.lpProvider = std::string(kSmbProviderName);
  CopyNetResource(record, task->NetResource);
  return task;
}

// A share that cannot be listed at the next update keeps its entries with the date of
// the update that found them, its line is in the log, and the share's entries come back
// fresh once it can be listed again. The other shares are updated meanwhile.
TEST(IndexUpdate, AFailingShareKeepsItsEntriesAndTheirDate) {
  TSmbdHarness* server = IndexTestServer();
  if (server->Failed()) GTEST_SKIP() << "no test smbd: " << server->Error();
  TIndexFolder folder;
  const std::string location = TSmbdHarness::Unc();
  const std::string share = TSmbdHarness::Unc("public");
  WriteTestFile(server->PublicDir() + "/kept/one.txt");
  WriteTestFile(server->MappedDir() + "/other.txt");
  const TCrawlOutcome first = RunCrawl(folder.Catalog, location, ServerTask());
  ASSERT_TRUE(first.Written) << first.Failure;
  const TRecords publicBefore = IndexedSearch(folder.Catalog, location, TIndexCrawl::Criteria({}), share);
  ASSERT_FALSE(publicBefore.empty());

  WriteTestFile(server->MappedDir() + "/later.txt");
  ASSERT_EQ(chmod(server->PublicDir().c_str(), 0), 0);
  const TCrawlOutcome second = RunCrawl(folder.Catalog, location, ServerTask());
  chmod(server->PublicDir().c_str(), 0755);
  ASSERT_TRUE(second.Written) << second.Failure;
  EXPECT_GE(second.PlacesFailed, 1u);
  EXPECT_EQ(second.CarriedOver, publicBefore.size());
  const PIndexReader index = TIndexReader::Open(folder.Catalog.FileFor(location));
  EXPECT_EQ(IndexedSearch(*index, TIndexCrawl::Criteria({}), share), publicBefore);
  const TIndexSection& section = index->SectionOf(share + "\\kept");
  EXPECT_TRUE(section.CarriedOver);
  EXPECT_LE(section.IndexedAtMs, first.EndedMs);
  bool named = false;
  for (const std::string& line : index->LogLines()) named |= line.find(share) != std::string::npos;
  EXPECT_TRUE(named);
  EXPECT_EQ(IndexedSearch(*index, TIndexCrawl::Criteria({}), TSmbdHarness::Unc("mapped")).size(),
            LiveSearch(TIndexCrawl::Criteria({}), FolderTask(TSmbdHarness::Unc("mapped"))).size());

  WriteTestFile(server->PublicDir() + "/kept/two.txt");
  const TCrawlOutcome third = RunCrawl(folder.Catalog, location, ServerTask());
  ASSERT_TRUE(third.Written) << third.Failure;
  EXPECT_EQ(third.CarriedOver, 0u);
  EXPECT_EQ(IndexedSearch(folder.Catalog, location, TIndexCrawl::Criteria({}), share),
            LiveSearch(TIndexCrawl::Criteria({}), FolderTask(share)));
}

}  // namespace
