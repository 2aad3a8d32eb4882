// The folder walker against real temporary trees: results equal an independent walk,
// one delivery per entry, batch sizes, breadth-first order, and the cases where nothing
// may be found.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "engine/entry_filter.h"
#include "engine/file_thread.h"
#include "engine/masks.h"
#include "network/folder_listing.h"
#include "os/dos_time.h"
#include "results/result_text.h"
#include "search_fixture.h"

namespace {

namespace fs = std::filesystem;

// Builds a tree with what the walker must treat specially: hidden files and folders,
// a read-only file, a FIFO, a link to a folder, sizes and times on both sides of the
// bounds used below, names with blanks, several dots and upper case.
void BuildMixedTree(const TTempTree& tree) {
  tree.File("a.txt", 5);
  tree.File("B.TXT", 50);
  tree.File("c.doc", 500);
  tree.File("README");
  tree.File("name with blanks.txt", 10);
  tree.File("two.dots.txt", 100);
  tree.File(".hidden.txt", 1);
  tree.File("src/main.txt", 11);
  tree.File("src/deep/er/leaf.doc", 2000);
  tree.File(".secret/inside.txt", 3);
  tree.File("src/old.txt", 42);
  tree.Folder("empty");
  tree.Folder("abc.txt");  // a folder whose name matches *.txt
  chmod(tree.Path("c.doc").c_str(), 0444);
  mkfifo(tree.Path("src/pipe.txt").c_str(), 0644);
  symlink(tree.Path("src").c_str(), tree.Path("link").c_str());
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 20);
  fs::last_write_time(tree.Path("src/old.txt"), old);
}

// What the walker should find, worked out with the standard library's recursive walk
// (which, like the walker, does not descend into links).
std::vector<std::string> IndependentWalk(const TSearchTask& task) {
  std::vector<std::string> masks = SplitMasks(task.Mask);
  std::vector<std::string> found;
  for (auto it = fs::recursive_directory_iterator(task.Path); it != fs::recursive_directory_iterator(); ++it) {
    const std::string path = it->path().string();
    const std::string name = it->path().filename().string();
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) lstat(path.c_str(), &info);
    TFilterEntry entry;
    if (S_ISDIR(info.st_mode)) entry.Attr |= 0x10;
    else if (!S_ISREG(info.st_mode)) entry.Attr |= 0x04;
    if ((info.st_mode & S_IWUSR) == 0) entry.Attr |= 0x01;
    if (name[0] == '.') entry.Attr |= 0x02;
    entry.Size = info.st_size;
    entry.Time = UnixTimeToDosDateTime(info.st_mtime);
    if (!MatchesFilter(entry, task)) continue;
    if (std::any_of(masks.begin(), masks.end(), [&](const std::string& m) { return MatchesMask(name, m); }))
      found.push_back(path);
  }
  std::sort(found.begin(), found.end());
  return found;
}

struct TWalkCase {
  const char* Label;
  const char* Mask;
  uint32_t Attr;
  int64_t SizeFrom = 0;
  int64_t SizeTo = 0;
  bool RecentOnly = false;  // time bound: modified in the last ten years
};

class WalkTest : public testing::TestWithParam<std::tuple<THandOff, TWalkCase>> {};

TEST_P(WalkTest, FindsWhatAnIndependentWalkFindsOnce) {
  const auto [kind, walkCase] = GetParam();
  TTempTree tree;
  BuildMixedTree(tree);
  TSearchRig rig(kind);
  rig.Manager->MaxThreads = 3;
  PSearchTask root = TSearchRig::Task(tree.Root, walkCase.Mask, walkCase.Attr);
  root->FileSizeFrom = walkCase.SizeFrom;
  root->FileSizeTo = walkCase.SizeTo;
  if (walkCase.RecentOnly) {
    const TDateTimeParts now = DecodeDateTime(DosDateTimeToDateTime(UnixTimeToDosDateTime(time(nullptr))));
    root->FileTimeFrom = EncodeDateTime(now.Year - 10, 1, 1);
  }
  const std::vector<std::string> expected = IndependentWalk(*root);
  rig.Run(std::move(root));
  std::vector<std::string> found = rig.FullNames();
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, expected) << walkCase.Label;
  EXPECT_EQ(rig.Log.Count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    MasksAndFilters, WalkTest,
    testing::Combine(
        testing::Values(THandOff::Queued, THandOff::Direct),
        testing::Values(TWalkCase{"txt", "*.txt", 0x31}, TWalkCase{"everything", "*", 0x3F},
                        TWalkCase{"dotted only", "*.*", 0x31},
                        TWalkCase{"overlapping masks", "*.TXT;a*;*.t?t", 0x37},
                        TWalkCase{"blank after comma", "*.txt, *.doc", 0x3F},
                        TWalkCase{"complement set", "[!a-c]*", 0x3F},
                        TWalkCase{"size bounds", "*", 0x31, 10, 100},
                        TWalkCase{"time bound", "*.txt", 0x31, 0, 0, true})),
    [](const auto& info) {
      std::string name = std::string(std::get<0>(info.param) == THandOff::Queued ? "Queued_" : "Direct_") +
                         std::get<1>(info.param).Label;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

TEST(FileThread, OnePassPerMaskInMaskOrderEachEntryOnce) {
  TTempTree tree;
  tree.File("a.txt");
  tree.File("b.doc");
  tree.File("c.txt");
  tree.File("sub/x.doc");
  TSearchRig rig(THandOff::Queued);
  rig.Manager->MaxThreads = 1;
  rig.Run(TSearchRig::Task(tree.Root, "*.doc;*.txt;a*"));
  const std::vector<std::string> found = rig.FullNames();
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0], tree.Path("b.doc"));
  // a.txt and c.txt in listing order, then the sub-folder, queued once.
  EXPECT_EQ(std::count(found.begin(), found.end(), tree.Path("a.txt")), 1);
  EXPECT_EQ(std::count(found.begin(), found.end(), tree.Path("c.txt")), 1);
  EXPECT_EQ(found[3], tree.Path("sub/x.doc"));
}

// Results reach the store in batches of 128 and then the rest of the folder, so every
// count the page is shown is a batch boundary, however notifications merge.
TEST(FileThread, DeliversInBatchesOf128ThenTheRest) {
  TTempTree tree;
  for (int i = 0; i < 300; ++i) tree.File("f" + std::to_string(i) + ".txt");
  TSearchRig rig(THandOff::Queued);
  std::vector<size_t> counts;
  // Read under the store's lock: without it the count may be caught in the middle of a
  // batch being appended (a reader without the lock sees each record as it lands).
  rig.Store.OnChange = [&](TResultManager* store) {
    store->Lock.WaitFor(INFINITE);
    counts.push_back(store->Count());
    store->Lock.Release();
  };
  rig.Run(TSearchRig::Task(tree.Root, "*.txt"));
  ASSERT_FALSE(counts.empty());
  EXPECT_EQ(counts.back(), 300u);
  for (size_t count : counts) EXPECT_TRUE(count == 128 || count == 256 || count == 300) << count;
}

TEST(FileThread, WalksBreadthFirstWithOneThread) {
  TTempTree tree;
  for (const char* file : {"a/1/x/f", "a/2/f", "b/1/f", "b/f", "f", "c/1/x/y/f", "a/f"}) tree.File(file);
  TSearchRig rig(THandOff::Direct);
  rig.Manager->MaxThreads = 1;
  rig.Run(TSearchRig::Task(tree.Root, "f"));
  std::vector<size_t> depths;
  for (const std::string& name : rig.FullNames())
    depths.push_back(static_cast<size_t>(std::count(name.begin(), name.end(), '/')));
  ASSERT_EQ(depths.size(), 7u);
  EXPECT_TRUE(std::is_sorted(depths.begin(), depths.end()));
}

TEST(FileThread, FoldersAreWalkedWhetherOrNotTheyAreResults) {
  TTempTree tree;
  tree.File(".hid/in.txt");
  tree.File("dir.txt/in.txt");
  tree.File("real/in.txt");
  symlink(tree.Path("real").c_str(), tree.Path("link.txt").c_str());
  struct TCase { uint32_t Attr; std::vector<std::string> Expected; };
  const TCase cases[] = {
      // Hidden folders are walked though not results; links to folders never walked.
      {0x31, {"dir.txt", "dir.txt/in.txt", ".hid/in.txt", "link.txt", "real/in.txt"}},
      {0x21, {"dir.txt/in.txt", ".hid/in.txt", "real/in.txt"}},
  };
  for (const TCase& c : cases) {
    TSearchRig rig(THandOff::Direct);
    rig.Run(TSearchRig::Task(tree.Root, "*.txt", c.Attr));
    std::vector<std::string> found = rig.FullNames(), expected;
    for (const std::string& name : c.Expected) expected.push_back(tree.Path(name));
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected) << "attributes " << c.Attr;
  }
}

TEST(FileThread, SearchesThatFindNothingStillComplete) {
  TTempTree tree;
  tree.File("a.txt");
  tree.File("sub/b.txt");
  struct TCase { std::string Path, Mask, Logged; };
  const TCase cases[] = {
      // the root folder does not exist; the root is a file: said in the log
      {tree.Path("missing"), "*", tree.Path("missing") + " - No such file or directory"},
      {tree.Path("a.txt"), "*", tree.Path("a.txt") + " - Not a directory"},
      {tree.Root, "a[", ""},                // malformed mask
      {tree.Root, "*.txt;[]x", ""},         // one malformed mask among good ones
      {tree.Root, ";;", ""},                // no masks at all
  };
  for (THandOff kind : {THandOff::Queued, THandOff::Direct}) {
    for (const TCase& c : cases) {
      TSearchRig rig(kind);
      rig.Run(TSearchRig::Task(c.Path, c.Mask));
      EXPECT_EQ(rig.Store.Count(), 0u) << c.Path << " " << c.Mask;
      EXPECT_EQ(rig.Log.Count(), c.Logged.empty() ? 0u : 1u);
      if (rig.Log.Count() == 1) {
        EXPECT_EQ(rig.Log.Line(0), c.Logged);
      }
      EXPECT_TRUE(rig.Manager->IsFinished());
    }
  }
}

TEST(FileThread, ResultPathEndsWithSeparatorAndDetailsAreRead) {
  TTempTree tree;
  tree.File("sub/data.bin", 1234);
  chmod(tree.Path("sub/data.bin").c_str(), 0444);
  TSearchRig rig(THandOff::Direct);
  rig.Run(TSearchRig::Task(tree.Path("sub") + "/", "*.bin"));
  ASSERT_EQ(rig.Store.Count(), 1u);
  const TSearchResult& result = rig.Store.Item(0);
  EXPECT_EQ(*result.Path, tree.Path("sub") + "/");
  EXPECT_EQ(result.Name, "data.bin");
  EXPECT_EQ(result.Size, 1234);
  EXPECT_EQ(result.Attr, 0x01u);
  struct stat info {};
  stat(tree.Path("sub/data.bin").c_str(), &info);
  EXPECT_EQ(result.DateTime, DosDateTimeToDateTime(UnixTimeToDosDateTime(info.st_mtime)));
}

// An entry that vanishes between the listing and the reading of its details is told
// apart from an empty file of 1980: its details are marked unreadable and show blank.
TEST(FileThread, VanishedEntryHasNoSizeOrDate) {
  TTempTree tree;
  tree.File("gone.txt", 10);
  auto listing = OpenDirListing(tree.Path());
  ASSERT_TRUE(listing);
  TDirEntry entry;
  while (listing->Next(entry) && entry.Name != "gone.txt") {
  }
  ASSERT_EQ(entry.Name, "gone.txt");
  fs::remove(tree.Path("gone.txt"));
  listing->Detail(entry);
  EXPECT_TRUE(entry.Detailed);
  EXPECT_TRUE(entry.Unreadable);
  EXPECT_EQ(SizeToText(-1) + DateToText(std::nan("")) + TimeToText(std::nan("")), "");
}

// A folder has no size of its own: it is found with size 0 and a lower size bound
// leaves it out, whatever its index takes on disk.
TEST(FileThread, FoldersHaveNoSize) {
  TTempTree tree;
  tree.Folder("docs");
  tree.File("a.txt", 10);
  for (int64_t from : {int64_t{0}, int64_t{1}}) {
    TSearchRig rig(THandOff::Direct);
    PSearchTask task = TSearchRig::Task(tree.Root, "*");
    task->FileSizeFrom = from;
    rig.Run(std::move(task));
    std::vector<std::string> names;
    for (size_t i = 0; i < rig.Store.Count(); ++i) {
      names.push_back(rig.Store.Item(i).Name);
      if (rig.Store.Item(i).Name == "docs") {
        EXPECT_EQ(rig.Store.Item(i).Size, 0);
      }
    }
    std::sort(names.begin(), names.end());
    const std::vector<std::string> expected =
        from == 0 ? std::vector<std::string>{"a.txt", "docs"} : std::vector<std::string>{"a.txt"};
    EXPECT_EQ(names, expected);
  }
}

// A store that wants no details gets the same names without their size and time, unless
// the filter itself had to read them; the bits that the filter tests still hold.
TEST(FileThread, StoreWithoutDetailsGetsTheSameResultsWithoutSizeAndTime) {
  TTempTree tree;
  tree.File("a/small.bin", 10);
  tree.File("a/large.bin", 5000);
  chmod(tree.Path("a/large.bin").c_str(), 0444);
  tree.File("a/.hidden.bin", 20);
  tree.Folder("a/deeper.bin");
  struct TCase {
    const char* what;
    uint32_t attr;
    int64_t sizeFrom;
    std::vector<std::string> names;
    bool sizesRead;
  };
  const TCase cases[] = {
      {"every attribute", 0x37, 0, {".hidden.bin", "deeper.bin", "large.bin", "small.bin"}, false},
      {"read-only excluded", 0x30, 0, {"deeper.bin", "small.bin"}, true},
      {"size bound", 0x37, 100, {"large.bin"}, true},  // a folder has no size
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    for (const bool details : {true, false}) {
      TSearchRig rig(THandOff::Direct);
      rig.Store.DetailsWanted = details;
      PSearchTask task = TSearchRig::Task(tree.Path("a"), "*.bin", c.attr);
      task->FileSizeFrom = c.sizeFrom;
      rig.Run(std::move(task));
      std::vector<std::string> names;
      for (size_t i = 0; i < rig.Store.Count(); ++i) {
        const TSearchResult& result = rig.Store.Item(i);
        names.push_back(result.Name);
        const bool folder = (result.Attr & kAttrDirectory) != 0;
        if (details || c.sizesRead) {
          EXPECT_NE(result.DateTime, 0.0) << result.Name;
          if (!folder) {
            EXPECT_GT(result.Size, 0) << result.Name;
          }
        } else {
          EXPECT_EQ(result.DateTime, 0.0) << result.Name;
          EXPECT_EQ(result.Size, 0) << result.Name;
        }
        if (result.Name == "large.bin" && (details || c.sizesRead)) {
          EXPECT_EQ(result.Attr & 0x01u, 0x01u);
        }
        if (result.Name == ".hidden.bin") {
          EXPECT_EQ(result.Attr & 0x02u, 0x02u);
        }
        if (result.Name == "deeper.bin") {
          EXPECT_TRUE(folder);
        }
      }
      std::sort(names.begin(), names.end());
      EXPECT_EQ(names, c.names) << (details ? "with details" : "without details");
    }
  }
}

}  // namespace

// Removes a tree however deep, one folder at a time relative to its parent (a path
// longer than the kernel's limit cannot be removed by name).
void RemoveTreeAt(int parentFd, const char* name) {
  const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    DIR* dir = fdopendir(fd);
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
      if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") names.push_back(entry->d_name);
    }
    for (const std::string& child : names) {
      if (unlinkat(fd, child.c_str(), 0) != 0) RemoveTreeAt(fd, child.c_str());
    }
    closedir(dir);
  }
  unlinkat(parentFd, name, AT_REMOVEDIR);
}

// A chain of folders whose full paths run far past the kernel's path limit: every file
// is found, whether a folder is reached through its parent or by its whole path.
TEST(FileThread, FindsFilesBelowThePathLimit) {
  constexpr int kDepth = 300;
  const std::string level = "a-folder-name-of-some-length";
  TTempTree tree;
  const int rootFd = open(tree.Root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(rootFd, 0);
  std::string deepest = tree.Root;
  int fd = dup(rootFd);
  for (int depth = 0; depth <= kDepth; ++depth) {
    close(openat(fd, "f.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (depth == kDepth) break;
    ASSERT_EQ(mkdirat(fd, level.c_str(), 0755), 0);
    const int next = openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = next;
    deepest += "/" + level;
  }
  close(fd);
  ASSERT_GT(deepest.size(), size_t{PATH_MAX});

  for (int threads : {1, 2}) {
    TSearchRig rig(THandOff::Direct);
    rig.Manager->MaxThreads = threads;
    rig.Run(TSearchRig::Task(tree.Root, "*.txt"));
    EXPECT_EQ(rig.Store.Count(), size_t{kDepth + 1}) << threads << " threads";
    const std::vector<std::string> found = rig.FullNames();
    EXPECT_EQ(std::count(found.begin(), found.end(), deepest + "/f.txt"), 1);
  }
  std::unique_ptr<TDirListing> listing = OpenDirListing(deepest + "/");
  ASSERT_TRUE(listing);
  std::vector<std::string> names;
  for (TDirEntry entry; listing->Next(entry);) names.push_back(entry.Name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "f.txt"}));

  RemoveTreeAt(rootFd, level.c_str());
  close(rootFd);
}
