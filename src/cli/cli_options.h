#pragma once
// The command line of lanternquest-cli: what it asks for, parsed and checked. Every
// option is one row of a table in cli_options.cpp (its names, whether it takes a value,
// and how it sets TCliOptions), so an option is added with one field and one row.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/cli_output.h"

// A bad command line; what() names the problem. The program exits with status 2.
class TUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TCliOptions {
  std::string Pattern = "*.*";  // trimmed; "*.*" when blank
  std::string Location = ".";   // a folder; trailing separators removed
  uint32_t FileAttr = 0x31;     // permitted attribute bits (R, A, D)
  int64_t FileSizeFrom = -1;    // -1: no bound
  int64_t FileSizeTo = -1;
  int32_t FileTimeType = 0;     // 0 modified (the only time the command line filters on)
  double FileTimeFrom = 0.0;    // 0: no bound
  double FileTimeTo = 0.0;
  std::string Exclude;          // --exclude, each given joined by ";"; empty: none
  bool OneFileSystem = false;   // --one-file-system
  int32_t Threads = 12;
  bool Long = false;            // tab-separated name, size, date, time, attributes
  bool Print0 = false;          // NUL after each name instead of a newline
  bool Terminal = false;        // standard output is a terminal: control bytes in names
                                // are shown escaped (set by the program, not an option)
  TOutputFormat Format = TOutputFormat::Plain;  // --format: json and csv replace the above
  bool Help = false;
  bool Version = false;
  std::string SaveFile;         // --save: write the results as a result file
  std::string ExportFile;       // --export: HTML report, XML when the name ends in ".xml"
  std::string LoadFile;         // --load: print a result file instead of searching;
                                // Pattern then filters it ("" keeps every result)
  int32_t SortKey = 0;          // --sort: 0 unsorted, else +/- 1 path .. 6 attr
  std::string User;             // -U: [DOMAIN\]USER for the location's server
  std::string AuthenticationFile;  // -A: smbclient's username/password/domain file
  bool Discover = false;        // --discover: list the network's machines instead of searching
  std::vector<std::string> DiscoverRanges;  // with --discover: address ranges to probe too
  // The index (cli_index.h):
  bool UpdateIndex = false;     // --update-index: build or refresh the indexes of
  std::vector<std::string> IndexLocations;  // these locations (none: every indexed one)
  bool Indexed = false;         // --indexed: answer the search from an index
  bool IndexStatus = false;     // --index-status: one line per indexed location
  std::string ForgetIndex;      // --forget-index: remove this location's index
};

// Parses argv (argv[0] is the program). Throws TUsageError. The pattern's masks are
// checked too, so a malformed mask is a usage error.
TCliOptions ParseCliOptions(const std::vector<std::string>& args);

// The --help text.
std::string CliUsage();

// Parsers of option values, each throwing TUsageError that names the option.
uint32_t ParseAttributeLetters(const std::string& option, const std::string& letters);
double ParseLocalDateTime(const std::string& option, const std::string& text);
