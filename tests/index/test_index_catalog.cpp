// Which location lies in which, where index files live, and which index answers.
#include <sys/stat.h>

#include "index/index_catalog.h"
#include "index/index_location.h"
#include "index_test_support.h"

namespace {

struct TContainsCase {
  const char* Outer;
  const char* Inner;
  TContainment Expected;
};

class LocationContainsTest : public testing::TestWithParam<TContainsCase> {};

TEST_P(LocationContainsTest, Decides) {
  EXPECT_EQ(LocationContains(GetParam().Outer, GetParam().Inner), GetParam().Expected)
      << GetParam().Outer << " / " << GetParam().Inner;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, LocationContainsTest,
    testing::Values(TContainsCase{"/home/ann", "/home/ann", TContainment::Yes},
                    TContainsCase{"/home/ann/", "/home/ann/docs", TContainment::Yes},
                    TContainsCase{"/home/ann", "/home/anna", TContainment::No},
                    TContainsCase{"/home/ann/docs", "/home/ann", TContainment::No},
                    TContainsCase{"/", "/etc", TContainment::Yes},
                    TContainsCase{"/home/Ann", "/home/ann/x", TContainment::No},
                    TContainsCase{"\\\\srv", "\\\\SRV\\Share\\dir", TContainment::Yes},
                    TContainsCase{"\\\\srv\\share", "\\\\srv\\SHARE", TContainment::Yes},
                    TContainsCase{"\\\\srv\\share", "\\\\srv\\share2", TContainment::No},
                    TContainsCase{"\\\\srv\\share\\Dir", "\\\\srv\\share\\dir\\x", TContainment::No},
                    TContainsCase{"\\\\srv\\share\\dir", "\\\\srv\\share\\dir\\x", TContainment::Yes},
                    TContainsCase{"\\\\srv\\share", "\\\\srv", TContainment::No},
                    TContainsCase{"\\\\srv", "\\\\srv2\\a", TContainment::No},
                    TContainsCase{"network", "\\\\srv\\a", TContainment::ByContent},
                    TContainsCase{"network", "10.0.0.0/24", TContainment::ByContent},
                    TContainsCase{"Network", "network", TContainment::Yes},
                    TContainsCase{"10.0.0.0/24", "\\\\10.0.0.5", TContainment::ByContent},
                    TContainsCase{"10.0.0.0/24", "network", TContainment::No},
                    TContainsCase{"network", "/home", TContainment::No},
                    TContainsCase{"/home", "\\\\srv", TContainment::No}));

TEST(IndexCatalog, FolderAndFileNames) {
  TIndexTemp temp;
  setenv("XDG_CACHE_HOME", temp.Root.c_str(), 1);
  TIndexCatalog catalog;
  EXPECT_EQ(catalog.Folder(), temp.Root + "/lanternquest/index");
  setenv("XDG_CACHE_HOME", "relative/not/used", 1);
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(TIndexCatalog().Folder(), "/home/someone/.cache/lanternquest/index");
  unsetenv("XDG_CACHE_HOME");

  catalog.EnsureFolder();
  struct stat info {};
  ASSERT_EQ(stat(catalog.Folder().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  chmod(catalog.Folder().c_str(), 0755);
  catalog.EnsureFolder();
  ASSERT_EQ(stat(catalog.Folder().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  // One file per location, whatever the spelling the same location comes in.
  EXPECT_EQ(catalog.FileFor("/home/ann/"), catalog.FileFor("/home/ann"));
  EXPECT_EQ(catalog.FileFor("\\\\SRV\\Share"), catalog.FileFor("\\\\srv\\share\\"));
  EXPECT_NE(catalog.FileFor("/home/ann"), catalog.FileFor("/home/Ann"));
  EXPECT_NE(catalog.FileFor("/home/a_b"), catalog.FileFor("/home/a/b"));
  const std::string name = catalog.FileFor("/home/ann/Documents");
  EXPECT_EQ(name.substr(0, catalog.Folder().size() + 1), catalog.Folder() + "/");
  EXPECT_EQ(name.find('/', catalog.Folder().size() + 1), std::string::npos);
  EXPECT_NE(name.find("home_ann_Documents-"), std::string::npos) << name;
}

TEST(IndexCatalog, FindsTheInnermostIndexThatHoldsALocation) {
  TIndexTemp temp;
  TIndexCatalog catalog(temp.Path("index"));
  catalog.EnsureFolder();
  const double t = 40000.0;
  WriteIndex(catalog.FileFor("/data"), "/data", {{"/data/", {{"projects", 0, t, 0x10}}}, {"/data/projects/", {{"a", 1, t, 0}}}});
  WriteIndex(catalog.FileFor("/data/projects"), "/data/projects", {{"/data/projects/", {{"a", 1, t, 0}}}});
  WriteIndex(catalog.FileFor("network"), "network", {{"\\\\srv\\share\\", {{"n", 1, t, 0}}}});
  PutFileBytes(catalog.Folder() + "/broken-0000000000000000.lqindex", "not an index at all, not even close");

  auto locationOf = [&](const std::string& wanted) -> std::string {
    PIndexReader index = catalog.FindCovering(wanted);
    return index ? index->Info().Location : "none";
  };
  EXPECT_EQ(locationOf("/data"), "/data");
  EXPECT_EQ(locationOf("/data/other"), "/data");
  EXPECT_EQ(locationOf("/data/projects/x"), "/data/projects");
  EXPECT_EQ(locationOf("/database"), "none");
  EXPECT_EQ(locationOf("\\\\srv\\share\\dir"), "network");
  EXPECT_EQ(locationOf("\\\\SRV"), "network");
  EXPECT_EQ(locationOf("\\\\elsewhere\\share"), "none");

  const std::vector<TIndexCatalog::TListing> all = catalog.List();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const auto& l) { return !l.Index && !l.Error.empty(); }), 1);

  EXPECT_TRUE(catalog.Remove("/data/projects/"));
  EXPECT_FALSE(catalog.Remove("/data/projects"));
  EXPECT_EQ(locationOf("/data/projects/x"), "/data");
}

}  // namespace
