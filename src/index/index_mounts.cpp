#include "index/index_mounts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "os/pseudo_fs.h"

namespace {

// A mount point as mountinfo writes it: space, tab, newline and backslash as octal
// escapes.
std::string Unescaped(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string digits = field.substr(i + 1, 3);
      if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string::npos) {
        out += static_cast<char>(std::strtol(digits.c_str(), nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

}  // namespace

std::vector<TIndexMount> ReadMountsBelow(const std::string& location, uint64_t& rootDevice) {
  std::vector<TIndexMount> mounts;
  rootDevice = 0;
  struct stat info {};
  if (stat(location.c_str(), &info) == 0) rootDevice = static_cast<uint64_t>(info.st_dev);
  char real[PATH_MAX];
  if (!realpath(location.c_str(), real)) return mounts;
  std::string realRoot = real;
  if (realRoot.back() != '/') realRoot += '/';
  std::string written = location;
  while (written.size() > 1 && written.back() == '/') written.pop_back();
  std::ifstream table("/proc/self/mountinfo");
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point;
    if (!(fields >> id >> parent >> device >> root >> point)) continue;
    const std::string absolute = Unescaped(point);
    if (absolute.size() <= realRoot.size() || absolute.compare(0, realRoot.size(), realRoot) != 0) continue;
    TIndexMount mount;
    mount.Folder = (written == "/" ? "" : written) + "/" + absolute.substr(realRoot.size());
    while (mount.Folder.size() > 1 && mount.Folder.back() == '/') mount.Folder.pop_back();
    const int fd = open(absolute.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      struct stat mounted {};
      if (fstat(fd, &mounted) == 0) {
        mount.Device = static_cast<uint64_t>(mounted.st_dev);
        mount.Pseudo = IsPseudoFileSystem(fd, mounted.st_dev);
      }
      close(fd);
    }
    // A later line for the same point is a mount over it: the one a walk sees.
    bool replaced = false;
    for (TIndexMount& earlier : mounts)
      if (earlier.Folder == mount.Folder) {
        earlier = mount;
        replaced = true;
      }
    if (!replaced) mounts.push_back(std::move(mount));
  }
  return mounts;
}
