// Pseudo file systems are told apart from the ones that hold a user's files, on the
// machine's real mounts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "os/dir_listing.h"

namespace {

TEST(PseudoFileSystem, KernelViewsAreRecognisedAndFileStorageIsNot) {
  struct TCase {
    std::string Folder;
    bool Pseudo;
  };
  const TCase cases[] = {
      {"/proc", true}, {"/proc/self/fd", true}, {"/sys", true},
      {"/dev", true},  {"/dev/pts", true},      {"/", false},   {std::filesystem::temp_directory_path(), false},
  };
  int checked = 0;
  for (const TCase& c : cases) {
    auto listing = OpenLocalDirListing(c.Folder);
    if (!listing) continue;  // not mounted in this environment
    ++checked;
    EXPECT_EQ(listing->OnPseudoFileSystem(), c.Pseudo) << c.Folder;
    struct stat info {};
    ASSERT_EQ(stat(c.Folder.c_str(), &info), 0);
    EXPECT_EQ(listing->Device(), static_cast<uint64_t>(info.st_dev)) << c.Folder;
  }
  if (checked < 4) GTEST_SKIP() << "too few of /proc, /sys, /dev are mounted here";
}

}  // namespace
