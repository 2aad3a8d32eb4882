#pragma once
// The index commands of lanternquest-cli: --update-index, --indexed, --index-status and
// --forget-index (cli_options.h names what each takes). Indexes live in the user's cache
// folder (index/index_catalog.h); $XDG_CACHE_HOME moves them.
//
// Exit status as for a search: 0 when everything ran and every place could be searched,
// 1 when a place could not be (its line is on stderr) or anything else failed, 2 for a
// bad command line and, for --indexed, when no index covers the location.
#include <cstdio>
#include <string>

#include "cli/cli_options.h"

// Whether options ask for one of the index commands.
bool IsIndexCommand(const TCliOptions& options);

// Runs the index command options ask for.
int RunCliIndex(const TCliOptions& options, std::FILE* out, std::FILE* err);

// The index's name for a location as the command line takes it: an absolute local
// folder ("." and relative names made absolute against the current folder, lexically),
// a UNC name (smb:// URLs turned into one), "network" or an address range as given.
// Throws TUsageError for a malformed network location.
std::string IndexLocationOf(const std::string& location);
