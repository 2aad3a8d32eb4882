#pragma once
// The listing of one folder: its entries with name, attribute bits, 64-bit size and
// last-write time as a packed local DOS date-time. Local folders are POSIX paths; folders
// whose path begins with two backslashes are UNC folders, listed by the SMB layer
// (smb/smb_listing.h). network/folder_listing.h opens either kind.
//
// Reading a local entry's size, time or read-only bit costs a stat, so a listing may hand
// out entries whose details are not filled yet; Detail fills them on demand. Cheap bits
// (directory, hidden, system) are known as soon as the entry is read.
//
// A local folder stays open while its sub-folders wait to be listed (TOpenFolder), and
// each sub-folder is opened by its own name relative to it: the kernel resolves one name
// instead of the whole path, and folders whose full path is longer than the system's
// path limit are listed like any other.
//
// A folder that cannot be listed, or whose listing stops before its end, says why
// (TListingFailure): a walk reports it rather than lose the folder without a word.
#include <cstdint>
#include <memory>
#include <string>

#include "os/file_attr.h"


struct TDirEntry {
  std::string Name;
  uint32_t Attr = 0;       // attribute bits; only those in KnownAttr are settled
  uint32_t KnownAttr = 0;  // which of the five tested bits Attr already settles
  bool Detailed = false;   // Size, DosTime and every bit of Attr are filled
  bool IsLink = false;     // a symbolic link: listed, never walked into
  bool Unreadable = false; // Detailed, but its details could not be read (it vanished,
                           // or no access): Size and DosTime mean nothing
  int64_t Size = 0;        // valid when Detailed
  uint32_t DosTime = 0;    // packed local DOS date-time; valid when Detailed
  uint64_t FileId = 0;     // a share's id of the file, the same for every name that
                           // reaches it (a server-side link); 0 when not known

  // True when the entry is a folder that a walk may descend into: a real directory, not
  // a link to one. Needs the directory bit settled (Detail it first when it is not).
  bool IsWalkableFolder() const { return (Attr & kAttrDirectory) != 0 && !IsLink; }
};

// Why a folder could not be listed, or could not be listed to its end.
struct TListingFailure {
  std::string Reason;       // the system's or the server's message; empty: no failure
  bool EndedEarly = false;  // the listing began, and stopped before its end
  bool Retryable = false;   // a lost or failed connection: listing again may succeed

  bool Failed() const { return !Reason.empty(); }
};

// An open local folder, shared by the listings of its sub-folders that are still to be
// opened; the descriptor closes with the last holder. Any thread may open a sub-folder
// relative to it while another reads the folder's own listing.
class TOpenFolder;
using POpenFolder = std::shared_ptr<const TOpenFolder>;

// An open listing. Not thread-safe: one thread reads it. Destroying it closes it (the
// folder itself stays open while someone holds Folder()).
class TDirListing {
 public:
  virtual ~TDirListing() = default;
  // Reads the next entry into entry ("." and ".." included, as the platform lists them).
  // False at the end of the listing or when it cannot be read further; Failure() then
  // tells which.
  virtual bool Next(TDirEntry& entry) = 0;
  // After Next returned false: Failed() when the listing stopped before its end (the
  // entries read until then are sound); no failure at the real end.
  const TListingFailure& Failure() const { return Stopped; }
  // Fills an entry read from this listing: size, time and every attribute bit, and
  // marks it Detailed. An entry that vanished keeps what is known and is marked Detailed and
  // Unreadable.
  virtual void Detail(TDirEntry& entry) = 0;
  // The open folder, to open sub-folders relative to; null for a network folder, and
  // when the process already keeps as many folders open as it allows itself (a quarter
  // of its descriptor limit, at most 1024): the sub-folders are then opened by path.
  virtual POpenFolder Folder() { return nullptr; }

  // The device of the listed folder's file system; 0 when unknown (network folders).
  // Costs one stat.
  virtual uint64_t Device() { return 0; }
  // Whether the listed folder lies on a pseudo file system (os/pseudo_fs.h).
  virtual bool OnPseudoFileSystem() { return false; }

 protected:
  TListingFailure Stopped;  // set by Next when the listing stops before its end
};

// Opens a local folder for listing. The folder may end with its separator or not.
// nullptr when it cannot be listed (missing, not a folder, no access); errno and, when
// given, *failure then say why. With parent (the Folder() of the listing of
// folder's parent), the folder's last name is opened relative to parent; a link is then
// never followed. Without one, or when that fails for want of descriptors, the path is
// opened, name by name from the root when it is longer than the path limit. When the
// process has no descriptor left, the open waits for one (other walks close theirs as
// their folders end), up to kDescriptorWaitMs, before it fails.
inline constexpr int kDescriptorWaitMs = 10000;
std::unique_ptr<TDirListing> OpenLocalDirListing(const std::string& folder, const POpenFolder& parent = nullptr,
                                                 TListingFailure* failure = nullptr);

// Grows the process's descriptor table at once to hold every folder that walks may keep
// open. Growing it while several threads run makes the growing thread wait for a grace
// period of the kernel (milliseconds each time, several times in a large walk); a process
// calls this at start, while it has one thread, where growing it costs nothing.
void ReserveFolderDescriptors();

// True for a UNC path (two leading backslashes).
bool IsUncPath(const std::string& path);

// The separator of the paths below folder: "\" for UNC, "/" for local folders.
char PathSeparatorOf(const std::string& folder);

