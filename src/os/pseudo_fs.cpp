#include "os/pseudo_fs.h"

#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <cstring>

namespace {

// Types not named in <linux/magic.h>.
constexpr long kConfigFsMagic = 0x62656570;
constexpr long kFuseCtlMagic = 0x65735543;
constexpr long kMqueueMagic = 0x19800202;
constexpr long kRpcPipeFsMagic = 0x67596969;

bool IsPseudoType(long type) {
  switch (type) {
    case PROC_SUPER_MAGIC: case SYSFS_MAGIC: case DEVPTS_SUPER_MAGIC: case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC: case DEBUGFS_MAGIC: case TRACEFS_MAGIC: case SECURITYFS_MAGIC:
    case PSTOREFS_MAGIC: case BPF_FS_MAGIC: case kConfigFsMagic: case kFuseCtlMagic:
    case kMqueueMagic: case BINFMTFS_MAGIC: case NSFS_MAGIC: case SELINUX_MAGIC:
    case SMACK_MAGIC: case EFIVARFS_MAGIC: case kRpcPipeFsMagic:
      return true;
    default:
      return false;
  }
}

// Whether the memory file system on device is the device file system: its mount in
// /proc/self/mountinfo ("ID PARENT MAJOR:MINOR ROOT MOUNTPOINT OPTIONS ... - TYPE ...")
// has type devtmpfs or is mounted on /dev. Read only when a walk enters a memory file
// system, which is rare.
bool IsDeviceFileSystem(dev_t device) {
  std::FILE* mounts = std::fopen("/proc/self/mountinfo", "re");
  if (mounts == nullptr) return false;
  bool found = false;
  char line[4096];
  while (!found && std::fgets(line, sizeof line, mounts) != nullptr) {
    unsigned major = 0, minor = 0;
    char mountPoint[1024] = "";
    if (std::sscanf(line, "%*s %*s %u:%u %*s %1023s", &major, &minor, mountPoint) != 3) continue;
    if (makedev(major, minor) != device) continue;
    const char* separator = std::strstr(line, " - ");
    char type[64] = "";
    if (separator != nullptr) std::sscanf(separator + 3, "%63s", type);
    found = std::strcmp(type, "devtmpfs") == 0 || std::strcmp(mountPoint, "/dev") == 0;
  }
  std::fclose(mounts);
  return found;
}

}  // namespace

bool IsPseudoFileSystem(int folderFd, dev_t device) {
  struct statfs info {};
  if (fstatfs(folderFd, &info) != 0) return false;
  if (IsPseudoType(static_cast<long>(info.f_type))) return true;
  return info.f_type == TMPFS_MAGIC && IsDeviceFileSystem(device);
}
