#pragma once
// The network enumeration calls, over SMB: the entire network holds one provider
// (kSmbProviderName); the provider holds the workgroups that NetBIOS browsing or host
// discovery finds, every server connected for this run, and the discovered machines that
// belong to no workgroup; a workgroup holds its servers (\\HOST), browsed or discovered,
// but those connected; each machine is listed once (network_hosts.h). An IPv4 range in
// CIDR form ("10.1.2.0/24") is a container too: it holds every address in it that
// answers on the SMB port, as \\ADDRESS. A server holds its disk shares (\\HOST\share,
// connectable; printer, IPC and "$" shares are left out). Opening a share (or a folder
// below one) checks that it can be read and yields the share itself as its only,
// connectable, entry, so that access problems are reported; the folder's listing, read
// for that check, goes to whoever walks it next (WNetTakeCheckedListing).
//
// A listing of the provider that succeeded may still have something for the error log
// (a discovery source that is absent): WNetCloseEnum then returns ERROR_EXTENDED_ERROR
// with that text.
//
// The calls may be made from any thread; a handle is used by one thread at a time. A
// handle lists what the container held when it was opened.
#include <cstdint>
#include <string>
#include <vector>

#include "discovery/range_probe.h"
#include "os/dir_listing.h"
#include "os/net_errors.h"
#include "os/netresource.h"
#include "smb/smb_credentials.h"

struct TNetEnum;
using HNETENUM = TNetEnum*;

// Bytes that one record takes in an enumeration buffer besides its strings (four numbers
// and four string references), and the count that asks for as many entries as fit.
inline constexpr uint32_t kNetResourceRecordSize = 32;
inline constexpr uint32_t kEnumAllEntries = 0xFFFFFFFF;

// Opens an enumeration of the container lpNetResource (nullptr: the entire network) and
// lists it. dwScope must be RESOURCE_GLOBALNET and dwType RESOURCETYPE_ANY or
// RESOURCETYPE_DISK. Returns NO_ERROR and the handle in *lphEnum, or the failure:
// ERROR_BAD_NETPATH (host unreachable), ERROR_ACCESS_DENIED, ERROR_BAD_NET_NAME (no such
// share), ERROR_NO_NETWORK, ERROR_NOT_CONTAINER, ERROR_EXTENDED_ERROR (text by
// WNetGetLastErrorA on the same thread), ...
uint32_t WNetOpenEnumA(uint32_t dwScope, uint32_t dwType, uint32_t dwUsage,
                       const NETRESOURCEA* lpNetResource, HNETENUM* lphEnum);

// Moves the next entries into *lpBuffer (replacing its contents): at most *lpcCount of
// them, and no more than fit into *lpBufferSize bytes when each takes
// kNetResourceRecordSize plus its present strings with their terminating zeros.
// On NO_ERROR *lpcCount is the number given; further calls give the rest. Returns
// ERROR_NO_MORE_ITEMS when none is left, and ERROR_MORE_DATA with the size needed in
// *lpBufferSize when the next entry alone does not fit.
uint32_t WNetEnumResourceA(HNETENUM hEnum, uint32_t* lpcCount, std::vector<NETRESOURCEA>* lpBuffer,
                           uint32_t* lpBufferSize);

// Ends the enumeration and frees the handle. ERROR_INVALID_HANDLE for nullptr;
// ERROR_EXTENDED_ERROR when the listing left a notice (see above).
uint32_t WNetCloseEnum(HNETENUM hEnum);

// The listing of the share or share folder that the enumeration hEnum was opened on, read
// to its end while opening it checked the folder; null for any other container, and after
// the first call. It may be read on any thread. A walk of that folder starts from it
// rather than list the folder a second time (on a slow link, four round trips).
std::unique_ptr<TDirListing> WNetTakeCheckedListing(HNETENUM hEnum);

// The container record of an address range: listing it probes every address in it.
NETRESOURCEA AddressRangeResource(const TIpv4Range& range);

// Closes an enumeration handle when it goes out of scope, unless Close was called.
class TNetEnumGuard {
 public:
  explicit TNetEnumGuard(HNETENUM handle) : Handle(handle) {}
  ~TNetEnumGuard() {
    if (Handle != nullptr) WNetCloseEnum(Handle);
  }
  TNetEnumGuard(const TNetEnumGuard&) = delete;
  TNetEnumGuard& operator=(const TNetEnumGuard&) = delete;
  // Closes now and returns WNetCloseEnum's result.
  uint32_t Close() {
    HNETENUM handle = Handle;
    Handle = nullptr;
    return WNetCloseEnum(handle);
  }

 private:
  HNETENUM Handle;
};

// Connects remoteName (\\host or \\host\share) with credentials for this run and checks
// them against the server (no silent fall-back to anonymous). On failure the earlier
// credentials of that name, if any, stay in force. The host is then listed under the
// provider. Returns NO_ERROR, ERROR_BAD_NETPATH, ERROR_LOGON_FAILURE,
// ERROR_ACCESS_DENIED, ERROR_BAD_NET_NAME, ERROR_INVALID_PARAMETER (not such a name), ...
uint32_t SmbConnect(const std::string& remoteName, const TSmbCredentials& credentials);

// Forgets what SmbConnect stored for remoteName. ERROR_NOT_CONNECTED when nothing was.
uint32_t SmbDisconnect(const std::string& remoteName);

// The remote names connected for this run: "\\host" for each connected host.
std::vector<std::string> SmbConnectedServers();
