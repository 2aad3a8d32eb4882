#pragma once
// Listing of UNC folders (\\host\share\dir) through the SMB client.
#include <memory>
#include <string>

#include "os/dir_listing.h"

// Opens a UNC folder for listing; nullptr when it cannot be listed. Entries come fully
// detailed (the SMB listing returns sizes, times and attributes with the names).
std::unique_ptr<TDirListing> OpenSmbDirListing(const std::string& uncFolder);
