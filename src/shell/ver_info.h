#pragma once
// TVersionInfo: the file version that the build stamps into an executable.
//
// The build defines LQ_VERSION_STRING ("major.minor.build.revision"); the executable
// carries it as the text "LQ-FILE-VERSION:" followed by the version and a zero byte.
// TVersionInfo reads a file and finds that stamp, so the version shown is the one of the
// file on disk, not of the code that asks. Each of the four parts is 0 to 65535.
//
// Any thread; one object is not shared between threads.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct TFixedFileInfo {
  uint32_t dwFileVersionMS = 0;  // major in the high 16 bits, minor in the low 16 bits
  uint32_t dwFileVersionLS = 0;  // build in the high 16 bits, revision in the low 16 bits
};

class TVersionInfo {
 public:
  // Reads the file at once; a file that cannot be read or carries no stamp gives an
  // object whose FixedFileInfo is null.
  explicit TVersionInfo(std::string fileName);

  const std::string& FileName() const { return Name; }
  // The version block, or null when the file carries none.
  const TFixedFileInfo* FixedFileInfo() const { return Fixed ? &*Fixed : nullptr; }
  // (dwFileVersionMS, dwFileVersionLS); both 0 when the file carries no version.
  std::pair<uint32_t, uint32_t> FileVersion() const;

 private:
  std::string Name;
  std::optional<TFixedFileInfo> Fixed;
};

// The stamp text for version ("1.1.0.141"), as the build puts it into the executable
// (without the closing zero byte).
std::string VersionStamp(std::string_view version);

// The stamp of the code that is running (keeps the stamp in every executable that links
// this file).
const char* OwnVersionStamp();
