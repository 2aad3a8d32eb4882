#include "platform/smb_listing.h"

// No SMB client is wired in yet: every UNC folder is one that cannot be listed.
std::unique_ptr<TDirListing> OpenSmbDirListing(const std::string& /*uncFolder*/) { return nullptr; }
