#pragma once
// Win32-style result codes of the network layer, the mapping from the C library's errno
// values to them, the per-thread "extended error" that WNetGetLastErrorA reports, and a
// FormatMessageA stand-in that knows the texts of the codes this layer produces.
//
// All functions may be called from any thread. The extended error is thread-local: a
// worker reads back what its own last network call recorded.
#include <cstdint>
#include <string>

inline constexpr uint32_t NO_ERROR = 0;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr uint32_t ERROR_NOT_SUPPORTED = 50;
inline constexpr uint32_t ERROR_BAD_NETPATH = 53;
inline constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr uint32_t ERROR_BAD_NET_NAME = 67;
inline constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr uint32_t ERROR_SEM_TIMEOUT = 121;
inline constexpr uint32_t ERROR_MORE_DATA = 234;
inline constexpr uint32_t ERROR_NO_MORE_ITEMS = 259;
inline constexpr uint32_t ERROR_DIRECTORY = 267;
inline constexpr uint32_t ERROR_INVALID_ADDRESS = 487;
inline constexpr uint32_t ERROR_NOT_CONTAINER = 1207;
inline constexpr uint32_t ERROR_EXTENDED_ERROR = 1208;
inline constexpr uint32_t ERROR_NO_NETWORK = 1222;
inline constexpr uint32_t ERROR_CANCELLED = 1223;
inline constexpr uint32_t ERROR_LOGON_FAILURE = 1326;
inline constexpr uint32_t ERROR_CANT_RESOLVE_FILENAME = 1921;
inline constexpr uint32_t ERROR_NOT_CONNECTED = 2250;

inline constexpr uint32_t FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
inline constexpr uint32_t FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;

// The name under which the SMB network presents itself as a provider.
inline constexpr const char* kSmbProviderName = "SMB Network";

// Maps an errno value from libsmbclient or the socket layer to a result code. Values with
// no close Win32 counterpart become ERROR_EXTENDED_ERROR after recording strerror's text
// as this thread's extended error, so the message the library gave is not lost.
uint32_t NetErrorFromErrno(int errnoValue);

// Records code and text (CR LF is added) as this thread's extended error (provider
// kSmbProviderName) and returns ERROR_EXTENDED_ERROR.
uint32_t SetExtendedNetError(uint32_t providerCode, const std::string& text);

// Copies this thread's extended error: its code to *lpError, its text to lpErrorBuf and the
// provider's name to lpNameBuf, each truncated to fit and zero-terminated when its size
// is not 0. Returns NO_ERROR, or ERROR_INVALID_ADDRESS when lpError is null or a buffer
// is null while its size is not 0.
uint32_t WNetGetLastErrorA(uint32_t* lpError, char* lpErrorBuf, uint32_t nErrorBufSize,
                           char* lpNameBuf, uint32_t nNameBufSize);

// Writes the text of dwMessageId, ending with CR LF, to lpBuffer (zero-terminated,
// truncated to nSize - 1 characters) and returns its length. Returns 0 and writes an
// empty text when the code is unknown or FORMAT_MESSAGE_FROM_SYSTEM is missing. Inserts
// and other sources are not supported; lpSource and arguments are ignored.
uint32_t FormatMessageA(uint32_t dwFlags, const void* lpSource, uint32_t dwMessageId,
                        uint32_t dwLanguageId, char* lpBuffer, uint32_t nSize,
                        void* arguments);
