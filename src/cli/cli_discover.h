#pragma once
// lanternquest-cli --discover: the machines of the network, one a line.
#include <cstdio>

#include "cli/cli_options.h"

// Prints every machine that browsing, connected servers, host discovery and the ranges
// of options find, merged, as "NAME<TAB>WORKGROUP<TAB>ADDRESSES<TAB>SOURCES" (addresses
// and sources separated by ","; an unknown workgroup is empty), sorted by name. What the
// error log of a search would say, and the machines dropped as unreachable, go to err.
// Returns the exit status.
int RunCliDiscover(const TCliOptions& options, std::FILE* out, std::FILE* err);
