#include "smb/smb_client.h"

#include <arpa/inet.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "os/atomic_file.h"
#include "os/net_errors.h"
#include "smb/libc_shims.h"
#include "smb/smb_credentials.h"
#include "smb/smb_library.h"
#include "smb/smb_probe.h"

namespace {

int CreateMutex(const char*, void** pplock, const char*) {
  auto* mutex = new (std::nothrow) pthread_mutex_t;
  if (mutex == nullptr) return ENOMEM;
  pthread_mutex_init(mutex, nullptr);
  *pplock = mutex;
  return 0;
}

void DestroyMutex(void* plock, const char*) {
  auto* mutex = static_cast<pthread_mutex_t*>(plock);
  pthread_mutex_destroy(mutex);
  delete mutex;
}

int LockMutex(void* plock, smb_thread_lock_type lockType, const char*) {
  auto* mutex = static_cast<pthread_mutex_t*>(plock);
  return lockType == SMB_THREAD_UNLOCK ? pthread_mutex_unlock(mutex) : pthread_mutex_lock(mutex);
}

int CreateTls(const char*, void** ppkey, const char*) {
  auto* key = new (std::nothrow) pthread_key_t;
  if (key == nullptr) return ENOMEM;
  int result = pthread_key_create(key, nullptr);
  if (result != 0) {
    delete key;
    return result;
  }
  *ppkey = key;
  return 0;
}

void DestroyTls(void** ppkey, const char*) {
  if (*ppkey == nullptr) return;
  auto* key = static_cast<pthread_key_t*>(*ppkey);
  pthread_key_delete(*key);
  delete key;
  *ppkey = nullptr;
}

// The library may read or write a thread-local value before it has created the value's
// key (the key is then null). Such a value is kept in a slot of the calling thread, so it
// stays per thread either way.
thread_local void* UncreatedKeyValue = nullptr;

int SetTls(void* pkey, const void* pval, const char*) {
  if (pkey == nullptr) {
    UncreatedKeyValue = const_cast<void*>(pval);
    return 0;
  }
  return pthread_setspecific(*static_cast<pthread_key_t*>(pkey), pval);
}

void* GetTls(void* pkey, const char*) {
  if (pkey == nullptr) return UncreatedKeyValue;
  return pthread_getspecific(*static_cast<pthread_key_t*>(pkey));
}

const smb_thread_functions kThreadFunctions = {CreateMutex, DestroyMutex, LockMutex, CreateTls,
                                               DestroyTls,  SetTls,       GetTls};

// The library's log lines would otherwise land on the terminal; nobody reads them.
void DropLogLine(void*, int, const char*) {}

// Before it reuses a connection the library checks it with an echo, a round trip, when
// the connection has not answered one for a while (the request timeout), and always at
// its first reuse after the set-up. OpenSmbFolder sets TrustReusedConnection for a call on
// a connection that has just answered, its set-up or a listing: the check then takes it as
// alive without asking the server, as the library does after an echo. A connection that
// failed is forgotten (TThreadContext::Connected), so its next use is checked again.
thread_local bool TrustReusedConnection = false;
std::atomic<smbc_check_server_fn> LibraryCheckServer{nullptr};  // the library's own check

int CheckReusedServer(SMBCCTX* ctx, SMBCSRV* server) {
  if (TrustReusedConnection) return 0;  // 0: the connection is good
  return LibraryCheckServer.load(std::memory_order_relaxed)(ctx, server);
}

// Sets TrustReusedConnection for one call.
struct TTrustReusedConnection {
  explicit TTrustReusedConnection(bool trust) { TrustReusedConnection = trust; }
  ~TTrustReusedConnection() { TrustReusedConnection = false; }
  TTrustReusedConnection(const TTrustReusedConnection&) = delete;
  TTrustReusedConnection& operator=(const TTrustReusedConnection&) = delete;
};

// Lock order: ShareListingLock -> ProtocolLock (shared) -> NewConnectionLock, and
// ShareListingLock -> ProtocolLock (exclusive, WithSmb1Allowed), and ProtocolLock
// (shared) -> ContextLock, and BrowseLock -> ProtocolLock (exclusive) -> ContextLock.
// ContextLock guards creating, initialising and freeing contexts (the library's global
// state is not safe for that in parallel); it is never held during network I/O. Browsing
// rewrites that global state during its I/O, so creating and freeing a thread's context
// also hold ProtocolLock shared.
std::mutex ContextLock;
// The library keeps the protocol range of new connections in process-wide settings, not
// per context. Browsing narrows the range to SMB1, and a set-up for a server that speaks
// only SMB1 widens it (WithSmb1Allowed), each while holding ProtocolLock exclusively;
// every other call that may open a connection holds it shared.
std::shared_mutex ProtocolLock;
// The range new connections use: SMB2's own negotiate, one round trip. A range that
// starts at SMB1 opens every connection with an SMB1 negotiate, which an SMB2 server
// answers only to be asked again in SMB2.
constexpr const char* kLowestProtocol = "SMB2_02";
constexpr const char* kHighestProtocol = "SMB3";
constexpr const char* kSmb1Protocol = "NT1";
// Held for every call that may open a new connection on a thread's context, unless
// SetUpMayOverlap says that set-up may run alongside others. Calls on a connection the
// thread already holds run in parallel. Owned by nobody; held only during such a call.
std::mutex NewConnectionLock;
// Set once a connection has been set up, which the process's first set-up does alone: the
// library initialises some of its process-wide state on first use.
std::atomic<bool> FirstConnectionDone{false};
std::mutex ShareListingLock;
std::mutex BrowseLock;
SMBCCTX* BrowseContext = nullptr;  // guarded by BrowseLock

std::once_flag InitOnce;
bool InitOk = false;  // written once under InitOnce
TSmbClientOptions Options;  // written once under InitOnce

// A private folder for the library's state (name cache, locks), owned by this user.
std::string PrivateStateDir() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string base = runtime && *runtime ? std::string(runtime) : std::string("/tmp");
  std::string dir = base + "/lanternquest-smb-" + std::to_string(getuid());
  mkdir(dir.c_str(), 0700);
  struct stat st{};
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
    // Someone else holds that name: use a fresh folder of our own.
    std::string pattern = base + "/lanternquest-smb-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return {};
    dir = pattern;
  }
  for (const char* sub : {"/.smb", "/lock", "/cache", "/state", "/private", "/ncalrpc"})
    mkdir((dir + sub).c_str(), 0700);
  return dir;
}

// Replaces a configuration file whole, so that a library reading it meanwhile never sees
// half of it. Every start writes it anew, so it need not wait for the disk.
bool WriteConfigFile(const std::string& path, const std::string& text) {
  try {
    TAtomicFile out(path);
    out.Write(text);
    out.Commit(TAtomicFile::TDurability::Scratch);
    return true;
  } catch (const TAtomicFileError&) {
    return false;  // the caller goes on with the library's defaults
  }
}

std::string CommonConfig(const std::string& dir) {
  return "[global]\n"
         "  lock directory = " + dir + "/lock\n"
         "  cache directory = " + dir + "/cache\n"
         "  state directory = " + dir + "/state\n"
         "  private dir = " + dir + "/private\n"
         "  ncalrpc dir = " + dir + "/ncalrpc\n"
         "  log level = 0\n"
         "  client use kerberos = off\n"
         "  client min protocol = " + std::string(kLowestProtocol) + "\n";
}

// Gives ctx, fresh from smbc_new_context, the process's settings and initialises it; on
// failure frees it and returns nullptr.
SMBCCTX* InitContext(SMBCCTX* ctx) {
  Smbc().smbc_setDebug(ctx, 0);
  Smbc().smbc_setLogCallback(ctx, nullptr, DropLogLine);
  Smbc().smbc_setOptionUseKerberos(ctx, 0);
  Smbc().smbc_setOptionFallbackAfterKerberos(ctx, 0);
  Smbc().smbc_setOptionUseCCache(ctx, 0);
  Smbc().smbc_setTimeout(ctx, Options.RequestTimeoutMs);
  Smbc().smbc_setUser(ctx, "");
  Smbc().smbc_setFunctionAuthDataWithContext(ctx, AnswerSmbAuth);
  if (LibraryCheckServer.load(std::memory_order_relaxed) == nullptr)
    LibraryCheckServer.store(Smbc().smbc_getFunctionCheckServer(ctx), std::memory_order_relaxed);
  Smbc().smbc_setFunctionCheckServer(ctx, CheckReusedServer);
  if (Smbc().smbc_init_context(ctx) == nullptr) {
    Smbc().smbc_free_context(ctx, 1);
    return nullptr;
  }
  return ctx;
}

SMBCCTX* NewContext() {
  SMBCCTX* ctx = Smbc().smbc_new_context();
  return ctx == nullptr ? nullptr : InitContext(ctx);
}

void InitOnceBody(const TSmbClientOptions& options) {
  Options = options;
  if (SmbLibrary() == nullptr) return;
  Smbc().smb_thread_set_functions(&kThreadFunctions);
  std::string dir = PrivateStateDir();
  if (dir.empty()) return;
  if (!WriteConfigFile(dir + "/.smb/smb.conf", CommonConfig(dir))) return;

  // The library reads $HOME/.smb/smb.conf when it first starts, instead of the host's
  // /etc/samba/smb.conf. HOME is changed only for that moment, before other threads use it.
  const char* oldHome = std::getenv("HOME");
  std::string savedHome = oldHome ? oldHome : "";
  setenv("HOME", dir.c_str(), 1);
  SMBCCTX* probe = Smbc().smbc_new_context();
  if (oldHome) setenv("HOME", savedHome.c_str(), 1); else unsetenv("HOME");
  if (probe == nullptr) return;

  // Per-process choices go in a second file laid over the first.
  std::string extra = "[global]\n";
  if (!options.Interfaces.empty()) extra += "  interfaces = " + options.Interfaces + "\n";
  if (!options.NameResolveOrder.empty())
    extra += "  name resolve order = " + options.NameResolveOrder + "\n";
  std::string extraPath = dir + "/.smb/process-" + std::to_string(getpid()) + ".conf";
  bool ok = WriteConfigFile(extraPath, extra) && Smbc().smbc_setConfiguration(probe, extraPath.c_str()) == 0;
  std::remove(extraPath.c_str());
  // The library drops its whole configuration whenever a context is freed while no
  // initialised context is left, and the next new context reads the host's smb.conf
  // instead. This one is initialised and kept for the life of the process, so the private
  // configuration holds while threads' contexts come and go (and the first thread's
  // context does not read the configuration again).
  if (!ok) {
    Smbc().smbc_free_context(probe, 1);
    return;
  }
  InitOk = InitContext(probe) != nullptr;
}

// Frees this thread's context when the thread ends.
struct TThreadContext {
  SMBCCTX* Context = nullptr;
  bool Failed = false;
  // "host\share" (small letters) of every share on which this context has opened a
  // folder, and so holds a connection to (the library keeps one per server and share),
  // with the time that connection last answered an open.
  std::map<std::string, std::chrono::steady_clock::time_point> Connected;
  ~TThreadContext() {
    if (Context == nullptr) return;
    // Browsing changes the library's global settings during its I/O: never free meanwhile.
    std::shared_lock<std::shared_mutex> protocolGuard(ProtocolLock);
    // Closing a connection waits for the server's answer to its tree disconnect. That is
    // I/O on this context's own connections, as any listing is, so it runs here alongside
    // other threads' ends, not one connection after another under ContextLock; the free
    // below then has nothing left to close.
    Smbc().smbc_getFunctionPurgeCachedServers(Context)(Context);
    std::lock_guard<std::mutex> guard(ContextLock);
    Smbc().smbc_free_context(Context, 1);
  }
};
thread_local TThreadContext ThisThreadContext;

// The key of name's share in TThreadContext::Connected.
std::string ConnectionKey(const TUncName& name) { return AsciiLower(name.Host) + "\\" + AsciiLower(name.Share); }

}  // namespace

bool SmbInitialize(const TSmbClientOptions& options) {
  std::call_once(InitOnce, [&] {
    std::lock_guard<std::mutex> guard(ContextLock);
    InitOnceBody(options);
  });
  return InitOk;
}

const TSmbClientOptions& SmbClientOptions() { return Options; }

SMBCCTX* SmbThreadContext() {
  TThreadContext& holder = ThisThreadContext;
  if (holder.Context != nullptr || holder.Failed) return holder.Context;
  if (!SmbInitialize()) {
    holder.Failed = true;
    return nullptr;
  }
  // Browsing changes the library's global settings during its I/O: never create meanwhile.
  std::shared_lock<std::shared_mutex> protocolGuard(ProtocolLock);
  std::lock_guard<std::mutex> guard(ContextLock);
  holder.Context = NewContext();
  holder.Failed = holder.Context == nullptr;
  return holder.Context;
}

void WithSmbBrowseContext(const std::function<void(SMBCCTX*)>& call) {
  std::lock_guard<std::mutex> browseGuard(BrowseLock);
  if (BrowseContext == nullptr && SmbInitialize()) {
    std::lock_guard<std::mutex> guard(ContextLock);
    BrowseContext = NewContext();
  }
  std::unique_lock<std::shared_mutex> protocolGuard(ProtocolLock);
  if (BrowseContext != nullptr) Smbc().smbc_setOptionProtocols(BrowseContext, kSmb1Protocol, kSmb1Protocol);
  call(BrowseContext);
  if (BrowseContext != nullptr) Smbc().smbc_setOptionProtocols(BrowseContext, kLowestProtocol, kHighestProtocol);
}

void WithShareListingLock(const std::function<void()>& call) {
  std::lock_guard<std::mutex> guard(ShareListingLock);
  call();
}

namespace {

// Whether a new connection for the folder name may be set up alongside other set-ups
// (all of them holding ProtocolLock shared). Set-ups share process-wide state: the C
// library calls that libc_shims.h makes thread-safe, state the library initialises at its
// first connection, and its name cache, a file it reads and writes with no lock between
// threads whenever it resolves a name. So: only once the first connection is up, only
// with the stand-ins in force, only for a server the library is given as an address,
// and only for a folder (a server's share list goes through RPC state of its own).
bool SetUpMayOverlap(const TUncName& name) {
  if (name.Share.empty() || !FirstConnectionDone.load(std::memory_order_acquire)) return false;
  static const bool shims = LibcShimsActive();
  if (!shims) return false;
  std::string host = SmbHostAddress(name.Host);
  if (host.empty()) host = name.Host;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  unsigned char address[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// Runs call on ctx with new connections allowed SMB1 as well as SMB2 and 3, alone: no
// other call that may open a connection runs meanwhile. Returns what call returns.
int WithSmb1Allowed(SMBCCTX* ctx, const std::function<int()>& call) {
  std::unique_lock<std::shared_mutex> protocolGuard(ProtocolLock);
  Smbc().smbc_setOptionProtocols(ctx, kSmb1Protocol, kHighestProtocol);
  const int error = call();
  Smbc().smbc_setOptionProtocols(ctx, kLowestProtocol, kHighestProtocol);
  return error;
}

// Whether a set-up to host that failed with error may have failed for want of SMB1. A
// server that speaks only SMB1 ends a connection that starts with SMB2's negotiate, or
// answers it with something the library cannot read. Neither applies to a host that
// answered its probe in SMB2, and the second only to a host that answered at all (the
// library fails so too on a NetBIOS name that nobody answers).
bool MayWantSmb1(const std::string& host, int error) {
  const TSmbProbeAnswer answer = SmbProbeAnswer(host);
  if (answer == TSmbProbeAnswer::Smb2) return false;
  switch (error) {
    case ECONNABORTED:
    case ECONNRESET:
    case ENETRESET:
    case EPIPE:
    case ESHUTDOWN:
    case EPROTO:
      return true;
    case EINVAL:
      return answer == TSmbProbeAnswer::Other;
    default:
      return false;
  }
}

// Runs call, which may set up a connection to host on ctx and returns 0 or the errno of
// its failure: alongside other set-ups when mayOverlap, else never alongside another. A
// host known to speak only SMB1 is set up with SMB1 allowed; a first failure that may be
// for want of SMB1 is tried once more so, and the host noted when that works.
int SetUpCall(SMBCCTX* ctx, const std::string& host, bool mayOverlap, const std::function<int()>& call) {
  if (IsSmb1OnlyHost(host)) return WithSmb1Allowed(ctx, call);
  int error = 0;
  {
    std::shared_lock<std::shared_mutex> protocolGuard(ProtocolLock);
    std::unique_lock<std::mutex> guard(NewConnectionLock, std::defer_lock);
    if (!mayOverlap) guard.lock();
    error = call();
  }
  if (error == 0 || !MayWantSmb1(host, error)) return error;
  error = WithSmb1Allowed(ctx, call);
  if (error == 0) NoteSmb1OnlyHost(host);
  return error;
}

}  // namespace

int SmbConnectingCall(const std::string& host, const std::function<int()>& call) {
  return SetUpCall(SmbThreadContext(), host, false, call);
}

uint32_t OpenSmbFolder(const TUncName& name, SMBCCTX** ctx, SMBCFILE** dir) {
  *dir = nullptr;
  *ctx = SmbThreadContext();
  if (*ctx == nullptr) return ERROR_NO_NETWORK;
  if (uint32_t code = ProbeSmbHost(name.Host); code != NO_ERROR) return code;
  std::string url = SmbUrl(name);
  auto open = [&] {
    *dir = Smbc().smbc_getFunctionOpendir(*ctx)(*ctx, url.c_str());
    return *dir != nullptr ? 0 : errno;
  };
  // A share this thread's context already holds a connection to needs no set-up.
  auto& connected = ThisThreadContext.Connected;
  const std::string key = ConnectionKey(name);
  int error = 0;
  if (auto known = connected.find(key); known != connected.end()) {
    std::shared_lock<std::shared_mutex> protocolGuard(ProtocolLock);
    TTrustReusedConnection trust(std::chrono::steady_clock::now() - known->second <
                                 std::chrono::milliseconds(Options.RequestTimeoutMs));
    error = open();
  } else {
    // On a slow link a set-up takes ten round trips or so; one after another, twelve
    // threads would wait for each other's most of a second before all of them list.
    error = SetUpCall(*ctx, name.Host, SetUpMayOverlap(name), open);
  }
  if (*dir == nullptr) {
    // A refusal or a missing folder says nothing of the connection, which stays.
    if (error != EACCES && error != EPERM && error != ENOENT && error != ENOTDIR) connected.erase(key);
    return NetErrorFromErrno(error);
  }
  connected[key] = std::chrono::steady_clock::now();
  FirstConnectionDone.store(true, std::memory_order_release);
  return NO_ERROR;
}

void ForgetSmbConnection(const TUncName& name) { ThisThreadContext.Connected.erase(ConnectionKey(name)); }
