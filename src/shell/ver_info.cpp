#include "shell/ver_info.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <vector>

#ifndef LQ_VERSION_STRING
#error "The build defines LQ_VERSION_STRING, the version stamped into the executable"
#endif

namespace {

constexpr std::string_view kStampPrefix = "LQ-FILE-VERSION:";
// The longest stamp: the prefix and "65535.65535.65535.65535".
constexpr size_t kLongestStamp = kStampPrefix.size() + 23;

// The stamp itself; "used" keeps it even though only its address is taken.
[[gnu::used]] constexpr char kOwnStamp[] = "LQ-FILE-VERSION:" LQ_VERSION_STRING;

// Parses "a.b.c.d" followed by a zero byte at the start of text.
std::optional<TFixedFileInfo> ParseVersion(std::string_view text) {
  uint32_t parts[4] = {};
  const char* at = text.data();
  const char* end = text.data() + text.size();
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (at == end || *at != '.') return std::nullopt;
      ++at;
    }
    const auto [next, error] = std::from_chars(at, end, parts[i]);
    if (error != std::errc() || next == at || parts[i] > 0xFFFF) return std::nullopt;
    at = next;
  }
  if (at == end || *at != '\0') return std::nullopt;
  return TFixedFileInfo{parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]};
}

}  // namespace

TVersionInfo::TVersionInfo(std::string fileName) : Name(std::move(fileName)) {
  std::ifstream file(Name, std::ios::binary);
  if (!file) return;
  // Read in blocks; each block keeps the tail of the one before, so that a stamp across
  // a block boundary is still found whole.
  constexpr size_t kBlock = 1 << 20;
  std::vector<char> buffer;
  buffer.reserve(kBlock + kLongestStamp + 1);
  while (file) {
    const size_t kept = buffer.size();
    buffer.resize(kept + kBlock);
    file.read(buffer.data() + kept, kBlock);
    buffer.resize(kept + static_cast<size_t>(file.gcount()));
    const std::string_view text(buffer.data(), buffer.size());
    // The prefix also occurs where the code searches for it, followed by a zero byte:
    // only a prefix followed by a whole version counts.
    for (size_t at = text.find(kStampPrefix); at != std::string_view::npos;
         at = text.find(kStampPrefix, at + 1)) {
      const std::string_view rest = text.substr(at + kStampPrefix.size());
      if (rest.size() <= kLongestStamp - kStampPrefix.size() && file) break;  // may continue in the next block
      if ((Fixed = ParseVersion(rest))) return;
    }
    const size_t keep = std::min(buffer.size(), kLongestStamp);
    buffer.erase(buffer.begin(), buffer.end() - static_cast<std::ptrdiff_t>(keep));
  }
}

std::pair<uint32_t, uint32_t> TVersionInfo::FileVersion() const {
  if (!Fixed) return {0, 0};
  return {Fixed->dwFileVersionMS, Fixed->dwFileVersionLS};
}

std::string VersionStamp(std::string_view version) {
  return std::string(kStampPrefix) + std::string(version);
}

const char* OwnVersionStamp() { return kOwnStamp; }
