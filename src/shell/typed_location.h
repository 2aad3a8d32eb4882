#pragma once
// A location as the user types or pastes it: a local folder (an absolute path), or a
// network name either as UNC (\\server, \\server\share[\folder...]) or as a URL
// (smb://server[:port][/share[/folder...]]), the forms the command-line program takes.
// Both network forms come out as the UNC name the rest of the program keeps.
#include <optional>
#include <string>

#include "smb/smb_path.h"

struct TTypedLocation {
  bool Network = false;
  TUncName Name;       // Network: the server, share and folders
  std::string Folder;  // not Network: the local folder, without a trailing "/"
};

// The location text names, or nullopt when it is none of the forms. Leading and trailing
// blanks are ignored. A local folder must exist; a network name is not checked here.
std::optional<TTypedLocation> ParseTypedLocation(const std::string& text);

// A network name only (\\server[\share...] or smb://...), as UNC text; nullopt otherwise.
std::optional<std::string> TypedNetworkName(const std::string& text);

// What the user is told when a typed location is none of the forms. The examples stand
// on lines of their own, so a narrow box never breaks a name between its backslashes.
std::string TypedLocationHelp(bool foldersToo);
