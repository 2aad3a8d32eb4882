#pragma once
// The one place that chooses how a folder is listed: a UNC path (two leading backslashes)
// through the SMB client, any other path as a local folder. Walks and the location tree
// open every folder here, so neither the local listing nor the SMB listing knows of the
// other.
#include <memory>
#include <string>

#include "os/dir_listing.h"

// Opens folder (a local path, or a UNC path such as \\host\share\dir) for listing. The
// folder may end with its separator or not. nullptr when it cannot be listed (missing,
// not a folder, no access, unreachable); *failure, when given, then says why. parent is
// used for local folders only, as OpenLocalDirListing uses it.
std::unique_ptr<TDirListing> OpenDirListing(const std::string& folder, const POpenFolder& parent = nullptr,
                                            TListingFailure* failure = nullptr);
