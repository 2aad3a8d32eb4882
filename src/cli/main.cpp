// lanternquest-cli: finds files by name from the command line, on the search engine of
// the window program.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/cli_discover.h"
#include "cli/cli_files.h"
#include "cli/cli_index.h"
#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/cli_search.h"
#include "os/dir_listing.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  static char outputBuffer[1 << 16];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  ReserveFolderDescriptors();  // while the process has one thread
  TCliOptions options;
  try {
    options = ParseCliOptions(std::vector<std::string>(argv, argv + argc));
  } catch (const TUsageError& error) {
    std::fprintf(stderr, "lanternquest-cli: %s\nTry 'lanternquest-cli --help'.\n", error.what());
    return 2;
  }
  options.Terminal = isatty(STDOUT_FILENO) == 1;
  if (options.Help) {
    std::fputs(CliUsage().c_str(), stdout);
    return 0;
  }
  if (options.Version) {
    std::printf("lanternquest-cli %s\n", LQ_VERSION_STRING);
    return 0;
  }
  try {
    if (IsIndexCommand(options)) return RunCliIndex(options, stdout, stderr);
    if (options.Discover) return RunCliDiscover(options, stdout, stderr);
    if (!options.LoadFile.empty()) return RunCliLoad(options, stdout, stderr);
    return RunCliSearch(options, stdout, stderr);
  } catch (const std::exception& error) {
    WriteCliError(options.Format, error.what(), stderr);
    return 1;
  }
}
