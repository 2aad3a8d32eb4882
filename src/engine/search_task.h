#pragma once
// The unit of search work: one folder to walk (Path set) or one network container to
// enumerate (Path empty, NetResource set), with the criteria that decide which entries
// are results. A task has exactly one holder at a time (page, then manager queue, then
// worker); PSearchTask makes that a compile-time fact.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "os/dir_listing.h"
#include "os/file_attr.h"
#include "os/mount_points.h"
#include "os/netresource.h"

// What decides which entries are results. Every task of one search carries the same.
struct TSearchCriteria {
  std::string Mask;          // one or more masks separated by ";" or ","
  uint32_t FileAttr = 0;     // permitted attribute bits
  int64_t FileSizeFrom = 0;  // bytes, effective only when > 0 (settings use -1 for none)
  int64_t FileSizeTo = 0;    // bytes, effective only when > 0
  int32_t FileTimeType = 0;  // 0 modified, 1 created; carried along, not consulted
  double FileTimeFrom = 0.0; // effective only when != 0.0
  double FileTimeTo = 0.0;   // effective only when != 0.0
  // Masks of names left out, separated by ";" or ",": a file whose name matches one is
  // no result, a folder whose name matches one is neither a result nor walked. Empty:
  // nothing is left out.
  std::string Exclude;
  // Local folders: a walk does not cross into another file system than its start's.
  bool OneFileSystem = false;
};

// The criteria of a record that names them as TSearchCriteria does (a page's settings,
// the command line's options), with mask as the Mask.
template <class TRecord>
TSearchCriteria CriteriaOf(std::string mask, const TRecord& record) {
  return {std::move(mask),    record.FileAttr,     record.FileSizeFrom, record.FileSizeTo,
          record.FileTimeType, record.FileTimeFrom, record.FileTimeTo,   record.Exclude};
}

struct TWalkRules;

struct TSearchTask : TSearchCriteria {
  PNetResource NetResource;  // the container of a network task; nil in a folder task
  std::string Path;          // the folder of a folder task, no trailing separator
  // The open parent folder of a local sub-folder task, which Path's last name is opened
  // relative to; null for the root task, network tasks, and when none could be kept open.
  POpenFolder ParentFolder;
  // A network folder task: the file ids of the folders it lies in on its share, outermost
  // first, as far as their listings told them. A sub-folder with one of these ids (or
  // the id of the folder itself) is the same folder reached again through a link.
  std::vector<uint64_t> AncestorFileIds;
  // The mount points below the local folder where the walk started, so that it sees
  // where it enters another file system (a pseudo file system is never entered, nor any
  // with OneFileSystem). Null for the start itself, which is always entered, and for
  // network tasks. Every folder task of one walk shares it.
  std::shared_ptr<const TMountPoints> MountPoints;
  // A folder task whose folder was listed already (a share that the network task which
  // found it opened to check it): that listing, to walk instead of listing the folder
  // again. Null otherwise.
  std::unique_ptr<TDirListing> Listed;
  // A folder task's masks and filter compiled, made by the walk's first folder and
  // shared by every folder task below it; null until then.
  std::shared_ptr<const TWalkRules> Rules;

  TSearchCriteria& Criteria() { return *this; }
  const TSearchCriteria& Criteria() const { return *this; }
};
using PSearchTask = std::unique_ptr<TSearchTask>;

// A child task of source: the same criteria, no NetResource, an empty Path and no
// ParentFolder. The caller then sets Path (a folder child) or
// NetResource (a network child). The child shares nothing with source.
PSearchTask CopyTask(const TSearchTask& source);
