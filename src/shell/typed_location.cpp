#include "shell/typed_location.h"

#include <filesystem>
#include <system_error>

namespace {

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::optional<TUncName> NetworkNameOf(const std::string& text) {
  if (text.rfind("\\\\", 0) == 0) return ParseUncName(text);
  if (AsciiLower(text.substr(0, 6)) == "smb://") return ParseSmbUrl(text);
  return std::nullopt;
}

}  // namespace

std::optional<TTypedLocation> ParseTypedLocation(const std::string& typed) {
  const std::string text = Trimmed(typed);
  if (text.empty()) return std::nullopt;
  TTypedLocation location;
  if (std::optional<TUncName> name = NetworkNameOf(text)) {
    if (name->Host.empty()) return std::nullopt;
    location.Network = true;
    location.Name = std::move(*name);
    return location;
  }
  if (text.front() != '/') return std::nullopt;
  std::error_code failed;
  if (!std::filesystem::is_directory(text, failed)) return std::nullopt;
  location.Folder = text;
  while (location.Folder.size() > 1 && location.Folder.back() == '/') location.Folder.pop_back();
  return location;
}

std::optional<std::string> TypedNetworkName(const std::string& typed) {
  const std::optional<TUncName> name = NetworkNameOf(Trimmed(typed));
  if (!name || name->Host.empty()) return std::nullopt;
  return UncText(*name);
}

std::string TypedLocationHelp(bool foldersToo) {
  std::string help = foldersToo ? "Enter a folder, a server or a share, in one of these forms:\n/home/folder\n"
                                : "Enter a server or a share, in one of these forms:\n";
  return help + "\\\\server\n\\\\server\\share\nsmb://server/share";
}
