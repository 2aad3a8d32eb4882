#pragma once
// The text form of the settings hive: the ".reg" file a registry editor reads and writes
// ("Windows Registry Editor Version 5.00", keys in brackets, one value a line, long binary
// data wrapped in hex lines). The parser reads what the writer writes and what a person may
// have edited; it never guesses at damage, it reports it.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "hive/registry.h"

inline constexpr std::string_view kRegRootName = "HKEY_CURRENT_USER";
inline constexpr std::string_view kRegHeader = "Windows Registry Editor Version 5.00";

// Key and value names compare without regard to ASCII case, as the registry does.
bool RegNamesEqual(std::string_view a, std::string_view b);
bool RegNameLess(std::string_view a, std::string_view b);
// The parts of a "\"-separated key path; an empty path has none.
std::vector<std::string_view> SplitRegPath(std::string_view path);
// False for a name a line of the file cannot hold (a line break or a NUL).
bool RegNameIsWritable(std::string_view name);

// Where and why a text could not be parsed ("line 3: unterminated string").
struct TRegParseError {
  std::string What;
};

// Calls onKey(path below the root) for every key line and onValue(name, value) for every
// value line that follows it, in file order. Throws TRegParseError at the first fault.
void ParseRegText(std::string_view text, const std::function<void(const std::string& path)>& onKey,
                  const std::function<void(const std::string& name, TRegValue value)>& onValue);

// Appends one value line ("name"=data, or @=data for the default value).
void AppendRegValue(std::string& out, const std::string& name, const TRegValue& value);
