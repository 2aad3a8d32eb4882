// Folders the walk cannot list, or not to their end: each one is named in the error log
// with the system's reason, and everything else found is kept. Real folders: a listing
// whose read fails midway, and a process out of descriptors. (A folder the user may not
// read is tested on the command line, in tests/cli.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

#include "search_fixture.h"

// The walk reads folders through getdents64; this program's own definition is the one
// the listing calls. It passes every call to the kernel, except the second read of the
// folder whose descriptor FailingFolderFd names, which fails with EIO as a disk error
// would midway through a large folder.
namespace {
std::atomic<int> FailingFolderFd{-1};
std::atomic<int> FailingFolderReads{0};
}  // namespace

extern "C" ssize_t getdents64(int fd, void* buffer, size_t size) noexcept {
  if (fd == FailingFolderFd.load() && FailingFolderReads.fetch_add(1) == 1) {
    errno = EIO;
    return -1;
  }
  return syscall(SYS_getdents64, fd, buffer, size);
}

namespace {

// Runs body in a child process (a failing assertion or a crash there cannot touch this
// one) and returns what it wrote; prepare runs in the child first, e.g. to lower a
// limit.
std::string InChild(const std::function<void()>& prepare, const std::function<std::string()>& body) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    prepare();
    const std::string text = body();
    for (size_t done = 0; done < text.size();) {
      const ssize_t n = write(pipeFds[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(pipeFds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) text += "child ended abnormally";
  return text;
}

TEST(FolderFailures, AListingThatFailsMidwayKeepsWhatWasReadAndSaysSo) {
  TTempTree tree;
  // Far more than one read of the listing holds (32 KB).
  constexpr int kFiles = 3000;
  for (int i = 0; i < kFiles; ++i) tree.File("big/file-with-a-longish-name-" + std::to_string(i) + ".txt");
  tree.File("small/other.txt");
  const int fd = open(tree.Path("big").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  // The walk opens the folder by name and gets the lowest free number: this one, freed.
  close(fd);
  FailingFolderReads = 0;
  FailingFolderFd = fd;
  TSearchRig rig(THandOff::Direct);
  rig.Manager->MaxThreads = 1;  // the numbers stay as predicted: one folder open at a time
  rig.Run(TSearchRig::Task(tree.Path("big"), "*.txt"));
  FailingFolderFd = -1;
  ASSERT_GE(FailingFolderReads.load(), 2) << "the folder was not read through the expected descriptor";
  ASSERT_EQ(rig.Log.Count(), 1u);
  EXPECT_EQ(rig.Log.Line(0), tree.Path("big") + " - Listing ended early: Input/output error");
  // The first read's entries are results.
  EXPECT_GT(rig.Store.Count(), 100u);
  EXPECT_LT(rig.Store.Count(), static_cast<size_t>(kFiles));
}

TEST(FolderFailures, RunningOutOfDescriptorsLosesNoFolder) {
  TTempTree tree;
  // Many folders with sub-folders: each waits to be listed while its parent stays open,
  // and twelve workers list at once, so sixteen descriptors run out again and again.
  constexpr int kFolders = 240, kFilesPerFolder = 3;
  for (int f = 0; f < kFolders; ++f)
    for (int i = 0; i < kFilesPerFolder; ++i)
      tree.File("f" + std::to_string(f / 4) + "/g" + std::to_string(f) + "/n" + std::to_string(i) + ".txt");
  const std::string report = InChild(
      [] {
        rlimit few{16, 16};
        if (setrlimit(RLIMIT_NOFILE, &few) != 0) _exit(3);
      },
      [&] {
        TSearchRig rig(THandOff::Direct);
        rig.Manager->MaxThreads = 12;
        rig.Run(TSearchRig::Task(tree.Root, "*.txt"));
        return std::to_string(rig.Store.Count()) + " results, " + std::to_string(rig.Log.Count()) + " log lines";
      });
  EXPECT_EQ(report, std::to_string(kFolders * kFilesPerFolder) + " results, 0 log lines");
}

}  // namespace
