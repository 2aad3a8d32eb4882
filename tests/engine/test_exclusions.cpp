// What a walk leaves out: names matching the exclusion masks (files, and folders with
// everything below them), pseudo file systems, and with OneFileSystem any other file
// system below the start.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "search_fixture.h"

namespace {

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Exclusions, NamesMatchingAMaskAreLeftOutWithEverythingBelowThem) {
  TTempTree tree;
  for (const char* file : {"src/main.c", "src/main.c.bak", "src/.git/HEAD.c", ".git/objects/x.c",
                           "web/node_modules/lib/index.c", "old.BAK/inside.c", "web/app.c"})
    tree.File(file);
  TSearchRig rig(THandOff::Direct);
  PSearchTask task = TSearchRig::Task(tree.Path(), "*.c;*");
  task->Exclude = ".git,node_modules;*.bak";
  rig.Run(std::move(task));
  EXPECT_EQ(Sorted(rig.FullNames()),
            (std::vector<std::string>{tree.Path("src"), tree.Path("src/main.c"), tree.Path("web"),
                                      tree.Path("web/app.c")}));
}

TEST(Exclusions, PseudoFileSystemsAreNotEnteredFromOutside) {
  if (!std::filesystem::exists("/proc/sys/kernel/hostname")) GTEST_SKIP() << "no /proc here";
  // Walk the root, leaving out every top-level folder but the kernel's own.
  std::string others;
  for (const auto& entry : std::filesystem::directory_iterator("/")) {
    const std::string name = entry.path().filename().string();
    if (name != "proc" && name != "sys" && name != "dev") others += name + ";";
  }
  const std::string wanted = "hostname;null;uevent";
  TSearchRig fromRoot(THandOff::Direct);
  PSearchTask task = TSearchRig::Task("/", wanted, 0x3F);
  task->Exclude = others;
  fromRoot.Run(std::move(task));
  EXPECT_EQ(fromRoot.FullNames(), std::vector<std::string>{});

  // A search that starts on one is walked as asked.
  TSearchRig inside(THandOff::Direct);
  inside.Run(TSearchRig::Task("/proc/sys/kernel", "hostname", 0x3F));
  EXPECT_EQ(inside.FullNames(), std::vector<std::string>{"/proc/sys/kernel/hostname"});
}

TEST(Exclusions, OneFileSystemStaysOnTheStartingFileSystem) {
  TTempTree tree;
  tree.File("here.txt");
  tree.Folder("mounted here");
  if (mount("lq-test", tree.Path("mounted here").c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a memory file system here (needs root): " << std::strerror(errno);
  struct TUnmount {
    std::string Path;
    ~TUnmount() { umount2(Path.c_str(), MNT_DETACH); }
  } unmount{tree.Path("mounted here")};
  tree.File("mounted here/there.txt");

  TSearchRig crossing(THandOff::Direct);
  crossing.Run(TSearchRig::Task(tree.Path(), "*.txt"));
  EXPECT_EQ(Sorted(crossing.FullNames()),
            (std::vector<std::string>{tree.Path("here.txt"), tree.Path("mounted here/there.txt")}));

  TSearchRig staying(THandOff::Direct);
  PSearchTask task = TSearchRig::Task(tree.Path(), "*.txt");
  task->OneFileSystem = true;
  staying.Run(std::move(task));
  EXPECT_EQ(staying.FullNames(), std::vector<std::string>{tree.Path("here.txt")});
}

}  // namespace
