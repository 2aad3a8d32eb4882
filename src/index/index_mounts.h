#pragma once
// The mount points below a local location, read as a walk of it reads them when it
// starts (os/mount_points.h): from this process's mount table, written as the walk
// writes paths (the location as given, then the names below it).
#include <string>
#include <vector>

#include "index/index_types.h"

// The mounts strictly below location, each with its device and whether it holds a
// pseudo file system. Empty when the table cannot be read. rootDevice gets location's
// own device (0 when it cannot be read).
std::vector<TIndexMount> ReadMountsBelow(const std::string& location, uint64_t& rootDevice);
