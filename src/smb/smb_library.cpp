#include "smb/smb_library.h"

#include "os/shared_library.h"

const TSmbLibrary* SmbLibrary() {
  static const TSmbLibrary library = LQ_LOAD_ENTRY_POINTS(TSmbLibrary, "libsmbclient.so.0", LQ_SMB_ENTRY_POINTS);
  return library.smbc_new_context != nullptr ? &library : nullptr;
}
