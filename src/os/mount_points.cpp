#include "os/mount_points.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

// A mount point field of mountinfo: space, tab, newline and backslash come as \ooo.
std::string Unescaped(const std::string& field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3') {
      text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

std::string WithSeparator(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

std::shared_ptr<const TMountPoints> TMountPoints::ForWalkFrom(const std::string& start, uint64_t device) {
  auto points = std::make_shared<TMountPoints>();
  points->Start = WithSeparator(start.empty() ? std::string(".") : start);
  points->Device = device;
  char resolved[PATH_MAX];
  if (realpath(points->Start.c_str(), resolved) == nullptr) return points;
  points->RealStart = WithSeparator(resolved);
  std::FILE* table = std::fopen("/proc/self/mountinfo", "re");
  if (table == nullptr) return points;
  char line[4096];
  char mountPoint[PATH_MAX];
  while (std::fgets(line, sizeof line, table) != nullptr) {
    // ID PARENT MAJOR:MINOR ROOT MOUNTPOINT ...
    if (std::sscanf(line, "%*s %*s %*s %*s %4095s", mountPoint) == 1)
      points->Points.insert(Unescaped(mountPoint));
  }
  std::fclose(table);
  return points;
}

bool TMountPoints::IsMountPoint(const std::string& folder) const {
  if (RealStart.empty() || Points.empty() || folder.size() <= Start.size()) return false;
  if (folder.compare(0, Start.size(), Start) != 0) return false;
  std::string real = RealStart;
  real.append(folder, Start.size(), std::string::npos);
  while (real.size() > 1 && real.back() == '/') real.pop_back();
  return Points.count(real) != 0;
}
