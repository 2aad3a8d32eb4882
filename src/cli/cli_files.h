#pragma once
// What lanternquest-cli does with a set of results besides searching for them: print
// them, sort them, write them as a result file or a report, and read a result file in
// place of a search.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/cli_options.h"

class TResultManager;
struct TSearchResult;

// The sort key of --sort: "path", "name", "size", "date", "time" or "attr", with a
// leading "-" for descending. Throws TUsageError naming option.
int32_t ParseSortKey(const std::string& option, const std::string& text);

// Writes one result to out in the form the options ask for (plain, --long, --print0);
// on a terminal, control bytes in the name show escaped.
void PrintCliResult(const TCliOptions& options, const TSearchResult& result, std::FILE* out);

// After a search or a load: sorts the store when --sort asks, prints the results from
// index printed on, then writes --save and --export, with the relative names of a search made
// absolute against the current folder. Returns 0, or 1 when a file could not be written (its
// message goes to err; the other file is still attempted).
int FinishCliResults(const TCliOptions& options, TResultManager& store, size_t printed,
                     std::FILE* out, std::FILE* err);

// --load: reads options.LoadFile, keeps the results whose names match options.Pattern
// (all when it is empty) and finishes as above. Returns 0, or 1 with the message on err.
int RunCliLoad(const TCliOptions& options, std::FILE* out, std::FILE* err);
