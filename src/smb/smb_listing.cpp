#include "smb/smb_listing.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "os/dos_time.h"
#include "os/net_error_text.h"
#include "os/net_errors.h"
#include "smb/smb_client.h"
#include "smb/smb_library.h"
#include "smb/smb_path.h"

namespace {

// A failure to open or read a share folder, with the message of code.
TListingFailure FailureOf(uint32_t code, bool endedEarly) {
  TListingFailure failure;
  failure.Reason = GetNetErrorMessage(code).value_or("error " + std::to_string(code));
  if (failure.Reason.empty()) failure.Reason = "error " + std::to_string(code);
  failure.EndedEarly = endedEarly;
  // A refusal or a missing name stays what it is; anything else may be the connection.
  failure.Retryable = code != ERROR_ACCESS_DENIED && code != ERROR_LOGON_FAILURE && code != ERROR_BAD_NET_NAME &&
                      code != ERROR_DIRECTORY && code != ERROR_NOT_ENOUGH_MEMORY && code != ERROR_INVALID_PARAMETER;
  return failure;
}

// A folder on a share. The library reads the whole listing when the folder is opened;
// each entry arrives with the attribute bits the server keeps, its 64-bit size and its
// modification time, so no entry needs a further request. The directory is closed on the
// thread's own context.
//
// Only folders need their file id (a walk compares it with the ids of the folders above
// to find links that lead back), and the library's one call that gives it re-parses the
// folder's URL and settles the credentials again for every entry: about half of the
// client's CPU time on a share of small folders. So the listing is read twice in memory:
// once to learn which entries are folders, then from its start again, asking for the id
// only of those.
class TSmbDirListing final : public TDirListing {
 public:
  TSmbDirListing(SMBCCTX* ctx, SMBCFILE* dir, TUncName name) : Context(ctx), Dir(dir), Name(std::move(name)) {
    auto readdirplus = Smbc().smbc_getFunctionReaddirPlus(Context);
    while (const libsmb_file_info* info = readdirplus(Context, Dir))  // ".." is never walked
      IsFolder.push_back((info->attrs & kAttrDirectory) != 0 && info->name != nullptr &&
                         std::strcmp(info->name, "..") != 0);
    Smbc().smbc_getFunctionLseekdir(Context)(Context, Dir, 0);  // back to the first entry
  }
  ~TSmbDirListing() override { Smbc().smbc_getFunctionClosedir(Context)(Context, Dir); }
  TSmbDirListing(const TSmbDirListing&) = delete;
  TSmbDirListing& operator=(const TSmbDirListing&) = delete;

  bool Next(TDirEntry& entry) override {
    if (Position >= IsFolder.size()) return false;
    const bool folder = IsFolder[Position++];
    struct stat status {};
    errno = 0;
    const libsmb_file_info* info =
        Smbc().smbc_getFunctionReaddirPlus2(Context)(Context, Dir, folder ? &status : nullptr);
    if (info == nullptr || info->name == nullptr) {
      // The first pass counted more entries than this one could read.
      Stopped = FailureOf(errno != 0 ? NetErrorFromErrno(errno) : ERROR_BAD_NETPATH, true);
      ForgetSmbConnection(Name);
      Position = IsFolder.size();
      return false;
    }
    entry = TDirEntry{};
    entry.Name = info->name;
    entry.Attr = info->attrs;
    entry.KnownAttr = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive;
    entry.Detailed = true;
    entry.Size = static_cast<int64_t>(info->size);
    entry.DosTime = UnixTimeToDosDateTime(info->mtime_ts.tv_sec);
    if (folder) entry.FileId = static_cast<uint64_t>(status.st_ino);  // the server's file id
    return true;
  }

  void Detail(TDirEntry& entry) override { entry.Detailed = true; }

 private:
  SMBCCTX* const Context;
  SMBCFILE* const Dir;
  const TUncName Name;
  std::vector<bool> IsFolder;  // per entry, in listing order
  size_t Position = 0;         // the entry Next reads
};

// A listing read to its end beforehand, replayed from memory.
class TReadDirListing final : public TDirListing {
 public:
  TReadDirListing(std::vector<TDirEntry> entries, const TListingFailure& failure) : Entries(std::move(entries)) {
    Stopped = failure;
  }

  bool Next(TDirEntry& entry) override {
    if (Position >= Entries.size()) return false;
    entry = std::move(Entries[Position++]);
    return true;
  }

  void Detail(TDirEntry& entry) override { entry.Detailed = true; }

 private:
  std::vector<TDirEntry> Entries;
  size_t Position = 0;  // the entry Next hands out
};

}  // namespace

uint32_t ReadSmbDirListing(const TUncName& name, std::unique_ptr<TDirListing>& listing) {
  listing.reset();
  SMBCCTX* ctx = nullptr;
  SMBCFILE* dir = nullptr;
  if (const uint32_t code = OpenSmbFolder(name, &ctx, &dir); code != NO_ERROR) return code;
  TSmbDirListing open(ctx, dir, name);
  std::vector<TDirEntry> entries;
  TDirEntry entry;
  while (open.Next(entry)) entries.push_back(std::move(entry));
  listing = std::make_unique<TReadDirListing>(std::move(entries), open.Failure());
  return NO_ERROR;
}

std::unique_ptr<TDirListing> OpenSmbDirListing(const std::string& uncFolder, TListingFailure* failure) {
  std::optional<TUncName> name = ParseUncName(uncFolder);
  if (!name || name->Share.empty()) {
    if (failure != nullptr) *failure = FailureOf(ERROR_BAD_NET_NAME, false);
    return nullptr;
  }
  SMBCCTX* ctx = nullptr;
  SMBCFILE* dir = nullptr;
  if (const uint32_t code = OpenSmbFolder(*name, &ctx, &dir); code != NO_ERROR) {
    if (failure != nullptr) *failure = FailureOf(code, false);
    return nullptr;
  }
  return std::make_unique<TSmbDirListing>(ctx, dir, std::move(*name));
}
