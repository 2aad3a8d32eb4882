#pragma once
// TFileThread: the folder walker. It lists its task's folder once (not the sub-folders),
// or takes the listing the task carries (TSearchTask::Listed), and makes one pass over
// that listing per mask of the task's mask list, in order. An entry that passes the
// filter and a mask becomes a result, delivered once, by the first mask it matches. Once the folder is listed, every sub-folder (hidden ones included,
// links to folders excepted) goes back to the manager as a new task, whether or not it is
// a result itself: all of them in one batch, in listing order, before the first pass, so
// that idle workers can start on them at once. A malformed mask ends the run before the
// folder is listed.
//
// A folder that cannot be listed, or whose listing stops before its end, gets one line
// in the error log with its name and the reason; what was listed of it is still walked.
// On a share whose connection failed the folder is listed once more, on a new
// connection, before it is given up.
//
// Reading an entry's size, time and read-only bit costs a stat, so it is read only when
// the filter needs it for an entry whose name matches, or for a result of a store that
// wants details (TResultManager::DetailsWanted). Without details a result carries only
// the attribute bits known from the listing itself.
//
// On a share a server-side link may lead back to a folder above it, and the server
// follows it: such a sub-folder (the same file id as the folder or one it lies in) is a
// result like any other but is not walked, and neither is a sub-folder whose name would
// pass kMaxNetworkPath characters. Each one cut gets one line in the error log.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/entry_filter.h"
#include "engine/masks.h"
#include "engine/search_thread.h"
#include "os/dir_listing.h"

// A walk's masks and filter, compiled by the first folder task and shared by every folder
// task below it: the text is the same for all of them, so no folder compiles it again.
struct TWalkRules {
  std::vector<TMask> Masks;  // in the order of the task's mask list; never empty
  TEntryFilter Filter;
};

class TFileThread final : public TSearchThread {
 public:
  using TSearchThread::TSearchThread;
  ~TFileThread() override;

  // Results are offered to the store whenever this many wait in the batch.
  static constexpr int32_t kDeliveryBatch = 128;
  // The longest network folder name that is walked (the longest path the SMB protocol's
  // clients accept).
  static constexpr size_t kMaxNetworkPath = 32767;

 protected:
  void Run() override;

 private:
  // One pass, with the mask at MaskIndex, over folder (which ends with its separator).
  // The first pass lists the folder; later passes reuse that listing.
  void WalkFolder(const std::string& folder);
  // The filter and the mask at MaskIndex; cheap tests first, a stat only when needed.
  bool IsMatch(TDirEntry& entry);
  bool IsSubFolder(TDirEntry& entry);
  // Lists folder into Entries (first pass only) and logs a failure to list it, listing a
  // share folder once more when its connection failed. False when there is nothing to
  // walk (not listable, or a file system the walk does not enter); Listing is then null.
  bool ListFolder(const std::string& folder);
  // Reads the rest of listing into Entries; failure := the listing's failure.
  void ReadListing(TDirListing& listing, TListingFailure& failure);
  // Hands every sub-folder of the listing to the manager in one batch. First pass only.
  void QueueSubFolders(const std::string& folder);
  // Whether a sub-folder of a network folder is walked: not when it is a folder it lies
  // in, reached again, nor past the longest path; a cut one is logged. An accepted child
  // gets the file ids of its ancestors.
  bool AcceptNetworkChild(const TDirEntry& entry, TSearchTask& child);
  // Whether the walk enters the folder just opened: always at its start (where it reads
  // the mount table for the walk) and on the same file system; at a mount point only
  // into one that holds files, and with OneFileSystem only onto the start's own.
  bool EntersFileSystem();

  int32_t MaskIndex = 0;
  const TWalkRules* Rules = nullptr;     // the task's, set when Run starts
  std::unique_ptr<TDirListing> Listing;  // the folder's one listing; null when unlistable
  // The listing's entries, without "." and "..": the running thread's own vector, whose
  // room is kept from folder to folder.
  std::vector<TDirEntry> Entries;
  std::vector<bool> Delivered;           // per entry: an earlier pass made it a result
  TPathRef FolderPath;                   // shared by every result of this folder
  uint64_t OwnFileId = 0;                // the folder's file id, from its "." entry
};
