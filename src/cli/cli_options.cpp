#include "cli/cli_options.h"

#include <charconv>
#include <cstdio>

#include "cli/cli_files.h"
#include "cli/cli_network.h"
#include "discovery/range_probe.h"
#include "engine/masks.h"
#include "os/dos_time.h"

namespace {

struct TCliOption {
  char Short;        // 0: long form only
  const char* Long;  // without the leading "--"
  bool TakesValue;
  void (*Apply)(TCliOptions& options, const std::string& name, const std::string& value);
};

int64_t ParseInteger(const std::string& option, const std::string& text, int64_t low, int64_t high) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || ptr != end || value < low || value > high)
    throw TUsageError(option + ": \"" + text + "\" is not a number from " + std::to_string(low) +
                      " to " + std::to_string(high));
  return value;
}

constexpr int64_t kMaxBytes = INT64_MAX;

// Every mask of the list text compiles; TUsageError naming option otherwise.
void CheckMasks(const std::string& option, const std::string& text) {
  for (const std::string& mask : SplitMasks(text)) {
    try {
      TMask compiled(mask);
    } catch (const TMaskError& error) {
      throw TUsageError(option.empty() ? std::string(error.what()) : option + ": " + error.what());
    }
  }
}

const TCliOption kOptions[] = {
    {'a', "attributes", true,
     [](TCliOptions& o, const std::string& n, const std::string& v) { o.FileAttr = ParseAttributeLetters(n, v); }},
    {0, "size-from", true,
     [](TCliOptions& o, const std::string& n, const std::string& v) { o.FileSizeFrom = ParseInteger(n, v, 0, kMaxBytes); }},
    {0, "size-to", true,
     [](TCliOptions& o, const std::string& n, const std::string& v) { o.FileSizeTo = ParseInteger(n, v, 0, kMaxBytes); }},
    {0, "time-from", true,
     [](TCliOptions& o, const std::string& n, const std::string& v) { o.FileTimeFrom = ParseLocalDateTime(n, v); }},
    {0, "time-to", true,
     [](TCliOptions& o, const std::string& n, const std::string& v) { o.FileTimeTo = ParseLocalDateTime(n, v); }},
    {'j', "threads", true,
     [](TCliOptions& o, const std::string& n, const std::string& v) { o.Threads = static_cast<int32_t>(ParseInteger(n, v, 1, 12)); }},
    {'l', "long", false, [](TCliOptions& o, const std::string&, const std::string&) { o.Long = true; }},
    {'0', "print0", false, [](TCliOptions& o, const std::string&, const std::string&) { o.Print0 = true; }},
    {0, "exclude", true,
     [](TCliOptions& o, const std::string& n, const std::string& v) {
       CheckMasks(n, v);
       if (!SplitMasks(v).empty()) o.Exclude += (o.Exclude.empty() ? "" : ";") + v;
     }},
    {0, "one-file-system", false,
     [](TCliOptions& o, const std::string&, const std::string&) { o.OneFileSystem = true; }},
    {0, "format", true,
     [](TCliOptions& o, const std::string& n, const std::string& v) { o.Format = ParseOutputFormat(n, v); }},
    {0, "save", true, [](TCliOptions& o, const std::string&, const std::string& v) { o.SaveFile = v; }},
    {0, "export", true, [](TCliOptions& o, const std::string&, const std::string& v) { o.ExportFile = v; }},
    {0, "load", true, [](TCliOptions& o, const std::string&, const std::string& v) { o.LoadFile = v; }},
    {0, "sort", true,
     [](TCliOptions& o, const std::string& n, const std::string& v) { o.SortKey = ParseSortKey(n, v); }},
    {'U', "user", true,
     [](TCliOptions& o, const std::string&, const std::string& v) { ParseUserOption(v), o.User = v; }},
    {'A', "authentication-file", true,
     [](TCliOptions& o, const std::string&, const std::string& v) { o.AuthenticationFile = v; }},
    {0, "discover", false, [](TCliOptions& o, const std::string&, const std::string&) { o.Discover = true; }},
    {0, "update-index", false, [](TCliOptions& o, const std::string&, const std::string&) { o.UpdateIndex = true; }},
    {0, "indexed", false, [](TCliOptions& o, const std::string&, const std::string&) { o.Indexed = true; }},
    {0, "index-status", false, [](TCliOptions& o, const std::string&, const std::string&) { o.IndexStatus = true; }},
    {0, "forget-index", true,
     [](TCliOptions& o, const std::string& n, const std::string& v) {
       if (v.empty()) throw TUsageError(n + ": LOCATION is empty");
       o.ForgetIndex = v;
     }},
    {'h', "help", false, [](TCliOptions& o, const std::string&, const std::string&) { o.Help = true; }},
    {0, "version", false, [](TCliOptions& o, const std::string&, const std::string&) { o.Version = true; }},
};

const TCliOption* FindLong(const std::string& name) {
  for (const TCliOption& option : kOptions)
    if (name == option.Long) return &option;
  return nullptr;
}

const TCliOption* FindShort(char name) {
  for (const TCliOption& option : kOptions)
    if (option.Short != 0 && option.Short == name) return &option;
  return nullptr;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// A folder as the engine takes it: no trailing separator, except for the root itself.
std::string FolderWithoutSeparator(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  while (folder.size() > 3 && folder.rfind("\\\\", 0) == 0 && folder.back() == '\\') folder.pop_back();
  return folder;
}

// "a.b.c.d/N" in shape, whether or not N is a width that is accepted.
bool LooksLikeIpv4Range(const std::string& text) {
  const size_t slash = text.find('/');
  if (slash == std::string::npos || slash + 1 == text.size() || slash + 3 < text.size()) return false;
  if (text.find_first_not_of("0123456789", slash + 1) != std::string::npos) return false;
  return ParseIpv4Range(text.substr(0, slash) + "/32").has_value();
}

}  // namespace

uint32_t ParseAttributeLetters(const std::string& option, const std::string& letters) {
  uint32_t attr = 0;
  for (char letter : letters) {
    switch (letter) {
      case 'R': case 'r': attr |= 0x01; break;
      case 'H': case 'h': attr |= 0x02; break;
      case 'S': case 's': attr |= 0x04; break;
      case 'A': case 'a': attr |= 0x20; break;
      case 'D': case 'd': attr |= 0x10; break;
      default:
        throw TUsageError(option + ": unknown attribute letter '" + std::string(1, letter) +
                          "' (use R, H, S, A, D)");
    }
  }
  return attr;
}

double ParseLocalDateTime(const std::string& option, const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
  const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%n %2d:%2d%n:%2d%n", &year, &month,
                                 &day, &used, &hour, &minute, &used, &second, &used);
  const bool shapeOk = (fields == 3 || fields == 5 || fields == 6) &&
                       static_cast<size_t>(used) == text.size();
  static const int kDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const bool valueOk = year >= 1 && month >= 1 && month <= 12 && day >= 1 &&
                       day <= (month == 2 && !leap ? 28 : kDaysInMonth[month - 1]) && hour < 24 &&
                       minute < 60 && second < 60 && hour >= 0 && minute >= 0 && second >= 0;
  if (!shapeOk || !valueOk)
    throw TUsageError(option + ": \"" + text + "\" is not a date \"YYYY-MM-DD\" or \"YYYY-MM-DD HH:MM[:SS]\"");
  return EncodeDateTime(year, month, day, hour, minute, second);
}

TCliOptions ParseCliOptions(const std::vector<std::string>& args) {
  TCliOptions options;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg[1] == '-') {  // --name or --name=value
      const size_t equals = arg.find('=');
      const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      const TCliOption* option = FindLong(name);
      if (option == nullptr) throw TUsageError("unknown option --" + name);
      std::string value;
      if (option->TakesValue) {
        if (equals != std::string::npos) value = arg.substr(equals + 1);
        else if (i + 1 < args.size()) value = args[++i];
        else throw TUsageError("--" + name + " needs a value");
      } else if (equals != std::string::npos) {
        throw TUsageError("--" + name + " takes no value");
      }
      option->Apply(options, "--" + name, value);
      continue;
    }
    // -x, a cluster of flags (-l0), or -xVALUE / -x VALUE
    for (size_t k = 1; k < arg.size(); ++k) {
      const TCliOption* option = FindShort(arg[k]);
      if (option == nullptr) throw TUsageError(std::string("unknown option -") + arg[k]);
      const std::string name = std::string("-") + arg[k];
      if (!option->TakesValue) {
        option->Apply(options, name, std::string());
        continue;
      }
      std::string value;
      if (k + 1 < arg.size()) value = arg.substr(k + 1);
      else if (i + 1 < args.size()) value = args[++i];
      else throw TUsageError(name + " needs a value");
      option->Apply(options, name, value);
      break;
    }
  }
  if (options.Help || options.Version) return options;
  if (options.Format != TOutputFormat::Plain && (options.Long || options.Print0))
    throw TUsageError(std::string(options.Long ? "--long" : "--print0") +
                      " does not go with --format json or csv");
  if (options.UpdateIndex + options.Indexed + options.IndexStatus + !options.ForgetIndex.empty() > 1 ||
      ((options.UpdateIndex || options.Indexed || options.IndexStatus || !options.ForgetIndex.empty()) &&
       (options.Discover || !options.LoadFile.empty())))
    throw TUsageError("--update-index, --indexed, --index-status and --forget-index go neither together "
                      "nor with --discover or --load");
  if (options.UpdateIndex) {
    for (const std::string& location : positional) {
      if (location.empty()) throw TUsageError("LOCATION is empty");
      options.IndexLocations.push_back(FolderWithoutSeparator(location));
      if (LooksLikeIpv4Range(location) && !ParseIpv4Range(location))
        throw TUsageError("\"" + location + "\": an address range is a.b.c.d/16 to a.b.c.d/32");
    }
    return options;
  }
  if (options.IndexStatus || !options.ForgetIndex.empty()) {
    if (!positional.empty()) throw TUsageError("unexpected argument \"" + positional[0] + "\"");
    if (!options.ForgetIndex.empty()) options.ForgetIndex = FolderWithoutSeparator(options.ForgetIndex);
    return options;
  }
  if (options.Discover) {
    for (const std::string& range : positional) {
      if (!ParseIpv4Range(range))
        throw TUsageError("--discover: \"" + range + "\" is not an address range a.b.c.d/16 to /32");
      options.DiscoverRanges.push_back(range);
    }
    return options;
  }
  if (!options.LoadFile.empty()) {
    if (positional.size() > 1) throw TUsageError("LOCATION is not allowed with --load");
    if (positional.empty()) options.Pattern.clear();  // no filter: every loaded result
  }
  if (positional.empty() && options.LoadFile.empty()) throw TUsageError("missing PATTERN");
  if (positional.size() > 2) throw TUsageError("unexpected argument \"" + positional[2] + "\"");
  if (positional.empty()) return options;
  options.Pattern = Trimmed(positional[0]);
  if (options.Pattern.empty()) options.Pattern = "*.*";
  CheckMasks("", options.Pattern);
  if (positional.size() == 2) {
    if (positional[1].empty()) throw TUsageError("LOCATION is empty");
    options.Location = FolderWithoutSeparator(positional[1]);
    if (LooksLikeIpv4Range(options.Location) && !ParseIpv4Range(options.Location))
      throw TUsageError("\"" + options.Location + "\": an address range is a.b.c.d/16 to a.b.c.d/32");
  }
  return options;
}

std::string CliUsage() {
  return "Usage: lanternquest-cli [OPTIONS] PATTERN [LOCATION]\n"
         "       lanternquest-cli --indexed [OPTIONS] PATTERN [LOCATION]\n"
         "       lanternquest-cli --update-index [OPTIONS] [LOCATION...]\n"
         "       lanternquest-cli --index-status [--format FORM]\n"
         "       lanternquest-cli --forget-index LOCATION\n"
         "       lanternquest-cli --discover [RANGE...]\n"
         "Finds files whose names match PATTERN in LOCATION and every folder below it.\n"
         "\n"
         "  PATTERN                 masks separated by \";\" or \",\" (* ? [a-z] [!a-z]);\n"
         "                          blank means \"*.*\"\n"
         "  LOCATION                a folder (default: the current folder), \\\\host,\n"
         "                          \\\\host\\share[\\dir], smb://host[:port]/share[/dir],\n"
         "                          \"network\" for the entire network, or an address\n"
         "                          range a.b.c.d/N (N from 16 to 32) whose SMB servers\n"
         "                          are searched\n"
         "  -a, --attributes LETTERS  permitted attributes among R H S A D (default RAD)\n"
         "      --size-from BYTES   smallest size, inclusive\n"
         "      --size-to BYTES     largest size, inclusive\n"
         "      --time-from TIME    earliest modification, \"YYYY-MM-DD[ HH:MM[:SS]]\", local\n"
         "      --time-to TIME      latest modification, same form\n"
         "  -j, --threads N         folders searched at once, 1 to 12 (default 12)\n"
         "  -l, --long              tab-separated: name, size, date, time, attributes\n"
         "  -0, --print0            end each name with NUL instead of a newline\n"
         "      --exclude GLOB      leave out files and folders whose names match GLOB\n"
         "                          (masks as in PATTERN; a folder left out is not\n"
         "                          searched); may be given more than once\n"
         "      --one-file-system   do not cross into other file systems below a local\n"
         "                          LOCATION (pseudo file systems such as /proc, /sys and\n"
         "                          /dev are never searched unless LOCATION lies on one)\n"
         "      --format FORM       plain (default), json (JSON Lines: path, size, mtime,\n"
         "                          attributes; errors on stderr as JSON Lines too) or csv\n"
         "                          (RFC 4180 with a header row). A name that is not\n"
         "                          valid UTF-8 shows U+FFFD for its invalid bytes and\n"
         "                          comes exactly, base64-encoded, in path_base64\n"
         "      --save FILE         write the results as a result file (.dat)\n"
         "      --export FILE       write an HTML report, or XML when FILE ends in .xml\n"
         "                          (any letter case)\n"
         "      --load FILE         read a result file and print it instead of searching\n"
         "                          (LOCATION not allowed; PATTERN keeps matching names,\n"
         "                          --exclude drops names and folders as a search would)\n"
         "      --sort KEY          path, name, size, date, time or attr; a leading \"-\"\n"
         "                          sorts descending\n"
         "  -U, --user [DOMAIN\\]USER  user for the server; the password is asked for\n"
         "  -A, --authentication-file FILE  \"username =\", \"password =\", \"domain =\" lines\n"
         "      --discover          list the machines of the network, one a line: name,\n"
         "                          workgroup or domain, addresses, the sources that\n"
         "                          found it (wsd, mdns, netbios, connected, range);\n"
         "                          each RANGE given is probed as well; --format json\n"
         "                          or csv apply\n"
         "      --update-index      build or refresh the index of each LOCATION (any\n"
         "                          form above); with none, refresh every indexed\n"
         "                          location. An update is a search of \"*\" with every\n"
         "                          attribute; -j, -U, -A, --exclude, --one-file-system\n"
         "                          and --format apply (without --exclude and\n"
         "                          --one-file-system, a refresh keeps those the index\n"
         "                          was made with). At most 4 connections go to one\n"
         "                          server at a time. Exit status as a search's. A host,\n"
         "                          share or folder that cannot be searched keeps its\n"
         "                          entries from the previous index. Indexes are kept\n"
         "                          in $XDG_CACHE_HOME/lanternquest/index (mode 0600)\n"
         "      --indexed           answer the search from the index of LOCATION or of\n"
         "                          an indexed location containing it, as the search\n"
         "                          would have answered when the index was made; every\n"
         "                          search option applies. A line on stderr names the\n"
         "                          index and when it was made; exit status 2 when no\n"
         "                          index covers LOCATION\n"
         "      --index-status      one line per indexed location: entries, bytes on\n"
         "                          disk, when it was updated, how long the update took,\n"
         "                          places that could not be searched; --format json or\n"
         "                          csv apply\n"
         "      --forget-index LOCATION  remove the index of LOCATION\n"
         "  -h, --help              this text\n"
         "      --version           the program's version\n"
         "\n"
         "Names are printed as found; on a terminal, control characters in them show\n"
         "escaped (\\n, \\t, \\x01, ...). Names saved or exported are absolute.\n"
         "\n"
         "Exit status: 0 when the search ran and every place in it could be searched\n"
         "(with or without results); 1 when some host, share or folder could not be\n"
         "searched (everything found is still printed and its error is on stderr) or\n"
         "for any other failure, such as a file that could not be written; 2 for a bad\n"
         "command line or pattern.\n";
}
