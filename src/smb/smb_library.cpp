#include "smb/smb_library.h"

#include <dlfcn.h>

namespace {

// The library is never unloaded: contexts and its hook table live until the process ends.
TSmbLibrary Load() {
  TSmbLibrary library;
  void* handle = dlopen("libsmbclient.so.0", RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return library;
  bool complete = true;
  // dlsym on the handle also searches the library's own dependencies (libsamba-util
  // holds smb_thread_set_functions).
#define LQ_SMB_RESOLVE(name)                                                   \
  library.name = reinterpret_cast<decltype(library.name)>(dlsym(handle, #name)); \
  complete = complete && library.name != nullptr;
  LQ_SMB_ENTRY_POINTS(LQ_SMB_RESOLVE)
#undef LQ_SMB_RESOLVE
  if (!complete) library = TSmbLibrary{};
  return library;
}

}  // namespace

const TSmbLibrary* SmbLibrary() {
  static const TSmbLibrary library = Load();
  return library.smbc_new_context != nullptr ? &library : nullptr;
}
