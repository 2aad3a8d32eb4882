#pragma once
// GetNetErrorText: the error-log line for a network failure, "'%s' %s - %s" filled with
// the resource's provider, its remote name (a nil name reads as empty) and the message of
// the error: the provider's own text for ERROR_EXTENDED_ERROR, the system text otherwise,
// each without the line break that ends it.
//
// Defined in this header so that the error log (src/results) can build its lines without
// a link dependency on the engine library; it needs only the platform's network calls.
// Any thread; it reads the calling thread's extended error, so call it on the thread
// whose network call failed.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "os/net_errors.h"
#include "os/netresource.h"

inline constexpr uint32_t kNetMessageBufferSize = 16384;

// The message of errorCode alone, as GetNetErrorText words it (provider: the name the
// extended error is asked for); nullopt when the extended error cannot be read.
inline std::optional<std::string> GetNetErrorMessage(uint32_t errorCode, const std::string& provider = kSmbProviderName) {
  std::vector<char> message(kNetMessageBufferSize, '\0');
  std::string text;
  if (errorCode == ERROR_EXTENDED_ERROR) {
    uint32_t providerError = 0;
    // The provider's name is written back into a copy of it that is never read again.
    std::vector<char> name(provider.begin(), provider.end());
    name.push_back('\0');
    uint32_t result = WNetGetLastErrorA(&providerError, message.data(), kNetMessageBufferSize,
                                        name.data(), static_cast<uint32_t>(provider.size()));
    if (result != NO_ERROR) return std::nullopt;
    text = message.data();
  } else {
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, errorCode, 0,
                   message.data(), kNetMessageBufferSize, nullptr);
    text = message.data();
  }
  // Both kinds of text end with the line break CR LF, which the line leaves out. A text
  // without it keeps all its characters.
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
  return text;
}

inline std::string GetNetErrorText(uint32_t errorCode, const NETRESOURCEA& resource) {
  const std::string provider = resource.lpProvider.value_or("");
  const std::string remoteName = resource.lpRemoteName.value_or("");
  std::optional<std::string> text = GetNetErrorMessage(errorCode, provider);
  // WNetGetLastErrorA fails only for a missing buffer.
  if (!text) return "WNetGetLastError failed; error " + std::to_string(ERROR_INVALID_ADDRESS);
  return "'" + provider + "' " + remoteName + " - " + *text;
}
