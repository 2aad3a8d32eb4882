#pragma once
// Runs one search for lanternquest-cli on the engine: the folder walker pool of a
// TSearchManager, a result store whose change notification writes the new results to
// out as they are delivered, and the live progress on err when err is a terminal.
#include <cstdio>

#include "cli/cli_options.h"

// Returns the exit status: 0 when the search ran, 1 when it could not (the location is
// not a folder that can be listed, no thread could be started); the reason goes to err.
int RunCliSearch(const TCliOptions& options, std::FILE* out, std::FILE* err);
