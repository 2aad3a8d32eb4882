#pragma once
// TSpillFile: an unnamed scratch file for bytes written once and read back later, in a
// given folder (so that it lies on the index's file system, not in a small /tmp). It
// has no name from the start (O_TMPFILE, or a name removed at once), so a killed
// process leaves nothing behind. One thread at a time.
#include <cstdint>
#include <string>
#include <string_view>

class TSpillFile {
 public:
  // Throws TIndexError (Io) when the file cannot be made.
  explicit TSpillFile(const std::string& folder);
  ~TSpillFile();
  TSpillFile(const TSpillFile&) = delete;
  TSpillFile& operator=(const TSpillFile&) = delete;

  // Appends bytes (buffered); returns the offset they start at. Throws TIndexError (Io).
  uint64_t Append(const void* data, size_t size);
  uint64_t Size() const { return Written + Buffer.size(); }
  // Writes what is buffered and maps the whole file read-only (the view stays valid
  // until the file is destroyed; no Append after this). Throws TIndexError (Io).
  std::string_view Map();

 private:
  void Flush();
  std::string Folder;
  int Fd = -1;
  uint64_t Written = 0;
  std::string Buffer;
  void* Mapped = nullptr;
  size_t MappedSize = 0;
};
