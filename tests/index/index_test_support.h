#pragma once
// Helpers for the index tests: a temporary folder, an index written from given folders
// and entries, and everything an index holds read back as comparable text.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "engine/search_fixture.h"
#include "index/index_reader.h"
#include "index/index_writer.h"

// A temporary folder removed at the end (the engine tests' one).
using TIndexTemp = TTempTree;

struct TFolderEntries {
  std::string Folder;  // ending with its separator
  std::vector<TIndexEntry> Entries;
};

inline TIndexInfo InfoFor(const std::string& location) {
  TIndexInfo info;
  info.Location = location;
  info.CrawlStartedMs = 1700000000000;
  return info;
}

// Writes an index of location holding folders, and commits it to file.
inline void WriteIndex(const std::string& file, const std::string& location, const std::vector<TFolderEntries>& folders) {
  TIndexWriter writer(file, InfoFor(location));
  for (const TFolderEntries& f : folders) writer.AddEntries(f.Folder, f.Entries);
  writer.Commit();
}

// Every entry of the index as "folder|name|size|datetime bits|attr", sorted.
inline std::vector<std::string> AllEntries(const TIndexReader& index, const std::string& location) {
  std::vector<std::string> lines;
  index.ForEachFolderIn(location, [&](const std::string& folder, std::span<const TIndexEntry> entries) {
    for (const TIndexEntry& e : entries) {
      uint64_t bits;
      std::memcpy(&bits, &e.DateTime, 8);
      lines.push_back(folder + "|" + std::string(e.Name) + "|" + std::to_string(e.Size) + "|" + std::to_string(bits) +
                      "|" + std::to_string(e.Attr));
    }
  });
  std::sort(lines.begin(), lines.end());
  return lines;
}

inline std::string FileBytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void PutFileBytes(const std::string& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}
