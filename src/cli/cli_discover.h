#pragma once
// lanternquest-cli --discover: the machines of the network, one a line.
#include <cstdio>

#include "cli/cli_options.h"

// Prints every machine that browsing, connected servers, host discovery and the ranges
// of options find, merged, sorted by name: as "NAME<TAB>WORKGROUP<TAB>ADDRESSES<TAB>SOURCES"
// (addresses and sources separated by ","; an unknown workgroup is empty); under
// --format json one object a line, {"name", "workgroup" (null when unknown),
// "addresses": [...], "sources": [...]}; under --format csv the header
// name,workgroup,addresses,sources and addresses and sources separated by spaces. What the
// error log of a search would say, and the machines dropped as unreachable, go to err.
// Returns the exit status.
int RunCliDiscover(const TCliOptions& options, std::FILE* out, std::FILE* err);
