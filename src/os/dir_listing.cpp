#include "os/dir_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "os/dos_time.h"
#include "os/pseudo_fs.h"

namespace {

// Attribute bits of a local file from its mode: directory; read-only when the owner may
// not write; system for anything that is neither a regular file nor a directory.
uint32_t AttrFromMode(mode_t mode) {
  uint32_t attr = 0;
  if (S_ISDIR(mode)) attr |= kAttrDirectory;
  else if (!S_ISREG(mode)) attr |= kAttrSystem;
  if ((mode & S_IWUSR) == 0) attr |= kAttrReadOnly;
  return attr;
}

// Folders open in the process, and how many it may keep open for sub-folders still to
// be listed: a quarter of the descriptor limit, so that saving a file or opening a
// connection never finds none left.
std::atomic<int> OpenFolderCount{0};

// Read anew each time (one cheap call per folder with sub-folders): a limit lowered
// while the process runs must lower this too, or the folders kept open could take every
// descriptor and leave the walks waiting for one another.
int OpenFolderLimit() {
  rlimit descriptors{};
  if (getrlimit(RLIMIT_NOFILE, &descriptors) != 0 || descriptors.rlim_cur == RLIM_INFINITY) return 1024;
  return static_cast<int>(std::clamp<rlim_t>(descriptors.rlim_cur / 4, 1, 1024));
}

constexpr int kOpenFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

// The last name of folder, without the separator folder may end with.
std::string LastName(const std::string& folder) {
  size_t end = folder.size();
  while (end > 0 && folder[end - 1] == '/') --end;
  const size_t slash = folder.rfind('/', end == 0 ? 0 : end - 1);
  const size_t begin = slash == std::string::npos ? 0 : slash + 1;
  return end > begin ? folder.substr(begin, end - begin) : std::string();
}

// Closes fd without changing errno (the caller reports the error of an earlier call).
void CloseKeepingErrno(int fd) {
  const int saved = errno;
  close(fd);
  errno = saved;
}

// Opens path one name at a time, each relative to the folder before it: how a path
// longer than the kernel's limit is opened.
int OpenNameByName(const std::string& path) {
  int fd = open(path[0] == '/' ? "/" : ".", kOpenFlags);
  size_t begin = 0;
  while (fd >= 0 && begin < path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    if (end > begin) {
      const int next = openat(fd, path.substr(begin, end - begin).c_str(), kOpenFlags);
      CloseKeepingErrno(fd);
      fd = next;
    }
    begin = end + 1;
  }
  return fd;
}

}  // namespace

void ReserveFolderDescriptors() {
  rlimit descriptors{};
  if (getrlimit(RLIMIT_NOFILE, &descriptors) != 0) return;
  const rlim_t wanted = static_cast<rlim_t>(OpenFolderLimit()) + 64;  // and those already open
  const rlim_t highest = descriptors.rlim_cur == RLIM_INFINITY ? wanted : std::min(wanted, descriptors.rlim_cur - 1);
  const int probe = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (probe < 0) return;
  // A duplicate at the highest number makes the table that large; the numbers stay free.
  const int high = fcntl(probe, F_DUPFD_CLOEXEC, static_cast<int>(highest));
  if (high >= 0) close(high);
  close(probe);
}

class TOpenFolder {
 public:
  explicit TOpenFolder(int fd) : Fd(fd) { OpenFolderCount.fetch_add(1, std::memory_order_relaxed); }
  ~TOpenFolder() {
    close(Fd);
    OpenFolderCount.fetch_sub(1, std::memory_order_relaxed);
  }
  TOpenFolder(const TOpenFolder&) = delete;
  TOpenFolder& operator=(const TOpenFolder&) = delete;

  const int Fd;
};

namespace {

int OpenLocalFolder(const std::string& folder, const TOpenFolder* parent) {
  if (parent != nullptr) {
    const std::string name = LastName(folder);
    if (!name.empty() && name != "." && name != "..") {
      const int fd = openat(parent->Fd, name.c_str(), kOpenFlags | O_NOFOLLOW);
      if (fd >= 0 || (errno != EMFILE && errno != ENFILE)) return fd;
    }
  }
  const std::string path = folder.empty() ? std::string(".") : folder;
  const int fd = open(path.c_str(), kOpenFlags);
  if (fd >= 0 || errno != ENAMETOOLONG) return fd;
  return OpenNameByName(path);
}

// OpenLocalFolder, waiting while the process has no descriptor left: walks on other
// threads close theirs as their folders end, so a folder is never given up for that
// alone before kDescriptorWaitMs have passed.
int OpenLocalFolderWaiting(const std::string& folder, const TOpenFolder* parent) {
  auto pause = std::chrono::milliseconds(1);
  auto waited = std::chrono::milliseconds(0);
  for (;;) {
    const int fd = OpenLocalFolder(folder, parent);
    if (fd >= 0 || (errno != EMFILE && errno != ENFILE) || waited.count() >= kDescriptorWaitMs) return fd;
    std::this_thread::sleep_for(pause);
    waited += pause;
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

// A local folder read straight from the kernel in large blocks (no stdio-like directory
// stream, which would stat the folder and query its flags first); details come from
// fstatat relative to the open folder.
class TLocalDirListing final : public TDirListing {
 public:
  explicit TLocalDirListing(std::shared_ptr<TOpenFolder> folder)
      : Open(std::move(folder)), Block(new char[kBlockSize]) {}
  TLocalDirListing(const TLocalDirListing&) = delete;
  TLocalDirListing& operator=(const TLocalDirListing&) = delete;

  bool Next(TDirEntry& entry) override {
    while (Offset >= Filled) {
      if (AtEnd) return false;
      const ssize_t read = getdents64(Open->Fd, Block.get(), kBlockSize);
      if (read <= 0) {
        if (read < 0) {
          Stopped.Reason = std::strerror(errno);
          Stopped.EndedEarly = true;
        }
        AtEnd = true;
        return false;
      }
      Filled = static_cast<size_t>(read);
      Offset = 0;
    }
    const auto* raw = reinterpret_cast<const dirent64*>(Block.get() + Offset);
    Offset += raw->d_reclen;
    entry = TDirEntry{};
    entry.Name = raw->d_name;
    if (!entry.Name.empty() && entry.Name[0] == '.') entry.Attr |= kAttrHidden;
    entry.KnownAttr = kAttrHidden | kAttrArchive;  // archive is never set on local files
    switch (raw->d_type) {
      case DT_DIR:
        entry.Attr |= kAttrDirectory;
        entry.KnownAttr |= kAttrDirectory | kAttrSystem;
        break;
      case DT_REG:
        entry.KnownAttr |= kAttrDirectory | kAttrSystem;
        break;
      case DT_LNK:
        // What a link shows is its target's, known only after a stat; it is never walked.
        entry.IsLink = true;
        break;
      case DT_UNKNOWN:
        break;
      default:  // device, socket, FIFO
        entry.Attr |= kAttrSystem;
        entry.KnownAttr |= kAttrDirectory | kAttrSystem;
        break;
    }
    return true;
  }

  void Detail(TDirEntry& entry) override {
    if (entry.Detailed) return;
    entry.Detailed = true;
    struct stat info {};
    // A link shows what it points to; a dangling link shows itself.
    if (fstatat(Open->Fd, entry.Name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      entry.Unreadable = true;
      return;
    }
    if (S_ISLNK(info.st_mode)) {
      entry.IsLink = true;
      struct stat target {};
      if (fstatat(Open->Fd, entry.Name.c_str(), &target, 0) == 0) info = target;
    }
    entry.Attr = AttrFromMode(info.st_mode) | (entry.Attr & kAttrHidden);
    entry.KnownAttr = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive;
    // Only a regular file has a size of its own; a folder's st_size is the size of its
    // index on disk, which no size bound or size column should see (shares report 0 too).
    entry.Size = S_ISREG(info.st_mode) ? static_cast<int64_t>(info.st_size) : 0;
    entry.DosTime = UnixTimeToDosDateTime(info.st_mtim.tv_sec);
  }

  POpenFolder Folder() override {
    if (OpenFolderCount.load(std::memory_order_relaxed) > OpenFolderLimit()) return nullptr;
    return Open;
  }

  uint64_t Device() override {
    struct stat info {};
    return fstat(Open->Fd, &info) == 0 ? static_cast<uint64_t>(info.st_dev) : 0;
  }

  bool OnPseudoFileSystem() override {
    struct stat info {};
    return fstat(Open->Fd, &info) == 0 && IsPseudoFileSystem(Open->Fd, info.st_dev);
  }

 private:
  // One block holds the entries of most folders, so a listing is usually two reads: the
  // entries, then the end.
  static constexpr size_t kBlockSize = 32 * 1024;

  const std::shared_ptr<TOpenFolder> Open;
  const std::unique_ptr<char[]> Block;
  size_t Filled = 0;  // bytes of Block holding entries
  size_t Offset = 0;  // the next entry's place in Block
  bool AtEnd = false;
};

}  // namespace

bool IsUncPath(const std::string& path) { return path.size() >= 2 && path[0] == '\\' && path[1] == '\\'; }

char PathSeparatorOf(const std::string& folder) { return IsUncPath(folder) ? '\\' : '/'; }

std::unique_ptr<TDirListing> OpenLocalDirListing(const std::string& folder, const POpenFolder& parent,
                                                 TListingFailure* failure) {
  const int fd = OpenLocalFolderWaiting(folder, parent.get());
  if (fd < 0) {
    const int error = errno;
    if (failure != nullptr) *failure = TListingFailure{std::strerror(error)};
    errno = error;
    return nullptr;
  }
  return std::make_unique<TLocalDirListing>(std::make_shared<TOpenFolder>(fd));
}
