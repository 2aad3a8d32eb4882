#pragma once
// Makes a real collating locale the user's locale for a test: the locale is compiled from
// the system's locale sources (localedef) into the test's temporary folder once, then
// loaded from there. Returns false where the sources or localedef are missing, so the
// caller can skip. Restore the environment's locale with SetUserLocaleForTesting("").
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "os/locale_text.h"

// source is the locale source name ("en_US"); the locale is made in UTF-8.
inline bool UseCompiledUtf8Locale(const std::string& source) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "lq_locales";
  const std::string name = source + ".UTF-8";
  std::filesystem::create_directories(dir);
  if (!std::filesystem::exists(dir / name / "LC_COLLATE")) {
    const std::string command =
        "localedef -i " + source + " -f UTF-8 '" + (dir / name).string() + "' >/dev/null 2>&1";
    (void)std::system(command.c_str());  // warnings give a non-zero status with a usable locale
  }
  if (!std::filesystem::exists(dir / name / "LC_COLLATE")) return false;
  setenv("LOCPATH", dir.c_str(), 1);
  const bool made = SetUserLocaleForTesting(name.c_str());
  unsetenv("LOCPATH");
  return made;
}
