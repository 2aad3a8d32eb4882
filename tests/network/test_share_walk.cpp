// Walking folders on shares: paths, attributes from the server, sizes, times; and the
// stress run that proves several workers may use the SMB client at once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <thread>

#include "engine/search_fixture.h"
#include "network_env.h"
#include "os/dos_time.h"
#include "smb/smb_listing.h"
#include "smb/smb_path.h"

namespace {

std::map<std::string, TDirEntry> ListShareFolder(const std::string& unc) {
  std::map<std::string, TDirEntry> entries;
  std::unique_ptr<TDirListing> listing = OpenSmbDirListing(unc);
  EXPECT_TRUE(listing) << unc;
  if (!listing) return entries;
  TDirEntry entry;
  while (listing->Next(entry)) entries[entry.Name] = entry;
  return entries;
}

TEST(ShareWalk, DeepFoldersAreWalkedAndResultsKeepUncPaths) {
  REQUIRE_SERVER();
  WriteTestFile(TestServer()->PublicDir() + "/deep/a/b/c/d/e/needle.txt");
  WriteTestFile(TestServer()->PublicDir() + "/deep/a/needle.doc");
  TSearchRig rig(THandOff::Queued);
  rig.Manager->MaxThreads = 4;
  rig.Run(TSearchRig::Task(TSmbdHarness::Unc("public") + "\\deep", "needle.txt"));
  EXPECT_EQ(rig.FullNames(), std::vector<std::string>{"\\\\127.0.0.1\\public\\deep\\a\\b\\c\\d\\e\\needle.txt"});
  ASSERT_EQ(rig.Store.Count(), 1u);
  EXPECT_EQ(*rig.Store.Item(0).Path, "\\\\127.0.0.1\\public\\deep\\a\\b\\c\\d\\e\\");
  EXPECT_EQ(rig.Log.Count(), 0u);
}

// Links on the server that lead back to a folder above them (the server follows them)
// would double the folders at every level for ever: such a folder is found but not
// walked, and each one cut is logged once.
TEST(ShareWalk, FoldersReachedAgainThroughServerLinksAreNotWalked) {
  REQUIRE_SERVER();
  const std::string dir = TestServer()->PublicDir() + "/loops";
  WriteTestFile(dir + "/x.txt");
  WriteTestFile(dir + "/sub/y.txt");
  std::filesystem::create_directory_symlink(".", dir + "/again");
  std::filesystem::create_directory_symlink(".", dir + "/twice");
  std::filesystem::create_directory_symlink("..", dir + "/sub/up");
  TSearchRig rig(THandOff::Queued);
  rig.Manager->MaxThreads = 4;
  rig.Run(TSearchRig::Task(TSmbdHarness::Unc("public") + "\\loops", "*"));
  const std::string unc = "\\\\127.0.0.1\\public\\loops\\";
  std::vector<std::string> names = rig.FullNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{unc + "again", unc + "sub", unc + "sub\\up",
                                             unc + "sub\\y.txt", unc + "twice", unc + "x.txt"}));
  std::vector<std::string> lines;
  for (size_t i = 0; i < rig.Log.Count(); ++i) lines.push_back(rig.Log.Line(i));
  std::sort(lines.begin(), lines.end());
  const std::string why = " - The name of the file cannot be resolved by the system.";
  EXPECT_EQ(lines, (std::vector<std::string>{"'SMB Network' " + unc + "again" + why,
                                             "'SMB Network' " + unc + "sub\\up" + why,
                                             "'SMB Network' " + unc + "twice" + why}));
}

TEST(ShareWalk, AttributesAreTheServersAndSizesAndTimesAreWhole) {
  REQUIRE_SERVER();
  const std::string dir = TestServer()->MappedDir() + "/attrs";
  struct TAttrCase {
    const char* Name;
    mode_t Mode;
    uint32_t Expected;  // of read-only, hidden, system
  };
  const TAttrCase cases[] = {{"plain.txt", 0644, 0},
                             {"readonly.txt", 0444, kAttrReadOnly},
                             {"hidden.txt", 0645, kAttrHidden},
                             {"system.txt", 0654, kAttrSystem}};
  for (const TAttrCase& c : cases) {
    WriteTestFile(dir + "/" + c.Name);
    chmod((dir + "/" + c.Name).c_str(), c.Mode);
  }
  std::filesystem::create_directories(dir + "/sub");

  std::tm when{};
  when.tm_year = 2021 - 1900;
  when.tm_mon = 5;
  when.tm_mday = 15;
  when.tm_hour = 12;
  when.tm_min = 34;
  when.tm_sec = 56;
  when.tm_isdst = -1;
  const std::time_t stamp = std::mktime(&when);
  const std::string big = TestServer()->PublicDir() + "/sizes/sparse.bin";
  WriteTestFile(big, "");
  ASSERT_EQ(truncate(big.c_str(), 3LL << 30), 0);
  timespec times[2] = {{stamp, 0}, {stamp, 0}};
  utimensat(AT_FDCWD, big.c_str(), times, 0);

  std::map<std::string, TDirEntry> entries = ListShareFolder(TSmbdHarness::Unc("mapped") + "\\attrs");
  for (const TAttrCase& c : cases) {
    ASSERT_TRUE(entries.count(c.Name)) << c.Name;
    EXPECT_EQ(entries[c.Name].Attr & (kAttrReadOnly | kAttrHidden | kAttrSystem), c.Expected) << c.Name;
    EXPECT_TRUE(entries[c.Name].Detailed);
  }
  EXPECT_EQ(entries["sub"].Attr & kAttrDirectory, kAttrDirectory);
  EXPECT_TRUE(entries["sub"].IsWalkableFolder());

  std::map<std::string, TDirEntry> sizes = ListShareFolder(TSmbdHarness::Unc("public") + "\\sizes");
  ASSERT_TRUE(sizes.count("sparse.bin"));
  EXPECT_EQ(sizes["sparse.bin"].Size, 3221225472LL);
  EXPECT_EQ(sizes["sparse.bin"].DosTime, UnixTimeToDosDateTime(stamp));
  EXPECT_EQ(sizes["sparse.bin"].Attr & kAttrDirectory, 0u);
}

TEST(ShareWalk, FoldersThatCannotBeListedGiveNoListing) {
  REQUIRE_SERVER();
  EXPECT_FALSE(OpenSmbDirListing(TSmbdHarness::Unc("public") + "\\no\\such\\folder"));
  EXPECT_FALSE(OpenSmbDirListing(TSmbdHarness::Unc("nosuchshare")));
  EXPECT_FALSE(OpenSmbDirListing(TSmbdHarness::Unc()));  // a server is no folder
}

// Many runs of a full search with twelve workers, each on its own SMB connection: every
// run must find every file. Before the client's thread hooks were installed such runs
// crashed or lost entries.
// The library's name cache is a file of its state folder: the process's private one, not
// the host's, also after threads whose contexts were the only ones have ended.
TEST(ShareWalk, TheLibraryKeepsThePrivateConfigurationWhileThreadsComeAndGo) {
  REQUIRE_SERVER();
  SetSmbHostPort("localhost", TestServer()->Port());
  for (int round = 0; round < 2; ++round)  // each thread's context is freed as it ends
    std::thread([] { ListShareFolder("\\\\localhost\\public"); }).join();
  std::vector<std::string> caches;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
    if (target.ends_with("/gencache.tdb")) caches.push_back(target);
  }
  ASSERT_FALSE(caches.empty()) << "the name was not resolved through the library's cache";
  for (const std::string& cache : caches) EXPECT_NE(cache.find("/lanternquest-smb-"), std::string::npos) << cache;
}

TEST(ShareWalk, StressTwelveWorkersFiftyRuns) {
  REQUIRE_SERVER();
  constexpr int kFolders = 60;
  constexpr int kFilesPerFolder = 8;
  for (int f = 0; f < kFolders; ++f)
    for (int i = 0; i < kFilesPerFolder; ++i)
      WriteTestFile(TestServer()->PublicDir() + "/stress/d" + std::to_string(f / 10) + "/f" + std::to_string(f) +
                    "/file" + std::to_string(i) + ".dat");
  constexpr size_t kExpected = kFolders * kFilesPerFolder;
  for (int run = 0; run < 50; ++run) {
    TSearchRig rig(run % 2 ? THandOff::Direct : THandOff::Queued);
    rig.Manager->MaxThreads = 12;
    rig.Run(TSearchRig::Task(TSmbdHarness::Unc("public") + "\\stress", "*.dat"));
    ASSERT_EQ(rig.Store.Count(), kExpected) << "run " << run;
  }
}

}  // namespace
