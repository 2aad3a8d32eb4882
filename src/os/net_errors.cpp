#include "os/net_errors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

struct TExtendedError {
  uint32_t Code = NO_ERROR;
  std::string Text;
};
thread_local TExtendedError LastExtendedError;

struct TMessage {
  uint32_t Code;
  const char* Text;
};

constexpr TMessage kMessages[] = {
    {NO_ERROR, "The operation completed successfully."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_BAD_NETPATH, "The network path was not found."},
    {ERROR_BAD_NET_NAME, "The network name cannot be found."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_SEM_TIMEOUT, "The semaphore timeout period has expired."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    {ERROR_DIRECTORY, "The directory name is invalid."},
    {ERROR_INVALID_ADDRESS, "Attempt to access invalid address."},
    {ERROR_NOT_CONTAINER, "Cannot enumerate a noncontainer."},
    {ERROR_EXTENDED_ERROR, "An extended error has occurred."},
    {ERROR_NO_NETWORK, "The network is not present or not started."},
    {ERROR_CANCELLED, "The operation was canceled by the user."},
    {ERROR_LOGON_FAILURE, "The user name or password is incorrect."},
    {ERROR_CANT_RESOLVE_FILENAME, "The name of the file cannot be resolved by the system."},
    {ERROR_NOT_CONNECTED, "This network connection does not exist."},
};

// Copies text into a buffer of size bytes, truncating, always zero-terminated when size > 0.
void CopyTruncated(const std::string& text, char* buffer, uint32_t size) {
  if (size == 0) return;
  size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

}  // namespace

uint32_t SetExtendedNetError(uint32_t providerCode, const std::string& text) {
  LastExtendedError.Code = providerCode;
  // Like the system's texts, a provider's text ends with a line break.
  LastExtendedError.Text = text + "\r\n";
  return ERROR_EXTENDED_ERROR;
}

uint32_t NetErrorFromErrno(int errnoValue) {
  switch (errnoValue) {
    case 0:
      return NO_ERROR;
    case EACCES:
      return ERROR_ACCESS_DENIED;
    case EPERM:
      return ERROR_LOGON_FAILURE;
    case ENOENT:
      return ERROR_BAD_NET_NAME;
    case ENOTDIR:
      return ERROR_DIRECTORY;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
      return ERROR_BAD_NETPATH;
    case ETIMEDOUT:
      return ERROR_SEM_TIMEOUT;
    case ENETDOWN:
    case ENETUNREACH:
      return ERROR_NO_NETWORK;
    case ECANCELED:
      return ERROR_CANCELLED;
    default: {
      char buffer[256];
      // The GNU strerror_r returns the text, which may or may not live in buffer.
      const char* text = strerror_r(errnoValue, buffer, sizeof buffer);
      return SetExtendedNetError(static_cast<uint32_t>(errnoValue), text);
    }
  }
}

uint32_t WNetGetLastErrorA(uint32_t* lpError, char* lpErrorBuf, uint32_t nErrorBufSize,
                           char* lpNameBuf, uint32_t nNameBufSize) {
  if (lpError == nullptr || (lpErrorBuf == nullptr && nErrorBufSize != 0) ||
      (lpNameBuf == nullptr && nNameBufSize != 0))
    return ERROR_INVALID_ADDRESS;
  *lpError = LastExtendedError.Code;
  CopyTruncated(LastExtendedError.Text, lpErrorBuf, nErrorBufSize);
  CopyTruncated(kSmbProviderName, lpNameBuf, nNameBufSize);
  return NO_ERROR;
}

uint32_t FormatMessageA(uint32_t dwFlags, const void* /*lpSource*/, uint32_t dwMessageId,
                        uint32_t /*dwLanguageId*/, char* lpBuffer, uint32_t nSize,
                        void* /*arguments*/) {
  if (lpBuffer == nullptr || nSize == 0) return 0;
  lpBuffer[0] = '\0';
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0) return 0;
  for (const TMessage& message : kMessages) {
    if (message.Code != dwMessageId) continue;
    std::string text = std::string(message.Text) + "\r\n";
    CopyTruncated(text, lpBuffer, nSize);
    return static_cast<uint32_t>(std::min<size_t>(text.size(), nSize - 1));
  }
  return 0;
}
