#pragma once
// The per-user registry hive (HKEY_CURRENT_USER) the program keeps its settings in.
//
// Keys are addressed by backslash-separated paths below HKEY_CURRENT_USER
// ("SOFTWARE\Orvantis\Lanternquest\Options"); key and value names compare without regard
// to ASCII case and keep the case they were created with. A value has a type (REG_SZ,
// REG_BINARY, REG_DWORD, or any other number read from the file) and a byte string; text
// is 8-bit bytes and any byte, NUL included, round-trips.
//
// The hive lives in memory and is persisted as one text file in the ".reg" format
// ("Windows Registry Editor Version 5.00"), loaded once when the hive is constructed and
// written back whole, atomically (temporary file in the same folder, fsync, rename), when
// a writer has changed it. A crash or a full disk therefore leaves either the old or the
// new file, never a half-written one. A file that cannot be read or parsed is moved aside
// with a ".bad" suffix and the hive starts empty; if it cannot be moved aside, the hive
// refuses to write back rather than overwrite a file it could not read.
//
// Batching: outside a THiveUpdate scope every change is written back at once; inside one,
// changes accumulate and are written when the outermost scope commits or ends. A change
// whose write-back failed stays in memory and pending, and goes out with the next flush.
//
// Threads: a hive and its key handles belong to one thread (the UI thread); nothing here
// is locked.
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;

// A registry operation that failed; what() is a message fit for the user.
class TRegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One value as stored. Data holds the text of a REG_SZ (no terminator), the bytes of a
// REG_BINARY, and the four little-endian bytes of a REG_DWORD.
struct TRegValue {
  uint32_t Type = REG_SZ;
  std::string Data;

  bool operator==(const TRegValue&) const = default;
};

class TRegKey;

class TRegistryHive {
 public:
  // Loads the hive from file; a missing file gives an empty hive. Never throws for the
  // file's content: an unreadable or unparsable file is moved aside (MovedAsideTo).
  explicit TRegistryHive(std::filesystem::path file);
  // Writes back pending changes; a failure here is dropped (nothing is left to report it to).
  ~TRegistryHive();
  TRegistryHive(const TRegistryHive&) = delete;
  TRegistryHive& operator=(const TRegistryHive&) = delete;

  const std::filesystem::path& FilePath() const { return File; }
  // Where an unparsable file was moved at load, if that happened.
  const std::optional<std::filesystem::path>& MovedAsideTo() const { return MovedAside; }
  // Why the file at load was not used (empty when it was used or did not exist).
  const std::string& LoadProblem() const { return Problem; }

  bool KeyExists(std::string_view path) const;
  // Opens an existing key without creating it; nullopt when it does not exist. A key
  // opened read-only throws TRegistryError on every write.
  std::optional<TRegKey> OpenKey(std::string_view path, bool writable);
  std::optional<TRegKey> OpenKeyReadOnly(std::string_view path);
  // Opens a key for writing, creating it and any missing parent. Throws TRegistryError
  // for a path that no key can have (an empty part, a line break or NUL in a name).
  TRegKey CreateKey(std::string_view path);
  // Deletes the key with all its values and sub-keys; false when it did not exist.
  bool DeleteKey(std::string_view path);

  // Writes the hive back if it has unwritten changes. Throws TRegistryError when the file
  // cannot be written; the changes then stay pending.
  void Flush();
  bool HasPendingChanges() const { return Pending; }

  // The hive text as it would be written (also what tests compare).
  std::string ToRegText() const;

 private:
  friend class TRegKey;
  friend class THiveUpdate;
  struct TNameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  struct TNode {
    std::string Name;
    std::vector<std::pair<std::string, TRegValue>> Values;  // in the order first written
    std::map<std::string, std::unique_ptr<TNode>, TNameLess> SubKeys;
  };

  TNode* FindNode(std::string_view path) const;
  void SetValue(std::string_view path, std::string_view name, TRegValue value);
  void Changed();
  void Load();
  void MoveAside(const std::string& why);
  void WriteText(const TNode& node, const std::string& path, std::string& out) const;

  std::filesystem::path File;
  std::unique_ptr<TNode> Root;  // HKEY_CURRENT_USER
  bool Pending = false;
  bool WriteBlocked = false;  // the file could be neither read nor moved aside
  int UpdateDepth = 0;
  std::optional<std::filesystem::path> MovedAside;
  std::string Problem;
};

// A handle on one key: the hive and the key's path. Every call looks the key up again, so
// a handle on a key deleted meanwhile fails cleanly (TRegistryError) instead of dangling.
// The hive must outlive the handle.
class TRegKey {
 public:
  const std::string& Path() const { return KeyPath; }
  bool Writable() const { return CanWrite; }

  bool ValueExists(std::string_view name) const;
  // The stored value, or nullopt when absent.
  std::optional<TRegValue> ReadValue(std::string_view name) const;
  std::vector<std::string> ValueNames() const;

  // Kind-checked reads. ReadInteger, ReadBool and ReadDateTime throw TRegistryError when
  // the value is missing or of another kind; ReadString and ReadBinary read a missing
  // value as empty and throw on another kind. ReadDateTime wants a REG_BINARY of exactly
  // 8 bytes (a little-endian IEEE-754 double).
  int32_t ReadInteger(std::string_view name) const;
  bool ReadBool(std::string_view name) const;  // any non-zero integer is true
  std::string ReadString(std::string_view name) const;
  std::string ReadBinary(std::string_view name) const;
  double ReadDateTime(std::string_view name) const;

  // Writes replace any value of that name, whatever its kind. They throw TRegistryError on
  // a read-only handle, on a deleted key, and when the immediate write-back fails (the
  // change is then kept and pending).
  void WriteInteger(std::string_view name, int32_t value);
  void WriteBool(std::string_view name, bool value);  // as 1 or 0
  void WriteString(std::string_view name, std::string_view value);
  void WriteBinary(std::string_view name, std::string_view bytes);
  void WriteDateTime(std::string_view name, double value);

 private:
  friend class TRegistryHive;
  TRegKey(TRegistryHive& hive, std::string path, bool writable)
      : Hive(&hive), KeyPath(std::move(path)), CanWrite(writable) {}
  const TRegValue& Require(std::string_view name, uint32_t type) const;
  void Write(std::string_view name, TRegValue value);

  TRegistryHive* Hive;
  std::string KeyPath;
  bool CanWrite;
};

// Defers write-back while it lives: changes made through the hive go to the file once,
// when the outermost scope commits. Commit() flushes and throws TRegistryError on failure;
// a scope left without Commit() (an exception unwinding) still flushes, and a failure
// there keeps the changes pending for the next flush.
class THiveUpdate {
 public:
  explicit THiveUpdate(TRegistryHive& hive);
  ~THiveUpdate();
  THiveUpdate(const THiveUpdate&) = delete;
  THiveUpdate& operator=(const THiveUpdate&) = delete;
  void Commit();

 private:
  TRegistryHive& Hive;
  bool Open = true;
};

// $XDG_CONFIG_HOME/Orvantis/Lanternquest.reg, or ~/.config/Orvantis/Lanternquest.reg when
// XDG_CONFIG_HOME is unset or not an absolute path.
std::filesystem::path DefaultHiveFile();

// The process's HKEY_CURRENT_USER, loaded from DefaultHiveFile() at first use.
TRegistryHive& CurrentUserHive();
// Replaces the process's hive by one loaded from file (tests; never the user's real file).
// The previous hive writes back its pending changes first. No handle may be held across.
void UseCurrentUserHiveFile(const std::filesystem::path& file);
