#include "platform/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/atomic_file.h"

namespace {

constexpr std::string_view kRootName = "HKEY_CURRENT_USER";
constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
// Hex data lines are wrapped before this column, as registry editors do.
constexpr size_t kHexWrapColumn = 77;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  if (path.empty()) return parts;
  size_t start = 0;
  for (;;) {
    size_t end = path.find('\\', start);
    parts.push_back(path.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

// A name is written on one line of the file, so it may not hold a line break or NUL.
bool NameIsWritable(std::string_view name) { return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string SystemReason(int error) { return std::strerror(error); }

[[noreturn]] void ThrowSaveError(const std::filesystem::path& file, int error) {
  throw TRegistryError("Cannot save settings to \"" + file.string() + "\". " + SystemReason(error));
}

// ---- parsing -------------------------------------------------------------------------

struct TParseError {
  std::string What;
};

class TRegParser {
 public:
  explicit TRegParser(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
      if (line.ends_with('\r')) line.remove_suffix(1);
      Lines.push_back(line);
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
  }

  // Calls onKey(path) for every key line and onValue(name, value) for every value line.
  template <class KeyFn, class ValueFn>
  void Parse(KeyFn onKey, ValueFn onValue) {
    bool headerSeen = false;
    bool inKey = false;
    for (LineNo = 0; LineNo < Lines.size(); ++LineNo) {
      std::string_view line = TrimRight(Lines[LineNo]);
      if (TrimLeft(line).empty() || line.starts_with(';')) continue;
      if (!headerSeen) {
        if (line != kHeader && line != "REGEDIT4") Fail("not a registry file (missing header)");
        headerSeen = true;
        continue;
      }
      if (line.starts_with('[')) {
        size_t close = line.rfind(']');
        if (close == std::string_view::npos || close + 1 != line.size()) Fail("unclosed key name");
        onKey(KeyPathOf(line.substr(1, close - 1)));
        inKey = true;
        continue;
      }
      if (!inKey) Fail("value outside a key");
      std::string name;
      size_t pos = 0;
      if (line.starts_with('@')) {
        pos = 1;
      } else if (line.starts_with('"')) {
        name = ReadQuoted(line, pos);
      } else {
        Fail("value name expected");
      }
      if (pos >= line.size() || line[pos] != '=') Fail("'=' expected after the value name");
      onValue(name, ReadData(line.substr(pos + 1)));
    }
    if (!headerSeen) Fail("empty file");
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw TParseError{"line " + std::to_string(LineNo + 1) + ": " + what};
  }
  static std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
  }
  static std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
  }

  std::string KeyPathOf(std::string_view full) const {
    if (full.starts_with('-')) Fail("key deletion is not supported");
    size_t sep = full.find('\\');
    std::string_view root = full.substr(0, sep);
    if (!EqualsNoCase(root, kRootName) && !EqualsNoCase(root, "HKCU")) Fail("key outside " + std::string(kRootName));
    std::string_view path = sep == std::string_view::npos ? std::string_view() : full.substr(sep + 1);
    for (std::string_view part : SplitPath(path))
      if (part.empty()) Fail("empty key name");
    return std::string(path);
  }

  // Reads a quoted string starting at line[pos]; pos ends just past the closing quote.
  std::string ReadQuoted(std::string_view line, size_t& pos) const {
    std::string out;
    for (size_t i = pos + 1; i < line.size(); ++i) {
      char c = line[i];
      if (c == '"') {
        pos = i + 1;
        return out;
      }
      if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) c = line[++i];
      out += c;
    }
    Fail("unterminated string");
  }

  TRegValue ReadData(std::string_view data) {
    if (data.starts_with('"')) {
      size_t pos = 0;
      std::string text = ReadQuoted(data, pos);
      if (!TrimLeft(data.substr(pos)).empty()) Fail("text after the closing quote");
      return {REG_SZ, std::move(text)};
    }
    if (data.starts_with("dword:")) {
      std::string_view digits = TrimRight(data.substr(6));
      if (digits.empty() || digits.size() > 8) Fail("dword needs 1 to 8 hex digits");
      uint32_t v = 0;
      for (char c : digits) v = v * 16 + HexDigit(c);
      std::string bytes(4, '\0');
      for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
      return {REG_DWORD, std::move(bytes)};
    }
    uint32_t type = REG_BINARY;
    if (data.starts_with("hex:")) {
      data.remove_prefix(4);
    } else if (data.starts_with("hex(")) {
      size_t close = data.find("):");
      if (close == std::string_view::npos || close == 4 || close > 12) Fail("bad hex(type)");
      type = 0;
      for (char c : data.substr(4, close - 4)) type = type * 16 + HexDigit(c);
      data.remove_prefix(close + 2);
    } else {
      Fail("unknown value data");
    }
    std::string bytes = ReadHexBytes(data);
    // Text written in hex form carries its terminating NUL.
    if (type == REG_SZ && !bytes.empty() && bytes.back() == '\0') bytes.pop_back();
    return {type, std::move(bytes)};
  }

  // "xx,xx,...", continued on the following lines while a line ends with a backslash.
  std::string ReadHexBytes(std::string_view data) {
    std::string joined;
    for (;;) {
      std::string_view part = TrimRight(data);
      bool more = part.ends_with('\\');
      if (more) part.remove_suffix(1);
      joined += part;
      if (!more) break;
      if (++LineNo >= Lines.size()) Fail("hex data continues past the end");
      data = TrimLeft(Lines[LineNo]);
    }
    std::string bytes;
    std::string_view rest = TrimRight(joined);
    while (!rest.empty()) {
      rest = TrimLeft(rest);
      if (rest.size() < 2) Fail("bad hex byte");
      bytes += static_cast<char>(HexDigit(rest[0]) * 16 + HexDigit(rest[1]));
      rest = TrimLeft(rest.substr(2));
      if (rest.empty()) break;
      if (rest.front() != ',') Fail("',' expected between hex bytes");
      rest.remove_prefix(1);
    }
    return bytes;
  }

  uint32_t HexDigit(char c) const {
    if (c >= '0' && c <= '9') return c - '0';
    c = LowerAscii(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    Fail(std::string("bad hex digit '") + c + "'");
  }

  std::vector<std::string_view> Lines;
  size_t LineNo = 0;
};

// ---- writing -------------------------------------------------------------------------

void AppendHex(std::string& out, std::string_view prefix, std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  out += prefix;
  size_t column = prefix.size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    auto b = static_cast<unsigned char>(bytes[i]);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
    column += 2;
    if (i + 1 < bytes.size()) {
      out += ',';
      ++column;
      if (column >= kHexWrapColumn) {
        out += "\\\n  ";
        column = 2;
      }
    }
  }
  out += '\n';
}

void AppendValue(std::string& out, const std::string& name, const TRegValue& value) {
  std::string prefix = (name.empty() ? std::string("@") : Quoted(name)) + "=";
  if (value.Type == REG_DWORD && value.Data.size() == 4) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(value.Data[i]);
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", v);
    out += prefix + "dword:" + digits + "\n";
  } else if (value.Type == REG_SZ && NameIsWritable(value.Data)) {
    out += prefix + Quoted(value.Data) + "\n";
  } else if (value.Type == REG_SZ) {
    // A line break or NUL cannot sit inside a quoted line: the text goes in hex form.
    AppendHex(out, prefix + "hex(1):", value.Data + std::string(1, '\0'));
  } else if (value.Type == REG_BINARY) {
    AppendHex(out, prefix + "hex:", value.Data);
  } else {
    char type[16];
    std::snprintf(type, sizeof type, "hex(%x):", value.Type);
    AppendHex(out, prefix + type, value.Data);
  }
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

bool TRegistryHive::TNameLess::operator()(std::string_view a, std::string_view b) const {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char x = LowerAscii(a[i]), y = LowerAscii(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  return a.size() < b.size();
}

TRegistryHive::TRegistryHive(std::filesystem::path file)
    : File(std::move(file)), Root(std::make_unique<TNode>()) {
  Root->Name = std::string(kRootName);
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
  int fd = ::open(File.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    // No file (or no folder for it) is a first run; anything else is a file to protect.
    if (errno != ENOENT && errno != ENOTDIR) MoveAside("cannot be read: " + SystemReason(errno));
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
    TRegParser(text).Parse(
        [&](const std::string& path) {
          current = Root.get();
          for (std::string_view part : SplitPath(path)) {
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
          for (auto& [existing, stored] : current->Values)
            if (EqualsNoCase(existing, name)) {
              stored = std::move(value);
              return;
            }
          current->Values.emplace_back(name, std::move(value));
        });
  } catch (const TParseError& error) {
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
  for (std::string_view part : SplitPath(path)) {
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
  std::vector<std::string_view> parts = SplitPath(path);
  for (std::string_view part : parts)
    if (part.empty() || !NameIsWritable(part))
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
  std::vector<std::string_view> parts = SplitPath(path);
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
  if (!NameIsWritable(name))
    throw TRegistryError("\"" + std::string(name) + "\" is not a valid registry value name.");
  for (auto& [existing, stored] : node->Values)
    if (EqualsNoCase(existing, name)) {
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
    out += "[" + std::string(kRootName) + "\\" + childPath + "]\n";
    for (const auto& [valueName, value] : child->Values) AppendValue(out, valueName, value);
    out += "\n";
    WriteText(*child, childPath, out);
  }
}

std::string TRegistryHive::ToRegText() const {
  std::string out = std::string(kHeader) + "\n\n";
  if (!Root->Values.empty()) {
    out += "[" + std::string(kRootName) + "]\n";
    for (const auto& [valueName, value] : Root->Values) AppendValue(out, valueName, value);
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
    if (EqualsNoCase(existing, name)) return stored;
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
    if (EqualsNoCase(existing, name)) {
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
