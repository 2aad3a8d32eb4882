#pragma once
// The process's SMB client over libsmbclient: one-time set-up, and the contexts that the
// network calls use.
//
// Set-up (SmbInitialize) installs thread hooks into the library (without them, contexts
// on several threads corrupt each other's memory), points the library at a private
// configuration so the host's smb.conf has no say, silences its debug output and turns
// Kerberos off. Call it once at start-up while the process has one thread; the first use
// of a context does it otherwise.
//
// Each thread gets its own context on first use; it keeps its server connections
// for the next folder and is freed when the thread ends. Workgroup and server browsing
// needs SMB1 and has one shared context of its own, used under a lock.
//
// Every context answers authentication from the credentials connected for the server or
// share (smb_credentials.h), and anonymously otherwise. Nothing ever prompts.
#include <cstdint>
#include <functional>
#include <string>

#include "smb/smb_path.h"

typedef struct _SMBCCTX SMBCCTX;
typedef struct _SMBCFILE SMBCFILE;

struct TSmbClientOptions {
  // Interfaces whose broadcast addresses NetBIOS browsing and name queries may use, in
  // smb.conf syntax ("127.0.0.1/8"); empty means every interface.
  std::string Interfaces;
  // Order of name resolution methods in smb.conf syntax; empty keeps the library's order.
  std::string NameResolveOrder;
  // How long one request may wait for a server that accepted the connection, in ms.
  int RequestTimeoutMs = 5000;
};

// Sets the client up with options. Only the first call has an effect; returns false when
// the library could not be set up (every network call then fails with ERROR_NO_NETWORK).
bool SmbInitialize(const TSmbClientOptions& options = {});

// The options the client was set up with (defaults before SmbInitialize ran).
const TSmbClientOptions& SmbClientOptions();

// This thread's SMB2/3 context, created on first use; nullptr when the library could not
// be set up. The pointer stays valid until the thread ends; use it on this thread only.
SMBCCTX* SmbThreadContext();

// Runs call with the shared browsing context (nullptr when it could not be made), holding
// the browse lock, with new connections limited to SMB1 (workgroup and server lists exist
// only there) and no other connection being opened meanwhile.
void WithSmbBrowseContext(const std::function<void(SMBCCTX*)>& call);

// Runs call holding the share-listing lock. Listing a server's shares goes through an RPC
// pipe that the library does not keep apart between threads, so such listings never
// overlap. Lock order: share-listing lock, then the first-use lock inside.
void WithShareListingLock(const std::function<void()>& call);

// Runs call, a call on this thread's context that may open a new connection to host (an
// opendir): never while browsing has narrowed the protocols to SMB1, and never alongside
// another such call on any thread (setting up a connection uses process-wide state of the
// C library). call returns 0 or the errno of its failure, and so does this. New
// connections speak SMB2 or 3 from their first request; a host that speaks only SMB1 is
// set up with SMB1 allowed as well, alone (once a set-up that may have failed for want of
// SMB1 has worked so, the host is noted: smb_probe.h). OpenSmbFolder sets up connections
// the same way, alongside each other where that is safe.
int SmbConnectingCall(const std::string& host, const std::function<int()>& call);

// Opens the folder name (\\host\share[\dir]) or the share list of \\host on this
// thread's context, after probing the host. A folder on a server given as an address may
// set up its thread's connection alongside other threads' set-ups, once the process's
// first connection is up (libc_shims.h); every other set-up goes through
// SmbConnectingCall. On NO_ERROR *ctx and *dir are set and the
// caller closes dir on that context; otherwise the failure (ERROR_BAD_NETPATH for an
// unreachable host, the errno mapping of net_errors.h, ERROR_NO_NETWORK without client).
// A failure of the connection (not a refusal or a missing folder) forgets this thread's
// connection to the share (as ForgetSmbConnection).
uint32_t OpenSmbFolder(const TUncName& name, SMBCCTX** ctx, SMBCFILE** dir);

// Forgets that this thread's context holds a connection to name's share, after a
// listing on it failed: the next open there is set up as a new connection would be
// (SmbConnectingCall), since the library may reconnect on it.
void ForgetSmbConnection(const TUncName& name);
