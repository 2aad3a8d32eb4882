#pragma once
// The unit of search work: one folder to walk (Path set) or one network container to
// enumerate (Path empty, NetResource set), with the criteria that decide which entries
// are results. A task has exactly one holder at a time (page, then manager queue, then
// worker); PSearchTask makes that a compile-time fact.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/dir_listing.h"
#include "platform/netresource.h"

// Attribute bits tested by the filter.
inline constexpr uint32_t faReadOnly = 0x01;
inline constexpr uint32_t faHidden = 0x02;
inline constexpr uint32_t faSysFile = 0x04;
inline constexpr uint32_t faVolumeID = 0x08;
inline constexpr uint32_t faDirectory = 0x10;
inline constexpr uint32_t faArchive = 0x20;

struct TSearchTask {
  PNetResource NetResource;  // the container of a network task; nil in a folder task
  std::string Path;          // the folder of a folder task, no trailing separator
  std::string Mask;          // one or more masks separated by ";" or ","
  uint32_t FileAttr = 0;     // permitted attribute bits
  int64_t FileSizeFrom = 0;  // bytes, effective only when > 0 (settings use -1 for none)
  int64_t FileSizeTo = 0;    // bytes, effective only when > 0
  int32_t FileTimeType = 0;  // 0 modified, 1 created; carried along, not consulted
  double FileTimeFrom = 0.0; // effective only when != 0.0
  double FileTimeTo = 0.0;   // effective only when != 0.0
  // The open parent folder of a local sub-folder task, which Path's last name is opened
  // relative to; null for the root task, network tasks, and when none could be kept open.
  POpenFolder ParentFolder;
};
using PSearchTask = std::unique_ptr<TSearchTask>;

// A child task of source: the same Mask and criteria (FileAttr through FileTimeTo), no
// NetResource, an empty Path and no ParentFolder. The caller then sets Path (a folder child) or
// NetResource (a network child). The child shares nothing with source.
PSearchTask CopyTask(const TSearchTask& source);
