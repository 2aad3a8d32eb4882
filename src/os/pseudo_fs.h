#pragma once
// File systems that the kernel makes up to show its own state (processes, devices,
// control groups, tracing, ...). They hold no files a user keeps, some are endless or
// block when read, and a walk into them only produces noise, so local searches do not
// descend into them.
#include <sys/types.h>

// Whether the open folder folderFd (which lies on device) is on such a file system:
// proc, sysfs, devpts, cgroup and cgroup2, debugfs, tracefs, securityfs, pstore, bpf,
// configfs, fusectl, mqueue, binfmt_misc, nsfs, selinuxfs, smackfs, efivarfs, rpc_pipefs
// by their file-system type; and the device file system, which reports the type of a
// memory file system, by its mount (type "devtmpfs", or a memory file system mounted on
// /dev). False when the folder cannot be inspected.
bool IsPseudoFileSystem(int folderFd, dev_t device);
