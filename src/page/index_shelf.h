#pragma once
// TIndexShelf: the locations the user has chosen to index, and their index files opened
// for the search pages. A page whose location is one of them, or lies inside one, answers
// its pattern from that index while the user types (index_typing.h).
//
// Only the listed locations count: an index that the command-line program made of some
// other location is not used by the window until the user adds that location.
//
// An opened index is kept and handed out again until its file is replaced (a refresh
// renames a new file over it): each look-up compares the file's identity (device, inode,
// size, time) with the one opened and opens the new file when it changed. Readers handed
// out stay valid for as long as their holders keep them (index_reader.h).
//
// UI thread only. The process has one shelf (IndexShelf()), empty until the main window
// gives it the saved locations.
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "index/index_catalog.h"
#include "index/index_reader.h"

class TIndexShelf {
 public:
  // Over the user's index folder; over folder when it is not empty (tests).
  explicit TIndexShelf(std::string folder = std::string());

  const TIndexCatalog& Catalog() const { return IndexFiles; }
  const std::vector<std::string>& Locations() const { return Listed; }
  // Replaces the listed locations (each as an index names it). Indexes of locations no
  // longer listed are let go.
  void SetLocations(std::vector<std::string> locations);

  // The index of location itself, opened (or the one opened before, when its file is
  // the same); null when the file is missing or refused, with the reader's line in error.
  PIndexReader Open(const std::string& location, std::string* error = nullptr);
  // The index that answers for location: that of the innermost listed location that is
  // location or contains it (a container's only when its index holds location). Null
  // when none does, or when the covering location has no readable index yet.
  PIndexReader Covering(const std::string& location);

 private:
  struct TOpened {
    PIndexReader Index;
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = 0;
    int64_t ModifiedNs = 0;
  };
  TIndexCatalog IndexFiles;
  std::vector<std::string> Listed;
  std::map<std::string, TOpened> Cache;  // by location
};

// The process's shelf.
TIndexShelf& IndexShelf();
// Replaces the process's shelf (tests point it at a folder of their own); nullptr
// restores the default one. The object must outlive its use.
void SetIndexShelf(TIndexShelf* shelf);

// The location a page with these settings searches, written as an index names it: its
// folder, its share or server ("\\srv\share"), its address range, or "network" for the
// entire network. Empty for a location no index can stand for (a workgroup, a provider).
struct TSetting;
std::string IndexLocationOfSetting(const TSetting& setting);
