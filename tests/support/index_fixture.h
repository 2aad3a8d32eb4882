#pragma once
// Indexes for the window tests: a private index folder per test (XDG_CACHE_HOME points
// into the test's temporary folder, for this process and the command-line program it
// starts) and the command-line program that makes an index, run as a user would.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#ifndef LQ_CLI_PATH
#error "LQ_CLI_PATH must name the command-line program"
#endif

namespace lqtest {

// XDG_CACHE_HOME for the life of the object; the index folder is under it.
class TPrivateIndexFolder {
 public:
  explicit TPrivateIndexFolder(const std::filesystem::path& cache) {
    if (const char* old = ::getenv("XDG_CACHE_HOME")) Saved = old, HadOld = true;
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    Folder = cache / "lanternquest" / "index";
  }
  ~TPrivateIndexFolder() {
    if (HadOld)
      ::setenv("XDG_CACHE_HOME", Saved.c_str(), 1);
    else
      ::unsetenv("XDG_CACHE_HOME");
  }
  std::filesystem::path Folder;

 private:
  std::string Saved;
  bool HadOld = false;
};

// lanternquest-cli --update-index location; its exit status.
inline int UpdateIndexWithCli(const std::string& location) {
  const std::string command = std::string(LQ_CLI_PATH) + " --update-index -j 2 '" + location + "' 2>/dev/null";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace lqtest
