#pragma once
// A private folder for the files a fuzz target writes, removed when the process ends.
// It is made in /dev/shm where there is one: every write there ends with an fsync, which
// costs nothing on a memory file system and most of the run on a disk.
#include <stdlib.h>

#include <filesystem>
#include <string>

inline const std::filesystem::path& ScratchFolder() {
  struct TFolder {
    TFolder() {
      std::error_code ignored;
      const std::string parent = std::filesystem::is_directory("/dev/shm", ignored) ? "/dev/shm" : "/tmp";
      std::string pattern = parent + "/lq-fuzz-XXXXXX";
      if (mkdtemp(pattern.data()) == nullptr) abort();
      Path = pattern;
    }
    ~TFolder() {
      std::error_code ignored;
      std::filesystem::remove_all(Path, ignored);
    }
    std::filesystem::path Path;
  };
  static const TFolder folder;
  return folder.Path;
}
