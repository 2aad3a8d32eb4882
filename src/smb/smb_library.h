#pragma once
// libsmbclient, loaded when the process first needs the network rather than when it
// starts. The library and the hundred-odd Samba libraries it needs take about 20 ms to
// load and bind; a search of a local folder never uses them, and on a warm cache that is
// a tenth of its whole run.
//
// SmbLibrary() loads the library once (any thread may call it; the first call waits for
// the load) and returns its entry points, or nullptr when it cannot be loaded. Every
// SMBCCTX* in hand was made through it, so code holding a context uses Smbc() directly.
#include <libsmbclient.h>

#include "os/shared_library.h"

// libsamba-util's hook table for the library's locks and thread-local storage. The
// library keeps a pointer to the table, so it must live for the whole process.
extern "C" {
enum smb_thread_lock_type { SMB_THREAD_LOCK = 1, SMB_THREAD_UNLOCK = 2 };
struct smb_thread_functions {
  int (*create_mutex)(const char* lockname, void** pplock, const char* location);
  void (*destroy_mutex)(void* plock, const char* location);
  int (*lock_mutex)(void* plock, enum smb_thread_lock_type lockType, const char* location);
  int (*create_tls)(const char* keyname, void** ppkey, const char* location);
  void (*destroy_tls)(void** ppkey, const char* location);
  int (*set_tls)(void* pkey, const void* pval, const char* location);
  void* (*get_tls)(void* pkey, const char* location);
};
int smb_thread_set_functions(const struct smb_thread_functions* tf);
}

// Each entry point under the library's own name, as the header declares it.
#define LQ_SMB_ENTRY_POINTS(X)                                                              \
  X(smbc_new_context) X(smbc_free_context) X(smbc_init_context) X(smbc_setDebug)            \
  X(smbc_setLogCallback) X(smbc_setOptionUseKerberos) X(smbc_setOptionFallbackAfterKerberos) \
  X(smbc_setOptionUseCCache) X(smbc_setTimeout) X(smbc_setUser)                            \
  X(smbc_setFunctionAuthDataWithContext) X(smbc_setConfiguration) X(smbc_setOptionProtocols) \
  X(smbc_setOptionNoAutoAnonymousLogin) X(smbc_getFunctionOpendir) X(smbc_getFunctionReaddir) \
  X(smbc_getFunctionReaddirPlus) X(smbc_getFunctionReaddirPlus2) X(smbc_getFunctionLseekdir)     \
  X(smbc_getFunctionClosedir) X(smbc_getFunctionPurgeCachedServers) X(smbc_getFunctionCheckServer) \
  X(smbc_setFunctionCheckServer) X(smb_thread_set_functions)

struct TSmbLibrary {
  LQ_SMB_ENTRY_POINTS(LQ_DECLARE_ENTRY_POINT)
};

// The library's entry points, loaded on the first call; nullptr when the library or one
// of its entry points is missing.
const TSmbLibrary* SmbLibrary();

// The loaded library. Only after SmbLibrary() returned non-null.
inline const TSmbLibrary& Smbc() { return *SmbLibrary(); }
