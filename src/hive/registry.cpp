#include "hive/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <pwd.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "hive/reg_text.h"
#include "os/atomic_file.h"

namespace {

std::string SystemReason(int error) { return std::strerror(error); }

[[noreturn]] void ThrowSaveError(const std::filesystem::path& file, int error) {
  throw TRegistryError("Cannot save settings to \"" + file.string() + "\". " + SystemReason(error));
}

// Replaces file with text so that a reader sees the old or the new content, never a mix.
// A symbolic link (a settings file kept elsewhere) is written through, not replaced.
void WriteFileAtomically(const std::filesystem::path& file, const std::string& text) {
  std::error_code ec;
  std::filesystem::path target = file;
  for (int hops = 0; hops < 40 && std::filesystem::is_symlink(target, ec); ++hops) {
    std::filesystem::path link = std::filesystem::read_symlink(target, ec);
    if (ec) break;
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
  if (target.has_parent_path()) {
    std::filesystem::create_directories(target.parent_path(), ec);
    if (ec) ThrowSaveError(file, ec.value());
  }
  try {
    TAtomicFile out(target.string());
    out.Write(text);
    out.Commit();
  } catch (const TAtomicFileError& error) {
    if (error.ErrorNumber != 0) ThrowSaveError(file, error.ErrorNumber);
    throw TRegistryError("Cannot save settings to \"" + file.string() + "\". " + error.what());
  }
}

}  // namespace

// ---- TRegistryHive -------------------------------------------------------------------

bool TRegistryHive::TNameLess::operator()(std::string_view a, std::string_view b) const { return RegNameLess(a, b); }

TRegistryHive::TRegistryHive(std::filesystem::path file)
    : File(std::move(file)), Root(std::make_unique<TNode>()) {
  Root->Name = std::string(kRegRootName);
  Load();
}

TRegistryHive::~TRegistryHive() {
  try {
    Flush();
  } catch (const TRegistryError&) {
    // Nobody is left to tell; the previous file is intact because writes are atomic.
  }
}

void TRegistryHive::Load() {
  // Without blocking: a FIFO at the path would hold the program until someone wrote to it.
  int fd = ::open(File.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    // No file (or no folder for it) is a first run; anything else is a file to protect.
    if (errno != ENOENT && errno != ENOTDIR) MoveAside("cannot be read: " + SystemReason(errno));
    return;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    // A folder, a FIFO, a device: nothing to read settings from, and nothing to overwrite.
    ::close(fd);
    MoveAside("is not a regular file");
    return;
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int error = errno;
      ::close(fd);
      MoveAside("cannot be read: " + SystemReason(error));
      return;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  try {
    TNode* current = nullptr;
    // Where each value of a key already read sits in its Values, so that a name read
    // again replaces it without a search through all the values before it.
    std::map<TNode*, std::map<std::string, size_t, TNameLess>> valueIndex;
    ParseRegText(
        text,
        [&](const std::string& path) {
          current = Root.get();
          for (std::string_view part : SplitRegPath(path)) {
            auto it = current->SubKeys.find(part);
            if (it == current->SubKeys.end()) {
              auto node = std::make_unique<TNode>();
              node->Name = std::string(part);
              it = current->SubKeys.emplace(node->Name, std::move(node)).first;
            }
            current = it->second.get();
          }
        },
        [&](const std::string& name, TRegValue value) {
          auto [at, added] = valueIndex[current].emplace(name, current->Values.size());
          if (!added) {
            current->Values[at->second].second = std::move(value);
            return;
          }
          current->Values.emplace_back(name, std::move(value));
        });
  } catch (const TRegParseError& error) {
    Root->SubKeys.clear();
    Root->Values.clear();
    MoveAside("cannot be parsed (" + error.What + ")");
  }
}

void TRegistryHive::MoveAside(const std::string& why) {
  Problem = "The settings file \"" + File.string() + "\" " + why + ".";
  // Keep earlier bad files: pick the first free name.
  for (int n = 0; n < 100; ++n) {
    std::filesystem::path target = File.string() + ".bad" + (n == 0 ? "" : "." + std::to_string(n));
    std::error_code ec;
    if (std::filesystem::exists(target, ec) || ec) continue;
    if (::rename(File.c_str(), target.c_str()) == 0) {
      MovedAside = target;
      return;
    }
    break;
  }
  WriteBlocked = true;
  Problem += " It could not be moved aside, so settings are not saved this run.";
}

TRegistryHive::TNode* TRegistryHive::FindNode(std::string_view path) const {
  TNode* node = Root.get();
  for (std::string_view part : SplitRegPath(path)) {
    auto it = node->SubKeys.find(part);
    if (it == node->SubKeys.end()) return nullptr;
    node = it->second.get();
  }
  return node;
}

bool TRegistryHive::KeyExists(std::string_view path) const { return FindNode(path) != nullptr; }

std::optional<TRegKey> TRegistryHive::OpenKey(std::string_view path, bool writable) {
  if (!FindNode(path)) return std::nullopt;
  return TRegKey(*this, std::string(path), writable);
}

std::optional<TRegKey> TRegistryHive::OpenKeyReadOnly(std::string_view path) { return OpenKey(path, false); }

TRegKey TRegistryHive::CreateKey(std::string_view path) {
  std::vector<std::string_view> parts = SplitRegPath(path);
  for (std::string_view part : parts)
    if (part.empty() || !RegNameIsWritable(part))
      throw TRegistryError("\"" + std::string(path) + "\" is not a valid registry key name.");
  TNode* node = Root.get();
  bool created = false;
  for (std::string_view part : parts) {
    auto it = node->SubKeys.find(part);
    if (it == node->SubKeys.end()) {
      auto child = std::make_unique<TNode>();
      child->Name = std::string(part);
      it = node->SubKeys.emplace(child->Name, std::move(child)).first;
      created = true;
    }
    node = it->second.get();
  }
  TRegKey key(*this, std::string(path), true);
  if (created) Changed();
  return key;
}

bool TRegistryHive::DeleteKey(std::string_view path) {
  std::vector<std::string_view> parts = SplitRegPath(path);
  if (parts.empty()) throw TRegistryError("The root key cannot be deleted.");
  std::string_view leaf = parts.back();
  TNode* parent = FindNode(path.substr(0, path.size() - leaf.size() - (parts.size() > 1 ? 1 : 0)));
  if (!parent) return false;
  auto it = parent->SubKeys.find(leaf);
  if (it == parent->SubKeys.end()) return false;
  parent->SubKeys.erase(it);
  Changed();
  return true;
}

void TRegistryHive::SetValue(std::string_view path, std::string_view name, TRegValue value) {
  TNode* node = FindNode(path);
  if (!node) throw TRegistryError("The registry key \"" + std::string(path) + "\" has been deleted.");
  if (!RegNameIsWritable(name))
    throw TRegistryError("\"" + std::string(name) + "\" is not a valid registry value name.");
  for (auto& [existing, stored] : node->Values)
    if (RegNamesEqual(existing, name)) {
      if (stored == value) return;  // no change, nothing to write back
      stored = std::move(value);
      Changed();
      return;
    }
  node->Values.emplace_back(std::string(name), std::move(value));
  Changed();
}

void TRegistryHive::Changed() {
  Pending = true;
  if (UpdateDepth == 0) Flush();
}

void TRegistryHive::Flush() {
  if (!Pending) return;
  if (WriteBlocked) throw TRegistryError(Problem);
  WriteFileAtomically(File, ToRegText());
  Pending = false;
}

void TRegistryHive::WriteText(const TNode& node, const std::string& path, std::string& out) const {
  for (const auto& [name, child] : node.SubKeys) {
    std::string childPath = path.empty() ? child->Name : path + "\\" + child->Name;
    out += "[" + std::string(kRegRootName) + "\\" + childPath + "]\n";
    for (const auto& [valueName, value] : child->Values) AppendRegValue(out, valueName, value);
    out += "\n";
    WriteText(*child, childPath, out);
  }
}

std::string TRegistryHive::ToRegText() const {
  std::string out = std::string(kRegHeader) + "\n\n";
  if (!Root->Values.empty()) {
    out += "[" + std::string(kRegRootName) + "]\n";
    for (const auto& [valueName, value] : Root->Values) AppendRegValue(out, valueName, value);
    out += "\n";
  }
  WriteText(*Root, "", out);
  return out;
}

// ---- TRegKey -------------------------------------------------------------------------

std::optional<TRegValue> TRegKey::ReadValue(std::string_view name) const {
  const TRegistryHive::TNode* node = Hive->FindNode(KeyPath);
  if (!node) return std::nullopt;
  for (const auto& [existing, stored] : node->Values)
    if (RegNamesEqual(existing, name)) return stored;
  return std::nullopt;
}

bool TRegKey::ValueExists(std::string_view name) const { return ReadValue(name).has_value(); }

std::vector<std::string> TRegKey::ValueNames() const {
  std::vector<std::string> names;
  if (const TRegistryHive::TNode* node = Hive->FindNode(KeyPath))
    for (const auto& entry : node->Values) names.push_back(entry.first);
  return names;
}

const TRegValue& TRegKey::Require(std::string_view name, uint32_t type) const {
  const TRegistryHive::TNode* node = Hive->FindNode(KeyPath);
  if (!node) throw TRegistryError("The registry key \"" + KeyPath + "\" has been deleted.");
  for (const auto& [existing, stored] : node->Values)
    if (RegNamesEqual(existing, name)) {
      if (stored.Type != type || (type == REG_DWORD && stored.Data.size() != 4))
        throw TRegistryError("Invalid data type for \"" + std::string(name) + "\" in \"" + KeyPath + "\".");
      return stored;
    }
  throw TRegistryError("The registry value \"" + std::string(name) + "\" is missing in \"" + KeyPath + "\".");
}

int32_t TRegKey::ReadInteger(std::string_view name) const {
  const std::string& data = Require(name, REG_DWORD).Data;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[i]);
  return static_cast<int32_t>(v);
}

bool TRegKey::ReadBool(std::string_view name) const { return ReadInteger(name) != 0; }

std::string TRegKey::ReadString(std::string_view name) const {
  if (!ValueExists(name)) return {};
  return Require(name, REG_SZ).Data;
}

std::string TRegKey::ReadBinary(std::string_view name) const {
  if (!ValueExists(name)) return {};
  return Require(name, REG_BINARY).Data;
}

double TRegKey::ReadDateTime(std::string_view name) const {
  const std::string& data = Require(name, REG_BINARY).Data;
  if (data.size() != 8)
    throw TRegistryError("Invalid data type for \"" + std::string(name) + "\" in \"" + KeyPath + "\".");
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | static_cast<unsigned char>(data[i]);
  return std::bit_cast<double>(bits);
}

void TRegKey::Write(std::string_view name, TRegValue value) {
  if (!CanWrite) throw TRegistryError("The registry key \"" + KeyPath + "\" is open read-only.");
  Hive->SetValue(KeyPath, name, std::move(value));
}

void TRegKey::WriteInteger(std::string_view name, int32_t value) {
  auto v = static_cast<uint32_t>(value);
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  Write(name, {REG_DWORD, std::move(bytes)});
}

void TRegKey::WriteBool(std::string_view name, bool value) { WriteInteger(name, value ? 1 : 0); }

void TRegKey::WriteString(std::string_view name, std::string_view value) {
  Write(name, {REG_SZ, std::string(value)});
}

void TRegKey::WriteBinary(std::string_view name, std::string_view bytes) {
  Write(name, {REG_BINARY, std::string(bytes)});
}

void TRegKey::WriteDateTime(std::string_view name, double value) {
  auto bits = std::bit_cast<uint64_t>(value);
  std::string bytes(8, '\0');
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  Write(name, {REG_BINARY, std::move(bytes)});
}

// ---- THiveUpdate ---------------------------------------------------------------------

THiveUpdate::THiveUpdate(TRegistryHive& hive) : Hive(hive) { ++Hive.UpdateDepth; }

THiveUpdate::~THiveUpdate() {
  if (!Open) return;
  if (--Hive.UpdateDepth == 0) {
    try {
      Hive.Flush();
    } catch (const TRegistryError&) {
      // Unwinding or abandoned without Commit: the changes stay pending in memory and go
      // out with the next flush (at the latest when the hive is destroyed).
    }
  }
}

void THiveUpdate::Commit() {
  if (!Open) return;
  Open = false;
  if (--Hive.UpdateDepth == 0) Hive.Flush();
}

// ---- the process's hive --------------------------------------------------------------

std::filesystem::path DefaultHiveFile() {
  std::filesystem::path base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* user = ::getpwuid(::getuid());
      home = user ? user->pw_dir : "/";
    }
    base = std::filesystem::path(home) / ".config";
  }
  return base / "Orvantis" / "Lanternquest.reg";
}

namespace {
std::unique_ptr<TRegistryHive>& ProcessHive() {
  static std::unique_ptr<TRegistryHive> hive;
  return hive;
}
}  // namespace

TRegistryHive& CurrentUserHive() {
  auto& hive = ProcessHive();
  if (!hive) hive = std::make_unique<TRegistryHive>(DefaultHiveFile());
  return *hive;
}

void UseCurrentUserHiveFile(const std::filesystem::path& file) {
  auto& hive = ProcessHive();
  hive.reset();
  hive = std::make_unique<TRegistryHive>(file);
}
