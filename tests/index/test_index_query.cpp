// Queries answered from an index give what a live search from the same start gives,
// field for field; and say when they cannot.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <set>

#include "engine/masks.h"
#include "engine/search_fixture.h"
#include "index/index_format.h"
#include "index/index_query.h"
#include "index_test_support.h"
#include "os/dos_time.h"
#include "os/file_attr.h"

namespace {

using TRecordSet = std::multiset<std::string>;

std::string RecordText(const TSearchResult& r) {
  uint64_t bits;
  std::memcpy(&bits, &r.DateTime, 8);
  return r.FullName() + "|" + std::to_string(r.Size) + "|" + std::to_string(bits) + "|" + std::to_string(r.Attr);
}

TRecordSet LiveSearch(const std::string& start, const TSearchCriteria& criteria) {
  TSearchRig rig(THandOff::Direct);
  auto task = std::make_unique<TSearchTask>();
  task->Criteria() = criteria;
  task->Path = start;
  rig.Run(std::move(task));
  TRecordSet records;
  for (size_t i = 0; i < rig.Store.Count(); ++i) records.insert(RecordText(rig.Store.Item(i)));
  return records;
}

TRecordSet IndexSearch(const TIndexReader& index, const std::string& start, const TSearchCriteria& criteria,
                       unsigned threads, std::string* inexact = nullptr) {
  TIndexQuery query(index, criteria, start);
  if (inexact) *inexact = query.Inexact();
  TRecordSet records;
  const uint64_t count = query.Run(
      [&](std::vector<PSearchResult>& batch) {
        EXPECT_LE(batch.size(), TIndexQuery::kBatch);
        for (const PSearchResult& r : batch) records.insert(RecordText(*r));
      },
      threads);
  EXPECT_EQ(count, records.size());
  EXPECT_EQ(query.Count(threads), count);
  return records;
}

// Crawls root as the index's crawl does (mask "*", every attribute, details) into file.
void IndexTree(const std::string& root, const std::string& file, const std::string& exclude = "") {
  TSearchRig rig(THandOff::Direct);
  TSearchCriteria all;
  all.Mask = "*";
  all.FileAttr = kTestedAttributes;
  all.Exclude = exclude;
  auto task = std::make_unique<TSearchTask>();
  task->Criteria() = all;
  task->Path = root;
  rig.Run(std::move(task));
  TIndexInfo info = InfoFor(root);
  info.CrawlExclude = exclude;
  TIndexWriter writer(file, info);
  std::vector<PSearchResult> batch;
  for (size_t i = 0; i < rig.Store.Count(); ++i) {
    batch.push_back(std::make_unique<TSearchResult>(rig.Store.Item(i)));
    if (batch.size() == 50 || i + 1 == rig.Store.Count()) {
      writer.AddResults(batch);
      batch.clear();
    }
  }
  writer.Commit();
}

void SetTime(const std::string& path, int year) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = 5;
  tm.tm_mday = 15;
  tm.tm_hour = 10;
  tm.tm_isdst = -1;
  const timespec times[2] = {{mktime(&tm), 0}, {mktime(&tm), 0}};
  utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

struct TQueryCase {
  const char* Name;
  const char* Start;  // below the tree's root; "" for the root
  const char* Mask;
  uint32_t Attr;
  int64_t SizeFrom, SizeTo;
  int TimeFromYear;
  const char* Exclude;
  bool OneFileSystem;
};

class IndexQueryTest : public testing::TestWithParam<TQueryCase> {
 protected:
  static void SetUpTestSuite() {
    Tree = new TTempTree();
    const TTempTree& t = *Tree;
    t.File("a.txt", 10);
    t.File("B.TXT", 200);
    t.File(".hidden.txt", 3);
    t.File("readonly.doc", 5000);
    chmod(t.Path("readonly.doc").c_str(), 0444);
    t.File("sub/y.h", 1);
    t.File("sub/deep/x.c", 150);
    t.File("sub/deep/report-2001.txt", 7);
    SetTime(t.Path("sub/deep/report-2001.txt"), 2001);
    SetTime(t.Path("a.txt"), 1975);
    t.File("node_modules/z.txt");
    t.File("node_modules/inner/w.txt");
    t.File("dir.txt/inside.c");
    t.File("odd\xff\x01name.txt", 12);
    t.File(std::string(240, 'l') + "/" + std::string(240, 'm') + "/end.txt");
    symlink(t.Path("sub").c_str(), t.Path("link").c_str());
    symlink(t.Path("nowhere").c_str(), t.Path("dangling.txt").c_str());
    for (int i = 0; i < 300; ++i) t.File("many/file" + std::to_string(i) + (i % 3 ? ".txt" : ".c"), i);
    Index = new TIndexTemp();
    IndexTree(t.Root, Index->Path("tree.lqindex"));
  }
  static void TearDownTestSuite() {
    chmod(Tree->Path("readonly.doc").c_str(), 0644);
    delete Tree;
    delete Index;
  }
  static TTempTree* Tree;
  static TIndexTemp* Index;
};
TTempTree* IndexQueryTest::Tree = nullptr;
TIndexTemp* IndexQueryTest::Index = nullptr;

TEST_P(IndexQueryTest, GivesWhatTheLiveSearchGives) {
  const TQueryCase& c = GetParam();
  TSearchCriteria criteria;
  criteria.Mask = c.Mask;
  criteria.FileAttr = c.Attr;
  criteria.FileSizeFrom = c.SizeFrom;
  criteria.FileSizeTo = c.SizeTo;
  if (c.TimeFromYear) criteria.FileTimeFrom = EncodeDateTime(c.TimeFromYear, 1, 1);
  criteria.Exclude = c.Exclude;
  criteria.OneFileSystem = c.OneFileSystem;
  const std::string start = *c.Start ? Tree->Path(c.Start) : Tree->Root;
  const TRecordSet live = LiveSearch(start, criteria);
  PIndexReader index = TIndexReader::Open(Index->Path("tree.lqindex"));
  for (unsigned threads : {1u, 3u}) {
    std::string inexact;
    EXPECT_EQ(IndexSearch(*index, start, criteria, threads, &inexact), live) << threads << " threads";
    EXPECT_EQ(inexact, "");
  }
  // A start written with a trailing separator is the same walk.
  EXPECT_EQ(IndexSearch(*index, start + "/", criteria, 1), live);
}

constexpr uint32_t kAll = kTestedAttributes;
INSTANTIATE_TEST_SUITE_P(
    Criteria, IndexQueryTest,
    testing::Values(TQueryCase{"Everything", "", "*", kAll, 0, 0, 0, "", false},
                    TQueryCase{"NoHiddenNoFolders", "", "*.txt", 0x21, 0, 0, 0, "", false},
                    TQueryCase{"TwoMasksAndRepeats", "", "*.txt;*.c,*.txt", kAll, 0, 0, 0, "", false},
                    TQueryCase{"SetsAndAny", "", "[a-c]*;?.*;file1?", kAll, 0, 0, 0, "", false},
                    TQueryCase{"AnchoredBothEnds", "", "file2?.c", kAll, 0, 0, 0, "", false},
                    TQueryCase{"CaseOfLetters", "", "*.TxT", kAll, 0, 0, 0, "", false},
                    TQueryCase{"SizeRange", "", "*", kAll, 100, 4000, 0, "", false},
                    TQueryCase{"TimeFrom", "", "*", kAll, 0, 0, 2005, "", false},
                    TQueryCase{"ReadOnlyLeftOut", "", "*", 0x30, 0, 0, 0, "", false},
                    TQueryCase{"ExcludedFolderNotEntered", "", "*.txt", kAll, 0, 0, 0, "node_modules", false},
                    TQueryCase{"ExcludedFilesAndFolders", "", "*", kAll, 0, 0, 0, "sub;*.doc,many", false},
                    TQueryCase{"StartBelowRoot", "sub", "*", kAll, 0, 0, 0, "", false},
                    TQueryCase{"StartsOwnNameNotTested", "node_modules", "*", kAll, 0, 0, 0, "node_modules", false},
                    TQueryCase{"ExcludedBelowStart", "sub", "*", kAll, 0, 0, 0, "deep", false},
                    TQueryCase{"OneFileSystem", "", "*.c", kAll, 0, 0, 0, "", true},
                    TQueryCase{"NoMatch", "", "*report-1999*", kAll, 0, 0, 0, "", false},
                    TQueryCase{"LiteralAcrossNames", "", "*txtz*", kAll, 0, 0, 0, "", false},
                    TQueryCase{"NoMasks", "", ";;", kAll, 0, 0, 0, "", false}),
    [](const testing::TestParamInfo<TQueryCase>& info) { return std::string(info.param.Name); });

TEST_F(IndexQueryTest, SaysWhenItCannotAnswerExactly) {
  PIndexReader index = TIndexReader::Open(Index->Path("tree.lqindex"));
  TSearchCriteria criteria;
  criteria.Mask = "*";
  criteria.FileAttr = kAll;
  std::string inexact;
  // An empty folder the crawl saw is answered (nothing), one it never saw is not.
  Tree->Folder("sub/empty");
  EXPECT_TRUE(IndexSearch(*index, "/definitely/elsewhere", criteria, 1, &inexact).empty());
  EXPECT_NE(inexact, "");
  EXPECT_TRUE(IndexSearch(*index, Tree->Path("sub/never-seen"), criteria, 1, &inexact).empty());
  EXPECT_NE(inexact, "");
  // The crawl left out node_modules: a query that does not cannot be exact.
  const std::string excluded = Index->Path("excluded.lqindex");
  IndexTree(Tree->Root, excluded, "node_modules");
  PIndexReader partial = TIndexReader::Open(excluded);
  IndexSearch(*partial, Tree->Root, criteria, 1, &inexact);
  EXPECT_NE(inexact.find("node_modules"), std::string::npos);
  criteria.Exclude = "NODE_modules;*.bak";
  EXPECT_EQ(IndexSearch(*partial, Tree->Root, criteria, 1, &inexact), LiveSearch(Tree->Root, criteria));
  EXPECT_EQ(inexact, "");
}

TEST(IndexQuery, MalformedMaskThrowsAsTheWalkWouldFail) {
  TIndexTemp temp;
  WriteIndex(temp.Path("x.lqindex"), "/r", {{"/r/", {{"a", 1, 40000.0, 0}}}});
  PIndexReader index = TIndexReader::Open(temp.Path("x.lqindex"));
  TSearchCriteria criteria;
  criteria.Mask = "a[";
  EXPECT_THROW(TIndexQuery(*index, criteria, "/r"), TMaskError);
  criteria.Mask = "*";
  criteria.Exclude = "[]x";
  EXPECT_THROW(TIndexQuery(*index, criteria, "/r"), TMaskError);
}

TEST(IndexQuery, ServerStartFindsEachShareWrittenAsTheStartSpellsIt) {
  TIndexTemp temp;
  WriteIndex(temp.Path("n.lqindex"), "network",
             {{"\\\\srv\\one\\", {{"a.txt", 1, 40000.0, 0}}},
              {"\\\\srv\\two\\deep\\", {{"b.txt", 2, 40000.0, 0}}},
              {"\\\\other\\s\\", {{"c.txt", 3, 40000.0, 0}}}});
  PIndexReader index = TIndexReader::Open(temp.Path("n.lqindex"));
  TSearchCriteria criteria;
  criteria.Mask = "*.txt";
  criteria.FileAttr = kAll;
  std::string inexact;
  TRecordSet got = IndexSearch(*index, "\\\\SRV", criteria, 1, &inexact);
  EXPECT_EQ(inexact, "");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got.begin()->substr(0, 16), "\\\\SRV\\one\\a.txt|");
  EXPECT_EQ(IndexSearch(*index, "network", criteria, 1).size(), 3u);
  EXPECT_EQ(IndexSearch(*index, "\\\\srv\\TWO", criteria, 1).size(), 1u);
}

// Names at the edges of the name filter's groups of entries (a literal ending with the
// NUL that begins the next group, or starting with a group's first NUL) are found; rows
// of the filter that were changed are refused by the query that reads them, never
// taken as "no group holds it".
TEST(IndexQuery, NameFilterFindsGroupEdgesAndRefusesChangedRows) {
  TIndexTemp temp;
  const std::string file = temp.Path("g.lqindex");
  std::vector<TFolderEntries> folders{{"/r/", {}}, {"/r/b/", {}}, {"/r/b/c/", {}}};
  std::vector<std::string> names;
  for (int i = 0; i < 10000; ++i) {
    const bool edge = i % 4096 == 4095 || i % 4096 == 0;
    char name[32];
    std::snprintf(name, sizeof name, edge ? "Edge%05d.ZZ" : "n%05d.dat", i);
    names.push_back(name);
  }
  for (int i = 0; i < 10000; ++i) folders[static_cast<size_t>(i / 3500)].Entries.push_back({names[static_cast<size_t>(i)], 1, 40000.0, 0});
  WriteIndex(file, "/r", folders);
  auto count = [&](const char* mask, unsigned threads = 1) {
    PIndexReader index = TIndexReader::Open(file);
    TSearchCriteria criteria;
    criteria.Mask = mask;
    criteria.FileAttr = kAll;
    return TIndexQuery(*index, criteria, "/r").Count(threads);
  };
  EXPECT_EQ(count("*.zz"), 5u);  // entries 0, 4095, 4096, 8191, 8192
  EXPECT_EQ(count("edge*;*.dat"), 10000u);
  EXPECT_EQ(count("*n0012?.dat", 2), 10u);
  EXPECT_EQ(count("*none*"), 0u);

  // The filter is the last region before the table of contents; its rows end it.
  std::string bytes = FileBytes(file);
  const uint64_t toc = index_format::LoadU64(bytes.data() + bytes.size() - 64 + 16);
  uint64_t filterEnd = 0;
  for (uint64_t at = toc; at + 32 <= bytes.size() - 64; at += 32)
    if (index_format::LoadU32(bytes.data() + at) == index_format::kFilter)
      filterEnd = index_format::LoadU64(bytes.data() + at + 8) + index_format::LoadU64(bytes.data() + at + 16);
  ASSERT_GT(filterEnd, 0u);
  const size_t rows = (size_t{1} << 15) * 1;  // 32,768 buckets, three groups in a byte
  std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(filterEnd - rows),
            bytes.begin() + static_cast<std::ptrdiff_t>(filterEnd), '\0');
  PutFileBytes(file, bytes);
  try {
    count("*.zz");
    ADD_FAILURE() << "a query read changed rows of the name filter";
  } catch (const TIndexError& error) {
    EXPECT_EQ(error.Kind, TIndexError::TKind::Damaged);
  }
}

}  // namespace
