#pragma once
// TIndexCatalog: where the indexes of one user live, and which one answers for a
// location.
//
// The folder is $XDG_CACHE_HOME/lanternquest/index/ ($HOME/.cache/lanternquest/index/
// when XDG_CACHE_HOME is unset, empty or not absolute), mode 0700; every index file in it
// is mode 0600 (the names of files on other people's shares are private). One file per
// location, named from the location's identity (index_location.h) so that the same
// location always maps to the same file: a readable part of the location and a hash of
// the whole, "<readable>-<16 hex digits>.lqindex".
//
// Threads: a catalog holds only its folder's name; any thread. Several processes may use
// one folder at once: files are only ever replaced whole (index_writer.h) or removed.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "index/index_reader.h"

class TIndexCatalog {
 public:
  // The default folder (see above); throws TIndexError (Usage) when neither
  // XDG_CACHE_HOME nor HOME gives an absolute path.
  TIndexCatalog();
  explicit TIndexCatalog(std::string folder);

  const std::string& Folder() const { return FolderName; }
  // Creates the folder (and its parents) when missing, mode 0700, and takes group and
  // other permissions away from it when it has them. Throws TIndexError (Io).
  void EnsureFolder() const;

  // The index file of location (which need not exist).
  std::string FileFor(std::string_view location) const;

  struct TListing {
    std::string File;
    PIndexReader Index;  // null when the file could not be opened
    std::string Error;   // then: the reader's one line
  };
  // Every index file of the folder (by name "*.lqindex"), opened, in file-name order.
  // A missing folder lists nothing.
  std::vector<TListing> List() const;

  // The index that answers for location: one whose location is location or contains it
  // (LocationContains; for a container, when HoldsLocation), the innermost one when
  // several do. Null when none does. A file that cannot be opened is passed over.
  PIndexReader FindCovering(std::string_view location) const;

  // Removes location's index file. False when there was none. Throws TIndexError (Io).
  bool Remove(std::string_view location) const;

 private:
  std::string FolderName;
};
