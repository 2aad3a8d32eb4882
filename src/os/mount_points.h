#pragma once
// Where a walk of local folders crosses into another file system. Reading every
// folder's device would cost a stat per folder; instead the mount table is read once
// when a walk starts, and only the folders it names are looked at more closely.
//
// Mounts made while a walk runs are not seen by it. Immutable once made: any thread.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

class TMountPoints {
 public:
  // The mount points of this process (from /proc/self/mountinfo), for a walk that starts
  // at start (a local folder, as the walk writes it) on the file system device. Never
  // null; without a readable table no folder is a mount point.
  static std::shared_ptr<const TMountPoints> ForWalkFrom(const std::string& start, uint64_t device);

  // Whether folder, a path below the walk's start as the walk writes it (the start, its
  // separator, then names), is where another file system is mounted.
  bool IsMountPoint(const std::string& folder) const;
  uint64_t StartDevice() const { return Device; }

 private:
  std::string Start;      // the start as written, ending with "/"
  std::string RealStart;  // the same folder with links resolved, ending with "/"
  uint64_t Device = 0;
  std::unordered_set<std::string> Points;  // absolute, no trailing "/"
};
