#pragma once
// Listing of UNC folders (\\host\share\dir) through the SMB client.
#include <memory>
#include <string>

#include "os/dir_listing.h"
#include "smb/smb_path.h"

// Opens a UNC folder for listing; nullptr when it cannot be listed, and then *failure
// (when given) holds the server's or the network's message, Retryable when the failure
// lies in the connection (lost, refused, timed out) rather than in the folder (no
// access, missing). A failure also drops the thread's record of its connection to the
// share, so that opening it again sets a new connection up. Entries come fully
// detailed (the SMB listing returns sizes, times and attributes with the names).
std::unique_ptr<TDirListing> OpenSmbDirListing(const std::string& uncFolder, TListingFailure* failure = nullptr);

// Lists the share folder name to its end now, on this thread's context, and keeps what it
// read: the listing returned replays it (the same entries, and the same failure when the
// listing stopped early) from memory, on any thread, at any later time. NO_ERROR with
// listing set, or the failure of opening the folder (as OpenSmbFolder) with listing null.
uint32_t ReadSmbDirListing(const TUncName& name, std::unique_ptr<TDirListing>& listing);
