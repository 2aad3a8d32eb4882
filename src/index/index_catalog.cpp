#include "index/index_catalog.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "index/index_location.h"

namespace {

constexpr const char* kSuffix = ".lqindex";

std::string DefaultFolderName() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  std::string base;
  if (cache && cache[0] == '/') {
    base = cache;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/')
      throw TIndexError(TIndexError::TKind::Usage, "No folder for indexes: neither XDG_CACHE_HOME nor HOME is set");
    base = std::string(home) + "/.cache";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/lanternquest/index";
}

// The location as compared: a UNC name's server and share in lower case.
std::string IdentityKey(std::string_view location) {
  std::string key = NormalLocation(location);
  if (LocationKindOf(key) == TLocationKind::Unc) {
    int separators = 0;
    for (char& c : key) {
      if (c == '\\') ++separators;
      if (separators <= 3 && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  } else if (LocationKindOf(key) == TLocationKind::Container) {
    for (char& c : key)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

void MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return;
  if (errno == ENOENT) {
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
      MakeFolder(path.substr(0, slash));
      if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return;
    }
  }
  const int error = errno;
  throw TIndexError(TIndexError::TKind::Io, "Cannot make the index folder " + path + ": " + std::strerror(error), error);
}

}  // namespace

TIndexCatalog::TIndexCatalog() : FolderName(DefaultFolderName()) {}

TIndexCatalog::TIndexCatalog(std::string folder) : FolderName(std::move(folder)) {
  while (FolderName.size() > 1 && FolderName.back() == '/') FolderName.pop_back();
}

void TIndexCatalog::EnsureFolder() const {
  MakeFolder(FolderName);
  struct stat info {};
  if (stat(FolderName.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    const int error = errno;
    throw TIndexError(TIndexError::TKind::Io, "The index folder is not a folder: " + FolderName, error);
  }
  if ((info.st_mode & 077) != 0 && chmod(FolderName.c_str(), info.st_mode & 0700) != 0) {
    const int error = errno;
    throw TIndexError(TIndexError::TKind::Io,
                      "Cannot make the index folder private: " + FolderName + ": " + std::strerror(error), error);
  }
}

std::string TIndexCatalog::FileFor(std::string_view location) const {
  const std::string key = IdentityKey(location);
  uint64_t h = 0xCBF29CE484222325ull;
  for (unsigned char c : key) h = (h ^ c) * 0x100000001B3ull;
  std::string readable;
  for (unsigned char c : key) {
    if (readable.size() >= 40) break;
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
    if (plain) readable.push_back(static_cast<char>(c));
    else if (!readable.empty() && readable.back() != '_') readable.push_back('_');
  }
  while (!readable.empty() && readable.back() == '_') readable.pop_back();
  if (readable.empty()) readable = "root";
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return FolderName + "/" + readable + "-" + hex + kSuffix;
}

std::vector<TIndexCatalog::TListing> TIndexCatalog::List() const {
  std::vector<TListing> listings;
  DIR* dir = opendir(FolderName.c_str());
  if (!dir) return listings;
  std::vector<std::string> names;
  while (dirent* d = readdir(dir)) {
    const std::string name = d->d_name;
    if (name.size() > std::strlen(kSuffix) && name.compare(name.size() - std::strlen(kSuffix), std::string::npos, kSuffix) == 0 &&
        name[0] != '.')
      names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    TListing listing;
    listing.File = FolderName + "/" + name;
    try {
      listing.Index = TIndexReader::Open(listing.File);
    } catch (const TIndexError& error) {
      listing.Error = error.what();
    }
    listings.push_back(std::move(listing));
  }
  return listings;
}

PIndexReader TIndexCatalog::FindCovering(std::string_view location) const {
  const std::string wanted = NormalLocation(location);
  // Its own file first: no other needs opening when it answers.
  try {
    PIndexReader own = TIndexReader::Open(FileFor(wanted));
    if (IdentityKey(own->Info().Location) == IdentityKey(wanted)) return own;
  } catch (const TIndexError&) {
    // None, or not usable: another index may still hold the location.
  }
  PIndexReader best;
  int bestRank = 0;  // 2: contains by its text, 1: by its content
  for (TListing& listing : List()) {
    if (!listing.Index) continue;
    const std::string& outer = listing.Index->Info().Location;
    const TContainment contains = LocationContains(outer, wanted);
    int rank = 0;
    if (contains == TContainment::Yes) rank = 2;
    else if (contains == TContainment::ByContent && listing.Index->HoldsLocation(wanted)) rank = 1;
    if (rank == 0) continue;
    // The innermost: a location that the best one contains beats it.
    if (!best || rank > bestRank ||
        (rank == bestRank && LocationContains(best->Info().Location, outer) == TContainment::Yes)) {
      best = listing.Index;
      bestRank = rank;
    }
  }
  return best;
}

bool TIndexCatalog::Remove(std::string_view location) const {
  const std::string file = FileFor(location);
  if (unlink(file.c_str()) == 0) return true;
  if (errno == ENOENT) return false;
  const int error = errno;
  throw TIndexError(TIndexError::TKind::Io, "Cannot remove the index " + file + ": " + std::strerror(error), error);
}
