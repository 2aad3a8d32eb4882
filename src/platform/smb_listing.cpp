#include "platform/smb_listing.h"

#include <sys/stat.h>

#include "platform/dos_time.h"
#include "platform/net_errors.h"
#include "platform/smb_client.h"
#include "platform/smb_library.h"
#include "platform/smb_path.h"

namespace {

// A folder on a share, read with readdirplus2: each entry arrives with the attribute bits
// the server keeps, its 64-bit size, its modification time and its file id, so no entry
// needs a further request. The directory is closed on the thread's own context.
class TSmbDirListing final : public TDirListing {
 public:
  TSmbDirListing(SMBCCTX* ctx, SMBCFILE* dir) : Context(ctx), Dir(dir) {}
  ~TSmbDirListing() override { Smbc().smbc_getFunctionClosedir(Context)(Context, Dir); }
  TSmbDirListing(const TSmbDirListing&) = delete;
  TSmbDirListing& operator=(const TSmbDirListing&) = delete;

  bool Next(TDirEntry& entry) override {
    struct stat status {};
    const libsmb_file_info* info = Smbc().smbc_getFunctionReaddirPlus2(Context)(Context, Dir, &status);
    if (info == nullptr || info->name == nullptr) return false;
    entry = TDirEntry{};
    entry.Name = info->name;
    entry.Attr = info->attrs;
    entry.KnownAttr = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive;
    entry.Detailed = true;
    entry.Size = static_cast<int64_t>(info->size);
    entry.DosTime = UnixTimeToDosDateTime(info->mtime_ts.tv_sec);
    entry.FileId = static_cast<uint64_t>(status.st_ino);  // the server's file id
    return true;
  }

  void Detail(TDirEntry& entry) override { entry.Detailed = true; }

 private:
  SMBCCTX* const Context;
  SMBCFILE* const Dir;
};

}  // namespace

std::unique_ptr<TDirListing> OpenSmbDirListing(const std::string& uncFolder) {
  std::optional<TUncName> name = ParseUncName(uncFolder);
  if (!name || name->Share.empty()) return nullptr;
  SMBCCTX* ctx = nullptr;
  SMBCFILE* dir = nullptr;
  if (OpenSmbFolder(*name, &ctx, &dir) != NO_ERROR) return nullptr;
  return std::make_unique<TSmbDirListing>(ctx, dir);
}
