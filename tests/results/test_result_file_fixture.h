#pragma once
// Helpers for the result file and report tests: a private temporary folder, whole-file
// reads and writes, and result records.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "results/result_manager.h"
#include "results/search_result.h"

// A fresh folder under the system's temporary folder, removed with its contents.
class TTempFolder {
 public:
  TTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lq-results-XXXXXX").string();
    if (!mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
    Root = pattern;
  }
  ~TTempFolder() {
    std::error_code ignored;  // a leftover in /tmp must not fail the test run
    std::filesystem::permissions(Root, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(Root, ignored);
  }
  std::string operator/(const std::string& name) const { return (Root / name).string(); }
  // The names in the folder, for checking that nothing was left behind.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Root)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  std::filesystem::path Root;
};

inline std::string ReadBytes(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& fileName, const std::string& bytes) {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline PSearchResult MakeResult(const std::string& path, const std::string& name,
                                int64_t size = 0, double dateTime = 0.0, uint32_t attr = 0) {
  auto result = std::make_unique<TSearchResult>();
  result->Path = std::make_shared<const std::string>(path);
  result->Name = name;
  result->Size = size;
  result->DateTime = dateTime;
  result->Attr = attr;
  return result;
}

inline void AddOne(TResultManager& store, PSearchResult result) {
  store.AddResults(1, &result);
}
