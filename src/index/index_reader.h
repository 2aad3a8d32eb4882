#pragma once
// TIndexReader: one index file opened for reading, mapped read-only.
//
// Open checks the file before anything is trusted: the magic (not ours: NotAnIndex),
// the format version (OtherVersion), the file's size against the size its trailer
// records (truncated: Damaged), the checksums of its header, table of contents, tables
// and small records, zeros between its regions, and the bounds and order of every table
// (Damaged). The bulk of the file is checked as it is read: the name column by every
// query, which scans it whole, and the detail records block by block (each block of 64
// has its own checksum), so a query of a few hits reads a few blocks. A file that fails
// is refused with one line naming it; no call on an opened reader reads outside the
// mapping, whatever the bytes.
//
// A refresh renames a new file over the one a reader opened; the reader keeps the file
// it mapped (the old inode lives while it is mapped), so a query never sees a torn or
// mixed file and holds no lock. A reader is immutable once open: any number of threads
// may use it at once. It must outlive the queries and views made from it.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "index/index_types.h"

class TIndexFile;

class TIndexReader {
 public:
  // Opens and checks fileName. Throws TIndexError (Missing, NotAnIndex, OtherVersion,
  // Damaged, Io) with one line naming the file.
  static std::shared_ptr<const TIndexReader> Open(const std::string& fileName);
  ~TIndexReader();
  TIndexReader(const TIndexReader&) = delete;
  TIndexReader& operator=(const TIndexReader&) = delete;

  const std::string& FileName() const { return Name; }
  const TIndexInfo& Info() const { return InfoData; }
  // The crawl's error log, in its order.
  const std::vector<std::string>& LogLines() const { return Log; }
  const std::vector<TIndexSection>& Sections() const { return SectionList; }
  const std::vector<TIndexMount>& Mounts() const { return MountList; }
  // The innermost section holding folder (a folder or location inside the index); the
  // location's own section when none is nearer.
  const TIndexSection& SectionOf(std::string_view folder) const;

  // Whether the index holds location: the location itself or one inside it, a folder
  // the crawl listed, or, for a container index, a place in or above one of its roots (a
  // server whose shares it holds, a folder on such a share).
  bool HoldsLocation(std::string_view location) const;

  // Calls visit for every folder that the crawl listed in or below location (the
  // location itself included), with the folder's path ending in its separator and its
  // entries, parents before their sub-folders. The views are valid during the call.
  void ForEachFolderIn(std::string_view location,
                       const std::function<void(const std::string& folder,
                                                std::span<const TIndexEntry> entries)>& visit) const;

  // Reads every region again and checks its checksum (Open checks the small regions and
  // the tables' bounds; the name and detail columns, the bulk of the file, are checked by
  // every query as it scans them and here). Throws TIndexError (Damaged).
  void Verify() const;

  // The mapped file and its tables (index_file.h), for TIndexQuery.
  const TIndexFile& File() const { return *Mapped; }

 private:
  TIndexReader();
  std::string Name;
  std::unique_ptr<TIndexFile> Mapped;
  TIndexInfo InfoData;
  std::vector<std::string> Log;
  std::vector<TIndexSection> SectionList;
  std::vector<TIndexMount> MountList;
};
using PIndexReader = std::shared_ptr<const TIndexReader>;
