#include "platform/dir_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/dos_time.h"
#include "platform/smb_listing.h"

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

// A local folder read with readdir; details come from fstatat relative to the open
// folder, so a long path is resolved once.
class TLocalDirListing final : public TDirListing {
 public:
  explicit TLocalDirListing(DIR* dir) : Dir(dir) {}
  ~TLocalDirListing() override { closedir(Dir); }
  TLocalDirListing(const TLocalDirListing&) = delete;
  TLocalDirListing& operator=(const TLocalDirListing&) = delete;

  bool Next(TDirEntry& entry) override {
    const dirent* raw = readdir(Dir);
    if (raw == nullptr) return false;
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
    if (fstatat(dirfd(Dir), entry.Name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (S_ISLNK(info.st_mode)) {
      entry.IsLink = true;
      struct stat target {};
      if (fstatat(dirfd(Dir), entry.Name.c_str(), &target, 0) == 0) info = target;
    }
    entry.Attr = AttrFromMode(info.st_mode) | (entry.Attr & kAttrHidden);
    entry.KnownAttr = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive;
    // Only a regular file has a size of its own; a folder's st_size is the size of its
    // index on disk, which no size bound or size column should see (shares report 0 too).
    entry.Size = S_ISREG(info.st_mode) ? static_cast<int64_t>(info.st_size) : 0;
    entry.DosTime = UnixTimeToDosDateTime(info.st_mtim.tv_sec);
  }

 private:
  DIR* const Dir;
};

}  // namespace

bool IsUncPath(const std::string& path) { return path.size() >= 2 && path[0] == '\\' && path[1] == '\\'; }

char PathSeparatorOf(const std::string& folder) { return IsUncPath(folder) ? '\\' : '/'; }

std::unique_ptr<TDirListing> OpenDirListing(const std::string& folder) {
  if (IsUncPath(folder)) return OpenSmbDirListing(folder);
  const std::string path = folder.empty() ? std::string(".") : folder;
  // opendir opens with O_DIRECTORY | O_CLOEXEC itself: no extra fstat or fcntl per folder.
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return nullptr;
  return std::make_unique<TLocalDirListing>(dir);
}
