#include "network/folder_listing.h"

#include "smb/smb_listing.h"

std::unique_ptr<TDirListing> OpenDirListing(const std::string& folder, const POpenFolder& parent,
                                            TListingFailure* failure) {
  if (IsUncPath(folder)) return OpenSmbDirListing(folder, failure);
  return OpenLocalDirListing(folder, parent, failure);
}
