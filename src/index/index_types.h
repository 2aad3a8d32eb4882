#pragma once
// The records an index file holds besides its entries, and the one error type of the
// index subsystem.
//
// An index holds, for one indexed location, every entry that a search of that location
// with "*" and every attribute found: each entry's folder (as the result store keeps
// it: the folder ending with its separator), name bytes, size, date-time and attribute
// bits; and, per location, when the crawl started and ended, the lines of its error log
// (the places that could not be searched) and its sections.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// Every failure of the index subsystem. what() is one line for the user that names the
// file or location concerned; Kind lets a caller choose what to do (a damaged or
// other-version file is rebuilt by the next update, a missing one made).
class TIndexError : public std::runtime_error {
 public:
  enum class TKind {
    Missing,       // the index file does not exist
    NotAnIndex,    // the file is not an index of ours (wrong magic)
    OtherVersion,  // an index of another format version
    Damaged,       // truncated, corrupt (a checksum or a bound fails)
    Io,            // reading, writing, creating or replacing failed (errno in ErrorNumber)
    Usage,         // the caller asked for something the index cannot do
  };
  TIndexError(TKind kind, const std::string& message, int errorNumber = 0)
      : std::runtime_error(message), Kind(kind), ErrorNumber(errorNumber) {}
  TKind Kind;
  int ErrorNumber;
};

// One entry as the result store keeps it, without its folder. The views point into the
// caller's (writer) or the mapped file's (reader) memory.
struct TIndexEntry {
  std::string_view Name;  // the name's bytes: not empty, no NUL byte
  int64_t Size = 0;       // bytes; negative when it could not be read
  double DateTime = 0.0;  // local time, days since 1899-12-30 (os/dos_time.h); NaN when unreadable
  uint32_t Attr = 0;      // attribute bits as listed (os/file_attr.h), other bits kept
};

// A part of the location whose entries were gathered, and dated, together: the
// location itself, a server, a share, a top folder. Path is written as a location
// ("/home/ann", "\\srv", "\\srv\share": no trailing separator). An entry belongs to
// the innermost section whose Path contains its folder (index_location.h); the location
// itself is always a section.
struct TIndexSection {
  std::string Path;
  int64_t IndexedAtMs = 0;   // when its entries were gathered: Unix time, milliseconds, UTC
  bool CarriedOver = false;  // this update could not search it: entries and time are the
                             // previous index's
  uint64_t Entries = 0;      // entries in it (filled when the file is written)
};

// A mount point below a local location as the crawl's walk saw it (the walk enters a
// mount point unless it holds a pseudo file system; with one-file-system queries only
// when it is on the start's device).
struct TIndexMount {
  std::string Folder;      // as the walk writes it: the location, "/", names; no trailing "/"
  uint64_t Device = 0;     // st_dev of the mounted file system's root
  bool Pseudo = false;     // a pseudo file system (os/pseudo_fs.h): the crawl did not enter it
};

// What an index says about itself.
struct TIndexInfo {
  std::string Location;          // the indexed location's identity (index_location.h)
  int64_t CrawlStartedMs = 0;    // Unix time, milliseconds, UTC
  int64_t CrawlEndedMs = 0;
  // The exclusion masks and the one-file-system choice the crawl searched with. An
  // index can answer exactly only queries that exclude at least as much
  // (TIndexQuery::Inexact).
  std::string CrawlExclude;
  bool CrawlOneFileSystem = false;
  uint64_t RootDevice = 0;       // a local location: st_dev of the location's folder; else 0
  // Filled by the reader:
  uint64_t EntryCount = 0;
  uint64_t FolderCount = 0;
  uint64_t FileBytes = 0;        // the file's size on disk
};
