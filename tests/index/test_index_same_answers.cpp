// The index answers as the walk: for generated trees with odd names and generated
// criteria, a search answered from a fresh index and a live search give the same
// results, field for field, on a local folder and on a share of the test smbd.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <random>

#include "crawl_fixture.h"

namespace {

constexpr uint32_t kSeed = 20261209;

// Names a walk must keep byte for byte: invalid UTF-8, control bytes, a newline, set
// and wildcard characters, dots, spaces, case.
const char* const kNames[] = {
    "a.txt",       "Report1.DOC", "report12.doc", "x.h",        "main.c",      "b",
    ".hidden",     "\xff\xfe.bin", "caf\xc3\xa9.txt", "ctl\x01\x1f.txt", "nl\nname.txt", "[set].c",
    "star*name",   "q?.txt",      "two  spaces", "UPPER.TXT",  "z9",          "e\xe9t\xe9.doc",
};

// Makes a folder below an open folder and returns it open: a chain of these reaches
// paths no single path call accepts (past PATH_MAX).
int MakeFolderAt(int parent, const std::string& name) {
  mkdirat(parent, name.c_str(), 0755);
  return openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY);
}

void MakeFileAt(int folder, const std::string& name, size_t size, time_t mtime, mode_t mode) {
  const int fd = openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  const std::string bytes(size, 'y');
  if (!bytes.empty() && write(fd, bytes.data(), bytes.size()) < 0) ADD_FAILURE() << "write";
  close(fd);
  const timespec times[2] = {{mtime, 0}, {mtime, 0}};
  utimensat(folder, name.c_str(), times, 0);
  fchmodat(folder, name.c_str(), mode, 0);
}

// A tree from seed below root: wide folders, a deep chain whose paths pass 4,096 bytes,
// each file with a size, a time from 2001 to 2024 and sometimes no write permission.
void MakeTree(const std::string& root, uint32_t seed, bool withSpecialFiles) {
  std::mt19937 random(seed);
  const auto pick = [&](size_t count) { return static_cast<size_t>(random() % count); };
  const auto fill = [&](int folder, int files) {
    for (int i = 0; i < files; ++i) {
      std::string name = kNames[pick(std::size(kNames))];
      if (i >= static_cast<int>(std::size(kNames))) name = std::to_string(i) + name;
      const time_t mtime = 978307200 + static_cast<time_t>(random() % 750000000);
      MakeFileAt(folder, name, pick(5000), mtime, pick(5) == 0 ? 0444 : 0644);
    }
  };
  const int top = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(top, 0);
  fill(top, 12);
  for (int w = 0; w < 6; ++w) {
    const int folder = MakeFolderAt(top, (w % 2 ? "w" : "sub") + std::to_string(w));
    fill(folder, 40);
    const int inner = MakeFolderAt(folder, kNames[pick(std::size(kNames))]);
    fill(inner, 5);
    close(inner);
    close(folder);
  }
  int chain = MakeFolderAt(top, "deep");
  const std::string link(120, 'd');
  for (int depth = 0; depth < 40; ++depth) {  // 40 x 121 bytes: paths past 4,800 bytes
    fill(chain, depth % 8 == 0 ? 3 : 1);
    const int next = MakeFolderAt(chain, link + std::to_string(depth % 10));
    close(chain);
    chain = next;
  }
  fill(chain, 4);
  close(chain);
  if (withSpecialFiles) {
    mkfifoat(top, "pipe", 0644);
    symlinkat("sub0", top, "link-to-folder");
  }
  close(top);
}

// Criteria from seed: one or several masks with sets and "?", an attribute set, maybe
// a size range, a time range and exclusions.
TSearchCriteria MakeCriteria(std::mt19937& random) {
  static const char* const kMasks[] = {"*",       "*.txt",     "*.c;*.h", "?e*",      "[a-r]*",
                                       "[!a-m]*.doc", "*1*",   "q?.*",    "*.*",      "report??.doc",
                                       "*\xff*",  "ctl*",      "d*",      "[0-9]*.TXT"};
  static const char* const kExcludes[] = {"", "", "sub1", "*.bin", "w?;d*", ".hidden", "inner*"};
  const auto pick = [&](size_t count) { return static_cast<size_t>(random() % count); };
  TSearchCriteria criteria;
  criteria.Mask = kMasks[pick(std::size(kMasks))];
  if (pick(3) == 0) criteria.Mask += std::string(";") + kMasks[pick(std::size(kMasks))];
  criteria.FileAttr = static_cast<uint32_t>(random()) & kTestedAttributes;
  if (pick(3) == 0) criteria.FileAttr = kTestedAttributes;
  if (pick(3) == 0) {
    criteria.FileSizeFrom = static_cast<int64_t>(pick(2500));
    criteria.FileSizeTo = criteria.FileSizeFrom + static_cast<int64_t>(pick(3000));
  }
  if (pick(3) == 0) {
    criteria.FileTimeFrom = 37000.0 + static_cast<double>(pick(4000));  // 2001 to 2012
    criteria.FileTimeTo = criteria.FileTimeFrom + static_cast<double>(pick(5000));
  }
  criteria.Exclude = kExcludes[pick(std::size(kExcludes))];
  return criteria;
}

std::string Describe(const TSearchCriteria& criteria) {
  return "mask \"" + criteria.Mask + "\" attr " + std::to_string(criteria.FileAttr) + " size " +
         std::to_string(criteria.FileSizeFrom) + ".." + std::to_string(criteria.FileSizeTo) + " time " +
         std::to_string(criteria.FileTimeFrom) + ".." + std::to_string(criteria.FileTimeTo) + " exclude \"" +
         criteria.Exclude + "\"";
}

// Compares the live answer with the index's for many criteria; starts from the location
// and from a folder below it.
void ExpectSameAnswers(const TIndexCatalog& catalog, const std::string& location,
                       const std::function<PSearchTask(const std::string&)>& rootOf,
                       const std::vector<std::string>& starts, int cases) {
  const PIndexReader index = TIndexReader::Open(catalog.FileFor(location));
  std::mt19937 random(kSeed);
  size_t found = 0;
  for (int i = 0; i < cases; ++i) {
    const TSearchCriteria criteria = MakeCriteria(random);
    const std::string& start = starts[static_cast<size_t>(i) % starts.size()];
    const TRecords live = LiveSearch(criteria, rootOf(start));
    const TRecords indexed = IndexedSearch(*index, criteria, start);
    EXPECT_EQ(indexed, live) << "case " << i << " from " << start << ": " << Describe(criteria);
    found += live.size();
  }
  EXPECT_GT(found, 0u);  // the generated criteria do find things
}

TEST(SameAnswers, LocalTreeWithOddNamesAndLongPaths) {
  TIndexFolder folder;
  TTempTree tree;
  MakeTree(tree.Root, kSeed, true);
  const TCrawlOutcome outcome = RunCrawl(folder.Catalog, tree.Root);
  ASSERT_TRUE(outcome.Written) << outcome.Failure;
  EXPECT_TRUE(outcome.LogLines.empty());
  // Everything is in the index, deepest names included.
  const TRecords all = LiveSearch(TIndexCrawl::Criteria({}), FolderTask(tree.Root));
  EXPECT_EQ(Everything(folder.Catalog, tree.Root), all);
  size_t longest = 0;
  for (const TRecord& record : all) longest = std::max(longest, std::get<0>(record).size());
  EXPECT_GT(longest, 4096u);
  ExpectSameAnswers(folder.Catalog, tree.Root, FolderTask, {tree.Root, tree.Path("sub0"), tree.Path("deep")}, 60);
}


TEST(SameAnswers, ShareOfTheTestServer) {
  TSmbdHarness* server = IndexTestServer();
  if (server->Failed()) GTEST_SKIP() << "no test smbd: " << server->Error();
  TIndexFolder folder;
  const std::string local = server->PublicDir() + "/same";
  std::filesystem::create_directories(local);
  MakeTree(local, kSeed + 1, false);
  const std::string location = TSmbdHarness::Unc("public") + "\\same";
  const TCrawlOutcome outcome = RunCrawl(folder.Catalog, location);
  ASSERT_TRUE(outcome.Written) << outcome.Failure;
  EXPECT_EQ(Everything(folder.Catalog, location), LiveSearch(TIndexCrawl::Criteria({}), FolderTask(location)));
  ExpectSameAnswers(folder.Catalog, location, FolderTask, {location, location + "\\sub0"}, 24);
}

}  // namespace
