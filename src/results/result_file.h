#pragma once
// The result file: a 128-byte signature followed by one 528-byte record per result, in
// the store's order, with no count and no trailer. Integers are little-endian; names are
// the bytes of the result's full name, never re-encoded.
//
// Record layout:
//   0   512  full name, zero-padded; a name of exactly 512 bytes has no terminator
//   512   8  DateTime, IEEE 754 double, local days since 1899-12-30
//   520   4  Size, low 32 bits
//   524   4  Attr
//
// Sizes of 4 GiB and more: the size field holds only the low 32 bits. A writer of this
// format leaves every byte after the name's terminator zero, and every reader stops at
// the terminator, so we keep the high 32 bits (little-endian) in the four bytes right
// after the terminator when the name leaves room for them (a full name of at most 507
// bytes). A reader that knows nothing of this reads the same name and the same low 32
// bits; our reader puts both halves together, reading the size field as unsigned (a
// file size is never negative), so a 3 GiB file of any writer reads back as 3 GiB. For a
// name of 508 to 512 bytes only the low 32 bits are kept, as the format has it.
//
// The SaveToFile, LoadFromFile, ExportToHTML and ExportToXML members of TResultManager
// are defined in result_file.cpp and result_export.cpp over the helpers below.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "results/search_result.h"

class TAtomicFile;

inline constexpr size_t kSignatureSize = 128;
inline constexpr size_t kRecordSize = 528;
inline constexpr size_t kNameFieldSize = 512;
// The longest full name whose record still has room for the high half of the size.
inline constexpr size_t kNameWithSizeHighMax = kNameFieldSize - 5;

extern const std::array<uint8_t, kSignatureSize> ResultFileSignature;

// Turns one result into its record and back. Plain data; one object may be reused for
// any number of records.
class TStoredResult {
 public:
  std::array<uint8_t, kRecordSize> FileRecord{};
  TSearchResult Result;

  // Copies result and builds FileRecord from it. Throws TLanError, naming the file, when
  // the full name is longer than the 512-byte field (it is never cut).
  void AssignResult(const TSearchResult& result);
  // Appends the 528 bytes of FileRecord.
  void WriteRecord(TAtomicFile& file) const;
  // Rebuilds Result from the 528 bytes at record. Name is what follows the last
  // separator of the full name, Path the rest (with its separator): a POSIX name
  // (starting with "/") splits at "/" only, since "\" and ":" are ordinary characters
  // in it; any other name splits at "\", ":" or "/". When the path equals *samePath,
  // Result.Path shares samePath instead of holding a copy of its own.
  void ReadRecord(const uint8_t* record, const TPathRef& samePath = nullptr);
};

// The messages of failed file operations, exactly as the user sees them.
std::string RewriteFileMessage(const std::string& fileName);    // Can not rewrite file "x"!
std::string CorruptedFileMessage(const std::string& fileName);  // File "x" is corrupted!

// Writes fileName through a TAtomicFile: body writes the content, then the file replaces
// the target. Any failure throws TLanError and leaves the old target as it was: a target
// that cannot be replaced with the rewrite message, any other failure with the system's
// reason. Exceptions thrown by body pass through unchanged.
void WriteWholeFile(const std::string& fileName, const std::function<void(TAtomicFile&)>& body);
