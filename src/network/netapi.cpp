#include "network/netapi.h"


#include <algorithm>
#include <cerrno>

#include "network/network_hosts.h"
#include "smb/smb_client.h"
#include "smb/smb_library.h"
#include "smb/smb_listing.h"
#include "smb/smb_path.h"
#include "smb/smb_probe.h"

struct TNetEnum {
  std::vector<NETRESOURCEA> Entries;
  size_t Next = 0;
  // What the listing wants said in the error log though it succeeded (a discovery source
  // that is absent); WNetCloseEnum reports it as the extended error.
  std::string Notice;
  // The checked folder's listing, for an enumeration of a share or a folder on one.
  std::unique_ptr<TDirListing> CheckedListing;
};

namespace {

constexpr uint16_t kSmbRangePort = 445;

NETRESOURCEA MakeEntry(uint32_t type, uint32_t displayType, uint32_t usage, std::string remoteName,
                       const char* comment) {
  NETRESOURCEA entry;
  entry.dwScope = RESOURCE_GLOBALNET;
  entry.dwType = type;
  entry.dwDisplayType = displayType;
  entry.dwUsage = usage;
  entry.lpRemoteName = std::move(remoteName);
  if (comment != nullptr && *comment != '\0') entry.lpComment = std::string(comment);
  entry.lpProvider = std::string(kSmbProviderName);
  return entry;
}

uint32_t EntrySize(const NETRESOURCEA& entry) {
  uint32_t size = kNetResourceRecordSize;
  for (const auto* text : {&entry.lpLocalName, &entry.lpRemoteName, &entry.lpComment, &entry.lpProvider})
    if (text->has_value()) size += static_cast<uint32_t>((*text)->size() + 1);
  return size;
}

// Reads every entry of the open directory dir on ctx, keeping those of smbcType, and closes it.
void ReadEntries(SMBCCTX* ctx, SMBCFILE* dir, unsigned smbcType,
                 const std::function<void(const smbc_dirent&)>& keep) {
  auto readdir = Smbc().smbc_getFunctionReaddir(ctx);
  while (const smbc_dirent* entry = readdir(ctx, dir))
    if (entry->smbc_type == smbcType) keep(*entry);
  Smbc().smbc_getFunctionClosedir(ctx)(ctx, dir);
}

// Opens name on this thread's context and hands the open directory to use, which must
// close it. Returns the failure, if any.
uint32_t OpenOnThreadContext(const TUncName& name, const std::function<void(SMBCCTX*, SMBCFILE*)>& use) {
  SMBCCTX* ctx = nullptr;
  SMBCFILE* dir = nullptr;
  uint32_t code = OpenSmbFolder(name, &ctx, &dir);
  if (code == NO_ERROR) use(ctx, dir);
  return code;
}

uint32_t ListShares(const TUncName& server, std::vector<NETRESOURCEA>& entries) {
  uint32_t code = NO_ERROR;
  WithShareListingLock([&] {
    code = OpenOnThreadContext(server, [&](SMBCCTX* ctx, SMBCFILE* dir) {
      ReadEntries(ctx, dir, SMBC_FILE_SHARE, [&](const smbc_dirent& entry) {
        std::string share(entry.name);
        if (share.empty() || share.back() == '$') return;
        entries.push_back(MakeEntry(RESOURCETYPE_DISK, RESOURCEDISPLAYTYPE_SHARE, RESOURCEUSAGE_CONNECTABLE,
                                    UncText({server.Host, share, {}}), entry.comment));
      });
    });
  });
  return code;
}

// A share (or a folder below one) is its own single entry once it can be opened. Opening
// it reads its whole listing anyway, which is kept for the walk that follows.
uint32_t CheckShare(const TUncName& share, const NETRESOURCEA& record, std::vector<NETRESOURCEA>& entries,
                    std::unique_ptr<TDirListing>& listing) {
  if (uint32_t code = ReadSmbDirListing(share, listing); code != NO_ERROR) return code;
  NETRESOURCEA entry = record;
  entry.dwUsage = RESOURCEUSAGE_CONNECTABLE;
  entry.lpRemoteName = UncText(share);
  if (!entry.lpProvider) entry.lpProvider = std::string(kSmbProviderName);
  entries.push_back(std::move(entry));
  return NO_ERROR;
}

// The notes of a gathering as one line for the error log.
std::string JoinNotes(const std::vector<std::string>& notes) {
  std::string text;
  for (const std::string& note : notes) text += (text.empty() ? "" : " ") + note;
  return text;
}

NETRESOURCEA ServerEntry(const std::string& name, const std::string& comment) {
  return MakeEntry(RESOURCETYPE_ANY, RESOURCEDISPLAYTYPE_SERVER, RESOURCEUSAGE_CONTAINER, "\\\\" + name,
                   comment.c_str());
}

// The workgroups that browsing finds, then those only discovery knows; every server
// connected for this run; then every discovered machine that belongs to no workgroup.
uint32_t ListProvider(std::vector<NETRESOURCEA>& entries, std::string& notice) {
  TNetworkView view = GatherNetwork({});
  std::vector<std::string> groups;
  auto addGroup = [&](const std::string& name, const std::string& comment) {
    for (const std::string& known : groups)
      if (AsciiLower(known) == AsciiLower(name)) return;
    groups.push_back(name);
    entries.push_back(MakeEntry(RESOURCETYPE_ANY, RESOURCEDISPLAYTYPE_DOMAIN, RESOURCEUSAGE_CONTAINER, name,
                                comment.c_str()));
  };
  for (const TBrowsedName& workgroup : view.Workgroups) addGroup(workgroup.Name, workgroup.Comment);
  bool listed = !view.Workgroups.empty();
  for (const TNetworkHost& host : view.Hosts)
    if (host.ConnectedName.empty() && !host.Workgroup.empty()) addGroup(host.Workgroup, {}), listed = true;
  for (const std::string& server : SmbConnectedServers()) {
    entries.push_back(MakeEntry(RESOURCETYPE_ANY, RESOURCEDISPLAYTYPE_SERVER, RESOURCEUSAGE_CONTAINER, server,
                                nullptr));
    listed = true;
  }
  for (const TNetworkHost& host : view.Hosts) {
    if (!host.ConnectedName.empty() || !host.Workgroup.empty()) continue;
    entries.push_back(ServerEntry(ListedServerName(host, view.Hosts), {}));
    listed = true;
  }
  notice = JoinNotes(view.Notes);
  // Most networks no longer answer NetBIOS browsing: with servers found otherwise, that
  // is no failure.
  return listed ? NO_ERROR : view.BrowseCode;
}

// A workgroup or domain: its servers from browsing, then those that discovery places in
// it. A connected server is listed under the provider already; listed here too, a search
// of the network would walk it twice.
uint32_t ListWorkgroup(const std::string& workgroup, std::vector<NETRESOURCEA>& entries) {
  TNetworkView view = GatherNetwork(workgroup);
  std::vector<std::string> connected = SmbConnectedServers();
  for (std::string& server : connected) server = AsciiLower(server);
  bool listed = false;
  for (const TBrowsedName& server : view.Servers) {
    if (std::find(connected.begin(), connected.end(), AsciiLower("\\\\" + server.Name)) != connected.end())
      continue;
    entries.push_back(ServerEntry(server.Name, server.Comment));
    listed = true;
  }
  for (const TNetworkHost& host : view.Hosts) {
    if (!host.ConnectedName.empty() || (host.Sources & kFoundByNetbios) || host.Workgroup.empty() ||
        AsciiLower(host.Workgroup) != AsciiLower(workgroup))
      continue;
    entries.push_back(ServerEntry(ListedServerName(host, view.Hosts), {}));
    listed = true;
  }
  return listed ? NO_ERROR : view.BrowseCode;
}

}  // namespace

NETRESOURCEA AddressRangeResource(const TIpv4Range& range) {
  NETRESOURCEA record;
  record.dwScope = RESOURCE_GLOBALNET;
  record.dwType = RESOURCETYPE_DISK;
  record.dwDisplayType = RESOURCEDISPLAYTYPE_DOMAIN;
  record.dwUsage = RESOURCEUSAGE_CONTAINER;
  record.lpRemoteName = range.Text;
  record.lpProvider = std::string(kSmbProviderName);
  return record;
}

namespace {

// An address range: every address that answers on the SMB port is a server.
uint32_t ListRange(const TIpv4Range& range, std::vector<NETRESOURCEA>& entries) {
  for (const std::string& address : ProbeTcpAddresses(RangeAddresses(range), kSmbRangePort))
    entries.push_back(ServerEntry(address, {}));
  return NO_ERROR;
}

// A name stored as an empty string counts as absent: the settings hive keeps strings only,
// so the entire network saved as a default location reads back with "" names.
bool IsAbsentName(const std::optional<std::string>& name) { return !name || name->empty(); }

bool IsEntireNetwork(const NETRESOURCEA* record) {
  return record == nullptr || (IsAbsentName(record->lpRemoteName) && IsAbsentName(record->lpProvider));
}

bool IsProvider(const NETRESOURCEA& record) {
  return record.dwDisplayType == RESOURCEDISPLAYTYPE_NETWORK ||
         (record.lpRemoteName && *record.lpRemoteName == kSmbProviderName);
}

uint32_t ListContainer(const NETRESOURCEA* record, TNetEnum& listed) {
  std::vector<NETRESOURCEA>& entries = listed.Entries;
  if (IsEntireNetwork(record)) {
    NETRESOURCEA provider = MakeEntry(RESOURCETYPE_ANY, RESOURCEDISPLAYTYPE_NETWORK, RESOURCEUSAGE_CONTAINER,
                                      kSmbProviderName, nullptr);
    entries.push_back(std::move(provider));
    return NO_ERROR;
  }
  if (!IsAbsentName(record->lpProvider) && *record->lpProvider != kSmbProviderName) return ERROR_BAD_NETPATH;
  if (IsProvider(*record)) return ListProvider(entries, listed.Notice);
  const std::string remote = record->lpRemoteName.value_or("");
  if (std::optional<TUncName> name = ParseUncName(remote)) {
    if (name->Share.empty()) return ListShares(*name, entries);
    return CheckShare(*name, *record, entries, listed.CheckedListing);
  }
  if (std::optional<TIpv4Range> range = ParseIpv4Range(remote)) return ListRange(*range, entries);
  if (remote.empty() || remote.find_first_of("\\/") != std::string::npos) return ERROR_NOT_CONTAINER;
  return ListWorkgroup(remote, entries);
}

}  // namespace

uint32_t WNetOpenEnumA(uint32_t dwScope, uint32_t dwType, uint32_t /*dwUsage*/,
                       const NETRESOURCEA* lpNetResource, HNETENUM* lphEnum) {
  if (lphEnum == nullptr) return ERROR_INVALID_ADDRESS;
  *lphEnum = nullptr;
  if (dwScope != RESOURCE_GLOBALNET) return ERROR_NOT_SUPPORTED;
  if (dwType != RESOURCETYPE_ANY && dwType != RESOURCETYPE_DISK) return ERROR_NOT_SUPPORTED;
  auto handle = std::make_unique<TNetEnum>();
  if (uint32_t code = ListContainer(lpNetResource, *handle); code != NO_ERROR)
    return code;
  *lphEnum = handle.release();
  return NO_ERROR;
}

uint32_t WNetEnumResourceA(HNETENUM hEnum, uint32_t* lpcCount, std::vector<NETRESOURCEA>* lpBuffer,
                           uint32_t* lpBufferSize) {
  if (hEnum == nullptr) return ERROR_INVALID_HANDLE;
  if (lpcCount == nullptr || lpBuffer == nullptr || lpBufferSize == nullptr) return ERROR_INVALID_ADDRESS;
  lpBuffer->clear();
  if (hEnum->Next >= hEnum->Entries.size()) {
    *lpcCount = 0;
    return ERROR_NO_MORE_ITEMS;
  }
  uint32_t used = 0;
  while (hEnum->Next < hEnum->Entries.size() && lpBuffer->size() < *lpcCount) {
    NETRESOURCEA& entry = hEnum->Entries[hEnum->Next];
    uint32_t size = EntrySize(entry);
    if (used + size > *lpBufferSize) break;
    used += size;
    lpBuffer->push_back(std::move(entry));
    ++hEnum->Next;
  }
  if (lpBuffer->empty()) {
    *lpBufferSize = EntrySize(hEnum->Entries[hEnum->Next]);
    return ERROR_MORE_DATA;
  }
  *lpcCount = static_cast<uint32_t>(lpBuffer->size());
  return NO_ERROR;
}

std::unique_ptr<TDirListing> WNetTakeCheckedListing(HNETENUM hEnum) {
  if (hEnum == nullptr) return nullptr;
  return std::move(hEnum->CheckedListing);
}

uint32_t WNetCloseEnum(HNETENUM hEnum) {
  if (hEnum == nullptr) return ERROR_INVALID_HANDLE;
  std::string notice = std::move(hEnum->Notice);
  delete hEnum;
  return notice.empty() ? NO_ERROR : SetExtendedNetError(0, notice);
}

uint32_t SmbConnect(const std::string& remoteName, const TSmbCredentials& credentials) {
  std::optional<TUncName> name = ParseUncName(remoteName);
  if (!name || !name->Rest.empty()) return ERROR_INVALID_PARAMETER;
  SMBCCTX* ctx = SmbThreadContext();
  if (ctx == nullptr) return ERROR_NO_NETWORK;
  // Credentials go where the name resolves, never to an address that discovery gave it.
  SetSmbHostAddress(name->Host, {});
  if (uint32_t code = ProbeSmbHost(name->Host); code != NO_ERROR) return code;

  TSmbCredentials previous = LookupSmbCredentials(name->Host, name->Share);
  bool hadPrevious = RemoveSmbCredentials(name->Host, name->Share);
  SetSmbCredentials(name->Host, name->Share, credentials);

  // Without this the library would quietly try anonymous access after a refused password.
  Smbc().smbc_setOptionNoAutoAnonymousLogin(ctx, 1);
  std::string url = SmbUrl(*name);
  SMBCFILE* dir = nullptr;
  int error = 0;
  auto open = [&] {
    error = SmbConnectingCall(name->Host, [&] {
      dir = Smbc().smbc_getFunctionOpendir(ctx)(ctx, url.c_str());
      return dir != nullptr ? 0 : errno;
    });
  };
  if (name->Share.empty()) WithShareListingLock(open);
  else open();
  Smbc().smbc_setOptionNoAutoAnonymousLogin(ctx, 0);

  if (dir != nullptr) {
    Smbc().smbc_getFunctionClosedir(ctx)(ctx, dir);
    return NO_ERROR;
  }
  RemoveSmbCredentials(name->Host, name->Share);
  if (hadPrevious) SetSmbCredentials(name->Host, name->Share, previous);
  // Refused while listing a server's shares can only be the user name or password.
  if (name->Share.empty() && (error == EACCES || error == EPERM)) return ERROR_LOGON_FAILURE;
  return NetErrorFromErrno(error);
}

uint32_t SmbDisconnect(const std::string& remoteName) {
  std::optional<TUncName> name = ParseUncName(remoteName);
  if (!name || !name->Rest.empty()) return ERROR_INVALID_PARAMETER;
  return RemoveSmbCredentials(name->Host, name->Share) ? NO_ERROR : ERROR_NOT_CONNECTED;
}

std::vector<std::string> SmbConnectedServers() {
  std::vector<std::string> servers;
  for (const std::string& host : ConnectedSmbHosts()) servers.push_back("\\\\" + host);
  return servers;
}
