#include "page/index_shelf.h"

#include <sys/stat.h>

#include <algorithm>

#include "discovery/range_probe.h"
#include "index/index_location.h"
#include "index/index_types.h"
#include "settings/setting.h"

namespace {

TIndexShelf*& ShelfSlot() {
  static TIndexShelf* shelf = nullptr;
  return shelf;
}

TIndexCatalog CatalogIn(const std::string& folder) {
  if (!folder.empty()) return TIndexCatalog(folder);
  try {
    return TIndexCatalog();
  } catch (const TIndexError&) {
    // No cache folder can be named (no HOME): nothing is indexed, nothing found.
    return TIndexCatalog(std::string("/nonexistent/lanternquest/index"));
  }
}

}  // namespace

TIndexShelf::TIndexShelf(std::string folder) : IndexFiles(CatalogIn(folder)) {}

void TIndexShelf::SetLocations(std::vector<std::string> locations) {
  Listed = std::move(locations);
  for (auto it = Cache.begin(); it != Cache.end();) {
    if (std::find(Listed.begin(), Listed.end(), it->first) == Listed.end())
      it = Cache.erase(it);
    else
      ++it;
  }
}

PIndexReader TIndexShelf::Open(const std::string& location, std::string* error) {
  const std::string file = IndexFiles.FileFor(location);
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0) {
    Cache.erase(location);
    if (error != nullptr) error->clear();
    return nullptr;
  }
  const int64_t modified = int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
  auto found = Cache.find(location);
  if (found != Cache.end() && found->second.Device == status.st_dev && found->second.Inode == status.st_ino &&
      found->second.Size == status.st_size && found->second.ModifiedNs == modified)
    return found->second.Index;
  TOpened opened;
  try {
    opened.Index = TIndexReader::Open(file);
  } catch (const TIndexError& failure) {
    Cache.erase(location);
    if (error != nullptr) *error = failure.what();
    return nullptr;
  }
  opened.Device = status.st_dev;
  opened.Inode = status.st_ino;
  opened.Size = status.st_size;
  opened.ModifiedNs = modified;
  Cache[location] = opened;
  return opened.Index;
}

PIndexReader TIndexShelf::Covering(const std::string& location) {
  if (location.empty()) return nullptr;
  // The innermost listed location that contains it: the longest name among those that do
  // by their names, before any container that does by its content.
  const std::string* best = nullptr;
  for (const std::string& listed : Listed) {
    if (LocationContains(listed, location) != TContainment::Yes) continue;
    if (best == nullptr || NormalLocation(listed).size() > NormalLocation(*best).size()) best = &listed;
  }
  if (best != nullptr) return Open(*best);
  for (const std::string& listed : Listed) {
    if (LocationContains(listed, location) != TContainment::ByContent) continue;
    if (PIndexReader index = Open(listed); index && index->HoldsLocation(location)) return index;
  }
  return nullptr;
}

TIndexShelf& IndexShelf() {
  static TIndexShelf standard;
  return ShelfSlot() != nullptr ? *ShelfSlot() : standard;
}

void SetIndexShelf(TIndexShelf* shelf) { ShelfSlot() = shelf; }

std::string IndexLocationOfSetting(const TSetting& setting) {
  if (!setting.NetResource) return setting.NetResPath.empty() ? std::string() : NormalLocation(setting.NetResPath);
  const NETRESOURCEA& record = *setting.NetResource;
  const std::string name = record.lpRemoteName.value_or(std::string());
  if (name.empty()) return record.dwDisplayType == RESOURCEDISPLAYTYPE_NETWORK ? std::string() : "network";
  if (name.rfind("\\\\", 0) == 0) return NormalLocation(name);
  if (std::optional<TIpv4Range> range = ParseIpv4Range(name)) return range->Text;
  return std::string();  // a workgroup or a provider: no index is made of one
}
