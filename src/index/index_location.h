#pragma once
// Locations as the index names them, and which location lies inside which. Every rule
// of containment is here, so that the catalog, the query and the carry-over of a failed
// section agree.
//
// Forms of a location (what a search takes; smb:// URLs are turned into UNC by the
// caller first):
//   local folder   "/home/ann"         an absolute path; trailing "/" dropped ("/" stays)
//   UNC            "\\srv", "\\srv\share", "\\srv\share\dir"   trailing "\" dropped
//   container      "network" (the entire network), an address range "10.1.2.0/24", a
//                  workgroup name: what lies inside one is known only from its index's
//                  content (its roots), never from the text
//
// Comparison: local paths are compared byte for byte. In a UNC name the server and the
// share compare with ASCII case ignored (SMB names them so); the folders below a share
// byte for byte.
#include <string>
#include <string_view>

enum class TLocationKind { Local, Unc, Container };

TLocationKind LocationKindOf(std::string_view location);

// The location's identity: trailing separators dropped, repeated separators inside kept
// as they are (a walk writes them so). A UNC name keeps its spelling (its case is
// ignored only when comparing). Containers are returned unchanged.
std::string NormalLocation(std::string_view location);

enum class TContainment {
  No,         // inner does not lie in outer
  Yes,        // inner is outer or lies inside it
  ByContent,  // outer is a container: inner lies in it when its index holds a root in
              // inner (TIndexReader::HoldsLocation)
};

// Whether inner lies in outer. Both are normalised first. A local path lies in another
// when it is the same or continues it after a "/"; a UNC name in another when its
// server (and share, and folders, as far as outer names them) are the same. Local and
// UNC never contain each other; a container holds only UNC names (ByContent), and
// "network" also every other container.
TContainment LocationContains(std::string_view outer, std::string_view inner);

// Whether folder (a folder as a walk writes it, with or without its trailing separator)
// is the location or lies below it: LocationContains == Yes.
bool FolderInLocation(std::string_view location, std::string_view folder);
